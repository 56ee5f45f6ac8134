// Reading and writing the .reg text format of regedit ("Windows Registry Editor Version 5.00"
// and "REGEDIT4"). The file store keeps each computer's hive in this format; kelvaston-reg
// imports and exports it.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/value.h"

namespace kelvaston::platform::regfile {

// One registry value in the form a .reg file holds it: REG_SZ data is the text itself (UTF-8,
// no terminating NUL); every other type keeps its raw bytes exactly as the registry stores them.
using Value = RegValue;

enum class EntryKind { Key, DeleteKey, SetValue, DeleteValue };

// One line (or continued line) of a file, in file order.
struct Entry {
    EntryKind kind = EntryKind::Key;
    std::string root;               // "HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER", ...
    std::vector<std::string> path;  // the key's names below the root
    Value value;                    // SetValue: the value; DeleteValue: its name
    int line = 0;
};

enum class Flavor { Regedit5, Regedit4 };

struct Document {
    Flavor flavor = Flavor::Regedit5;
    std::vector<Entry> entries;
};

struct ParseError {
    int line = 0;  // 1-based; 0 when the file as a whole is wrong
    std::string message;
};

struct ParseResult {
    std::optional<Document> document;
    ParseError error;  // meaningful when document is empty
};

// Receives what a file holds, entry by entry in file order, as the parser meets it. A sink that
// refuses an entry returns the reason; the parse stops there and reports it with the line.
class Sink {
public:
    virtual ~Sink() = default;
    // A key line: the canonical name of its root ("HKEY_LOCAL_MACHINE", ...) and the names
    // below it. The views are valid during the call only.
    virtual const char* OnKey(EntryKind kind, std::string_view root,
                              std::span<const std::string_view> path, int line) = 0;
    // A value line of the key line before it: SetValue with the value, DeleteValue with its name.
    virtual const char* OnValue(EntryKind kind, Value&& value, int line) = 0;
    // The end of a file that parsed whole, after its last entry; not called when the parse
    // failed.
    virtual void OnEnd() {}
};

// Every file the Writer makes carries these two comment lines: the first right after the
// header, the second as its last line. A file that starts with the first must end with the
// second, so a copy cut short at any byte is refused instead of read as a smaller registry.
// regedit reads them as the comments they are.
inline constexpr std::string_view kWholeFileMark =
    "; Written by Kelvaston: whole only if the last line is \"; end of file\".";
inline constexpr std::string_view kEndOfFileLine = "; end of file";

// Parses a whole file. The encoding is UTF-16LE when the file starts with the FF FE byte order
// mark; otherwise UTF-8 (with or without its BOM) when the bytes are valid UTF-8, else
// Windows-1252 (but for a file the Writer made, which must be UTF-8). Anything the format does
// not allow is reported with its line; nothing is skipped silently except blank lines, ";"
// comments and value lines below a "[-KEY]" line, which belong to no key (regedit and Wine's
// reg pass over them too; they must still be well-formed). A text value in hex(1) form must be
// UTF-16LE text (an even number of bytes, every surrogate paired) in a version 5.00 file: it is
// taken up to its first NUL, and bytes that are not text are refused, not changed into other
// characters. A file the Writer made must end with kEndOfFileLine and hold dword data of exactly
// eight digits; a file with nothing after its header, or nothing but the start of
// kWholeFileMark, is taken for one cut short too.
std::optional<ParseError> Parse(std::string_view fileBytes, Sink& sink, Flavor* flavor = nullptr);

// The same, into a document.
ParseResult Parse(std::string_view fileBytes);

// Why `name` cannot be a key's name in a .reg file (nothing when it can): it must be UTF-8 of
// 1 to 255 characters without a backslash, a line break or a NUL.
const char* KeyNameProblem(std::string_view name);

// Splits "HKEY_LOCAL_MACHINE\A\B" (or "HKLM\A\B") into its canonical root name and the names
// below it. A name KeyNameProblem refuses, and more than kMaxKeyDepth names, are errors.
struct KeyPath {
    std::string root;
    std::vector<std::string> path;
};
std::optional<KeyPath> SplitKeyPath(std::string_view fullPath, std::string* error);

enum class Encoding { Utf8Lf, Utf16LeBomCrlf };

// Writes keys in the order given, in regedit's layout: the header, then a blank line and the
// key line before each key, its values below it.
class Writer {
public:
    // Hands the text on in pieces of about this size, whole lines each.
    static constexpr std::size_t kPieceSize = 32 * 1024;
    using Output = std::function<bool(std::string_view)>;

    // Collects the text; Finish() delivers it.
    explicit Writer(Encoding encoding);
    // Hands the text to `output` piece by piece, so that a large file never sits in memory
    // whole; Finish() hands on the rest. Once `output` fails, the writer stops handing on and
    // Failed() says so.
    Writer(Encoding encoding, Output output);

    void AddKey(std::string_view fullPath, std::span<const Value> values);
    // Ends the file with kEndOfFileLine; a writer with an output returns nothing.
    std::string Finish();
    bool Failed() const { return failed_; }

private:
    void Line(std::string_view text);
    void EndLine();
    void AddValue(const Value& value);
    void HandOn();

    Encoding encoding_;
    Output output_;
    std::string text_;
    bool started_ = false;  // the byte order mark went out already
    bool failed_ = false;
};

}  // namespace kelvaston::platform::regfile
