#include "reg_tool.h"

#include <charconv>
#include <cstdint>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string_view>

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#endif

#include "platform/atomic_file.h"
#include "platform/reg_file.h"
#include "platform/registry_tree.h"
#include "platform/text.h"
#ifndef _WIN32
#include "platform/file_store.h"
#endif

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
        case error::kNoUnicodeTranslation: text = "a name or text holds a character this registry cannot store"; break;
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
        case HiveFileError::Kind::Unwritable: {
            std::error_code ec;
            if (std::filesystem::is_directory(std::filesystem::path(problem.file), ec)) {
                return "cannot write in the folder " + problem.file + ": " + problem.message;
            }
            return "cannot write " + problem.file + ": " + problem.message + "; the file is left as it was";
        }
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

    // Opens the key; a missing key is a failure that names it.
    void Open(const KeySpec& spec, std::uint32_t access, KeyHandle& key) {
        const Status status = api_.OpenKeyEx(root_.Get(), Join(spec.path), 0, access, key.Out());
        if (status == error::kFileNotFound) throw Failure("the key " + spec.Display() + " does not exist");
        if (status != error::kSuccess) throw Failure("cannot open " + spec.Display() + ": " + Reason(api_, status));
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
        if (status != error::kSuccess) throw Failure("cannot read the values of " + where + ": " + Reason(api, status));
        values.push_back(ValueFromApi(RegValue{std::move(name), type, std::string(data.begin(), data.end())}));
    }
}

// ---------------------------------------------------------------------------------------------
// Changes that are made whole or not at all

// Where `name` holds a character this registry cannot store in a name (UnstorableAt): the
// character, in quotes, for a message; nothing when it can store all of it.
std::optional<std::string> UnstorableCharacter(const RegistryApi& api, std::string_view name) {
    const auto at = api.UnstorableAt(name);
    if (!at) return std::nullopt;
    if (*at >= name.size()) return std::string("a character");
    const auto lead = static_cast<unsigned char>(name[*at]);
    const std::size_t length = lead < 0xC0 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    const std::string_view character = name.substr(*at, length);
    if (text::IsValidUtf8(character)) return "\"" + std::string(character) + "\"";
    static constexpr std::string_view kDigits = "0123456789ABCDEF";
    return std::string("the byte 0x") + kDigits[lead >> 4] + kDigits[lead & 0xF];
}

std::string CannotStore(const std::string& what, const std::string& character) {
    return what + " holds " + character + ", which this computer's registry cannot store (its code page lacks it)";
}

// What a command is about to change, read before its first write and inside its transaction, so
// that a command that fails half-way can put back what it changed where the registry does not
// undo it (advapi32 has no transactions): keys it makes are deleted again, keys it deletes are
// written back from a copy, and the values of keys it changes are set back from a copy.
class PutBack {
public:
    PutBack(RegistryApi& api, Key root) : api_(api), root_(root) {}

    // The key `path` (and any missing key above it) is going to be made.
    Status WillCreate(const std::vector<std::string>& path) {
        std::size_t existing = 0;
        if (const Status status = ExistingLevels(path, &existing); status != error::kSuccess) return status;
        if (existing < path.size()) {
            const std::vector<std::string> top(path.begin(), path.begin() + static_cast<std::ptrdiff_t>(existing + 1));
            created_.emplace(Folded(top), top);
        }
        return error::kSuccess;
    }

    // A value of the key `path` is going to be set (or deleted); the key is made first where it
    // is missing. A value that a put-back would have to delete again by a name this registry
    // cannot handle (a new one in a key that is there) is refused: kNoUnicodeTranslation.
    Status WillChangeValue(const std::vector<std::string>& path, const std::string& name, bool deleting) {
        if (deleting && api_.UnstorableAt(name)) return error::kNoUnicodeTranslation;
        if (const Status status = WillCreate(path); status != error::kSuccess) return status;
        std::size_t existing = 0;
        if (const Status status = ExistingLevels(path, &existing); status != error::kSuccess) return status;
        if (existing < path.size()) return error::kSuccess;  // made by the command: deleted again
        const std::vector<RegValue>* before = nullptr;
        if (const Status status = ValuesBefore(path, &before); status != error::kSuccess) return status;
        if (!deleting && api_.UnstorableAt(name) && FindValue(*before, name) == nullptr) {
            return error::kNoUnicodeTranslation;
        }
        return error::kSuccess;
    }

