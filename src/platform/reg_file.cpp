#include "platform/reg_file.h"

#include <array>
#include <charconv>
#include <cstring>

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

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// Root names are ASCII: compared without building folded copies.
bool EqualsAsciiNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto upper = [](char c) {
            return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
        };
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

// Why `bytes` are not UTF-16LE text, which a REG_SZ in hex(1) form must be: nothing when they are.
const char* Utf16Problem(std::string_view bytes) {
    if (bytes.size() % 2 != 0) return "an odd number of bytes";
    bool high = false;  // the unit before was a high surrogate
    for (std::size_t i = 0; i < bytes.size(); i += 2) {
        const unsigned unit =
            static_cast<unsigned>(static_cast<unsigned char>(bytes[i])) |
            (static_cast<unsigned>(static_cast<unsigned char>(bytes[i + 1])) << 8u);
        const bool isHigh = unit >= 0xD800 && unit <= 0xDBFF;
        const bool isLow = unit >= 0xDC00 && unit <= 0xDFFF;
        if (high != isLow) return "a UTF-16 surrogate without its pair";
        high = isHigh;
    }
    return high ? "a UTF-16 surrogate without its pair" : nullptr;
}

// Why a name of a key line of a file cannot be a key's name: as KeyNameProblem, for a name
// from a file's text, which is UTF-8 without line breaks or NULs already.
const char* NameInTextProblem(std::string_view name) {
    if (name.empty()) return "empty key name in the path";
    if (text::LongerThan(name, kMaxKeyNameLength)) return "key name longer than 255 characters";
    return nullptr;
}

// Splits a key path into its root's canonical name and the names below it, as views. `inText`:
// the path comes from a file's text (see NameInTextProblem).
bool SplitPath(std::string_view fullPath, std::string_view* root,
               std::vector<std::string_view>* names, std::string* error, bool inText = false) {
    names->clear();
    const auto firstEnd = fullPath.find('\\');
    const std::string_view first = fullPath.substr(0, firstEnd);
    *root = {};
    for (const auto& known : kRoots) {
        if (EqualsAsciiNoCase(first, known.full) || EqualsAsciiNoCase(first, known.abbreviation))
            *root = known.full;
    }
    if (root->empty()) {
        *error =
            "unknown root key \"" + std::string(first) + "\" (expected HKEY_LOCAL_MACHINE or HKLM)";
        return false;
    }
    if (firstEnd == std::string_view::npos) return true;
    // One pass over the names: a path of a file holds as many as the registry is deep, mostly
    // short ones.
    std::size_t start = firstEnd + 1;
    for (std::size_t end = start;; ++end) {
        if (end < fullPath.size() && fullPath[end] != '\\') continue;
        const std::string_view name = fullPath.substr(start, end - start);
        if (const char* problem = inText ? NameInTextProblem(name) : KeyNameProblem(name)) {
            *error = problem;
            return false;
        }
        if (names->size() == kMaxKeyDepth) {
            *error = "key path deeper than 512 levels, the registry's limit";
            return false;
        }
        names->push_back(name);
        if (end == fullPath.size()) return true;
        start = end + 1;
    }
}

