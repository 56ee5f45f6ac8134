// kelvaston-reg on the Windows registry (run under Wine here): the sample configuration
// imported and exported again is the same tree as the file store holds on Linux.
#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <map>
#include <sstream>

#include "platform/reg_file.h"
#include "platform/registry_decorators.h"
#include "platform/registry_tree.h"
#include "platform/text.h"
#include "platform/win32_registry.h"
#include "reg_tool.h"
#include "support/temp_dir.h"
#include "support/value_printer.h"

namespace kelvaston::tools {
namespace {

const std::string kServicePath = "SYSTEM\\CurrentControlSet\\Services\\Tolvane Service";

// The keys and values of a .reg file below the service's key, by path (and value name), so that
// the order in which a registry lists values does not matter. Key names compare without regard
// to case: Windows itself spells the first key "System".
std::map<std::string, platform::regfile::Value> Flatten(const std::string& bytes) {
    const auto parsed = platform::regfile::Parse(bytes);
    EXPECT_TRUE(parsed.document) << parsed.error.line << ": " << parsed.error.message;
    std::map<std::string, platform::regfile::Value> flat;
    for (const auto& entry : parsed.document ? parsed.document->entries : std::vector<platform::regfile::Entry>{}) {
        std::string path;
        for (const auto& name : entry.path) path += (path.empty() ? "" : "\\") + platform::text::FoldCase(name);
        if (!path.starts_with(platform::text::FoldCase(kServicePath))) continue;
        const bool value = entry.kind == platform::regfile::EntryKind::SetValue;
        flat[value ? path + "=" + entry.value.name : path] = entry.value;
    }
    return flat;
}

// The exit status and error output of a command.
std::pair<int, std::string> Command(platform::RegistryApi& registry, const std::vector<std::string>& args) {
    std::ostringstream out, err;
    const int code = RunRegTool(args, registry, out, err);
    return {code, err.str()};
}

TEST(RegToolOnWindows, SampleImportedAndExportedIsTheSameTree) {
    platform::Win32Registry registry;
    platform::DeleteTree(registry, platform::kHKeyLocalMachine, kServicePath);
    const std::string sample = std::string(KELVASTON_EXAMPLES_DIR) + "/sample.reg";
    const test::TempDir dir;
    const auto exported = dir / "export.reg";
    ASSERT_EQ(Command(registry, {"import", sample}).first, 0);
    ASSERT_EQ(Command(registry, {"export", "HKLM\\" + kServicePath, exported.string(), "/y"}).first, 0);
    const auto expected = Flatten(test::ReadFile(sample));
    EXPECT_GT(expected.size(), 12u);  // the service, Parameters, volatile, 3 connections, 6 accounts, values
    EXPECT_EQ(Flatten(test::ReadFile(exported)), expected);
    platform::DeleteTree(registry, platform::kHKeyLocalMachine, kServicePath);
}

const std::string kHeader = "Windows Registry Editor Version 5.00\r\n\r\n";

// HKLM\ZM with everything below it, as the registry holds it now.
platform::KeyTree Zm(platform::Win32Registry& registry) {
    platform::KeyTree tree;
    platform::Key key = platform::kNullKey;
    if (registry.OpenKeyEx(platform::kHKeyLocalMachine, "ZM", 0, platform::kKeyRead, &key) != platform::error::kSuccess) {
        return tree;
    }
    EXPECT_EQ(platform::ReadTree(registry, key, "ZM", &tree), platform::error::kSuccess);
    registry.CloseKey(key);
    return tree;
}

// An import that fails changes nothing. A key name this computer's ANSI code page lacks, after a
// key it can hold: the file is refused before the first write, so that the good key before it is
// not made either. And advapi32 has no transactions: whichever call of an import fails, the tool
// puts back what it had written (keys made, a key deleted with what was below it, values set,
// added and deleted).
TEST(RegToolOnWindows, AFailedImportChangesNothing) {
    platform::Win32Registry registry;
    platform::DeleteTree(registry, platform::kHKeyLocalMachine, "ZM");
    ASSERT_TRUE(registry.UnstorableAt("\xCE\xA9")) << "the code page holds the Omega: no name to test with";
    const test::TempDir dir;
    const auto omega = dir / "omega.reg", setup = dir / "setup.reg", change = dir / "change.reg";
    test::WriteFile(omega, kHeader + "[HKEY_LOCAL_MACHINE\\ZM\\First]\r\n\"a\"=\"b\"\r\n\r\n"
                                     "[HKEY_LOCAL_MACHINE\\ZM\\\xCE\xA9mega]\r\n");
    test::WriteFile(setup, kHeader + "[HKEY_LOCAL_MACHINE\\ZM\\Keep]\r\n\"a\"=\"1\"\r\n\"b\"=dword:00000002\r\n"
                                     "\"d\"=hex(2):25,00,41,00,25,00,00,00\r\n\r\n[HKEY_LOCAL_MACHINE\\ZM\\Old]\r\n"
                                     "\"o\"=\"x\"\r\n\r\n[HKEY_LOCAL_MACHINE\\ZM\\Old\\Sub]\r\n\"s\"=\"y\"\r\n");
    test::WriteFile(change, kHeader + "[HKEY_LOCAL_MACHINE\\ZM\\New\\Deep]\r\n\"n\"=\"1\"\r\n\r\n"
                                      "[HKEY_LOCAL_MACHINE\\ZM\\Keep]\r\n\"a\"=\"changed\"\r\n\"c\"=\"new\"\r\n\"b\"=-\r\n\r\n"
                                      "[-HKEY_LOCAL_MACHINE\\ZM\\Old]\r\n\r\n[HKEY_LOCAL_MACHINE\\ZM\\Old\\Again]\r\n"
                                      "\"x\"=\"y\"\r\n");
    const auto [refused, why] = Command(registry, {"import", omega.string()});
    EXPECT_EQ(refused, 1);
    EXPECT_NE(why.find(omega.string() + ":6: the key name \"\xCE\xA9mega\" holds \"\xCE\xA9\", which this "
                       "computer's registry cannot store"), std::string::npos) << why;
    EXPECT_EQ(Zm(registry), platform::KeyTree());  // no HKLM\ZM, and no HKLM\ZM\First
    ASSERT_EQ(Command(registry, {"import", setup.string()}).first, 0);
    const platform::KeyTree before = Zm(registry);
    ASSERT_EQ(before.children.size(), 2u);
    std::size_t failed = 0;
    for (std::size_t nth = 1;; ++nth) {
        SCOPED_TRACE("call " + std::to_string(nth) + " fails");
        platform::FaultInjectingRegistry faulty(registry);
        faulty.FailNth(std::nullopt, nth, platform::error::kAccessDenied);
        const auto [code, message] = Command(faulty, {"import", change.string()});
        if (code == 1) {
            ++failed;
            EXPECT_EQ(Zm(registry), before) << message;
            EXPECT_EQ(message.find("putting back"), std::string::npos) << message;
        } else {  // imported: set up again
            EXPECT_NE(Zm(registry), before);
            platform::DeleteTree(registry, platform::kHKeyLocalMachine, "ZM");
            ASSERT_EQ(Command(registry, {"import", setup.string()}).first, 0);
        }
        if (!faulty.Fired()) break;
    }
    EXPECT_GE(failed, 10u);
    platform::DeleteTree(registry, platform::kHKeyLocalMachine, "ZM");
}

}  // namespace
}  // namespace kelvaston::tools