    // Any value of the key `path`, which is there, may change.
    Status WillChangeValues(const std::vector<std::string>& path) {
        const std::vector<RegValue>* before = nullptr;
        return ValuesBefore(path, &before);
    }

    // The key `path` is going to be deleted with everything below it. A key below it whose name
    // this registry cannot handle is refused, named in *unstorable: kNoUnicodeTranslation.
    Status WillDelete(const std::vector<std::string>& path, std::string* unstorable) {
        std::size_t existing = 0;
        if (const Status status = ExistingLevels(path, &existing); status != error::kSuccess) return status;
        const std::string folded = Folded(path);
        if (existing < path.size() || path.empty() || deleted_.count(folded) != 0) return error::kSuccess;
        // The key's name as stored, from its parent's list.
        const std::vector<std::string> parent(path.begin(), path.end() - 1);
        KeyContents above;
        if (const Status status = api_.QueryKeyContents(root_, Join(parent), &above); status != error::kSuccess) {
            return status;
        }
        std::string name = path.back();
        for (const auto& child : above.subkeys) {
            if (text::EqualsNoCase(child, name)) name = child;
        }
        KeyHandle key(api_);
        if (const Status status = api_.OpenKeyEx(root_, Join(path), 0, kKeyRead, key.Out());
            status != error::kSuccess) {
            return status;
        }
        Deleted copy{path, {}};
        if (const Status status = ReadTree(api_, key.Get(), name, &copy.tree); status != error::kSuccess) return status;
        // Every name below it is opened by name on the way, by the deletion or by the put-back.
        std::vector<std::pair<std::string, const KeyTree*>> pending{{Join(path), &copy.tree}};
        while (!pending.empty()) {
            auto [where, tree] = pending.back();
            pending.pop_back();
            if (api_.UnstorableAt(tree->name)) {
                *unstorable = where;
                return error::kNoUnicodeTranslation;
            }
            for (const auto& child : tree->children) pending.emplace_back(where + "\\" + child.name, &child);
        }
        deleted_.emplace(folded, std::move(copy));
        return error::kSuccess;
    }

    // Puts back everything that was announced: the registry as it was read. On a failure, the
    // first one, with the key it concerns in *where; what can still be put back is put back.
    Status Restore(std::string* where) {
        Status first = error::kSuccess;
        const auto note = [&](Status status, const std::vector<std::string>& path) {
            if (status != error::kSuccess && first == error::kSuccess) {
                first = status;
                *where = FullPathOf(path);
            }
        };
        // Keys the command made hold nothing that was there before.
        for (const auto& [folded, path] : created_) note(DeleteTree(api_, root_, Join(path)), path);
        // Deleted keys come back whole from their copies, those inside another copy with it.
        for (const auto& [folded, copy] : deleted_) {
            if (Inside(folded, deleted_, false)) continue;
            note(RestoreTree(copy), copy.path);
        }
        for (const auto& [folded, copy] : values_) {
            if (Inside(folded, deleted_, true)) continue;
            note(RestoreValues(copy), copy.path);
        }
        return first;
    }

private:
    struct Values {
        std::vector<std::string> path;
        std::vector<RegValue> values;  // as the registry keeps them (EnumValueBytes)
    };
    struct Deleted {
        std::vector<std::string> path;
        KeyTree tree;
    };

    static std::string Folded(const std::vector<std::string>& path) { return text::FoldCase(Join(path)); }
    static std::string FullPathOf(const std::vector<std::string>& path) {
        std::string full(kRootName);
        for (const auto& name : path) full += "\\" + name;
        return full;
    }

    // Whether the key of folded path `folded` is below one of `copies` (or one of them itself).
    template <class Map>
    static bool Inside(const std::string& folded, const Map& copies, bool itself) {
        for (const auto& [other, copy] : copies) {
            if ((itself && other == folded) || folded.starts_with(other + "\\")) return true;
        }
        return false;
    }

