#include "reg_tool.h"

#include <charconv>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string_view>

#include "platform/atomic_file.h"
#include "platform/reg_file.h"
#include "platform/registry_tree.h"
#include "platform/text.h"

namespace kelvaston::tools {
namespace {

using namespace platform;

constexpr std::string_view kRootName = "HKEY_LOCAL_MACHINE";
constexpr std::string_view kDone = "The operation completed successfully.";

// A failure the user gets to read: the message says what went wrong in plain words.
class Failure : public std::runtime_error {
public:
    explicit Failure(const std::string& message) : std::runtime_error(message) {}
};

std::string StatusText(Status status) {
    std::string text;
    switch (status) {
        case error::kFileNotFound: text = "the key or value does not exist"; break;
        case error::kAccessDenied: text = "access is denied"; break;
        case error::kInvalidHandle: text = "the key handle is not valid"; break;
        case error::kInvalidData: text = "the data is not valid"; break;
        case error::kBadNetPath: text = "the computer cannot be reached"; break;
        case error::kInvalidParameter: text = "a name or the data is not valid"; break;
        case error::kBadPathName: text = "the key path is not valid"; break;
        case error::kBadDb: text = "the registry's file is damaged and cannot be read"; break;
        case error::kRegistryIoFailed: text = "the registry could not be written"; break;
        case error::kKeyDeleted: text = "the key has been deleted meanwhile"; break;
        default: text = "the registry reported an error"; break;
    }
    return text + " (error " + std::to_string(status) + ")";
}

// What a registry kept in files says about the file or folder behind a failure.
std::string ProblemText(const HiveFileError& problem) {
    switch (problem.kind) {
        case HiveFileError::Kind::Malformed:
            return "the registry file is damaged at " + Describe(problem) +
                   "; it is left as it is: mend it there or restore it from a backup";
        case HiveFileError::Kind::Unreadable:
            return "cannot read " + problem.file + ": " + problem.message;
        case HiveFileError::Kind::Unwritable:
            return "cannot write " + problem.file + ": " + problem.message + "; the file is left as it was";
        case HiveFileError::Kind::Unsafe:
        case HiveFileError::Kind::NotAFolder:
            return "refusing to use " + problem.file + ": it " + problem.message;
    }
    return Describe(problem);
}

// Why a call failed: the file or folder's problem where the registry names one.
std::string Reason(RegistryApi& api, Status status) {
    if (const auto problem = api.LastHiveFileError()) return ProblemText(*problem);
    return StatusText(status);
}

// Text from the command line must be UTF-8, as the registry's names and texts are.
void RequireUtf8(std::string_view given, const std::string& what) {
    const std::size_t at = text::FirstInvalidUtf8(given);
    if (at == std::string_view::npos) return;
    static constexpr std::string_view kDigits = "0123456789ABCDEF";
    const auto byte = static_cast<unsigned char>(given[at]);
    throw Failure(what + " is not UTF-8 text (byte 0x" + std::string{kDigits[byte >> 4], kDigits[byte & 0xF]} +
                  " at position " + std::to_string(at + 1) + "); give names and data in UTF-8");
}

// Closes the key it holds when it goes out of scope or is reset.
class KeyHandle {
public:
    explicit KeyHandle(RegistryApi& api) : api_(api) {}
    ~KeyHandle() { Reset(); }
    KeyHandle(const KeyHandle&) = delete;
    KeyHandle& operator=(const KeyHandle&) = delete;

