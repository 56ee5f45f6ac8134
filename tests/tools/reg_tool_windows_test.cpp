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

// Every key and value of a .reg file below the service's key, in a form that ignores the order
// in which a registry lists values: key path -> (value name -> value).
using Flat = std::map<std::string, std::map<std::string, platform::regfile::Value>>;

Flat Flatten(const std::string& bytes) {
    const auto parsed = platform::regfile::Parse(bytes);
    EXPECT_TRUE(parsed.document) << parsed.error.line << ": " << parsed.error.message;
    Flat flat;
    if (!parsed.document) return flat;
    for (const auto& entry : parsed.document->entries) {
        // Names compare without regard to case: Windows itself spells the first key "System".
        std::string path;
        for (const auto& name : entry.path) path += (path.empty() ? "" : "\\") + platform::text::FoldCase(name);
        if (path.rfind(platform::text::FoldCase(kServicePath), 0) != 0) continue;
        auto& values = flat[path];
        if (entry.kind == platform::regfile::EntryKind::SetValue) values[entry.value.name] = entry.value;
    }
    return flat;
}

TEST(RegToolOnWindows, SampleImportedAndExportedIsTheSameTree) {
    platform::Win32Registry registry;
    platform::DeleteTree(registry, platform::kHKeyLocalMachine, kServicePath);
    const std::string sample = std::string(KELVASTON_EXAMPLES_DIR) + "/sample.reg";
    const auto exported = std::filesystem::temp_directory_path() /
                          ("kelvaston-export-" + std::to_string(GetCurrentProcessId()) + ".reg");

    std::ostringstream out, err;
    ASSERT_EQ(RunRegTool({"import", sample}, registry, out, err), 0) << err.str();
    ASSERT_EQ(RunRegTool({"export", "HKLM\\" + kServicePath, exported.string(), "/y"}, registry, out, err), 0)
        << err.str();
    const Flat expected = Flatten(test::ReadFile(sample));
    const Flat actual = Flatten(test::ReadFile(exported));
    EXPECT_EQ(actual.size(), 12u);  // the service, Parameters, volatile, 3 connections, 6 accounts
    EXPECT_EQ(actual, expected);

    std::filesystem::remove(exported);
    platform::DeleteTree(registry, platform::kHKeyLocalMachine, kServicePath);
}

}  // namespace
}  // namespace kelvaston::tools