    // How many keys of `path`, from the top, were there before the command.
    Status ExistingLevels(const std::vector<std::string>& path, std::size_t* existing) {
        *existing = 0;
        std::vector<std::string> prefix;
        for (const auto& name : path) {
            prefix.push_back(name);
            const std::string folded = Folded(prefix);
            auto known = exists_.find(folded);
            if (known == exists_.end()) {
                KeyHandle key(api_);
                const Status status = api_.OpenKeyEx(root_, Join(prefix), 0, kKeyRead, key.Out());
                if (status != error::kSuccess && status != error::kFileNotFound) return status;
                known = exists_.emplace(folded, status == error::kSuccess).first;
            }
            if (!known->second) return error::kSuccess;
            ++*existing;
        }
        return error::kSuccess;
    }

    Status ValuesBefore(const std::vector<std::string>& path, const std::vector<RegValue>** values) {
        const std::string folded = Folded(path);
        auto known = values_.find(folded);
        if (known == values_.end()) {
            KeyContents contents;
            if (const Status status = api_.QueryKeyContents(root_, Join(path), &contents); status != error::kSuccess) {
                return status;
            }
            known = values_.emplace(folded, Values{path, std::move(contents.values)}).first;
        }
        *values = &known->second.values;
        return error::kSuccess;
    }

    Status RestoreTree(const Deleted& copy) {
        if (const Status status = DeleteTree(api_, root_, Join(copy.path)); status != error::kSuccess) return status;
        const std::vector<std::string> parent(copy.path.begin(), copy.path.end() - 1);
        KeyHandle above(api_);
        if (const Status status = api_.CreateKey(root_, Join(parent), above.Out()); status != error::kSuccess) {
            return status;
        }
        return WriteTree(api_, above.Get(), copy.tree);
    }

    // The key's values as they were, in their order: values the command added are deleted, and
    // from the first value that changed or moved on, each is set again in turn.
    Status RestoreValues(const Values& copy) {
        KeyContents now;
        if (const Status status = api_.QueryKeyContents(root_, Join(copy.path), &now); status != error::kSuccess) {
            return status;
        }
        KeyHandle key(api_);
        if (const Status status = api_.OpenKeyEx(root_, Join(copy.path), 0, kKeyAllAccess, key.Out());
            status != error::kSuccess) {
            return status;
        }
        std::vector<RegValue> kept;
        for (auto& value : now.values) {
            if (FindValue(copy.values, value.name) != nullptr) {
                kept.push_back(std::move(value));
            } else if (const Status status = api_.DeleteValue(key.Get(), value.name); status != error::kSuccess) {
                return status;
            }
        }
        std::size_t same = 0;
        while (same < kept.size() && same < copy.values.size() && kept[same].name == copy.values[same].name &&
               kept[same].type == copy.values[same].type && kept[same].data == copy.values[same].data) {
            ++same;
        }
        for (std::size_t i = same; i < copy.values.size(); ++i) {
            const RegValue& value = copy.values[i];
            if (same < kept.size()) {
                // Deleted first, so that setting it puts it after the ones before it. A name
                // this registry cannot delete stays where it is, with its data set back.
                const Status status = api_.DeleteValue(key.Get(), value.name);
                if (status != error::kSuccess && status != error::kFileNotFound &&
                    status != error::kNoUnicodeTranslation) {
                    return status;
                }
            }
            if (const Status status = api_.SetValueBytes(key.Get(), value.name, value.type, value.data);
                status != error::kSuccess) {
                return status;
            }
        }
        return error::kSuccess;
    }

    RegistryApi& api_;
    Key root_;
    std::map<std::string, bool> exists_;                    // by folded path: there before
    std::map<std::string, std::vector<std::string>> created_;  // the topmost keys made
    std::map<std::string, Values> values_;
    std::map<std::string, Deleted> deleted_;
};