// The 1-based number of the line that holds byte `offset` of a text.
int LineOfOffset(std::string_view text, std::size_t offset) {
    int line = 1;
    for (std::size_t i = 0; i < offset && i < text.size(); ++i) {
        if (text[i] == '\n' || (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n')))
            ++line;
    }
    return line;
}

// Whether the second line of an 8-bit text is the Writer's mark.
bool SecondLineIsMark(std::string_view bytes) {
    const auto end = bytes.find_first_of("\r\n");
    if (end == std::string_view::npos) return false;
    std::string_view rest = bytes.substr(end + (bytes.substr(end, 2) == "\r\n" ? 2 : 1));
    rest = rest.substr(0, rest.find_first_of("\r\n"));
    return TrimRight(rest) == kWholeFileMark;
}

// The file's text in UTF-8. Only a file in another encoding is copied: `decoded` then holds
// the text the view refers to. A file the Writer made is UTF-8 or UTF-16: one that is neither
// was damaged, and reading it as Windows-1252 would change every text in it.
std::optional<std::string_view> DecodeFile(std::string_view bytes, std::string& decoded,
                                           ParseError* error) {
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xFE) {
        decoded = text::Utf16LeToUtf8(bytes.substr(2));
        return decoded;
    }
    if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
    const std::size_t invalid = text::FirstInvalidUtf8(bytes);
    if (invalid == std::string_view::npos) return bytes;
    if (SecondLineIsMark(bytes)) {
        *error = ParseError{LineOfOffset(bytes, invalid),
                            "text that is not UTF-8 in a file Kelvaston wrote"};
        return std::nullopt;
    }
    decoded = text::Cp1252ToUtf8(bytes);
    return decoded;
}

// Whether any of the eight bytes of `word` is `byte`.
bool HasByte(std::uint64_t word, unsigned char byte) {
    constexpr std::uint64_t kEvery = 0x0101010101010101ull;
    const std::uint64_t x = word ^ (kEvery * byte);
    return ((x - kEvery) & ~x & (kEvery * 0x80)) != 0;
}

// The position of the first "\r" or "\n" of `text` from `pos` on; the text's size when none.
std::size_t LineEnd(std::string_view text, std::size_t pos) {
    for (; pos + 8 <= text.size(); pos += 8) {  // eight bytes at a time while there is none
        std::uint64_t word;
        std::memcpy(&word, text.data() + pos, 8);
        if (HasByte(word, '\n') || HasByte(word, '\r')) break;
    }
    while (pos < text.size() && text[pos] != '\n' && text[pos] != '\r') ++pos;
    return pos;
}

// The physical lines of a text, one after another; "\r\n", "\n" and a lone "\r" end a line.
class Lines {
public:
    explicit Lines(std::string_view text) : text_(text) {}

    // The next line and its number (1-based); false at the end of the text. Each call reads on
    // from the end of the line before, so the lines take time in proportion to the text,
    // whatever their ends.
    bool Next(std::string_view* line, int* number) {
        if (pos_ >= text_.size()) return false;
        const std::size_t end = LineEnd(text_, pos_);
        *line = text_.substr(pos_, end - pos_);
        *number = ++number_;
        pos_ = end;
        if (pos_ < text_.size()) {
            const bool crlf =
                text_[pos_] == '\r' && pos_ + 1 < text_.size() && text_[pos_ + 1] == '\n';
            pos_ += crlf ? 2u : 1u;
        }
        return true;
    }

private:
    std::string_view text_;
    std::size_t pos_ = 0;
    int number_ = 0;
};

class Parser {
public:
    Parser(std::string_view bytes, Sink& sink) : lines_({}), sink_(sink) {
        if (const auto decoded = DecodeFile(bytes, decoded_, &error_)) {
            text_ = *decoded;
        } else {
            undecodable_ = true;
        }
    }

    std::optional<ParseError> Run() {
        if (undecodable_) return error_;
        // A trailing run of NULs is padding some tools leave after the text. A file of nothing
        // else is what some file systems leave of one being written when the power failed.
        const bool anyText = text_.find_first_not_of('\0') != std::string_view::npos;
        if (!text_.empty() && !anyText) return ParseError{0, "the file holds only NUL bytes"};
        while (!text_.empty() && text_.back() == '\0') text_.remove_suffix(1);
        if (const auto nul = text_.find('\0'); nul != std::string_view::npos) {
            return ParseError{LineOfOffset(text_, nul), "NUL character in the text"};
        }
        lines_ = Lines(text_);
        std::string_view line;
        int number = 0;
        bool any = false;
        while ((any = lines_.Next(&line, &number)) && TrimRight(TrimLeft(line)).empty()) {
        }
        if (!any) return ParseError{0, "the file is empty (no header line)"};
        const std::string_view header = TrimRight(TrimLeft(line));
        if (header == kHeader5) {
            flavor_ = Flavor::Regedit5;
        } else if (header == kHeader4) {
            flavor_ = Flavor::Regedit4;
        } else {
            return ParseError{
                number,
                "expected the header \"Windows Registry Editor Version 5.00\" or \"REGEDIT4\""};
        }
        const int headerLine = number;
        int contentLines = 0;      // lines after the header other than blank ones
        bool partialMark = false;  // the line after the header is the start of the mark
        bool first = true;
        while (lines_.Next(&line, &number)) {
            const std::string_view trimmed = TrimRight(TrimLeft(line));
            if (first) {
                first = false;
                if (trimmed == kWholeFileMark) {
                    whole_ = true;
                    continue;
                }
                partialMark = !trimmed.empty() && kWholeFileMark.starts_with(trimmed);
            }
            if (trimmed.empty()) continue;
            ++contentLines;
            if (ended_) return ParseError{number, "text after the line \"; end of file\""};
            if (whole_ && trimmed == kEndOfFileLine) {
                ended_ = true;
                continue;
            }
            if (!ParseLine(line, number)) return error_;
        }
        if (whole_ && !ended_) {
            return ParseError{
                number, "the file ends before its last line \"; end of file\": it was cut short"};
        }
        if (!whole_ && (contentLines == 0 || (contentLines == 1 && partialMark))) {
            return ParseError{
                headerLine,
                "nothing follows the header line: the file was cut short (an empty registry "
                "file holds at least a comment)"};
        }
        return std::nullopt;
    }

    Flavor flavor() const { return flavor_; }

private:
    bool Error(int line, std::string message) {
        error_ = ParseError{line, std::move(message)};
        return false;
    }

    // Passes an entry's refusal by the sink on as the line's error.
    bool Accepted(const char* refusal, int number) {
        return refusal == nullptr || Error(number, refusal);
    }

    // Parses the logical line that starts with the physical line `raw`; a value in hex may take
    // continuation lines from lines_.
    bool ParseLine(std::string_view raw, int number) {
        const std::string_view line = TrimLeft(raw);
        if (line.empty() || line.front() == ';') return true;
        if (line.front() == '[') return ParseKeyLine(line, number);
        if (line.front() == '"' || line.front() == '@') return ParseValueLine(line, number);
        return Error(number, "unexpected text; a line must start with '[', '\"', '@' or ';'");
    }

    bool ParseKeyLine(std::string_view line, int number) {
        const auto close = line.rfind(']');
        if (close == std::string_view::npos) return Error(number, "key line without a closing ']'");
        if (!OnlyCommentLeft(line.substr(close + 1))) {
            return Error(number, "unexpected text after the key's closing ']'");
        }
        std::string_view inner = line.substr(1, close - 1);
        EntryKind kind = EntryKind::Key;
        if (!inner.empty() && inner.front() == '-') {
            kind = EntryKind::DeleteKey;
            inner.remove_prefix(1);
        }
        std::string_view root;
        std::string error;
        if (!SplitPath(inner, &root, &names_, &error, true)) return Error(number, std::move(error));
        section_ = kind == EntryKind::Key ? Section::Key : Section::Deleted;
        return Accepted(sink_.OnKey(kind, root, names_, number), number);
    }

    // Reads a quoted text starting at line[0] == '"'. Returns the position after the closing
    // quote, or npos with error_ set.
    std::size_t ReadQuoted(std::string_view line, int number, std::string& out) {
        std::size_t p = 1;
        for (;;) {
            std::size_t run = p;
            while (run < line.size() && line[run] != '"' && line[run] != '\\') ++run;
            out.append(line.substr(p, run - p));
            if (run == line.size()) break;
            if (line[run] == '"') return run + 1;
            p = run + 1;  // a backslash: the escaped character follows
            if (p == line.size()) break;
            switch (line[p]) {
                case '\\': out.push_back('\\'); break;
                case '"': out.push_back('"'); break;
                case 'n': out.push_back('\n'); break;
                case 'r': out.push_back('\r'); break;
                default:
                    Error(number, std::string("unknown escape sequence \\") + line[p]);
                    return std::string_view::npos;
            }
            ++p;
        }
        Error(number, "text without a closing '\"'");
        return std::string_view::npos;
    }

    bool ParseValueLine(std::string_view line, int number) {
        if (section_ == Section::None)
            return Error(number, "a value line before the first key line");
        Value value;
        std::size_t pos = 1;
        if (line.front() == '"') {
            pos = ReadQuoted(line, number, value.name);
            if (pos == std::string_view::npos) return false;
            if (value.name.empty())
                return Error(number, "empty value name (use @ for the default value)");
            if (text::LongerThan(value.name, kMaxValueNameLength)) {
                return Error(number, "value name longer than 16383 characters");
            }
        }
        std::string_view rest = TrimLeft(line.substr(pos));
        if (rest.empty() || rest.front() != '=')
            return Error(number, "expected '=' after the value name");
        rest = TrimLeft(rest.substr(1));

        EntryKind kind = EntryKind::SetValue;
        if (!rest.empty() && rest.front() == '-') {
            if (!OnlyCommentLeft(rest.substr(1))) return Error(number, "unexpected text after '-'");
            kind = EntryKind::DeleteValue;
        } else if (!rest.empty() && rest.front() == '"') {
            const std::size_t end = ReadQuoted(rest, number, value.data);
            if (end == std::string_view::npos) return false;
            if (!OnlyCommentLeft(rest.substr(end))) {
                return Error(number, "unexpected text after the value's closing '\"'");
            }
            value.type = kRegSz;
        } else if (StartsWithNoCase(rest, "dword:")) {
            if (!ParseDwordData(rest.substr(6), number, value)) return false;
        } else if (StartsWithNoCase(rest, "hex")) {
            if (!ParseHex(rest.substr(3), number, value)) return false;
        } else {
            return Error(number, "unrecognised value data (expected \"text\", dword:, hex: or -)");
        }
        // A value line below a "[-KEY]" line belongs to no key: regedit and Wine's reg import
        // pass over it and import the rest, and so does this parser, once the line has been read
        // as a value line (a malformed one is still an error).
        if (section_ == Section::Deleted) return true;
        return Accepted(sink_.OnValue(kind, std::move(value), number), number);
    }

    bool ParseDwordData(std::string_view rest, int number, Value& value) {
        std::size_t digits = 0;
        std::uint32_t n = 0;
        while (digits < rest.size() && HexDigit(rest[digits]) >= 0) {
            n = (n << 4) | static_cast<std::uint32_t>(HexDigit(rest[digits]));
            ++digits;
        }
        if (digits == 0) return Error(number, "dword: without hexadecimal digits");
        if (digits > 8) return Error(number, "dword: with more than 8 hexadecimal digits");
        if (whole_ && digits != 8)
            return Error(number, "dword: with fewer than 8 hexadecimal digits: cut short");
        if (!OnlyCommentLeft(rest.substr(digits)))
            return Error(number, "unexpected text after the dword");
        value.type = kRegDword;
        value.data = DwordBytes(n);
        return true;
    }

    bool ParseHex(std::string_view rest, int number, Value& value) {
        std::uint32_t type = kRegBinary;
        if (!rest.empty() && rest.front() == '(') {
            const auto close = rest.find(')');
            const std::string_view digits = rest.substr(1, close - 1);  // the rest if no ')'
            std::uint32_t n = 0;
            const auto [ptr, ec] =
                std::from_chars(digits.data(), digits.data() + digits.size(), n, 16);
            if (close == std::string_view::npos || ec != std::errc() ||
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
            if (!lines_.Next(&rest, &lineNumber))
                return Error(lineNumber, "hex data continued past the end of the file");
            rest = TrimLeft(rest);
        }
        value.type = type;
        if (type == kRegSz && flavor_ == Flavor::Regedit5) {
            // A text value written in hex form: UTF-16LE up to its NUL. Bytes that are not UTF-16
            // text could only be kept as other characters (U+FFFD, or nothing for an odd byte):
            // they are refused instead, as the file store's SetValueBytes refuses them.
            if (const char* problem = Utf16Problem(bytes)) {
                return Error(number, std::string("hex(1) data that is not UTF-16 text: ") +
                                         problem + "; a text value cannot hold it as it is");
            }
        }
        if (type == kRegSz) {
            // A text value written in hex form: UTF-16LE (or 8-bit in REGEDIT4) up to its NUL.
            std::string decoded =
                flavor_ == Flavor::Regedit5
                    ? text::Utf16LeToUtf8(bytes)
                    : (text::IsValidUtf8(bytes) ? bytes : text::Cp1252ToUtf8(bytes));
            decoded.resize(std::min(decoded.size(), decoded.find('\0')));
            value.data = std::move(decoded);
        } else if (flavor_ == Flavor::Regedit4 && (type == kRegExpandSz || type == kRegMultiSz)) {
            // REGEDIT4 files hold these as 8-bit text; the registry holds UTF-16LE.
            value.data =
                text::Utf8ToUtf16Le(text::IsValidUtf8(bytes) ? bytes : text::Cp1252ToUtf8(bytes));
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
            if (list[p] != ',')
                return Error(number, "malformed hex data: expected ',' between bytes");
            ++p;
            skipBlanks();
        }
        return true;
    }

    std::string decoded_;
    std::string_view text_;
    Lines lines_;
    Sink& sink_;
    Flavor flavor_ = Flavor::Regedit5;
    ParseError error_;
    std::vector<std::string_view> names_;  // of the last key line
    // Where a value line is: before the first key line, below a key line or below a "[-KEY]".
    enum class Section { None, Key, Deleted };
    Section section_ = Section::None;
    bool undecodable_ = false;
    bool whole_ = false;  // the Writer made the file: it must end with kEndOfFileLine
    bool ended_ = false;  // kEndOfFileLine has been read
};

// Collects a file's entries as a document.
class DocumentSink final : public Sink {
public:
    Document document;

    const char* OnKey(EntryKind kind, std::string_view root, std::span<const std::string_view> path,
                      int line) override {
        current_.kind = kind;
        current_.root = root;
        current_.path.assign(path.begin(), path.end());
        current_.line = line;
        document.entries.push_back(current_);
        return nullptr;
    }

    const char* OnValue(EntryKind kind, Value&& value, int line) override {
        Entry entry;
        entry.kind = kind;
        entry.root = current_.root;
        entry.path = current_.path;
        entry.value = std::move(value);
        entry.line = line;
        document.entries.push_back(std::move(entry));
        return nullptr;
    }

private:
    Entry current_;
};

void AppendEscaped(std::string& out, std::string_view s) {
    out += '"';
    std::size_t run = 0;
    std::size_t i = 0;
    while (i < s.size()) {
        // Pass over eight bytes at a time that need no escape, the usual case.
        if (i + 8 <= s.size()) {
            std::uint64_t word;
            std::memcpy(&word, s.data() + i, 8);
            if (!HasByte(word, '\\') && !HasByte(word, '"') && !HasByte(word, '\n') &&
                !HasByte(word, '\r')) {
                i += 8;
                continue;
            }
        }
        const char c = s[i++];
        if (c != '\\' && c != '"' && c != '\n' && c != '\r') continue;
        out.append(s.data() + run, i - 1 - run);
        out += '\\';
        out += c == '\n' ? 'n' : c == '\r' ? 'r' : c;
        run = i;
    }
    out.append(s.data() + run, s.size() - run);
    out += '"';
}

}  // namespace

std::optional<ParseError> Parse(std::string_view fileBytes, Sink& sink, Flavor* flavor) {
    Parser parser(fileBytes, sink);
    auto error = parser.Run();
    if (flavor != nullptr) *flavor = parser.flavor();
    if (!error) sink.OnEnd();
    return error;
}

ParseResult Parse(std::string_view fileBytes) {
    DocumentSink sink;
    if (auto error = Parse(fileBytes, sink, &sink.document.flavor))
        return ParseResult{std::nullopt, std::move(*error)};
    return ParseResult{std::move(sink.document), {}};
}

const char* KeyNameProblem(std::string_view name) {
    if (name.empty()) return "empty key name in the path";
    if (!text::IsValidUtf8(name)) return "a key name that is not UTF-8 text";
    if (name.find('\\') != std::string_view::npos) return "a backslash in a key name";
    if (name.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos) {
        return "a line break or NUL character in a key name, which a .reg file cannot hold";
    }
    if (text::LongerThan(name, kMaxKeyNameLength)) return "key name longer than 255 characters";
    return nullptr;
}

std::optional<KeyPath> SplitKeyPath(std::string_view fullPath, std::string* error) {
    std::string_view root;
    std::vector<std::string_view> names;
    if (!SplitPath(fullPath, &root, &names, error)) return std::nullopt;
    return KeyPath{std::string(root), std::vector<std::string>(names.begin(), names.end())};
}

Writer::Writer(Encoding encoding) : encoding_(encoding) {
    Line(kHeader5);
    Line(kWholeFileMark);
}

Writer::Writer(Encoding encoding, Output output) : encoding_(encoding), output_(std::move(output)) {
    text_.reserve(kPieceSize + kPieceSize / 4);
    Line(kHeader5);
    Line(kWholeFileMark);
}

void Writer::EndLine() {
    if (encoding_ == Encoding::Utf8Lf) {
        text_ += '\n';
    } else {
        text_ += "\r\n";
    }
}

void Writer::Line(std::string_view line) {
    text_ += line;
    EndLine();
}

void Writer::HandOn() {
    if (!failed_) {
        if (encoding_ == Encoding::Utf8Lf) {
            failed_ = !output_(text_);
        } else {
            const std::string utf16 = (started_ ? "" : "\xFF\xFE") + text::Utf8ToUtf16Le(text_);
            failed_ = !output_(utf16);
        }
        started_ = true;
    }
    text_.clear();
}

void Writer::AddKey(std::string_view fullPath, std::span<const Value> values) {
    EndLine();
    text_ += '[';
    text_ += fullPath;
    text_ += ']';
    EndLine();
    for (const Value& value : values) AddValue(value);
    if (output_ && text_.size() >= kPieceSize) HandOn();
}

void Writer::AddValue(const Value& value) {
    if (value.name.empty()) {
        text_ += '@';
    } else {
        AppendEscaped(text_, value.name);
    }
    text_ += '=';
    if (value.type == kRegSz) {
        AppendEscaped(text_, value.data);
        EndLine();
        return;
    }
    if (value.type == kRegDword && value.data.size() == 4) {
        const std::uint32_t n = DwordFromBytes(value.data);
        std::array<char, 16> digits{};
        const auto [ptr, ec] = std::to_chars(digits.data(), digits.data() + digits.size(), n, 16);
        text_ += "dword:";
        text_.append(8 - static_cast<std::size_t>(ptr - digits.data()), '0');
        text_.append(digits.data(), ptr);
        EndLine();
        return;
    }
    std::size_t lineStart = text_.rfind('\n');
    lineStart = lineStart == std::string::npos ? 0 : lineStart + 1;
    if (value.type == kRegBinary) {
        text_ += "hex:";
    } else {
        std::array<char, 16> digits{};
        const auto [ptr, ec] =
            std::to_chars(digits.data(), digits.data() + digits.size(), value.type, 16);
        text_ += "hex(";
        text_.append(digits.data(), ptr);
        text_ += "):";
    }
    // regedit's wrapping: continue with a backslash once a line passes 76 columns.
    constexpr std::string_view kHexDigits = "0123456789abcdef";
    for (std::size_t b = 0; b < value.data.size(); ++b) {
        const auto byte = static_cast<unsigned char>(value.data[b]);
        text_ += kHexDigits[byte >> 4];
        text_ += kHexDigits[byte & 0xF];
        if (b + 1 < value.data.size()) {
            text_ += ',';
            if (text_.size() - lineStart > 76) {
                text_ += '\\';
                EndLine();
                lineStart = text_.size();
                text_ += "  ";
            }
        }
    }
    EndLine();
}

std::string Writer::Finish() {
    EndLine();
    Line(kEndOfFileLine);
    if (output_) {
        HandOn();
        return {};
    }
    if (encoding_ == Encoding::Utf8Lf) return std::move(text_);
    return "\xFF\xFE" + text::Utf8ToUtf16Le(text_);
}

}  // namespace kelvaston::platform::regfile
