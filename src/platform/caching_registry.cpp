#include "platform/caching_registry.h"

#include <cstring>

namespace kelvaston::platform {
namespace {

// A path spelt otherwise is another entry, of the same key.
std::string ValuesId(Key key, const std::string& subKey) {
    return std::to_string(key) + '\\' + subKey;
}

}  // namespace

void CachingRegistry::Forget() {
    std::lock_guard lock(mutex_);
    subkeys_.clear();
    ForgetValues();
}

void CachingRegistry::ForgetValues() {
    // Clearing an empty hash map still wipes all its buckets: a save sets many values.
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

Status CachingRegistry::BeginTransaction(Key key) {
    Forget();
    return RegistryDecorator::BeginTransaction(key);
}

bool CachingRegistry::AbortTransaction(Key key) {
    Forget();
    return RegistryDecorator::AbortTransaction(key);
}

Status CachingRegistry::SetValueEx(Key key, const std::string& name, std::uint32_t type,
                                   const std::uint8_t* data, std::uint32_t dataSize) {
    {
        std::lock_guard lock(mutex_);
        ForgetValues();
    }
    return RegistryDecorator::SetValueEx(key, name, type, data, dataSize);
}

Status CachingRegistry::SetValueBytes(Key key, const std::string& name, std::uint32_t type,
                                      std::string_view data) {
    {
        std::lock_guard lock(mutex_);
        ForgetValues();
    }
    return RegistryDecorator::SetValueBytes(key, name, type, data);
}

Status CachingRegistry::DeleteValue(Key key, const std::string& name) {
    {
        std::lock_guard lock(mutex_);
        ForgetValues();
    }
    return RegistryDecorator::DeleteValue(key, name);
}

Status CachingRegistry::CloseKey(Key key) {
    {
        // A closed handle's value may be given to another key later.
        std::lock_guard lock(mutex_);
        subkeys_.erase(key);
        if (!values_.empty()) {
            const std::string prefix = ValuesId(key, {});
            for (auto it = values_.begin(); it != values_.end();) {
                it = it->first.starts_with(prefix) ? values_.erase(it) : std::next(it);
            }
        }
    }
    return RegistryDecorator::CloseKey(key);
}

Status CachingRegistry::EnumKeyEx(Key key, std::uint32_t index, char* name,
                                  std::uint32_t* nameLength) {
    if (name == nullptr || nameLength == nullptr)
        return RegistryDecorator::EnumKeyEx(key, index, name, nameLength);
    {
        std::lock_guard lock(mutex_);
        const Subkeys& known = subkeys_[key];
        if (const auto found = known.names.find(index); found != known.names.end()) {
            if (found->second.size() + 1 > *nameLength) return error::kMoreData;
            std::memcpy(name, found->second.c_str(), found->second.size() + 1);
            *nameLength = static_cast<std::uint32_t>(found->second.size());
            return error::kSuccess;
        }
        if (known.end && index >= *known.end) return error::kNoMoreItems;
    }
    const Status status = RegistryDecorator::EnumKeyEx(key, index, name, nameLength);
    std::lock_guard lock(mutex_);
    Subkeys& known = subkeys_[key];
    if (status == error::kSuccess) known.names.emplace(index, std::string(name, *nameLength));
    if (status == error::kNoMoreItems && (!known.end || index < *known.end)) known.end = index;
    return status;
}

bool CachingRegistry::Keep(const std::string& id, Values&& read) {
    // A key that is not there is remembered as well; other failures are not.
    if (read.status != error::kSuccess && read.status != error::kFileNotFound) return false;
    std::lock_guard lock(mutex_);
    const auto [entry, fresh] = values_.try_emplace(id);
    if (fresh || read.all) entry->second = std::move(read);
    return true;
}

void CachingRegistry::ReadAhead(Key key, const std::string& subKey,
                                const std::vector<std::string>& names) {
    const std::string id = ValuesId(key, subKey);
    {
        std::lock_guard lock(mutex_);
        if (values_.contains(id)) return;
    }
    Values read;
    read.status = RegistryDecorator::QueryNamedValues(key, subKey, names, &read.values, &read.all);
    Keep(id, std::move(read));
}

Status CachingRegistry::QueryKeyValue(Key key, const std::string& subKey, const std::string& name,
                                      RegValue* value) {
    const std::string id = ValuesId(key, subKey);
    // At most two rounds: the values read ahead known (or nothing), all values known.
    for (int round = 0; round < 2; ++round) {
        {
            std::lock_guard lock(mutex_);
            if (const auto entry = values_.find(id); entry != values_.end()) {
                const Values& known = entry->second;
                if (known.status != error::kSuccess) return known.status;
                if (const RegValue* found = FindValue(known.values, name)) {
                    *value = *found;
                    return error::kSuccess;
                }
                if (known.all) return error::kFileNotFound;
                // Not among the values read ahead: the key's other values are read as well.
            }
        }
        Values read;
        read.status = RegistryDecorator::QueryKeyValues(key, subKey, &read.values);
        const Status status = read.status;
        if (!Keep(id, std::move(read))) return status;
    }
    return error::kFileNotFound;
}

}  // namespace kelvaston::platform