// One command's changes, whole or not at all. They are made inside a transaction on the hive;
// where the registry cannot undo them (AbortTransaction returns false, as advapi32's does),
// the PutBack puts back what was written.
class Change {
public:
    explicit Change(Session& session) : api_(session.Api()), root_(session.Root()), putBack_(api_, root_) {
        if (const Status status = api_.BeginTransaction(root_); status != error::kSuccess) {
            throw Failure("cannot begin changing the registry: " + Reason(api_, status) + "; nothing was changed");
        }
        open_ = true;
    }
    // A failure thrown before the change ended: undone, without a word (a message is on its way).
    ~Change() {
        if (open_) Undo();
    }
    Change(const Change&) = delete;
    Change& operator=(const Change&) = delete;

    PutBack& Guard() { return putBack_; }
    // The first write comes next: from now on a failure may need putting back.
    void Writing() { writing_ = true; }

    // Ends the change after a failure: what the message says happened to the changes made,
    // `nothing` when they are all undone.
    std::string Undo(const std::string& nothing = "nothing was changed") {
        open_ = false;
        if (api_.AbortTransaction(root_) || !writing_) return "; " + nothing;
        std::string where;
        const Status status = putBack_.Restore(&where);
        if (status == error::kSuccess) return "; " + nothing;
        return "; and putting back what had been changed failed at " + Shown(where) + " (" + StatusText(status) +
               "): check that key";
    }

    // Makes the changes permanent, or undoes them and says why it could not.
    void Commit(const std::string& nothing = "nothing was changed") {
        const Status status = api_.CommitTransaction(root_);
        if (status == error::kSuccess) {
            open_ = false;
            return;
        }
        const std::string reason = Reason(api_, status);
        throw Failure("the changes could not be saved: " + reason + Undo(nothing));
    }

private:
    RegistryApi& api_;
    Key root_;
    PutBack putBack_;
    bool open_ = false;
    bool writing_ = false;
};

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
                    throw Failure("cannot open " + spec.Display(names) + ": " + Reason(api, status));
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
            throw Failure("cannot list the subkeys of " + where + ": " + Reason(api, status));
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

// Every key name of the path must be one this registry can store, for the calls that open
// and make keys by name.
void CheckNames(const RegistryApi& api, const KeySpec& spec, const std::string& nothing) {
    for (std::size_t i = 0; i < spec.path.size(); ++i) {
        if (const auto character = UnstorableCharacter(api, spec.path[i])) {
            throw Failure(CannotStore("the key name \"" + Shown(spec.path[i]) + "\"", *character) + "; " + nothing);
        }
    }
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

    // What the registry would refuse is refused before anything is written.
    CheckNames(api, spec, "nothing was changed");
    if (command.valueName) {
        if (text::LongerThan(*command.valueName, kMaxValueNameLength)) {
            throw Failure("the value name is longer than 16383 characters, the registry's limit; nothing was changed");
        }
        if (const auto character = UnstorableCharacter(api, *command.valueName)) {
            throw Failure(CannotStore("the value name", *character) + "; nothing was changed");
        }
        const auto character = type == kRegSz ? UnstorableCharacter(api, command.data.value_or("")) : std::nullopt;
        if (character) {
            throw Failure(CannotStore("the data given with /d", *character) + "; nothing was changed");
        }
    }

    Session session(api, spec.computer);
    Change change(session);
    if (command.valueName && !command.force) {
        KeyHandle existing(api);
        const Status status = api.OpenKeyEx(session.Root(), Join(spec.path), 0, kKeyQueryValue, existing.Out());
        if (status == error::kSuccess &&
            api.QueryValueEx(existing.Get(), *command.valueName, nullptr, nullptr, nullptr) == error::kSuccess) {
            throw Failure(ValueLabel(*command.valueName) + " already exists in " + spec.Display() +
                          "; nothing was changed (add /f to overwrite it)");
        }
    }
    const Status read = command.valueName ? change.Guard().WillChangeValue(spec.path, *command.valueName, false)
                                          : change.Guard().WillCreate(spec.path);
    if (read != error::kSuccess) {
        throw Failure("cannot read " + spec.Display() + " before changing it: " + Reason(api, read) +
                      "; nothing was changed");
    }
    change.Writing();
    KeyHandle key(api);
    if (const Status status = api.CreateKey(session.Root(), Join(spec.path), key.Out()); status != error::kSuccess) {
        const std::string reason = Reason(api, status);
        key.Reset();
        throw Failure("cannot create " + spec.Display() + ": " + reason + change.Undo());
    }
    if (command.valueName) {
        const Status status = api.SetValueEx(key.Get(), *command.valueName, type,
                                             reinterpret_cast<const std::uint8_t*>(data.data()),
                                             static_cast<std::uint32_t>(data.size()));
        if (status != error::kSuccess) {
            const std::string reason = Reason(api, status);
            key.Reset();
            throw Failure("cannot set " + ValueLabel(*command.valueName) + " in " + spec.Display() + ": " + reason +
                          change.Undo());
        }
    }
    key.Reset();
    change.Commit();
    out << kDone << "\n";
    return 0;
}