    Key Get() const { return key_; }
    Key* Out() {
        Reset();
        return &key_;
    }
    void Reset() {
        if (key_ != kNullKey) api_.CloseKey(key_);
        key_ = kNullKey;
    }

private:
    RegistryApi& api_;
    Key key_ = kNullKey;
};

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

// A name or path from the command line as messages quote it: cut short when it is very long.
std::string Shown(std::string_view given) {
    constexpr std::size_t kLongest = 80;
    if (given.size() <= kLongest) return std::string(given);
    return std::string(text::TruncateUtf8(given, kLongest)) + "...";
}

std::filesystem::path PathFromUtf8(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

// ---------------------------------------------------------------------------------------------
// Command line

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

bool IsHelp(std::string_view arg) {
    return arg == "/?" || arg == "-?" || arg == "--help" || arg == "-h" || arg == "help";
}

// The switch an argument names ("v" for "/v" or "-V"), or nothing when it is an operand. Only
// the tool's own switches count, so a path such as /tmp/backup.reg stays an operand.
std::optional<std::string> SwitchName(std::string_view arg) {
    if (arg.size() < 2 || (arg.front() != '/' && arg.front() != '-')) return std::nullopt;
    std::string name;
    for (const char c : arg.substr(1)) name.push_back(static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c));
    static const std::set<std::string> kKnown = {"v", "ve", "va", "s", "t", "d", "f", "y"};
    if (kKnown.count(name) == 0) return std::nullopt;
    return name;
}

Command ParseCommand(const std::vector<std::string>& args) {
    Command command;
    command.name = args.front();
    for (char& c : command.name) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    static const std::set<std::string> kCommands = {"query", "add", "delete", "import", "export"};
    if (kCommands.count(command.name) == 0) {
        throw Failure("unknown command \"" + Shown(args.front()) +
                      "\"; the commands are query, add, delete, import and export (see --help)");
    }
    // Which switches each command takes.
    static const std::set<std::string> kQuery = {"v", "ve", "s"};
    static const std::set<std::string> kAdd = {"v", "ve", "t", "d", "f"};
    static const std::set<std::string> kDelete = {"v", "ve", "va", "f"};
    static const std::set<std::string> kImport = {};
    static const std::set<std::string> kExport = {"y"};
    const std::set<std::string>& allowed = command.name == "query"    ? kQuery
                                           : command.name == "add"    ? kAdd
                                           : command.name == "delete" ? kDelete
                                           : command.name == "import" ? kImport
                                                                      : kExport;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const auto name = SwitchName(arg);
        if (!name) {
            command.operands.push_back(arg);
            continue;
        }
        if (allowed.count(*name) == 0) throw Failure(arg + " is not an option of " + command.name);
        if (!command.switches.insert(*name).second) throw Failure(arg + " is given twice");
        const bool takesArgument = *name == "v" || *name == "t" || *name == "d";
        if (takesArgument && i + 1 == args.size()) throw Failure(arg + " needs an argument");
        if (*name == "v") {
            command.valueName = args[++i];
            if (command.valueName->empty()) throw Failure("/v needs a value name; use /ve for the default value");
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
    const int valueSwitches = static_cast<int>(command.switches.count("v") + command.switches.count("ve") +
                                               command.switches.count("va"));
    if (valueSwitches > 1) throw Failure("give only one of /v, /ve and /va");

    const std::size_t wanted = command.name == "export" ? 2 : 1;
    const char* what = command.name == "import"   ? "FILE"
                       : command.name == "export" ? "KEY and FILE"
                                                  : "KEY";
    if (command.operands.size() < wanted) throw Failure(command.name + " needs " + what + " (see --help)");
    if (command.operands.size() > wanted) {
        throw Failure("unexpected argument \"" + Shown(command.operands[wanted]) + "\" (see --help)");
    }
    if (command.valueName) RequireUtf8(*command.valueName, "the value name");
    if (command.data) RequireUtf8(*command.data, "the data given with /d");
    return command;
}

// ---------------------------------------------------------------------------------------------
// Keys and the connection

struct KeySpec {
    std::string computer;  // empty: this computer
    std::vector<std::string> path;  // the names below HKEY_LOCAL_MACHINE

    std::string Display(const std::vector<std::string>& names) const {
        return (computer.empty() ? std::string() : "\\\\" + computer + "\\") + FullPath(names);
    }
    std::string Display() const { return Display(path); }
};

// "HKLM\A\B", "HKEY_LOCAL_MACHINE\A\B" or "\\COMPUTER\HKLM\A\B".
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
    auto split = regfile::SplitKeyPath(text, &error);
    if (!split) throw Failure("\"" + original + "\" is not a key: " + error);
    if (split->root != kRootName) {
        throw Failure("\"" + original + "\" is not below HKEY_LOCAL_MACHINE; only HKLM keys can be used");
    }
    spec.path = std::move(split->path);
    return spec;
}

// One connection to a computer's HKEY_LOCAL_MACHINE.
class Session {
public:
    Session(RegistryApi& api, const std::string& computer) : api_(api), root_(api) {
        const Status status = api.ConnectRegistry(computer, kHKeyLocalMachine, root_.Out());
        if (status == error::kSuccess) return;
        const std::string who = computer.empty() ? "this computer" : "computer \"" + Shown(computer) + "\"";
        if (status == error::kBadNetPath) {
            throw Failure("cannot connect to the registry of " + who + ": no such computer is known");
        }
        throw Failure("cannot use the registry of " + who + ": " + Reason(api, status));
    }

