// kelvaston-reg on the Windows registry (run under Wine here): the sample configuration
// imported and exported again is the same tree as the file store holds on Linux.
#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <map>
#include <sstream>

#include "platform/reg_file.h"
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

TEST(RegToolOnWindows, SampleImportedAndExportedIsTheSameTree) {
    platform::Win32Registry registry;
    platform::DeleteTree(registry, platform::kHKeyLocalMachine, kServicePath);
    const std::string sample = std::string(KELVASTON_EXAMPLES_DIR) + "/sample.reg";
    const test::TempDir dir;
    const auto exported = dir / "export.reg";

    std::ostringstream out, err;
    ASSERT_EQ(RunRegTool({"import", sample}, registry, out, err), 0) << err.str();
    ASSERT_EQ(RunRegTool({"export", "HKLM\\" + kServicePath, exported.string(), "/y"}, registry, out, err), 0)
        << err.str();
    const auto expected = Flatten(test::ReadFile(sample));
    EXPECT_GT(expected.size(), 12u);  // the service, Parameters, volatile, 3 connections, 6 accounts, values
    EXPECT_EQ(Flatten(test::ReadFile(exported)), expected);

    platform::DeleteTree(registry, platform::kHKeyLocalMachine, kServicePath);
}

}  // namespace
}  // namespace kelvaston::tools