// ---------------------------------------------------------------------------------------------
// delete

int Delete(const Command& command, RegistryApi& api, std::ostream& out) {
    const KeySpec spec = ParseKey(command.operands[0]);
    const bool wholeKey = !command.valueName && !command.allValues;
    if (wholeKey && spec.path.empty()) throw Failure("HKEY_LOCAL_MACHINE itself cannot be deleted");

    CheckNames(api, spec, "nothing was deleted");

    Session session(api, spec.computer);
    Change change(session);
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

    // What is deleted is read first, so that a deletion that fails half-way can be put back.
    std::string unstorable;
    const Status read = wholeKey             ? change.Guard().WillDelete(spec.path, &unstorable)
                        : command.allValues ? change.Guard().WillChangeValues(spec.path)
                                            : change.Guard().WillChangeValue(spec.path, *command.valueName, true);
    if (read == error::kNoUnicodeTranslation) {
        throw Failure("cannot delete " + what + ": " +
                      (unstorable.empty() ? std::string("the value name") : "the key " + FullPath({unstorable})) +
                      " holds a character this computer's registry cannot handle by name; nothing was deleted");
    }
    if (read != error::kSuccess) {
        throw Failure("cannot read " + spec.Display() + " before deleting it: " + Reason(api, read) +
                      "; nothing was deleted");
    }
    std::vector<std::string> names;
    if (command.allValues) {
        for (auto& value : ReadValues(api, key.Get(), spec.Display())) names.push_back(std::move(value.name));
    }
    change.Writing();
    Status status = error::kSuccess;
    if (wholeKey) {
        key.Reset();
        status = DeleteTree(api, session.Root(), Join(spec.path));
    } else if (command.allValues) {
        for (std::size_t i = 0; status == error::kSuccess && i < names.size(); ++i) {
            status = api.DeleteValue(key.Get(), names[i]);
        }
    } else {
        status = api.DeleteValue(key.Get(), *command.valueName);
    }
    key.Reset();
    if (status != error::kSuccess) {
        const std::string reason = Reason(api, status);
        throw Failure("cannot delete " + what + ": " + reason + change.Undo("nothing was deleted"));
    }
    change.Commit("nothing was deleted");
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
    // whole changes nothing: what the file says, then the names the registry takes by name
    // (keys are opened, made and deleted by name, and so are values deleted), then, inside the
    // transaction, what is there now.
    const std::string nothing = "nothing was imported";
    for (const auto& entry : parsed.document->entries) {
        if (entry.root != kRootName) {
            throw Failure(Where(file, entry.line) + ": only HKEY_LOCAL_MACHINE keys can be imported, not " +
                          entry.root + "; " + nothing);
        }
        if (entry.kind == regfile::EntryKind::DeleteKey && entry.path.empty()) {
            throw Failure(Where(file, entry.line) + ": HKEY_LOCAL_MACHINE itself cannot be deleted; " + nothing);
        }
        if (entry.kind == regfile::EntryKind::Key || entry.kind == regfile::EntryKind::DeleteKey) {
            for (const auto& name : entry.path) {
                if (const auto character = UnstorableCharacter(api, name)) {
                    throw Failure(Where(file, entry.line) + ": " +
                                  CannotStore("the key name \"" + Shown(name) + "\"", *character) + "; " + nothing);
                }
            }
        }
        if (entry.kind == regfile::EntryKind::DeleteValue) {
            if (const auto character = UnstorableCharacter(api, entry.value.name)) {
                throw Failure(Where(file, entry.line) + ": " +
                              CannotStore("the value name \"" + Shown(entry.value.name) + "\"", *character) + "; " +
                              nothing);
            }
        }
    }

    Session session(api, "");
    Change change(session);
    for (const auto& entry : parsed.document->entries) {
        PutBack& guard = change.Guard();
        std::string unstorable;
        Status status = error::kSuccess;
        switch (entry.kind) {
            case regfile::EntryKind::Key:
                status = guard.WillCreate(entry.path);
                break;
            case regfile::EntryKind::DeleteKey:
                status = guard.WillDelete(entry.path, &unstorable);
                break;
            case regfile::EntryKind::SetValue:
            case regfile::EntryKind::DeleteValue:
                status = guard.WillChangeValue(entry.path, entry.value.name,
                                               entry.kind == regfile::EntryKind::DeleteValue);
                break;
        }
        if (status == error::kNoUnicodeTranslation) {
            const std::string what = unstorable.empty() ? "the value name \"" + Shown(entry.value.name) + "\""
                                                        : "the key " + Shown(FullPath({unstorable})) + " below it";
            throw Failure(Where(file, entry.line) + ": cannot apply this line to " + Shown(FullPath(entry.path)) +
                          ": " + what + " holds a character this computer's registry cannot handle by name; " +
                          nothing);
        }
        if (status != error::kSuccess) {
            throw Failure(Where(file, entry.line) + ": cannot read " + Shown(FullPath(entry.path)) +
                          " before changing it: " + Reason(api, status) + "; " + nothing);
        }
    }
    change.Writing();
    const regfile::Entry* failed = nullptr;
    if (const Status status = ApplyEntries(api, session.Root(), parsed.document->entries, &failed);
        status != error::kSuccess) {
        const std::string reason = Reason(api, status);
        throw Failure(Where(file, failed->line) + ": cannot apply this line to " + Shown(FullPath(failed->path)) +
                      ": " + reason + change.Undo(nothing));
    }
    change.Commit(nothing);
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

#ifndef _WIN32
// The folders whose files only the file store writes: the one of the store behind `api`, and
// the one the program uses by default.
std::vector<std::filesystem::path> StoreFolders(RegistryApi& api) {
    std::vector<std::filesystem::path> folders{FileStoreRegistry::DefaultFolder()};
    if (const auto* store = dynamic_cast<const FileStoreRegistry*>(&api)) folders.push_back(store->Folder());
    return folders;
}

// Whether `file` is in `folder` or below it: as it is named, or where its links lead.
bool InFolder(const std::filesystem::path& file, const std::filesystem::path& folder) {
    namespace fs = std::filesystem;
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) return false;
    std::vector<fs::path> places{fs::absolute(file, ec).lexically_normal()};
    if (fs::path real = fs::weakly_canonical(file, ec); !ec) places.push_back(std::move(real));
    std::error_code linkError;
    places.push_back(fs::absolute(AtomicFile::FollowLinks(file, &linkError), ec).lexically_normal());
    for (const auto& place : places) {
        for (fs::path at = place.parent_path(); !at.empty(); at = at.parent_path()) {
            if (fs::equivalent(at, folder, ec)) return true;
            if (at == at.parent_path()) break;
        }
    }
    return false;
}
#endif

