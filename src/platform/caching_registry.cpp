#include "platform/caching_registry.h"

#include <cstring>

#include "platform/text.h"

namespace kelvaston::platform {

void CachingRegistry::Forget() {
    subkeys_.clear();
    values_.clear();
}

Status CachingRegistry::ConnectRegistry(const std::string& machine, Key hive, Key* result) {
    Forget();
    return RegistryDecorator::ConnectRegistry(machine, hive, result);
}

Status CachingRegistry::CreateKey(Key parent, const std::string& subKey, Key* result) {
    Forget();
    return RegistryDecorator::CreateKey(parent, subKey, result);
}

Status CachingRegistry::DeleteKey(Key parent, const std::string& subKey) {
    Forget();
    return RegistryDecorator::DeleteKey(parent, subKey);
}

Status CachingRegistry::FlushKey(Key key) {
    Forget();
    return RegistryDecorator::FlushKey(key);
}

Status CachingRegistry::SetValueEx(Key key, const std::string& name, std::uint32_t type, const std::uint8_t* data,
                                   std::uint32_t dataSize) {
    values_.clear();
    return RegistryDecorator::SetValueEx(key, name, type, data, dataSize);
}

Status CachingRegistry::DeleteValue(Key key, const std::string& name) {
    values_.clear();
    return RegistryDecorator::DeleteValue(key, name);
}

Status CachingRegistry::CloseKey(Key key) {
    // A closed handle's value may be given to another key later.
    subkeys_.erase(key);
    for (auto it = values_.begin(); it != values_.end();) {
        it = it->first.first == key ? values_.erase(it) : std::next(it);
    }
    return RegistryDecorator::CloseKey(key);
}

Status CachingRegistry::EnumKeyEx(Key key, std::uint32_t index, char* name, std::uint32_t* nameLength) {
    if (name == nullptr || nameLength == nullptr) return RegistryDecorator::EnumKeyEx(key, index, name, nameLength);
    Subkeys& known = subkeys_[key];
    if (index < known.names.size()) {
        const std::string& found = known.names[index];
        if (found.size() + 1 > *nameLength) return error::kMoreData;
        std::memcpy(name, found.c_str(), found.size() + 1);
        *nameLength = static_cast<std::uint32_t>(found.size());
        return error::kSuccess;
    }
    if (known.complete) return error::kNoMoreItems;
    const Status status = RegistryDecorator::EnumKeyEx(key, index, name, nameLength);
    if (index == known.names.size()) {
        if (status == error::kSuccess) known.names.emplace_back(name, *nameLength);
        if (status == error::kNoMoreItems) known.complete = true;
    }
    return status;
}

Status CachingRegistry::QueryKeyValues(Key key, const std::string& subKey, std::vector<RegValue>* values) {
    const auto id = std::make_pair(key, text::FoldCase(subKey));
    if (const auto known = values_.find(id); known != values_.end()) {
        *values = known->second.values;
        return known->second.status;
    }
    const Status status = RegistryDecorator::QueryKeyValues(key, subKey, values);
    // A key that is not there is remembered as well; other failures may pass.
    if (status == error::kSuccess || status == error::kFileNotFound) values_[id] = {status, *values};
    return status;
}

}  // namespace kelvaston::platform
