// A configuration store on a registry of its own, seeded from .reg text.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <tuple>

#include "config/layout.h"
#include "config/store.h"
#include "platform/registry_decorators.h"
#include "support/local_hive.h"
#include "support/value_printer.h"

namespace kelvaston::config {
// Records in failure messages by their names, not as raw bytes.
inline void PrintTo(const AccountRecord& a, std::ostream* out) {
    *out << a.Connection << "\\" << a.Name;
}
inline void PrintTo(const ConnectionRecord& c, std::ostream* out) {
    *out << c.Name;
}
}  // namespace kelvaston::config

namespace kelvaston::config::test {

namespace error = platform::error;
using namespace kelvaston::test;  // the hive's .reg lines and paths

using error::kSuccess;
using platform::Key;

// A key and everything below it, an entry a key: its path below the first key (empty for that
// one) and its values (name, type, bytes as kept) in the order they were made. Parents come
// before their subkeys, and subkeys in the registry's order, sorted by name: two equal trees
// read the same.
using Values = std::vector<std::tuple<std::string, std::uint32_t, std::string>>;
using Tree = std::vector<std::pair<std::string, Values>>;

// The key `path` below `parent`, as `as`, and everything below it; empty when the key is missing.
inline Tree ReadKey(platform::RegistryApi& api, Key parent, const std::string& path,
                    const std::string& as = "") {
    Key key = platform::kNullKey;
    if (api.OpenKeyEx(parent, path, 0, platform::kKeyRead, &key) != kSuccess) return {};
    Tree tree{{as, {}}};
    std::string name, data;
    std::uint32_t type = 0;
    for (std::uint32_t i = 0; api.EnumValueBytes(key, i, &name, &type, &data) == kSuccess; ++i) {
        tree[0].second.emplace_back(name, type, data);
    }
    std::array<char, 512> buffer{};
    for (std::uint32_t i = 0, size = 512; api.EnumKeyEx(key, i, buffer.data(), &size) == kSuccess;
         ++i, size = 512) {
        const std::string child(buffer.data(), size);
        for (auto& below : ReadKey(api, key, child, as.empty() ? child : as + "\\" + child))
            tree.push_back(below);
    }
    api.CloseKey(key);
    return tree;
}

// The configuration store on the local computer's registry (LocalHiveTest).
class StoreTest : public LocalHiveTest {
protected:
    // Replaces the local computer's configuration with `body` (key and value lines after the
    // header) and connects to it.
    void Seed(const std::string& body) {
        store_.reset();
        registry_.reset();
        SeedHive(body);
        Connect();
    }
    // A new store connected to what the registry holds now (on Linux: what reached the disk),
    // its model as it starts, with nothing loaded.
    void Connect() {
        store_.reset();
        registry_ = OpenHive();
        ASSERT_EQ(registry_->ConnectRegistry("", platform::kHKeyLocalMachine, &root_),
                  error::kSuccess);
        InitSettings(settings_);
        store_ = std::make_unique<ConfigStore>(*registry_, settings_);
        store_->Connect("");
    }
    // Connects and loads the configuration, as the window does.
    static void LoadAll(ConfigStore& store) {
        store.Connect("");
        store.Load();
    }
    void LoadAll() { LoadAll(*store_); }
    // A store for the model as it is, through `api` (the registry behind a decorator),
    // connected as the window's is.
    std::unique_ptr<ConfigStore> StoreOver(platform::RegistryApi& api) {
        auto store = std::make_unique<ConfigStore>(api, settings_);
        EXPECT_EQ(store->Connect("").result, ConnectResult::Connected);
        return store;
    }
    // Everything below the service's key, as stored now; empty when the key is missing.
    Tree ServiceTree() { return ReadKey(*registry_, root_, kServicePath); }
#ifndef _WIN32
    // The keys open in the registry, which the file store counts.
    std::size_t OpenKeys() const {
        return static_cast<platform::FileStoreRegistry&>(*registry_).OpenKeys();
    }
#endif

    std::unique_ptr<platform::RegistryApi> registry_;
    platform::Key root_ = platform::kNullKey;  // the test's own handle of the local hive
    Settings settings_;
    std::unique_ptr<ConfigStore> store_;
};

}  // namespace kelvaston::config::test
