#include "platform/registry_api.h"

namespace kelvaston::platform {

Status RegistryApi::QueryKeyValues(Key key, const std::string& subKey, std::vector<RegValue>* values) {
    values->clear();
    Key open = kNullKey;
    Status status = OpenKeyEx(key, subKey, 0, kKeyQueryValue, &open);
    if (status != error::kSuccess) return status;
    for (std::uint32_t index = 0;; ++index) {
        RegValue value;
        std::vector<std::uint8_t> data;
        status = EnumValue(open, index, &value.name, &value.type, &data);
        if (status == error::kNoMoreItems) {
            status = error::kSuccess;
            break;
        }
        if (status != error::kSuccess) break;
        value.data.assign(data.begin(), data.end());
        values->push_back(std::move(value));
    }
    CloseKey(open);
    return status;
}

}  // namespace kelvaston::platform
