// Open keys and the connection to a computer's registry.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "command_line.h"
#include "platform/reg_file.h"
#include "platform/registry_api.h"

namespace kelvaston::tools::detail {

// Closes the key it holds when it goes out of scope or is reset.
class KeyHandle {
public:
    explicit KeyHandle(platform::RegistryApi& api) : api_(api) {}
    ~KeyHandle() { Reset(); }
    KeyHandle(const KeyHandle&) = delete;
    KeyHandle& operator=(const KeyHandle&) = delete;

    platform::Key Get() const { return key_; }
    platform::Key* Out() {
        Reset();
        return &key_;
    }
    void Reset() {
        if (key_ != platform::kNullKey) api_.CloseKey(key_);
        key_ = platform::kNullKey;
    }

private:
    platform::RegistryApi& api_;
    platform::Key key_ = platform::kNullKey;
};

// One connection to a computer's HKEY_LOCAL_MACHINE.
class Session {
public:
    Session(platform::RegistryApi& api, const std::string& computer);

    platform::RegistryApi& Api() { return api_; }
    platform::Key Root() const { return root_.Get(); }

    // Opens the key; a missing key is a failure that names it.
    void Open(const KeySpec& spec, std::uint32_t access, KeyHandle& key);

    // The names of the path as the registry spells them, so the output shows the stored case.
    // Where a level cannot be listed, the name as given stands.
    std::vector<std::string> StoredNames(const std::vector<std::string>& path);

private:
    platform::RegistryApi& api_;
    KeyHandle root_;
};

// The values of the open key `key`, in their order; `where` names the key in a failure.
std::vector<platform::regfile::Value> ReadValues(platform::RegistryApi& api, platform::Key key,
                                                 const std::string& where);

}  // namespace kelvaston::tools::detail
