#include "command_line.h"

#include "messages.h"
#include "platform/reg_file.h"

namespace kelvaston::tools::detail {
namespace {

// The switch an argument names ("v" for "/v" or "-V"), or nothing when it is an operand. Only
// the tool's own switches count, so a path such as /tmp/backup.reg stays an operand.
std::optional<std::string> SwitchName(std::string_view arg) {
    if (arg.size() < 2 || (arg.front() != '/' && arg.front() != '-')) return std::nullopt;
    std::string name;
    for (const char c : arg.substr(1))
        name.push_back(static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c));
    static const std::set<std::string> kKnown = {"v", "ve", "va", "s", "t", "d", "f", "y"};
    if (kKnown.count(name) == 0) return std::nullopt;
    return name;
}

}  // namespace

bool IsHelp(std::string_view arg) {
    return arg == "/?" || arg == "-?" || arg == "--help" || arg == "-h" || arg == "help";
}

std::string VerbName(std::string_view arg) {
    std::string name(arg);
    for (char& c : name) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    return name;
}

Command ParseCommand(const std::vector<std::string>& args, const Syntax& syntax) {
    Command command;
    command.name = VerbName(args.front());
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const auto name = SwitchName(arg);
        if (!name) {
            command.operands.push_back(arg);
            continue;
        }
        if (syntax.switches.count(*name) == 0)
            throw Failure(arg + " is not an option of " + command.name);
        if (!command.switches.insert(*name).second) throw Failure(arg + " is given twice");
        const bool takesArgument = *name == "v" || *name == "t" || *name == "d";
        if (takesArgument && i + 1 == args.size()) throw Failure(arg + " needs an argument");
        if (*name == "v") {
            command.valueName = args[++i];
            if (command.valueName->empty())
                throw Failure("/v needs a value name; use /ve for the default value");
        } else if (*name == "ve") {
            command.valueName = std::string();
        } else if (*name == "va") {
            command.allValues = true;
        } else if (*name == "s") {
            command.recursive = true;
        } else if (*name == "t") {
            command.type = args[++i];
        } else if (*name == "d") {
            command.data = args[++i];
        } else if (*name == "f") {
            command.force = true;
        } else if (*name == "y") {
            command.overwriteFile = true;
        }
    }
    const int valueSwitches = static_cast<int>(
        command.switches.count("v") + command.switches.count("ve") + command.switches.count("va"));
    if (valueSwitches > 1) throw Failure("give only one of /v, /ve and /va");

    const std::size_t wanted = syntax.operands;
    if (command.operands.size() < wanted) {
        throw Failure(command.name + " needs " + std::string(syntax.operandNames) +
                      " (see --help)");
    }
    if (command.operands.size() > wanted) {
        throw Failure("unexpected argument \"" + Shown(command.operands[wanted]) +
                      "\" (see --help)");
    }
    if (command.valueName) RequireUtf8(*command.valueName, "the value name");
    if (command.data) RequireUtf8(*command.data, "the data given with /d");
    return command;
}

std::string Join(const std::vector<std::string>& names) {
    std::string joined;
    for (const auto& name : names) {
        if (!joined.empty()) joined += '\\';
        joined += name;
    }
    return joined;
}

std::string FullPath(const std::vector<std::string>& names) {
    std::string path(kRootName);
    for (const auto& name : names) path += "\\" + name;
    return path;
}

KeySpec ParseKey(std::string_view text) {
    KeySpec spec;
    RequireUtf8(text, "the key");
    const std::string original = Shown(text);
    if (text.starts_with("\\\\")) {
        text.remove_prefix(2);
        const auto slash = text.find('\\');
        spec.computer = std::string(text.substr(0, slash));
        if (spec.computer.empty() || slash == std::string_view::npos || slash + 1 == text.size()) {
            throw Failure("\"" + original + "\" is not a key: write \\\\COMPUTER\\HKLM\\PATH");
        }
        text.remove_prefix(slash + 1);
    }
    if (text.size() > 1 && text.back() == '\\') text.remove_suffix(1);
    std::string error;
    auto split = platform::regfile::SplitKeyPath(text, &error);
    if (!split) throw Failure("\"" + original + "\" is not a key: " + error);
    if (split->root != kRootName) {
        throw Failure("\"" + original +
                      "\" is not below HKEY_LOCAL_MACHINE; only HKLM keys can be used");
    }
    spec.path = std::move(split->path);
    return spec;
}

std::filesystem::path PathFromUtf8(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

}  // namespace kelvaston::tools::detail