    RegistryApi& Api() { return api_; }
    Key Root() const { return root_.Get(); }

    // Makes every change so far permanent.
    void Flush() {
        const Status status = api_.FlushKey(root_.Get());
        if (status != error::kSuccess) {
            throw Failure("the changes could not be saved: " + Reason(api_, status));
        }
    }

    // Opens the key; a missing key is a failure that names it.
    void Open(const KeySpec& spec, std::uint32_t access, KeyHandle& key) {
        const Status status = api_.OpenKeyEx(root_.Get(), Join(spec.path), 0, access, key.Out());
        if (status == error::kFileNotFound) throw Failure("the key " + spec.Display() + " does not exist");
        if (status != error::kSuccess) throw Failure("cannot open " + spec.Display() + ": " + StatusText(status));
    }

    // The names of the path as the registry spells them, so the output shows the stored case.
    // Where a level cannot be listed, the name as given stands.
    std::vector<std::string> StoredNames(const std::vector<std::string>& path) {
        std::vector<std::string> names;
        for (const auto& name : path) {
            KeyHandle parent(api_);
            if (api_.OpenKeyEx(root_.Get(), Join(names), 0, kKeyRead, parent.Out()) != error::kSuccess) {
                names.insert(names.end(), path.begin() + static_cast<std::ptrdiff_t>(names.size()), path.end());
                break;
            }
            std::vector<std::string> children;
            std::string stored = name;
            if (ListSubkeys(api_, parent.Get(), &children) == error::kSuccess) {
                for (const auto& child : children) {
                    if (text::EqualsNoCase(child, name)) stored = child;
                }
            }
            names.push_back(std::move(stored));
        }
        return names;
    }

private:
    RegistryApi& api_;
    KeyHandle root_;
};

std::vector<regfile::Value> ReadValues(RegistryApi& api, Key key, const std::string& where) {
    std::vector<regfile::Value> values;
    for (std::uint32_t index = 0;; ++index) {
        std::string name;
        std::uint32_t type = 0;
        std::vector<std::uint8_t> data;
        const Status status = api.EnumValue(key, index, &name, &type, &data);
        if (status == error::kNoMoreItems) return values;
        if (status != error::kSuccess) throw Failure("cannot read the values of " + where + ": " + StatusText(status));
        values.push_back(ValueFromApi(RegValue{std::move(name), type, std::string(data.begin(), data.end())}));
    }
}

// ---------------------------------------------------------------------------------------------
// query

std::string TypeName(std::uint32_t type) {
    switch (type) {
        case kRegNone: return "REG_NONE";
        case kRegSz: return "REG_SZ";
        case kRegExpandSz: return "REG_EXPAND_SZ";
        case kRegBinary: return "REG_BINARY";
        case kRegDword: return "REG_DWORD";
        case kRegMultiSz: return "REG_MULTI_SZ";
        case kRegQword: return "REG_QWORD";
        default: break;
    }
    std::ostringstream name;
    name << "REG_TYPE_0x" << std::hex << std::uppercase << type;
    return name.str();
}

std::string HexNumber(std::uint64_t n) {
    std::ostringstream text;
    text << "0x" << std::hex << n;
    return text.str();
}

std::uint64_t LittleEndian(std::string_view bytes) {
    std::uint64_t n = 0;
    for (std::size_t i = bytes.size(); i-- > 0;) n = (n << 8) | static_cast<unsigned char>(bytes[i]);
    return n;
}

// The data as reg.exe shows it: text as text, numbers in hexadecimal, anything else as bytes.
std::string FormatData(const regfile::Value& value) {
    if (value.type == kRegSz) return value.data;
    if (value.type == kRegExpandSz || value.type == kRegMultiSz) {
        std::string textData = text::Utf16LeToUtf8(value.data);
        while (!textData.empty() && textData.back() == '\0') textData.pop_back();
        if (value.type == kRegExpandSz) return textData;
        std::string joined;
        for (const char c : textData) {
            if (c == '\0') {
                joined += "\\0";
            } else {
                joined.push_back(c);
            }
        }
        return joined;
    }
    if ((value.type == kRegDword && value.data.size() == 4) || (value.type == kRegQword && value.data.size() == 8)) {
        return HexNumber(LittleEndian(value.data));
    }
    static constexpr std::string_view kDigits = "0123456789ABCDEF";
    std::string hex;
    for (const char c : value.data) {
        const auto byte = static_cast<unsigned char>(c);
        hex.push_back(kDigits[byte >> 4]);
        hex.push_back(kDigits[byte & 0xF]);
    }
    return hex;
}

void PrintValue(std::ostream& out, const regfile::Value& value) {
    out << "    " << (value.name.empty() ? "(Default)" : value.name) << "    " << TypeName(value.type) << "    "
        << FormatData(value) << "\n";
}

const regfile::Value* FindValue(const std::vector<regfile::Value>& values, const std::string& name) {
    for (const auto& value : values) {
        if (text::EqualsNoCase(value.name, name)) return &value;
    }
    return nullptr;
}

struct QueryWalk {
    Session& session;
    const KeySpec& spec;
    const Command& command;
    std::ostream& out;
    std::size_t matches = 0;

