#include "platform/registry_api.h"

#include <array>

#include "platform/text.h"

namespace kelvaston::platform {

Status RegistryApi::BeginTransaction(Key /*key*/) {
    return error::kSuccess;
}

Status RegistryApi::CommitTransaction(Key key) {
    return FlushKey(key);
}

bool RegistryApi::AbortTransaction(Key /*key*/) {
    return false;
}

Status RegistryApi::BeginReading(Key /*key*/) {
    return error::kSuccess;
}

void RegistryApi::EndReading(Key /*key*/) {}

Status RegistryApi::QueryKeyValues(Key key, const std::string& subKey,
                                   std::vector<RegValue>* values) {
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

Status ListSubkeys(RegistryApi& api, Key key, std::vector<std::string>* names) {
    // Room for the longest key name, its NUL and all.
    std::array<char, kMaxKeyNameLength * text::kMaxUtf8BytesPerCharacter + 1> buffer;
    for (std::uint32_t index = 0;; ++index) {
        auto length = static_cast<std::uint32_t>(buffer.size());
        const Status status = api.EnumKeyEx(key, index, buffer.data(), &length);
        if (status == error::kNoMoreItems) return error::kSuccess;
        if (status != error::kSuccess) return status;
        names->emplace_back(buffer.data(), length);
    }
}

Status RegistryApi::QueryKeyContents(Key key, const std::string& subKey, KeyContents* contents,
                                     const ExpectedContents& /*expected*/) {
    *contents = KeyContents{};
    Key open = kNullKey;
    Status status = OpenKeyEx(key, subKey, 0, kKeyRead, &open);
    if (status != error::kSuccess) return status;
    for (std::uint32_t index = 0; status == error::kSuccess; ++index) {
        RegValue value;
        status = EnumValueBytes(open, index, &value.name, &value.type, &value.data);
        if (status == error::kSuccess) contents->values.push_back(std::move(value));
    }
    if (status == error::kNoMoreItems) status = error::kSuccess;
    if (status == error::kSuccess) status = ListSubkeys(*this, open, &contents->subkeys);
    CloseKey(open);
    return status;
}

Status RegistryApi::QueryNamedValues(Key key, const std::string& subKey,
                                     const std::vector<std::string>& /*names*/,
                                     std::vector<RegValue>* values, bool* all) {
    *all = true;
    return QueryKeyValues(key, subKey, values);
}

std::string Describe(const HiveFileError& problem) {
    std::string text = problem.file;
    if (problem.line > 0) text += ":" + std::to_string(problem.line);
    return text + ": " + problem.message;
}

std::optional<std::size_t> RegistryApi::UnstorableAt(std::string_view text) const {
    const std::size_t at = text::FirstInvalidUtf8(text);
    if (at == std::string_view::npos) return std::nullopt;
    return at;
}

Status RegistryApi::QueryKeyValue(Key key, const std::string& subKey, const std::string& name,
                                  RegValue* value) {
    std::vector<RegValue> values;
    if (const Status status = QueryKeyValues(key, subKey, &values); status != error::kSuccess)
        return status;
    const RegValue* found = FindValue(values, name);
    if (found == nullptr) return error::kFileNotFound;
    *value = *found;
    return error::kSuccess;
}

}  // namespace kelvaston::platform
