// Reading and writing the .reg text format of regedit ("Windows Registry Editor Version 5.00"
// and "REGEDIT4"). The file store keeps each computer's hive in this format; kelvaston-reg
// imports and exports it.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kelvaston::platform::regfile {

// One registry value. REG_SZ data is the text itself (UTF-8, no terminating NUL); every other
// type keeps its raw bytes exactly as they are stored in the registry.
struct Value {
    std::string name;  // empty: the key's default value ("@")
    std::uint32_t type = 0;
    std::string data;

    bool operator==(const Value&) const = default;
};

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

// Parses a whole file. The encoding is UTF-16LE when the file starts with the FF FE byte order
// mark; otherwise UTF-8 (with or without its BOM) when the bytes are valid UTF-8, else
// Windows-1252. Anything the format does not allow is reported with its line; nothing is
// skipped silently except blank lines and ";" comments.
ParseResult Parse(std::string_view fileBytes);

// For a reader that follows the entries in order: value entries then leave `root` and `path`
// empty (they belong to the key entry before them), which saves a copy of the path per value.
struct ParseOptions {
    bool valuePaths = true;
};
ParseResult Parse(std::string_view fileBytes, const ParseOptions& options);

// Splits "HKEY_LOCAL_MACHINE\A\B" (or "HKLM\A\B") into its canonical root name and the names
// below it. Empty names and names over 255 characters are errors.
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
    explicit Writer(Encoding encoding);
    void AddKey(std::string_view fullPath, std::span<const Value> values);
    std::string Finish();

private:
    void Line(std::string_view text);
    void AddValue(const Value& value);

    Encoding encoding_;
    std::string text_;
};

}  // namespace kelvaston::platform::regfile