    // Prints the key `key` (path `names`) and, for /s, everything below it, parents first.
    void Visit(Key key, std::vector<std::string>& names) {
        RegistryApi& api = session.Api();
        // The keys still to visit below each level: open, with the names of their children.
        struct Level {
            Key key;
            std::vector<std::string> children;
            std::size_t next = 0;
        };
        std::vector<Level> levels;
        const auto release = [&] {
            for (std::size_t i = 1; i < levels.size(); ++i) api.CloseKey(levels[i].key);
        };
        try {
            levels.push_back({key, PrintKey(key, names), 0});
            while (!levels.empty()) {
                Level& top = levels.back();
                if (top.next == top.children.size()) {
                    if (levels.size() > 1) api.CloseKey(top.key);
                    levels.pop_back();
                    if (!levels.empty()) names.pop_back();
                    continue;
                }
                names.push_back(top.children[top.next++]);
                if (!command.recursive) {
                    out << spec.Display(names) << "\n";
                    names.pop_back();
                    continue;
                }
                Key child = kNullKey;
                const Status status = api.OpenKeyEx(top.key, names.back(), 0, kKeyRead, &child);
                if (status != error::kSuccess) {
                    throw Failure("cannot open " + spec.Display(names) + ": " + StatusText(status));
                }
                levels.push_back({child, {}, 0});
                levels.back().children = PrintKey(child, names);
            }
        } catch (...) {
            release();
            throw;
        }
    }

private:
    // Prints one key as the command asks; the names of its subkeys where they are to be shown.
    std::vector<std::string> PrintKey(Key key, const std::vector<std::string>& names) {
        RegistryApi& api = session.Api();
        const std::string where = spec.Display(names);
        const auto values = ReadValues(api, key, where);
        if (command.valueName) {
            if (const regfile::Value* value = FindValue(values, *command.valueName)) {
                out << where << "\n";
                PrintValue(out, *value);
                out << "\n";
                ++matches;
            } else if (!command.recursive && command.valueName->empty()) {
                // The default value always exists in name; like regedit, show it unset.
                out << where << "\n    (Default)    REG_SZ    (value not set)\n\n";
                ++matches;
            }
        } else {
            out << where << "\n";
            for (const auto& value : values) PrintValue(out, value);
            out << "\n";
            matches += 1 + values.size();
        }
        std::vector<std::string> children;
        if (command.valueName && !command.recursive) return children;
        if (const Status status = ListSubkeys(api, key, &children); status != error::kSuccess) {
            throw Failure("cannot list the subkeys of " + where + ": " + StatusText(status));
        }
        return children;
    }
};

int Query(const Command& command, RegistryApi& api, std::ostream& out) {
    const KeySpec spec = ParseKey(command.operands[0]);
    Session session(api, spec.computer);
    KeyHandle key(api);
    session.Open(spec, kKeyRead, key);
    std::vector<std::string> names = session.StoredNames(spec.path);

    // Gather the output first: a failure half-way prints only the error.
    std::ostringstream text;
    QueryWalk walk{session, spec, command, text};
    text << "\n";
    walk.Visit(key.Get(), names);
    if (walk.matches == 0) {
        throw Failure(command.valueName->empty()
                          ? "no default value was found in or below " + spec.Display()
                          : "no value \"" + Shown(*command.valueName) + "\" was found in " +
                                (command.recursive ? "or below " : "") + spec.Display());
    }
    if (command.recursive) text << "End of search: " << walk.matches << " match(es) found.\n";
    out << text.str();
    return 0;
}

// ---------------------------------------------------------------------------------------------
// add

std::uint32_t ParseDword(const std::string& data) {
    std::string_view digits = data;
    int base = 10;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        digits.remove_prefix(2);
        base = 16;
    }
    std::uint64_t n = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), n, base);
    if (digits.empty() || ec == std::errc::invalid_argument || end != digits.data() + digits.size()) {
        throw Failure("\"" + data + "\" is not a REG_DWORD number: give it in decimal or as 0x followed by hex digits");
    }
    if (ec == std::errc::result_out_of_range || n > 0xFFFFFFFFu) {
        throw Failure("\"" + data + "\" is too large for a REG_DWORD (at most 4294967295 or 0xffffffff)");
    }
    return static_cast<std::uint32_t>(n);
}

