// The local computer's registry for a test, seeded from .reg text: on Linux the file store
// "Desk1" in a folder of its own; on Windows (and under Wine) the registry itself through
// advapi32, where each seed replaces the service's key and the end of the test removes it. Tests
// on the real registry hold the service's key and run one at a time (RESOURCE_LOCK
// tolvane_service_key in their CMakeLists.txt).
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/registry_tree.h"
#ifdef _WIN32
#include "platform/win32_registry.h"
#else
#include "platform/file_store.h"
#endif
#include "support/temp_dir.h"

namespace kelvaston::test {

inline const std::string kHeader = "Windows Registry Editor Version 5.00\n";
inline const std::string kServicePath = "SYSTEM\\CurrentControlSet\\Services\\Tolvane Service";
// Key lines of .reg text: the service's key, its Parameters key, and a key below that.
inline const std::string kServiceLine = "\n[HKEY_LOCAL_MACHINE\\" + kServicePath + "]\n";
inline const std::string kParametersLine =
    "\n[HKEY_LOCAL_MACHINE\\" + kServicePath + "\\Parameters]\n";
inline std::string KeyLine(const std::string& path) {
    return "\n[HKEY_LOCAL_MACHINE\\" + kServicePath + "\\Parameters\\" + path + "]\n";
}

class LocalHiveTest : public ::testing::Test {
protected:
#ifdef _WIN32
    ~LocalHiveTest() override {
        RemoveService();
    }
    static void RemoveService() {
        platform::Win32Registry registry;
        platform::DeleteTree(registry, platform::kHKeyLocalMachine, kServicePath);
    }
#endif

    // Applies `body`, the lines of a .reg file after its header, through `registry`.
    static void ApplyReg(platform::RegistryApi& registry, const std::string& body) {
        const auto parsed = platform::regfile::Parse(kHeader + body);
        ASSERT_TRUE(parsed.document) << parsed.error.message;
        const platform::regfile::Entry* failed = nullptr;
        const auto& entries = parsed.document->entries;
        const auto root = platform::kHKeyLocalMachine;
        ASSERT_EQ(platform::ApplyEntries(registry, root, entries, &failed), 0);
    }

    // Makes `body`, the lines of a .reg file after its header, the local computer's registry
    // (on Windows: its service's key).
    void SeedHive(const std::string& body) {
#ifdef _WIN32
        RemoveService();
        platform::Win32Registry registry;
        ApplyReg(registry, body);
#else
        WriteFile(dir_ / "Desk1.reg", kHeader + body);
#endif
    }

    // A registry on what the local computer's holds now (on Linux: what reached the disk).
    std::unique_ptr<platform::RegistryApi> OpenHive() const {
#ifdef _WIN32
        return std::make_unique<platform::Win32Registry>();
#else
        const platform::FileStoreOptions options{dir_.Path(), "Desk1"};
        return std::make_unique<platform::FileStoreRegistry>(options);
#endif
    }

    TempDir dir_;
};

}  // namespace kelvaston::test
