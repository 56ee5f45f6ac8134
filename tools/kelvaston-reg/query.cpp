// query: shows a key's values and subkeys, or one value, and with /s everything below the key.
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "messages.h"
#include "platform/text.h"
#include "session.h"
#include "verbs.h"

namespace kelvaston::tools::detail {

using namespace platform;

namespace {

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
    for (std::size_t i = bytes.size(); i-- > 0;)
        n = (n << 8) | static_cast<unsigned char>(bytes[i]);
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
    if ((value.type == kRegDword && value.data.size() == 4) ||
        (value.type == kRegQword && value.data.size() == 8)) {
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
    out << "    " << (value.name.empty() ? "(Default)" : value.name) << "    "
        << TypeName(value.type) << "    " << FormatData(value) << "\n";
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
                    throw Failure("cannot open " + spec.Display(names) + ": " +
                                  Reason(api, status));
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

}  // namespace

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

std::string_view QueryUsage() {
    return R"(  kelvaston-reg query KEY [/v NAME | /ve] [/s]
      Shows the values of KEY and lists its subkeys. /v NAME shows one value, /ve the
      default value; /s shows everything below KEY as well.

)";
}

}  // namespace kelvaston::tools::detail
