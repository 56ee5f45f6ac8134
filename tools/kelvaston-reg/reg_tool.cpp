// The dispatcher: finds the verb the command line names and runs it. Each verb lives in a file
// of its own (query.cpp, add.cpp, delete.cpp, import.cpp, export.cpp) with its usage text; a
// new verb is a new file and a row in Verbs().
#include "reg_tool.h"

#include <cstddef>
#include <exception>
#include <string_view>

#include "command_line.h"
#include "messages.h"
#include "verbs.h"

namespace kelvaston::tools {
namespace {

using detail::Command;
using detail::Failure;
using detail::Syntax;

struct Verb {
    std::string_view name;
    detail::VerbFunction run;
    Syntax syntax;                // the switches it takes and its operands
    std::string_view (*usage)();  // its paragraph of RegToolUsage
};

// The verbs in the order the usage text and the messages give them.
const std::vector<Verb>& Verbs() {
    static const std::vector<Verb> kVerbs = {
        {"query", detail::Query, {{"v", "ve", "s"}, 1, "KEY"}, detail::QueryUsage},
        {"add", detail::Add, {{"v", "ve", "t", "d", "f"}, 1, "KEY"}, detail::AddUsage},
        {"delete", detail::Delete, {{"v", "ve", "va", "f"}, 1, "KEY"}, detail::DeleteUsage},
        {"import", detail::Import, {{}, 1, "FILE"}, detail::ImportUsage},
        {"export", detail::Export, {{"y"}, 2, "KEY and FILE"}, detail::ExportUsage},
    };
    return kVerbs;
}

// "query, add, delete, import and export".
std::string VerbList() {
    const auto& verbs = Verbs();
    std::string list;
    for (std::size_t i = 0; i < verbs.size(); ++i) {
        if (i > 0) list += i + 1 == verbs.size() ? " and " : ", ";
        list += verbs[i].name;
    }
    return list;
}

const Verb& FindVerb(const std::string& given) {
    const std::string name = detail::VerbName(given);
    for (const auto& verb : Verbs()) {
        if (verb.name == name) return verb;
    }
    throw Failure("unknown command \"" + detail::Shown(given) + "\"; the commands are " +
                  VerbList() + " (see --help)");
}

}  // namespace

std::string RegToolUsage() {
    std::string usage = "Usage: kelvaston-reg COMMAND ...\n\n";
    for (const auto& verb : Verbs()) usage += verb.usage();
    usage +=
        R"(KEY is HKLM\PATH or HKEY_LOCAL_MACHINE\PATH, in any case. \\COMPUTER\HKLM\PATH names the
registry of another computer.

kelvaston-reg never prompts. Without /f, add refuses to overwrite an existing value and
delete refuses to delete anything; without /y, export refuses to overwrite an existing
FILE. Nothing is changed when it refuses, and a command that fails part-way changes
nothing either: what it had changed is undone.

Every change is saved before kelvaston-reg exits. The exit status is 0 on success and
1 on failure, with the reason on standard error.
)";
#ifndef _WIN32
    usage += R"(
The registry is kept in one .reg file per computer (COMPUTER.reg) in the folder named by
$KELVASTON_REGISTRY, else ${XDG_DATA_HOME:-$HOME/.local/share}/kelvaston/registry.
)";
#endif
    return usage;
}

int RunRegTool(const std::vector<std::string>& args, platform::RegistryApi& api, std::ostream& out,
               std::ostream& err) {
    try {
        if (args.empty() || detail::IsHelp(args.front()) ||
            (args.size() == 2 && detail::IsHelp(args[1]))) {
            out << RegToolUsage();
            return 0;
        }
        const Verb& verb = FindVerb(args.front());
        const Command command = detail::ParseCommand(args, verb.syntax);
        return verb.run(command, api, out);
    } catch (const Failure& failure) {
        err << "ERROR: " << failure.what() << "\n";
    } catch (const std::exception& e) {
        err << "ERROR: unexpected failure: " << e.what() << "\n";
    }
    return 1;
}

}  // namespace kelvaston::tools