// Writes into a character device or a fifo as a shell's redirection does: there is no file to
// replace, so no temporary file and no rename, and nothing is truncated or created.
std::error_code WriteInto(const std::filesystem::path& device, std::string_view bytes) {
#ifdef _WIN32
    std::ofstream stream(device, std::ios::binary | std::ios::app);
    stream.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    stream.flush();
    return stream ? std::error_code() : std::make_error_code(std::errc::io_error);
#else
    const int fd = ::open(device.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return {errno, std::generic_category()};
    std::error_code result;
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            result = {errno, std::generic_category()};
            break;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    if (::close(fd) != 0 && !result) result = {errno, std::generic_category()};
    return result;
#endif
}

int Export(const Command& command, RegistryApi& api, std::ostream& out) {
    namespace fs = std::filesystem;
    const KeySpec spec = ParseKey(command.operands[0]);
    const std::string& file = command.operands[1];
    const fs::path path = PathFromUtf8(file);
#ifndef _WIN32
    // The store's own files (its .reg files, their temporary files and whatever else it keeps
    // in its folder) are written by the store alone: an export over one would replace a whole
    // registry with one key of it.
    for (const auto& folder : StoreFolders(api)) {
        if (InFolder(path, folder)) {
            throw Failure("refusing to write " + Shown(file) + ": it is in the registry's store folder " +
                          folder.string() + ", whose files only the registry itself writes; nothing was written "
                          "(export to a file elsewhere)");
        }
    }
#endif
    // What FILE is, its links followed by the system (also those such as /dev/stdout that lead
    // to no path). A regular file is replaced as a whole, and only with /y. A character device
    // or a fifo is written into as a shell's redirection would, without /y: nothing is replaced
    // there, and a backup piped on (/dev/stdout) or thrown away (/dev/null) is of use; replacing
    // one with a regular file, as a rename would, is never done. Anything else is refused.
    std::error_code ec;
    const fs::file_type type = fs::status(path, ec).type();
    bool stream = false;
    switch (type) {
        case fs::file_type::regular:
            if (!command.overwriteFile) {
                throw Failure("the file " + file + " already exists; nothing was written (add /y to overwrite it)");
            }
            break;
        case fs::file_type::character:
        case fs::file_type::fifo:
            stream = true;
            break;
        case fs::file_type::directory:
            throw Failure(Shown(file) + " is a folder; nothing was written (name a file to export to)");
        case fs::file_type::not_found:
        case fs::file_type::none:  // cannot be looked at: writing it says why
            break;
        default:
            throw Failure(Shown(file) + " is neither a regular file nor a character device or fifo; nothing was "
                          "written (name a file to export to)");
    }

    Session session(api, spec.computer);
    KeyHandle key(api);
    session.Open(spec, kKeyRead, key);
    const std::vector<std::string> names = session.StoredNames(spec.path);
    KeyTree tree;
    if (const Status status = ReadTree(api, key.Get(), names.empty() ? std::string(kRootName) : names.back(), &tree);
        status != error::kSuccess) {
        throw Failure("cannot read " + spec.Display() + ": " + Reason(api, status));
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

    if (stream) {
        if (const std::error_code failure = WriteInto(path, bytes)) {
            throw Failure("cannot write into " + Shown(file) + ": " + failure.message());
        }
        // No line of its own after it: the stream may be the tool's own output (/dev/stdout
        // into a pipe), where it would end up after the file's last line. The exit status says
        // that it worked.
        return 0;
    }
    // A backup holds passwords: it is written as the store writes its files, whole or not at
    // all, and readable by its owner only. A link is written through: the file it leads to is
    // replaced, and the link stays.
    AtomicFile backup(path, AtomicFile::Links::WriteThrough);
    if (!backup.Open() || !backup.Write(bytes) || !backup.Commit()) {
        throw Failure("cannot write the file " + Shown(file) + ": " + backup.Error().message() +
                      (fs::exists(path, ec) ? "; the file is left as it was" : "; nothing was written"));
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
      "REGEDIT4"; UTF-16 or 8-bit), including [-KEY] and "NAME"=- deletions (value
      lines right below a [-KEY] line belong to no key and are passed over, as regedit
      does). Only HKEY_LOCAL_MACHINE keys are accepted. The whole file is checked first:
      a file with an error changes nothing, and the error names the line.

  kelvaston-reg export KEY FILE [/y]
      Writes KEY and everything below it to FILE in the format regedit imports
      (version 5.00, UTF-16LE). A file is replaced whole, and a link is written through
      to its file; a character device or fifo (/dev/stdout) is written into. A folder,
      and the registry's own files, are never written.

KEY is HKLM\PATH or HKEY_LOCAL_MACHINE\PATH, in any case. \\COMPUTER\HKLM\PATH names the
registry of another computer.

kelvaston-reg never prompts. Without /f, add refuses to overwrite an existing value and
delete refuses to delete anything; without /y, export refuses to overwrite an existing
FILE. Nothing is changed when it refuses, and a command that fails part-way changes
nothing either: what it had changed is undone.

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