std::string ValueLabel(const std::string& name) {
    return name.empty() ? std::string("the default value") : "the value \"" + Shown(name) + "\"";
}

int Add(const Command& command, RegistryApi& api, std::ostream& out) {
    const KeySpec spec = ParseKey(command.operands[0]);
    if ((command.type || command.data) && !command.valueName) {
        throw Failure("/t and /d set a value: name it with /v NAME, or use /ve for the default value");
    }
    std::uint32_t type = kRegSz;
    std::string data;
    if (command.valueName) {
        const std::string typeName = command.type.value_or("REG_SZ");
        if (text::EqualsNoCase(typeName, "REG_SZ")) {
            data = command.data.value_or("") + '\0';
        } else if (text::EqualsNoCase(typeName, "REG_DWORD")) {
            if (!command.data) throw Failure("a REG_DWORD value needs its number: add /d DATA");
            type = kRegDword;
            const std::uint32_t n = ParseDword(*command.data);
            for (int b = 0; b < 4; ++b) data.push_back(static_cast<char>((n >> (8 * b)) & 0xFFu));
        } else {
            throw Failure("the type " + typeName +
                          " cannot be given to add; it takes REG_SZ or REG_DWORD (import a .reg file for other types)");
        }
    }

    Session session(api, spec.computer);
    if (command.valueName && !command.force) {
        KeyHandle existing(api);
        const Status status = api.OpenKeyEx(session.Root(), Join(spec.path), 0, kKeyQueryValue, existing.Out());
        if (status == error::kSuccess &&
            api.QueryValueEx(existing.Get(), *command.valueName, nullptr, nullptr, nullptr) == error::kSuccess) {
            throw Failure(ValueLabel(*command.valueName) + " already exists in " + spec.Display() +
                          "; nothing was changed (add /f to overwrite it)");
        }
    }
    KeyHandle key(api);
    if (const Status status = api.CreateKey(session.Root(), Join(spec.path), key.Out()); status != error::kSuccess) {
        throw Failure("cannot create " + spec.Display() + ": " + Reason(api, status));
    }
    if (command.valueName) {
        const Status status = api.SetValueEx(key.Get(), *command.valueName, type,
                                             reinterpret_cast<const std::uint8_t*>(data.data()),
                                             static_cast<std::uint32_t>(data.size()));
        if (status != error::kSuccess) {
            throw Failure("cannot set " + ValueLabel(*command.valueName) + " in " + spec.Display() + ": " +
                          StatusText(status));
        }
    }
    session.Flush();
    out << kDone << "\n";
    return 0;
}

// ---------------------------------------------------------------------------------------------
// delete

