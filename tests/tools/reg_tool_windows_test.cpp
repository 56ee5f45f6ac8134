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
#include "support/fault_injecting_registry.h"
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
    for (const auto& entry :
         parsed.document ? parsed.document->entries : std::vector<platform::regfile::Entry>{}) {
        std::string path;
        for (const auto& name : entry.path)
            path += (path.empty() ? "" : "\\") + platform::text::FoldCase(name);
        if (!path.starts_with(platform::text::FoldCase(kServicePath))) continue;
        const bool value = entry.kind == platform::regfile::EntryKind::SetValue;
        flat[value ? path + "=" + entry.value.name : path] = entry.value;
    }
    return flat;
}

// The exit status and error output of a command.
std::pair<int, std::string> Command(platform::RegistryApi& registry,
                                    const std::vector<std::string>& args) {
    std::ostringstream out, err;
    const int code = RunRegTool(args, registry, out, err);
    return {code, err.str()};
}

// HKLM\`path` with everything below it, as the registry holds it now; empty when it is not there.
platform::KeyTree Tree(platform::Win32Registry& registry, const std::string& path) {
    platform::KeyTree tree;
    platform::Key key = platform::kNullKey;
    if (registry.OpenKeyEx(platform::kHKeyLocalMachine, path, 0, platform::kKeyRead, &key) !=
        platform::error::kSuccess) {
        return tree;
    }
    EXPECT_EQ(platform::ReadTree(registry, key, path, &tree), platform::error::kSuccess);
    registry.CloseKey(key);
    return tree;
}

// The sample imported and exported again is the same tree as the file store holds on Linux. An
// import that fails changes nothing. A key name this computer's ANSI code page lacks, after a
// key it can hold: the file is refused before the first write, so that the good key before it is
// not made either. And advapi32 has no transactions: whichever call of an import fails, the tool
// puts back what it had written (keys made, a key deleted with what was below it, values set,
// added and deleted).
TEST(RegToolOnWindows, ImportsExportsAndFailedImports) {
    platform::Win32Registry registry;
    platform::DeleteTree(registry, platform::kHKeyLocalMachine, kServicePath);
    platform::DeleteTree(registry, platform::kHKeyLocalMachine, "ZM");
    ASSERT_TRUE(registry.UnstorableAt("\xCE\xA9"))
        << "the code page holds the Omega: no name to test with";
    const std::string sample = std::string(KELVASTON_EXAMPLES_DIR) + "/sample.reg";
    const test::TempDir dir;
    const auto exported = dir / "export.reg";
    // windows-omega.reg: a good key, then one whose name holds an Omega. windows-change.reg: the
    // sample with keys made and one deleted and made again below, values set, added and deleted.
    const std::string omega = KELVASTON_TOOLS_DATA "/windows-omega.reg";
    const std::string change = KELVASTON_TOOLS_DATA "/windows-change.reg";
    ASSERT_NE(test::ReadFile(change), "");
    ASSERT_EQ(Command(registry, {"import", sample}).first, 0);
    ASSERT_EQ(Command(registry, {"export", "HKLM\\" + kServicePath, exported.string(), "/y"}).first,
              0);
    const auto expected = Flatten(test::ReadFile(sample));
    EXPECT_GT(expected.size(),
              12u);  // the service, Parameters, volatile, 3 connections, 6 accounts, values
    EXPECT_EQ(Flatten(test::ReadFile(exported)), expected);
    const auto [refused, why] = Command(registry, {"import", omega});
    EXPECT_EQ(refused, 1);
    EXPECT_NE(why.find(omega + ":6: the key name \"\xCE\xA9mega\" holds \"\xCE\xA9\", which this "
                               "computer's registry cannot store"),
              std::string::npos)
        << why;
    EXPECT_EQ(Tree(registry, "ZM"), platform::KeyTree());  // no HKLM\ZM, and no HKLM\ZM\First
    const platform::KeyTree before = Tree(registry, kServicePath);
    std::size_t failed = 0;
    for (std::size_t nth = 1;; ++nth) {
        SCOPED_TRACE("call " + std::to_string(nth) + " fails");
        kelvaston::test::FaultInjectingRegistry faulty(registry);
        faulty.FailNth(std::nullopt, nth, platform::error::kAccessDenied);
        const auto [code, message] = Command(faulty, {"import", change});
        if (code == 1) {
            ++failed;
            EXPECT_EQ(Tree(registry, kServicePath), before) << message;
            EXPECT_EQ(message.find("putting back"), std::string::npos) << message;
        } else {  // imported: set up again
            EXPECT_NE(Tree(registry, kServicePath), before);
            platform::DeleteTree(registry, platform::kHKeyLocalMachine, kServicePath);
            ASSERT_EQ(Command(registry, {"import", sample}).first, 0);
        }
        if (!faulty.Fired()) break;
    }
    EXPECT_GE(failed, 10u);
    platform::DeleteTree(registry, platform::kHKeyLocalMachine, kServicePath);
}

}  // namespace
}  // namespace kelvaston::tools
