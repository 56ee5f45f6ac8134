// A configuration store on a registry of its own, seeded from .reg text.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <tuple>

#include "config/layout.h"
#include "config/store.h"
#ifdef _WIN32
#include "platform/win32_registry.h"
#else
#include "platform/file_store.h"
#endif
#include "platform/registry_decorators.h"
#include "support/temp_dir.h"
#include "support/value_printer.h"

namespace kelvaston::config {
// Records in failure messages by their names, not as raw bytes.
inline void PrintTo(const AccountRecord& a, std::ostream* out) { *out << a.Connection << "\\" << a.Name; }
inline void PrintTo(const ConnectionRecord& c, std::ostream* out) { *out << c.Name; }
}  // namespace kelvaston::config

namespace kelvaston::config::test {

namespace error = platform::error;

inline constexpr const char* kHeader = "Windows Registry Editor Version 5.00\n";
inline const std::string kServiceLine = "\n[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Tolvane Service]\n";
inline const std::string kParametersLine =
    "\n[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Tolvane Service\\Parameters]\n";

// "[...\Parameters\<path>]" as a key line.
inline std::string KeyLine(const std::string& path) {
    return "\n[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Tolvane Service\\Parameters\\" + path + "]\n";
}

using platform::Key;
using error::kSuccess;

inline constexpr const char* kServicePath = "SYSTEM\\CurrentControlSet\\Services\\Tolvane Service";

// A key and everything below it, an entry a key: its path below the first key (empty for that
// one) and its values (name, type, bytes as kept) in the order they were made. Parents come
// before their subkeys, and subkeys in the registry's order, sorted by name: two equal trees
// read the same.
using Values = std::vector<std::tuple<std::string, std::uint32_t, std::string>>;
using Tree = std::vector<std::pair<std::string, Values>>;

// The key `path` below `parent`, as `as`, and everything below it; empty when the key is missing.
inline Tree ReadKey(platform::RegistryApi& api, Key parent, const std::string& path, const std::string& as = "") {
    Key key = platform::kNullKey;
    if (api.OpenKeyEx(parent, path, 0, platform::kKeyRead, &key) != kSuccess) return {};
    Tree tree{{as, {}}};
    std::string name, data;
    std::uint32_t type = 0;
    for (std::uint32_t i = 0; api.EnumValueBytes(key, i, &name, &type, &data) == kSuccess; ++i) {
        tree[0].second.emplace_back(name, type, data);
    }
    std::array<char, 512> buffer{};
    for (std::uint32_t i = 0, size = 512; api.EnumKeyEx(key, i, buffer.data(), &size) == kSuccess; ++i, size = 512) {
        const std::string child(buffer.data(), size);
        for (auto& below : ReadKey(api, key, child, as.empty() ? child : as + "\\" + child)) tree.push_back(below);
    }
    api.CloseKey(key);
    return tree;
}

// The configuration store on the registry of this platform: on Linux a file store of its own,
// seeded by writing its file; on Windows (and under Wine) the real registry, seeded through the
// registry functions, its service key removed after each test.
class StoreTest : public ::testing::Test {
protected:
    void TearDown() override {
        store_.reset();
        registry_.reset();
#ifdef _WIN32
        RemoveTestKeys();
#endif
    }
    // Replaces the local computer's configuration with `body` (key and value lines after the
    // header) and connects to it.
    void Seed(const std::string& body) {
        store_.reset();
        registry_.reset();
#ifdef _WIN32
        RemoveTestKeys();
        const auto parsed = platform::regfile::Parse(kHeader + body);
        ASSERT_TRUE(parsed.document) << parsed.error.message;
        platform::Win32Registry registry;
        const platform::regfile::Entry* failed = nullptr;
        ASSERT_EQ(platform::ApplyEntries(registry, platform::kHKeyLocalMachine, parsed.document->entries, &failed),
                  error::kSuccess);
#else
        kelvaston::test::WriteFile(dir_ / "Desk1.reg", std::string(kHeader) + body);
#endif
        Connect();
    }
    // A new store on what the registry holds now (on Linux: what reached the disk).
    void Connect() {
        store_.reset();
#ifdef _WIN32
        registry_ = std::make_unique<platform::Win32Registry>();
#else
        registry_ = std::make_unique<platform::FileStoreRegistry>(platform::FileStoreOptions{dir_.Path(), "Desk1"});
#endif
        InitSettings(settings_);
        ASSERT_EQ(registry_->ConnectRegistry("", platform::kHKeyLocalMachine, &settings_.RootKey), error::kSuccess);
        store_ = std::make_unique<ConfigStore>(*registry_, settings_);
    }
    void LoadAll(ConfigStore* other = nullptr) {
        ConfigStore& store = other != nullptr ? *other : *store_;
        store.LoadGlobalSettings();
        store.LoadConnections();
        store.LoadAccounts();
    }
    // Everything below the service's key, as stored now; empty when the key is missing.
    Tree ServiceTree() { return ReadKey(*registry_, settings_.RootKey, kServicePath); }
#ifndef _WIN32
    // The keys open in the registry, which the file store counts.
    std::size_t OpenKeys() const { return static_cast<platform::FileStoreRegistry&>(*registry_).OpenKeys(); }
#endif

#ifdef _WIN32
    static void RemoveTestKeys() {
        platform::Win32Registry registry;
        platform::DeleteTree(registry, platform::kHKeyLocalMachine, layout::kServiceKey);
    }
#else
    kelvaston::test::TempDir dir_;
#endif
    std::unique_ptr<platform::RegistryApi> registry_;
    Settings settings_;
    std::unique_ptr<ConfigStore> store_;
};

}  // namespace kelvaston::config::test
