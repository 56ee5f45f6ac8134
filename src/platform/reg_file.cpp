#include "platform/reg_file.h"

#include <array>
#include <charconv>

#include "platform/registry_api.h"
#include "platform/text.h"

namespace kelvaston::platform::regfile {
namespace {

constexpr std::string_view kHeader5 = "Windows Registry Editor Version 5.00";
constexpr std::string_view kHeader4 = "REGEDIT4";

struct RootName {
    std::string_view full;
    std::string_view abbreviation;
};
constexpr std::array<RootName, 5> kRoots = {{{"HKEY_LOCAL_MACHINE", "HKLM"},
                                             {"HKEY_CURRENT_USER", "HKCU"},
                                             {"HKEY_CLASSES_ROOT", "HKCR"},
                                             {"HKEY_USERS", "HKU"},
                                             {"HKEY_CURRENT_CONFIG", "HKCC"}}};

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Root names are ASCII: compared without building folded copies.
bool EqualsAsciiNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto upper = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; };
        if (upper(a[i]) != upper(b[i])) return false;
    }
    return true;
}

std::string_view TrimLeft(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    return s;
}

std::string_view TrimRight(std::string_view s) {
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

// What may follow a complete value or key line: blanks, optionally a ";" comment.
bool OnlyCommentLeft(std::string_view rest) {
    rest = TrimLeft(rest);
    return rest.empty() || rest.front() == ';';
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
    if (s.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char c = s[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
        if (c != prefix[i]) return false;
    }
    return true;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string DecodeFile(std::string_view bytes) {
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xFE) {
        return text::Utf16LeToUtf8(bytes.substr(2));
    }
    if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
    if (text::IsValidUtf8(bytes)) return std::string(bytes);
    return text::Cp1252ToUtf8(bytes);
}

struct PhysicalLine {
    std::string_view text;
    int number;
};

std::vector<PhysicalLine> SplitLines(std::string_view text) {
    std::vector<PhysicalLine> lines;
    int number = 1;
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' || text[i] == '\n') {
            lines.push_back({text.substr(start, i - start), number++});
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
            start = i + 1;
        }
    }
    if (start < text.size()) lines.push_back({text.substr(start), number});
    return lines;
}

class Parser {
public:
    Parser(std::string_view bytes, const ParseOptions& options) : text_(DecodeFile(bytes)), options_(options) {}

    ParseResult Run() {
        // A trailing run of NULs is padding some tools leave after the text.
        while (!text_.empty() && text_.back() == '\0') text_.pop_back();
        if (const auto nul = text_.find('\0'); nul != std::string::npos) {
            return Fail(LineOfOffset(nul), "NUL character in the text");
        }
        lines_ = SplitLines(text_);
        document_.entries.reserve(lines_.size());
        std::size_t i = 0;
        while (i < lines_.size() && TrimRight(TrimLeft(lines_[i].text)).empty()) ++i;
        if (i == lines_.size()) return Fail(0, "the file is empty (no header line)");
        const std::string_view header = TrimRight(TrimLeft(lines_[i].text));
        if (header == kHeader5) {
            document_.flavor = Flavor::Regedit5;
        } else if (header == kHeader4) {
            document_.flavor = Flavor::Regedit4;
        } else {
            return Fail(lines_[i].number,
                        "expected the header \"Windows Registry Editor Version 5.00\" or "
                        "\"REGEDIT4\"");
        }
        for (++i; i < lines_.size(); ++i) {
            if (!ParseLine(i)) return ParseResult{std::nullopt, error_};
        }
        return ParseResult{std::move(document_), {}};
    }

private:
    ParseResult Fail(int line, std::string message) {
        return ParseResult{std::nullopt, ParseError{line, std::move(message)}};
    }

    bool Error(int line, std::string message) {
        error_ = ParseError{line, std::move(message)};
        return false;
    }

    int LineOfOffset(std::size_t offset) const {
        int line = 1;
        for (std::size_t i = 0; i < offset; ++i) {
            if (text_[i] == '\n' || (text_[i] == '\r' && text_[i + 1] != '\n')) ++line;
        }
        return line;
    }

    // Parses the logical line that starts at physical line `i`; advances `i` past any
    // continuation lines it consumed.
    bool ParseLine(std::size_t& i) {
        const std::string_view line = TrimLeft(lines_[i].text);
        const int number = lines_[i].number;
        if (line.empty() || line.front() == ';') return true;
        if (line.front() == '[') return ParseKeyLine(line, number);
        if (line.front() == '"' || line.front() == '@') return ParseValueLine(i, line, number);
        return Error(number, "unexpected text; a line must start with '[', '\"', '@' or ';'");
    }

