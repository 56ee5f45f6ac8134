// The command line of kelvaston-reg: a verb, its switches and operands, and the keys and files
// they name.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace kelvaston::tools::detail {

// The one root key the tool works in.
inline constexpr std::string_view kRootName = "HKEY_LOCAL_MACHINE";

struct Command {
    std::string name;
    std::vector<std::string> operands;
    std::optional<std::string> valueName;  // /v NAME, or "" for /ve
    bool allValues = false;                // /va
    bool recursive = false;                // /s
    std::optional<std::string> type;       // /t
    std::optional<std::string> data;       // /d
    bool force = false;                    // /f
    bool overwriteFile = false;            // /y
    std::set<std::string> switches;        // as given, lower case, for the checks
};

// What one verb takes on its command line.
struct Syntax {
    std::set<std::string> switches;  // lower case, without the / or -
    std::size_t operands;            // exactly this many
    std::string_view operandNames;   // for the message when some are missing: "KEY and FILE"
};

// Whether an argument asks for the usage text.
bool IsHelp(std::string_view arg);

// The verb the first argument names, in lower case.
std::string VerbName(std::string_view arg);

// Reads the command line of the verb args.front() (already known to be one), which takes
// `syntax`.
Command ParseCommand(const std::vector<std::string>& args, const Syntax& syntax);

// A key path below HKEY_LOCAL_MACHINE as the registry's calls take it: "A\B".
std::string Join(const std::vector<std::string>& names);

// A key path below HKEY_LOCAL_MACHINE in full: "HKEY_LOCAL_MACHINE\A\B".
std::string FullPath(const std::vector<std::string>& names);

struct KeySpec {
    std::string computer;           // empty: this computer
    std::vector<std::string> path;  // the names below HKEY_LOCAL_MACHINE

    std::string Display(const std::vector<std::string>& names) const {
        return (computer.empty() ? std::string() : "\\\\" + computer + "\\") + FullPath(names);
    }
    std::string Display() const { return Display(path); }
};

// "HKLM\A\B", "HKEY_LOCAL_MACHINE\A\B" or "\\COMPUTER\HKLM\A\B".
KeySpec ParseKey(std::string_view text);

// A file name from the command line, which is UTF-8.
std::filesystem::path PathFromUtf8(const std::string& utf8);

}  // namespace kelvaston::tools::detail