int Delete(const Command& command, RegistryApi& api, std::ostream& out) {
    const KeySpec spec = ParseKey(command.operands[0]);
    const bool wholeKey = !command.valueName && !command.allValues;
    if (wholeKey && spec.path.empty()) throw Failure("HKEY_LOCAL_MACHINE itself cannot be deleted");

    Session session(api, spec.computer);
    KeyHandle key(api);
    session.Open(spec, kKeyRead | kKeySetValue, key);
    std::string what;
    if (wholeKey) {
        what = "the key " + spec.Display() + " with everything below it";
    } else if (command.allValues) {
        what = "all values of " + spec.Display();
    } else {
        if (api.QueryValueEx(key.Get(), *command.valueName, nullptr, nullptr, nullptr) == error::kFileNotFound) {
            throw Failure(ValueLabel(*command.valueName) + " does not exist in " + spec.Display());
        }
        what = ValueLabel(*command.valueName) + " of " + spec.Display();
    }
    if (!command.force) {
        throw Failure("nothing was deleted: kelvaston-reg never prompts, so add /f to delete " + what);
    }

    Status status = error::kSuccess;
    if (wholeKey) {
        key.Reset();
        status = DeleteTree(api, session.Root(), Join(spec.path));
    } else if (command.allValues) {
        std::vector<std::string> names;
        for (auto& value : ReadValues(api, key.Get(), spec.Display())) names.push_back(std::move(value.name));
        for (std::size_t i = 0; status == error::kSuccess && i < names.size(); ++i) {
            status = api.DeleteValue(key.Get(), names[i]);
        }
    } else {
        status = api.DeleteValue(key.Get(), *command.valueName);
    }
    if (status != error::kSuccess) throw Failure("cannot delete " + what + ": " + StatusText(status));
    session.Flush();
    out << kDone << "\n";
    return 0;
}

// ---------------------------------------------------------------------------------------------
// import and export

std::string ReadFile(const std::string& name) {
    std::ifstream in(PathFromUtf8(name), std::ios::binary);
    std::error_code ec;
    if (!in || std::filesystem::is_directory(PathFromUtf8(name), ec)) throw Failure("cannot open the file " + name);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) throw Failure("cannot read the file " + name);
    return bytes;
}

std::string Where(const std::string& file, int line) {
    return line > 0 ? file + ":" + std::to_string(line) : file;
}

int Import(const Command& command, RegistryApi& api, std::ostream& out) {
    const std::string& file = command.operands[0];
    const regfile::ParseResult parsed = regfile::Parse(ReadFile(file));
    if (!parsed.document) throw Failure(Where(file, parsed.error.line) + ": " + parsed.error.message);
    // Everything is checked before the first change, so a file that cannot be applied as a
    // whole changes nothing.
    for (const auto& entry : parsed.document->entries) {
        if (entry.root != kRootName) {
            throw Failure(Where(file, entry.line) + ": only HKEY_LOCAL_MACHINE keys can be imported, not " +
                          entry.root + "; nothing was imported");
        }
        if (entry.kind == regfile::EntryKind::DeleteKey && entry.path.empty()) {
            throw Failure(Where(file, entry.line) +
                          ": HKEY_LOCAL_MACHINE itself cannot be deleted; nothing was imported");
        }
    }

    Session session(api, "");
    const regfile::Entry* failed = nullptr;
    if (const Status status = ApplyEntries(api, session.Root(), parsed.document->entries, &failed);
        status != error::kSuccess) {
        // What came before this line has been applied: it is saved rather than lost, and the
        // message says what that was.
        const auto applied = static_cast<std::size_t>(failed - parsed.document->entries.data());
        const bool saved = applied > 0 && api.FlushKey(session.Root()) == error::kSuccess;
        throw Failure(Where(file, failed->line) + ": cannot apply this line to " + Shown(FullPath(failed->path)) +
                      ": " + Reason(api, status) +
                      (saved ? "; the " + std::to_string(applied) + " entries before it have been imported"
                             : "; nothing was imported"));
    }
    session.Flush();
    out << kDone << "\n";
    return 0;
}

// Writes a key and everything below it, parents first.
void AddTree(regfile::Writer& writer, const std::string& path, const KeyTree& tree) {
    std::vector<std::pair<std::string, const KeyTree*>> pending{{path, &tree}};
    while (!pending.empty()) {
        auto [where, key] = std::move(pending.back());
        pending.pop_back();
        writer.AddKey(where, key->values);
        for (auto child = key->children.rbegin(); child != key->children.rend(); ++child) {
            pending.emplace_back(where + "\\" + child->name, &*child);
        }
    }
}