    bool ParseKeyLine(std::string_view line, int number) {
        const auto close = line.rfind(']');
        if (close == std::string_view::npos) return Error(number, "key line without a closing ']'");
        if (!OnlyCommentLeft(line.substr(close + 1))) {
            return Error(number, "unexpected text after the key's closing ']'");
        }
        std::string_view inner = line.substr(1, close - 1);
        Entry entry;
        entry.kind = EntryKind::Key;
        entry.line = number;
        if (!inner.empty() && inner.front() == '-') {
            entry.kind = EntryKind::DeleteKey;
            inner.remove_prefix(1);
        }
        std::string error;
        auto split = SplitKeyPath(inner, &error);
        if (!split) return Error(number, error);
        entry.root = std::move(split->root);
        entry.path = std::move(split->path);
        currentKey_ = entry;
        haveKey_ = entry.kind == EntryKind::Key;
        document_.entries.push_back(std::move(entry));
        return true;
    }

    // Reads a quoted text starting at line[0] == '"'. Returns the position after the closing
    // quote, or npos with error_ set.
    std::size_t ReadQuoted(std::string_view line, int number, std::string& out) {
        for (std::size_t p = 1; p < line.size(); ++p) {
            const char c = line[p];
            if (c == '"') return p + 1;
            if (c != '\\') {
                out.push_back(c);
                continue;
            }
            if (++p == line.size()) break;
            switch (line[p]) {
                case '\\': out.push_back('\\'); break;
                case '"': out.push_back('"'); break;
                case 'n': out.push_back('\n'); break;
                case 'r': out.push_back('\r'); break;
                default:
                    Error(number, std::string("unknown escape sequence \\") + line[p]);
                    return std::string_view::npos;
            }
        }
        Error(number, "text without a closing '\"'");
        return std::string_view::npos;
    }

    bool ParseValueLine(std::size_t& i, std::string_view line, int number) {
        if (!haveKey_) return Error(number, "a value line before the first key line");
        std::string name;
        std::size_t pos = 1;
        if (line.front() == '"') {
            pos = ReadQuoted(line, number, name);
            if (pos == std::string_view::npos) return false;
            if (name.empty()) return Error(number, "empty value name (use @ for the default value)");
            if (text::Utf16Length(name) > kMaxValueNameLength) {
                return Error(number, "value name longer than 16383 characters");
            }
        }
        std::string_view rest = TrimLeft(line.substr(pos));
        if (rest.empty() || rest.front() != '=') return Error(number, "expected '=' after the value name");
        rest = TrimLeft(rest.substr(1));

        Entry entry;
        if (options_.valuePaths) {
            entry.root = currentKey_.root;
            entry.path = currentKey_.path;
        }
        entry.line = number;
        entry.kind = EntryKind::SetValue;
        entry.value.name = std::move(name);

        if (!rest.empty() && rest.front() == '-') {
            if (!OnlyCommentLeft(rest.substr(1))) return Error(number, "unexpected text after '-'");
            entry.kind = EntryKind::DeleteValue;
        } else if (!rest.empty() && rest.front() == '"') {
            const std::size_t end = ReadQuoted(rest, number, entry.value.data);
            if (end == std::string_view::npos) return false;
            if (!OnlyCommentLeft(rest.substr(end))) {
                return Error(number, "unexpected text after the value's closing '\"'");
            }
            entry.value.type = kRegSz;
        } else if (StartsWithNoCase(rest, "dword:")) {
            if (!ParseDword(rest.substr(6), number, entry.value)) return false;
        } else if (StartsWithNoCase(rest, "hex")) {
            if (!ParseHex(i, rest.substr(3), number, entry.value)) return false;
        } else {
            return Error(number, "unrecognised value data (expected \"text\", dword:, hex: or -)");
        }
        document_.entries.push_back(std::move(entry));
        return true;
    }

