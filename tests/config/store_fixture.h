// A configuration store on a file store of its own, seeded from .reg text.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "config/layout.h"
#include "config/store.h"
#include "platform/file_store.h"
#include "platform/registry_tree.h"
#include "support/temp_dir.h"

namespace kelvaston::config::test {

inline constexpr const char* kHeader = "Windows Registry Editor Version 5.00\n";
inline const std::string kServiceLine = "\n[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Tolvane Service]\n";
inline const std::string kParametersLine =
    "\n[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Tolvane Service\\Parameters]\n";

// "[...\Parameters\<path>]" as a key line.
inline std::string KeyLine(const std::string& path) {
    return "\n[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Tolvane Service\\Parameters\\" + path +
           "]\n";
}

class StoreTest : public ::testing::Test {
protected:
    // Replaces the local computer's hive with `body` (key and value lines after the header)
    // and connects to it.
    void Seed(const std::string& body) {
        store_.reset();
        registry_.reset();
        kelvaston::test::WriteFile(dir_ / "Desk1.reg", std::string(kHeader) + body);
        Connect();
    }
    void Connect() {
        registry_ = std::make_unique<platform::FileStoreRegistry>(platform::FileStoreOptions{dir_.Path(), "Desk1"});
        InitSettings(settings_);
        ASSERT_EQ(registry_->ConnectRegistry("", platform::kHKeyLocalMachine, &settings_.RootKey),
                  platform::error::kSuccess);
        store_ = std::make_unique<ConfigStore>(*registry_, settings_);
    }
    void LoadAll() {
        store_->LoadGlobalSettings();
        store_->LoadConnections();
        store_->LoadAccounts();
    }
    // Everything below the service's key, as stored now.
    platform::KeyTree ServiceTree() {
        platform::Key key = platform::kNullKey;
        EXPECT_EQ(registry_->OpenKeyEx(settings_.RootKey, layout::kServiceKey, 0, platform::kKeyRead, &key),
                  platform::error::kSuccess);
        platform::KeyTree tree;
        EXPECT_EQ(platform::ReadTree(*registry_, key, "Tolvane Service", &tree), platform::error::kSuccess);
        registry_->CloseKey(key);
        return tree;
    }
    const platform::KeyTree* Find(const platform::KeyTree& tree, const std::string& path) {
        const platform::KeyTree* node = &tree;
        std::size_t start = 0;
        while (node != nullptr && start <= path.size()) {
            const auto end = std::min(path.find('\\', start), path.size());
            const std::string name = path.substr(start, end - start);
            const platform::KeyTree* next = nullptr;
            for (const auto& child : node->children) {
                if (child.name == name) next = &child;
            }
            node = next;
            start = end + 1;
        }
        return node;
    }

    kelvaston::test::TempDir dir_;
    std::unique_ptr<platform::FileStoreRegistry> registry_;
    Settings settings_;
    std::unique_ptr<ConfigStore> store_;
};

}  // namespace kelvaston::config::test
