// A registry that remembers what it has read, so that reading a whole configuration costs as
// few calls as possible, the more so against a remote registry where every call is a round trip:
// the values of a key are read at once and kept, and the subkeys of an open key are listed once.
// Whatever the program itself changes through it, a new connection, a flush (which may bring in
// another program's changes) and closing a key forget what could have become stale. Readers on
// several threads may use it at once; a call it passes on is made outside its lock, so that
// their round trips overlap.
#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/registry_decorators.h"

namespace kelvaston::platform {

class CachingRegistry final : public RegistryDecorator {
public:
    using RegistryDecorator::RegistryDecorator;

    Status ConnectRegistry(const std::string& machine, Key hive, Key* result) override;
    Status CreateKey(Key parent, const std::string& subKey, Key* result) override;
    Status EnumKeyEx(Key key, std::uint32_t index, char* name, std::uint32_t* nameLength) override;
    Status DeleteKey(Key parent, const std::string& subKey) override;
    Status CloseKey(Key key) override;
    Status FlushKey(Key key) override;
    // A transaction reads the registry as it is when it begins, and an abort may undo writes.
    Status BeginTransaction(Key key) override;
    bool AbortTransaction(Key key) override;
    Status SetValueEx(Key key, const std::string& name, std::uint32_t type,
                      const std::uint8_t* data, std::uint32_t dataSize) override;
    Status DeleteValue(Key key, const std::string& name) override;
    Status SetValueBytes(Key key, const std::string& name, std::uint32_t type,
                         std::string_view data) override;
    Status QueryKeyValue(Key key, const std::string& subKey, const std::string& name,
                         RegValue* value) override;

    // Forgets everything read so far.
    void Forget();
    // Reads the values of the given names of the key `subKey` below `key` and keeps them, unless
    // that key's values are known already: a backend that can read named values at once
    // (QueryNamedValues) reads them in one call. A value asked for later that is not among them
    // has the key's other values read as well.
    void ReadAhead(Key key, const std::string& subKey, const std::vector<std::string>& names);

protected:
    std::optional<Status> Before(Call) override { return std::nullopt; }

private:
    struct Subkeys {
        std::map<std::uint32_t, std::string> names;  // by index, as far as they were asked for
        std::optional<std::uint32_t> end;            // the first index that answered "no more"
    };
    struct Values {
        Status status = error::kSuccess;
        std::vector<RegValue> values;
        bool all = true;  // false: only values of the names expected were read
    };

    void ForgetValues();
    // Keeps what was read of the values of the key `id`; false when the read failed otherwise
    // than by the key not being there, which is not kept.
    bool Keep(const std::string& id, Values&& read);

    std::mutex mutex_;
    std::unordered_map<Key, Subkeys> subkeys_;
    std::unordered_map<std::string, Values> values_;  // by handle and path
};

}  // namespace kelvaston::platform
