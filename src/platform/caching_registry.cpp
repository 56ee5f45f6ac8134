#include "platform/caching_registry.h"

#include <cstring>


namespace kelvaston::platform {
namespace {

std::string ValuesId(Key key, const std::string& subKey) { return std::to_string(key) + '\\' + subKey; }

}  // namespace

void CachingRegistry::Forget() {
    subkeys_.clear();
    ForgetValues();
}

void CachingRegistry::ForgetValues() {
    last_ = nullptr;
    // Clearing an empty hash map still wipes all its buckets: a save sets thousands of values.
    if (!values_.empty()) values_.clear();
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
    ForgetValues();
    return RegistryDecorator::SetValueEx(key, name, type, data, dataSize);
}

Status CachingRegistry::SetValueBytes(Key key, const std::string& name, std::uint32_t type, std::string_view data) {
    ForgetValues();
    return RegistryDecorator::SetValueBytes(key, name, type, data);
}

Status CachingRegistry::DeleteValue(Key key, const std::string& name) {
    ForgetValues();
    return RegistryDecorator::DeleteValue(key, name);
}

Status CachingRegistry::CloseKey(Key key) {
    // A closed handle's value may be given to another key later.
    subkeys_.erase(key);
    last_ = nullptr;
    if (values_.empty()) return RegistryDecorator::CloseKey(key);
    const std::string prefix = ValuesId(key, {});
    for (auto it = values_.begin(); it != values_.end();) {
        it = it->first.starts_with(prefix) ? values_.erase(it) : std::next(it);
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

CachingRegistry::Values CachingRegistry::Read(Key key, const std::string& subKey, bool all) {
    Values read;
    if (all || expected_.empty()) {
        read.status = RegistryDecorator::QueryKeyValues(key, subKey, &read.values);
    } else {
        read.status = RegistryDecorator::QueryNamedValues(key, subKey, expected_, &read.values, &read.all);
    }
    return read;
}

const CachingRegistry::Values& CachingRegistry::Remembered(Key key, const std::string& subKey) {
    if (last_ != nullptr && key == lastKey_ && subKey == lastSubKey_) return *last_;
    std::string id = ValuesId(key, subKey);
    auto known = values_.find(id);
    if (known == values_.end()) {
        Values read = Read(key, subKey, false);
        // A key that is not there is remembered as well; other failures are not.
        if (read.status != error::kSuccess && read.status != error::kFileNotFound) {
            failed_ = std::move(read);
            return failed_;
        }
        known = values_.emplace(std::move(id), std::move(read)).first;
    }
    lastKey_ = key;
    lastSubKey_ = subKey;
    last_ = &known->second;
    return *last_;
}

Status CachingRegistry::QueryKeyValues(Key key, const std::string& subKey, std::vector<RegValue>* values) {
    // A key's values asked for at once are passed on: they are not asked for again one by one.
    if (const auto known = values_.empty() ? values_.end() : values_.find(ValuesId(key, subKey));
        known != values_.end() && known->second.all) {
        *values = known->second.values;
        return known->second.status;
    }
    return RegistryDecorator::QueryKeyValues(key, subKey, values);
}

Status CachingRegistry::QueryKeyValue(Key key, const std::string& subKey, const std::string& name, RegValue* value) {
    const Values* known = &Remembered(key, subKey);
    if (known->status != error::kSuccess) return known->status;
    if (!known->all && FindValue(known->values, name) == nullptr) {
        // Not among the values expected: the key's other values are read as well.
        Values read = Read(key, subKey, true);
        if (read.status != error::kSuccess && read.status != error::kFileNotFound) return read.status;
        Values& entry = values_[ValuesId(key, subKey)];
        entry = std::move(read);
        lastKey_ = key;
        lastSubKey_ = subKey;
        last_ = &entry;
        known = last_;
        if (known->status != error::kSuccess) return known->status;
    }
    // Values are mostly asked for in the order in which they are stored: the one after the last
    // one found is tried first. Names are unique in a key, so a name spelt alike is the one.
    const RegValue* found = nullptr;
    if (lastFound_ + 1 < known->values.size() && known->values[lastFound_ + 1].name == name) {
        found = &known->values[lastFound_ + 1];
    } else {
        found = FindValue(known->values, name);
    }
    if (found == nullptr) return error::kFileNotFound;
    lastFound_ = static_cast<std::size_t>(found - known->values.data());
    *value = *found;
    return error::kSuccess;
}

}  // namespace kelvaston::platform