    bool ParseDword(std::string_view rest, int number, Value& value) {
        std::size_t digits = 0;
        std::uint32_t n = 0;
        while (digits < rest.size() && HexDigit(rest[digits]) >= 0) {
            n = (n << 4) | static_cast<std::uint32_t>(HexDigit(rest[digits]));
            ++digits;
        }
        if (digits == 0) return Error(number, "dword: without hexadecimal digits");
        if (digits > 8) return Error(number, "dword: with more than 8 hexadecimal digits");
        if (!OnlyCommentLeft(rest.substr(digits))) return Error(number, "unexpected text after the dword");
        value.type = kRegDword;
        value.data.resize(4);
        for (int b = 0; b < 4; ++b) value.data[static_cast<std::size_t>(b)] = static_cast<char>((n >> (8 * b)) & 0xFF);
        return true;
    }

    bool ParseHex(std::size_t& i, std::string_view rest, int number, Value& value) {
        std::uint32_t type = kRegBinary;
        if (!rest.empty() && rest.front() == '(') {
            const auto close = rest.find(')');
            const std::string_view digits = rest.substr(1, close == std::string_view::npos ? 0 : close - 1);
            std::uint32_t n = 0;
            const auto [ptr, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), n, 16);
            if (close == std::string_view::npos || digits.empty() || ec != std::errc() ||
                ptr != digits.data() + digits.size()) {
                return Error(number, "malformed hex(type): expected a hexadecimal type number");
            }
            type = n;
            rest = rest.substr(close + 1);
        }
        if (rest.empty() || rest.front() != ':') return Error(number, "expected ':' after hex");
        rest.remove_prefix(1);

        std::string bytes;
        int lineNumber = number;
        for (;;) {
            std::string_view part = TrimRight(rest);
            bool continued = false;
            if (!part.empty() && part.back() == '\\') {
                continued = true;
                part.remove_suffix(1);
            }
            if (!ParseByteList(part, lineNumber, bytes, continued)) return false;
            if (!continued) break;
            if (++i == lines_.size()) return Error(lineNumber, "hex data continued past the end of the file");
            lineNumber = lines_[i].number;
            rest = TrimLeft(lines_[i].text);
        }
        value.type = type;
        if (type == kRegSz) {
            // A text value written in hex form: UTF-16LE (or 8-bit in REGEDIT4) up to its NUL.
            std::string decoded = document_.flavor == Flavor::Regedit5
                                      ? text::Utf16LeToUtf8(bytes)
                                      : (text::IsValidUtf8(bytes) ? bytes : text::Cp1252ToUtf8(bytes));
            decoded.resize(std::min(decoded.size(), decoded.find('\0')));
            value.data = std::move(decoded);
        } else if (document_.flavor == Flavor::Regedit4 && (type == kRegExpandSz || type == kRegMultiSz)) {
            // REGEDIT4 files hold these as 8-bit text; the registry holds UTF-16LE.
            value.data = text::Utf8ToUtf16Le(text::IsValidUtf8(bytes) ? bytes : text::Cp1252ToUtf8(bytes));
        } else {
            value.data = std::move(bytes);
        }
        return true;
    }

    // "xx,xx,xx" with optional blanks; a trailing comma is allowed only before a continuation
    // or at the very end.
    bool ParseByteList(std::string_view list, int number, std::string& bytes, bool continued) {
        std::size_t p = 0;
        const auto skipBlanks = [&] {
            while (p < list.size() && IsBlank(list[p])) ++p;
        };
        skipBlanks();
        if (p < list.size() && list[p] == ';' && !continued) return true;  // comment only
        while (p < list.size()) {
            if (list[p] == ';') {
                if (continued) break;
                return true;
            }
            const int hi = HexDigit(list[p]);
            if (hi < 0) return Error(number, "malformed hex data: expected a hexadecimal byte");
            int byte = hi;
            ++p;
            if (p < list.size() && HexDigit(list[p]) >= 0) byte = byte * 16 + HexDigit(list[p++]);
            bytes.push_back(static_cast<char>(byte));
            skipBlanks();
            if (p == list.size()) break;
            if (list[p] == ';' && !continued) return true;
            if (list[p] != ',') return Error(number, "malformed hex data: expected ',' between bytes");
            ++p;
            skipBlanks();
        }
        return true;
    }

    std::string text_;
    ParseOptions options_;
    std::vector<PhysicalLine> lines_;
    Document document_;
    ParseError error_;
    Entry currentKey_;
    bool haveKey_ = false;
};