int Export(const Command& command, RegistryApi& api, std::ostream& out) {
    const KeySpec spec = ParseKey(command.operands[0]);
    const std::string& file = command.operands[1];
    std::error_code ec;
    if (std::filesystem::exists(PathFromUtf8(file), ec) && !command.overwriteFile) {
        throw Failure("the file " + file + " already exists; nothing was written (add /y to overwrite it)");
    }

    Session session(api, spec.computer);
    KeyHandle key(api);
    session.Open(spec, kKeyRead, key);
    const std::vector<std::string> names = session.StoredNames(spec.path);
    KeyTree tree;
    if (const Status status = ReadTree(api, key.Get(), names.empty() ? std::string(kRootName) : names.back(), &tree);
        status != error::kSuccess) {
        throw Failure("cannot read " + spec.Display() + ": " + StatusText(status));
    }

    regfile::Writer writer(regfile::Encoding::Utf16LeBomCrlf);
    if (names.empty()) {
        // HKEY_LOCAL_MACHINE itself: its own line only when it holds values.
        if (!tree.values.empty()) writer.AddKey(kRootName, tree.values);
        for (const auto& child : tree.children) AddTree(writer, FullPath({child.name}), child);
    } else {
        AddTree(writer, FullPath(names), tree);
    }
    const std::string bytes = writer.Finish();

    // A backup holds passwords: it is written as the store writes its files, whole or not at
    // all, and readable by its owner only.
    AtomicFile backup(PathFromUtf8(file));
    if (!backup.Open() || !backup.Write(bytes) || !backup.Commit()) {
        throw Failure("cannot write the file " + Shown(file) + ": " + backup.Error().message() +
                      (std::filesystem::exists(PathFromUtf8(file), ec) ? "; the file is left as it was"
                                                                       : "; nothing was written"));
    }
    out << kDone << "\n";
    return 0;
}

}  // namespace

std::string RegToolUsage() {
    return R"(Usage: kelvaston-reg COMMAND ...

  kelvaston-reg query KEY [/v NAME | /ve] [/s]
      Shows the values of KEY and lists its subkeys. /v NAME shows one value, /ve the
      default value; /s shows everything below KEY as well.

  kelvaston-reg add KEY [/v NAME | /ve] [/t REG_SZ|REG_DWORD] [/d DATA] [/f]
      Creates KEY (with any missing keys above it) and, with /v or /ve, sets a value.
      The type is REG_SZ unless /t says otherwise; REG_DWORD data is a decimal number or
      0x followed by hexadecimal digits.

  kelvaston-reg delete KEY [/v NAME | /ve | /va] /f
      Deletes KEY with everything below it, or the value NAME (/v), the default value
      (/ve) or all values of KEY (/va).

  kelvaston-reg import FILE
      Applies a .reg file as regedit writes it ("Windows Registry Editor Version 5.00" or
      "REGEDIT4"; UTF-16 or 8-bit), including [-KEY] and "NAME"=- deletions. Only
      HKEY_LOCAL_MACHINE keys are accepted. The whole file is checked first: a file with
      an error changes nothing, and the error names the line.

  kelvaston-reg export KEY FILE [/y]
      Writes KEY and everything below it to FILE in the format regedit imports
      (version 5.00, UTF-16LE).

KEY is HKLM\PATH or HKEY_LOCAL_MACHINE\PATH, in any case. \\COMPUTER\HKLM\PATH names the
registry of another computer.

kelvaston-reg never prompts. Without /f, add refuses to overwrite an existing value and
delete refuses to delete anything; without /y, export refuses to overwrite an existing
FILE. Nothing is changed when it refuses.

Every change is saved before kelvaston-reg exits. The exit status is 0 on success and
1 on failure, with the reason on standard error.
)"
#ifndef _WIN32
           R"(
The registry is kept in one .reg file per computer (COMPUTER.reg) in the folder named by
$KELVASTON_REGISTRY, else ${XDG_DATA_HOME:-$HOME/.local/share}/kelvaston/registry.
)"
#endif
        ;
}

int RunRegTool(const std::vector<std::string>& args, platform::RegistryApi& api, std::ostream& out,
               std::ostream& err) {
    try {
        if (args.empty() || IsHelp(args.front()) || (args.size() == 2 && IsHelp(args[1]))) {
            out << RegToolUsage();
            return 0;
        }
        const Command command = ParseCommand(args);
        if (command.name == "query") return Query(command, api, out);
        if (command.name == "add") return Add(command, api, out);
        if (command.name == "delete") return Delete(command, api, out);
        if (command.name == "import") return Import(command, api, out);
        return Export(command, api, out);
    } catch (const Failure& failure) {
        err << "ERROR: " << failure.what() << "\n";
    } catch (const std::exception& e) {
        err << "ERROR: unexpected failure: " << e.what() << "\n";
    }
    return 1;
}

}  // namespace kelvaston::tools
