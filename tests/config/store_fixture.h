// A configuration store on a registry of its own, seeded from .reg text.
#pragma once

#include <gtest/gtest.h>

#include <memory>

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
    platform::KeyTree ServiceTree() {
        platform::Key key = platform::kNullKey;
        platform::KeyTree tree;
        if (registry_->OpenKeyEx(settings_.RootKey, layout::kServiceKey, 0, platform::kKeyRead, &key) ==
            error::kSuccess) {
            EXPECT_EQ(platform::ReadTree(*registry_, key, "Tolvane Service", &tree), error::kSuccess);
            registry_->CloseKey(key);
        }
        return tree;
    }

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