void AppendEscaped(std::string& out, std::string_view s) {
    out.push_back('"');
    for (;;) {
        const auto special = s.find_first_of("\\\"\n\r");
        out.append(s.substr(0, special));
        if (special == std::string_view::npos) break;
        switch (s[special]) {
            case '\\': out += "\\\\"; break;
            case '"': out += "\\\""; break;
            case '\n': out += "\\n"; break;
            default: out += "\\r"; break;
        }
        s.remove_prefix(special + 1);
    }
    out.push_back('"');
}

}  // namespace

ParseResult Parse(std::string_view fileBytes) { return Parser(fileBytes, ParseOptions{}).Run(); }

ParseResult Parse(std::string_view fileBytes, const ParseOptions& options) { return Parser(fileBytes, options).Run(); }

std::optional<KeyPath> SplitKeyPath(std::string_view fullPath, std::string* error) {
    KeyPath result;
    std::size_t start = 0;
    bool first = true;
    for (;;) {
        const auto end = fullPath.find('\\', start);
        const std::string_view name =
            fullPath.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
        if (first) {
            for (const auto& root : kRoots) {
                if (EqualsAsciiNoCase(name, root.full) || EqualsAsciiNoCase(name, root.abbreviation)) {
                    result.root = root.full;
                }
            }
            if (result.root.empty()) {
                *error = "unknown root key \"" + std::string(name) + "\" (expected HKEY_LOCAL_MACHINE or HKLM)";
                return std::nullopt;
            }
            first = false;
        } else if (name.empty()) {
            *error = "empty key name in the path";
            return std::nullopt;
        } else if (text::Utf16Length(name) > kMaxKeyNameLength) {
            *error = "key name longer than 255 characters";
            return std::nullopt;
        } else {
            result.path.emplace_back(name);
        }
        if (end == std::string_view::npos) break;
        start = end + 1;
    }
    return result;
}

Writer::Writer(Encoding encoding) : encoding_(encoding) { Line(kHeader5); }

void Writer::Line(std::string_view line) {
    text_ += line;
    text_ += encoding_ == Encoding::Utf8Lf ? "\n" : "\r\n";
}

void Writer::AddKey(std::string_view fullPath, std::span<const Value> values) {
    Line("");
    std::string keyLine;
    keyLine.reserve(fullPath.size() + 2);
    keyLine += '[';
    keyLine += fullPath;
    keyLine += ']';
    Line(keyLine);
    for (const Value& value : values) AddValue(value);
}

void Writer::AddValue(const Value& value) {
    std::string line;
    if (value.name.empty()) {
        line = "@";
    } else {
        AppendEscaped(line, value.name);
    }
    line.push_back('=');
    if (value.type == kRegSz) {
        AppendEscaped(line, value.data);
        Line(line);
        return;
    }
    if (value.type == kRegDword && value.data.size() == 4) {
        std::uint32_t n = 0;
        for (int b = 3; b >= 0; --b) n = (n << 8) | static_cast<unsigned char>(value.data[static_cast<std::size_t>(b)]);
        std::array<char, 16> digits{};
        const auto [ptr, ec] = std::to_chars(digits.data(), digits.data() + digits.size(), n, 16);
        line += "dword:";
        line.append(8 - static_cast<std::size_t>(ptr - digits.data()), '0');
        line.append(digits.data(), ptr);
        Line(line);
        return;
    }
    if (value.type == kRegBinary) {
        line += "hex:";
    } else {
        std::array<char, 16> digits{};
        const auto [ptr, ec] = std::to_chars(digits.data(), digits.data() + digits.size(), value.type, 16);
        line += "hex(" + std::string(digits.data(), ptr) + "):";
    }
    // regedit's wrapping: continue with a backslash once a line passes 76 columns.
    constexpr std::string_view kHexDigits = "0123456789abcdef";
    for (std::size_t b = 0; b < value.data.size(); ++b) {
        const auto byte = static_cast<unsigned char>(value.data[b]);
        line.push_back(kHexDigits[byte >> 4]);
        line.push_back(kHexDigits[byte & 0xF]);
        if (b + 1 < value.data.size()) {
            line.push_back(',');
            if (line.size() > 76) {
                line.push_back('\\');
                Line(line);
                line = "  ";
            }
        }
    }
    Line(line);
}

std::string Writer::Finish() {
    Line("");
    if (encoding_ == Encoding::Utf8Lf) return std::move(text_);
    return "\xFF\xFE" + text::Utf8ToUtf16Le(text_);
}

}  // namespace kelvaston::platform::regfile
