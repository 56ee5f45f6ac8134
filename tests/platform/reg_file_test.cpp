// The .reg format: what regedit writes must read back exactly, and what is wrong must be named
// with its line.
#include <gtest/gtest.h>

#include <tuple>
#include <utility>
#include <vector>

#include "platform/reg_file.h"
#include "platform/registry_api.h"
#include "platform/test_helpers.h"
#include "platform/text.h"

namespace kelvaston::platform::regfile {
namespace {

using test::Utf16;

constexpr const char* kHeader = "Windows Registry Editor Version 5.00\n";

Document MustParse(std::string_view bytes) {
    ParseResult result = Parse(bytes);
    EXPECT_TRUE(result.document) << "line " << result.error.line << ": " << result.error.message;
    return result.document.value_or(Document{});
}

// What a parse gives as text: the entries with their lines, or the error with its line.
std::string Outcome(std::string_view file) {
    const ParseResult result = Parse(file);
    if (!result.document) return "error at line " + std::to_string(result.error.line) + ": " + result.error.message;
    std::string text;
    for (const Entry& entry : result.document->entries) {
        text += std::to_string(entry.line) + " " + std::to_string(static_cast<int>(entry.kind)) + " " + entry.root;
        for (const auto& name : entry.path) text += "\\" + name;
        text += " " + entry.value.name + "=" + std::to_string(entry.value.type) + ":" + entry.value.data + "\n";
    }
    return text;
}

// The body of a file as the Writer begins it, after the header.
std::string Marked(const std::string& body) { return std::string(kWholeFileMark) + "\n\n" + body; }

std::string Dword(std::uint32_t n) {
    return {static_cast<char>(n), static_cast<char>(n >> 8), static_cast<char>(n >> 16), static_cast<char>(n >> 24)};
}

// What regedit writes, in every encoding and with every kind of line end, reads as the same
// entries: UTF-16LE with its BOM, UTF-8 with or without one, REGEDIT4's 8-bit text.
TEST(RegFileParse, ReadsEveryEncodingAndLineEnd) {
    const std::string lines[] = {"Windows Registry Editor Version 5.00", "; a comment", "",
                                 "[hkey_local_machine\\SOFTWARE\\Gr\xC3\xBC\xC3\x9F" "e]   ; trailing comment",
                                 "@=\"Standard\"", "\"Pfad\"=\"C:\\\\Programme\\\\\\\"x\\\"\"",
                                 "\"Time\\\"Out\"  =  dword:00000258", "\"Blob\"=hex:01,02,\\", "  03,ff",
                                 "\"Exp\"=hex(2):25,00,41,00,25,00,00,00", "\"Gone\"=-", "[-HKEY_LOCAL_MACHINE\\Old]"};
    const std::vector<Value> values = {{"", kRegSz, "Standard"}, {"Pfad", kRegSz, "C:\\Programme\\\"x\""},
                                       {"Time\"Out", kRegDword, Dword(600)}, {"Blob", kRegBinary, "\x01\x02\x03\xff"},
                                       {"Exp", kRegExpandSz, text::Utf8ToUtf16Le(std::string("%A%\0", 4))}};
    for (const std::string end : {"\n", "\r\n", "\r", "mixed"}) {
        std::string file;
        for (const auto& line : lines) file += line + (end != "mixed" ? end : &line == &lines[4] ? "\r\n" : "\n");
        for (const std::string& encoded : {file, "\xEF\xBB\xBF" + file, "\xFF\xFE" + text::Utf8ToUtf16Le(file)}) {
            const Document doc = MustParse(encoded);
            ASSERT_EQ(doc.entries.size(), 8u) << end.size();
            EXPECT_EQ(doc.flavor, Flavor::Regedit5);
            EXPECT_EQ(doc.entries[0].root, "HKEY_LOCAL_MACHINE");
            EXPECT_EQ(doc.entries[0].path, (std::vector<std::string>{"SOFTWARE", "Gr\xC3\xBC\xC3\x9F" "e"}));
            for (std::size_t i = 0; i < values.size(); ++i) EXPECT_EQ(doc.entries[i + 1].value, values[i]) << i;
            EXPECT_EQ(doc.entries[4].line, 8);
            EXPECT_EQ(std::pair(doc.entries[6].kind, doc.entries[7].kind), std::pair(EntryKind::DeleteValue, EntryKind::DeleteKey));
            EXPECT_EQ(Parse(file + "junk" + end).error.line, 13) << end.size();
        }
    }
    // REGEDIT4: 8-bit text is Windows-1252; expandable text, 8-bit there, is UTF-16LE here; its
    // deletions are read as in the newer format.
    const std::string four = "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\A]\r\n\"N\"=\"M\xFCller\"\r\n\"E\"=hex(2):25,41,25,00\r\n\"G\"=-\r\n"
                             "[-HKEY_LOCAL_MACHINE\\B]\r\n";
    EXPECT_EQ(MustParse(four).flavor, Flavor::Regedit4);
    EXPECT_EQ(Outcome(four),
              "2 0 HKEY_LOCAL_MACHINE\\A =0:\n3 2 HKEY_LOCAL_MACHINE\\A N=1:M\xC3\xBCller\n4 2 HKEY_LOCAL_MACHINE\\A E=2:" +
                  Utf16('%') + Utf16('A') + Utf16('%') + Utf16(0) + "\n5 3 HKEY_LOCAL_MACHINE\\A G=0:\n6 1 HKEY_LOCAL_MACHINE\\B =0:\n");
}

// Every file that is wrong is refused, naming the line and what is wrong. Below a [-KEY] line a
// value line is passed over, but it must still be one. A text in hex(1) form is UTF-16LE text,
// or it is refused: never kept as other text. Lines are counted with lone CRs, and with CR CR LF
// (a line end and a blank line). Nothing but the header, or the start of the whole-file mark:
// the file was cut short. A file the Writer made is whole only with its last line, and has
// eight-digit dwords and UTF-8.
TEST(RegFileParse, NamesTheLineOfWhatIsWrong) {
    const std::string h = kHeader, key = "[HKEY_LOCAL_MACHINE\\A]\n";
    std::string tooDeep = h + "[HKEY_LOCAL_MACHINE";
    for (int i = 0; i < 513; ++i) tooDeep += "\\d";
    const struct { std::string file; int line; std::string says; } cases[] = {
        {h + "\n\"x\"=\"y\"\n", 3, "a value line before the first key line"},
        {h + "[-HKEY_LOCAL_MACHINE\\A]\n\"x\"=dword:zz\n", 3, "without hexadecimal"},
        {h + "[-HKEY_LOCAL_MACHINE\\A]\n\"x\"=hex:01,\\\n", 3, "end of the file"},
        {h + key + "\"x\"=hex(1):00,d8,00,00\n", 3, "hex(1) data that is not UTF-16 text: a UTF-16 surrogate without its pair"},
        {h + key + "\"x\"=hex(1):41,00,00,dc,00,00\n", 3, "surrogate without its pair"},
        {h + key + "\"x\"=hex(1):00,d8,41,00,00,00\n", 3, "surrogate without its pair"},
        {h + key + "\"x\"=hex(1):41\n", 3, "hex(1) data that is not UTF-16 text: an odd number of bytes"},
        {h + key + "\"x\"=hex(1):41,00,\\\n  00\n", 3, "an odd number of bytes"},
        {h + key + "\"x\"=dword:123456789\n", 3, "more than 8"}, {h + key + "\"x\"=dword:zehn\n", 3, "without hexadecimal"},
        {h + key + "\"x\"=\"open\n", 3, "closing"},                {h + key + "\"x\"=\"a\\tb\"\n", 3, "escape"},
        {h + key + "\"a\\tb\"=\"x\"\n", 3, "escape"},              {h + key + "\"x\"\n", 3, "expected '='"},
        {h + key + "\"x\"=hex:01,zz\n", 3, "hex"},                 {h + key + "\"x\"=hex:01,\\\n", 3, "end of the file"},
        {h + key + "\"x\"=\"y\" junk\n", 3, "after"},              {h + key + "x=1\n", 3, "unexpected"},
        {h + "[HKEY_LOCAL_MACHINE\\A\n", 2, "closing ']'"},        {h + "[HKEY_NOWHERE\\A]\n", 2, "root"},
        {h + "[HKEY_LOCAL_MACHINE\\A\\\\B]\n", 2, "empty key name"},
        {h + "[HKEY_LOCAL_MACHINE\\" + std::string(256, 'n') + "]\n", 2, "255"},
        {tooDeep + "]\n", 2, "deeper than 512"},
        {h + key + std::string("\"x\"=\"a\0b\"\n", 10), 3, "NUL"},
        {"REGEDIT4\r\n" + key + std::string("\r\n\"x\"=\"a\0b\"\r\n", 13), 4, "NUL"},
        {"REGEDIT4\r[HKEY_LOCAL_MACHINE\\A]\r" + std::string("\r\"x\"=\"a\0b\"\r", 10), 4, "NUL"},
        {"REGEDIT4\r[HKEY_LOCAL_MACHINE\\A]\r\"x\"=dword:zehn\r", 3, "without hexadecimal"},
        {"REGEDIT4\r\r\n[HKEY_LOCAL_MACHINE\\A]\r\r\n\"x\"=dword:zehn\r\r\n", 5, "without hexadecimal"},
        {"REGEDIT4\r[HKEY_LOCAL_MACHINE\\A]\r\"x\"=hex:01,\\\r", 3, "end of the file"},
        {"\n\nRegistry\n", 3, "header"}, {"", 0, "empty"}, {"\xEF\xBB\xBF", 0, "empty"}, {"\xFF\xFE", 0, "empty"},
        {h, 1, "nothing follows"},       {h + std::string(kWholeFileMark.substr(0, 20)), 1, "nothing follows"},
        {h + Marked(key + "\"x\"=dword:00000001\n"), 5, "cut short"},
        {h + Marked(key + "\"x\"=dword:000\n; end of file\n"), 5, "fewer than 8"},
        {h + Marked(key + "\"x\"=\"caf\xE9\"\n; end of file\n"), 5, "not UTF-8"},
        {"Windows Registry Editor Version 5.00\r\n" + std::string(kWholeFileMark) + "\r\n\r\n" + key +
             "\"x\"=\"caf\xE9\"\r\n; end of file\r\n",
         5, "not UTF-8"},
        {"Windows Registry Editor Version 5.00\r" + std::string(kWholeFileMark) +
             "\r\r[HKEY_LOCAL_MACHINE\\A]\r\"x\"=\"caf\xE9\"\r; end of file\r",
         5, "not UTF-8"},
        {h + Marked("; end of file\n" + key), 5, "after the line"},
    };
    for (const auto& c : cases) {
        const ParseResult result = Parse(c.file);
        EXPECT_FALSE(result.document) << c.file;
        EXPECT_EQ(result.error.line, c.line) << c.file;
        EXPECT_NE(result.error.message.find(c.says), std::string::npos) << c.file << " -> " << result.error.message;
    }
}

// Value lines below a [-KEY] line belong to no key: they are passed over, as regedit and Wine's
// reg pass over them, and the file's other lines are read as ever.
TEST(RegFileParse, PassesOverValuesBelowAKeyDeletion) {
    EXPECT_EQ(Outcome(std::string(kHeader) + "\n[HKEY_LOCAL_MACHINE\\A]\n\"a\"=\"1\"\n\n[-HKEY_LOCAL_MACHINE\\A\\B]\n\"x\"=\"y\"\n"
                      "\"z\"=-\n\"h\"=hex:01,\\\n  02\n@=dword:00000001\n\n[HKEY_LOCAL_MACHINE\\C]\n\"c\"=\"3\"\n"),
              "3 0 HKEY_LOCAL_MACHINE\\A =0:\n4 2 HKEY_LOCAL_MACHINE\\A a=1:1\n6 1 HKEY_LOCAL_MACHINE\\A\\B =0:\n"
              "13 0 HKEY_LOCAL_MACHINE\\C =0:\n14 2 HKEY_LOCAL_MACHINE\\C c=1:3\n");
}

// A text value in hex(1) form is UTF-16LE text up to its first NUL, surrogate pairs included.
TEST(RegFileParse, TextInHexFormIsUtf16Text) {
    for (const auto& [bytes, text] : {std::pair("41,00,00,00", "A"), std::pair("3d,d8,00,de,00,00", "\xF0\x9F\x98\x80"),
                                      std::pair("", ""), std::pair("20,00,64,00,3a,00,00,00,78,00", " d:")}) {
        EXPECT_EQ(Outcome(std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\A]\n\"x\"=hex(1):" + bytes + "\n"),
                  "2 0 HKEY_LOCAL_MACHINE\\A =0:\n3 2 HKEY_LOCAL_MACHINE\\A x=1:" + std::string(text) + "\n");
    }
}

// Each line end ends one line, whatever its kind: "\r\n" and a lone "\r" as "\n", also as the
// file's last bytes or not there at all, after thousands of lines of every length around the
// eight bytes the reader looks at at once, and in a file the Writer made. "\r\r\n" and "\r\r" end
// a line and a blank one, which also ends continued hex data.
TEST(RegFileParse, EveryLineEndEndsOneLine) {
    std::string lines = kHeader;
    for (std::size_t k = 0; k < 1500; ++k) {
        lines += "[HKEY_LOCAL_MACHINE\\K\\" + std::string(k % 19, 'k') + std::to_string(k) + "]\n";
        lines += "\"" + std::string(k % 23, 'v') + "n\"=\"" + std::string(k % 17, 't') + "\"\n";
    }
    Writer writer(Encoding::Utf8Lf);
    writer.AddKey("HKEY_LOCAL_MACHINE\\W", std::vector<Value>{{"v", kRegSz, "w"}, {"b", kRegBinary, std::string(100, 'b')}});
    const std::string written = writer.Finish();
    const auto withEnds = [](const std::string& text, const std::string& end, bool last) {
        std::string out;
        for (const char c : text.substr(0, text.size() - (last ? 0 : 1))) out += c == '\n' ? end : std::string(1, c);
        return out;
    };
    for (const auto& [name, end, same] :  // the line ends `end` stands for
         {std::tuple("CR LF", "\r\n", "\n"), std::tuple("CR", "\r", "\n"), std::tuple("CR CR LF", "\r\r\n", "\n\n"),
          std::tuple("CR CR", "\r\r", "\n\n")}) {
        for (const std::string* text : {&std::as_const(lines), &written}) {
            for (const bool lastEnd : {true, false}) {
                SCOPED_TRACE(testing::Message() << name << (text == &written ? " in the Writer's file" : "")
                                                << (lastEnd ? "" : ", none at the end"));
                const std::string outcome = Outcome(withEnds(*text, end, lastEnd));
                EXPECT_EQ(outcome, Outcome(withEnds(*text, same, lastEnd)));
                EXPECT_EQ(outcome.starts_with("error"), text == &written && std::string(same) == "\n\n") << outcome.substr(0, 200);
            }
        }
    }
}

// What is written reads back exactly, hostile names and data included; whatever byte the file
// is cut at, the cut copy is refused or (when only the last line end is missing) reads whole.
TEST(RegFileWrite, WhatIsWrittenReadsBackExactlyAndACutCopyIsRefused) {
    const std::vector<Value> values = {
        {"", kRegSz, "default"},        {"with \"quotes\" and \\", kRegSz, "line1\nline2\r\\end\" and then some more \"text\" \\\\"},
        {"Umlaut \xC3\xA4", kRegSz, "\xC3\x9F"}, {"TimeOut", kRegDword, Dword(0xFFFFFFFF)}, {"Seven", kRegDword, Dword(7)},
        {"Short dword", kRegDword, "\x01\x02"}, {"Empty", kRegBinary, ""}, {"Expand", kRegExpandSz, std::string("A\0\0\xD8" "B", 5)},
        {"Multi", kRegMultiSz, text::Utf8ToUtf16Le(std::string("a\0b\0\0", 5))}, {"Qword", kRegQword, std::string("\0\1\2\3\4\5\6\7", 8)},
        {"Type 0x20000", 0x20000, "x"}};
    for (const auto encoding : {Encoding::Utf8Lf, Encoding::Utf16LeBomCrlf}) {
        Writer writer(encoding);
        writer.AddKey("HKEY_LOCAL_MACHINE\\SOFTWARE\\Key ]with[ brackets]", values);
        writer.AddKey("HKEY_LOCAL_MACHINE\\SOFTWARE\\Empty", {});
        const std::string file = writer.Finish();
        const Document doc = MustParse(file);
        ASSERT_EQ(doc.entries.size(), values.size() + 2);
        EXPECT_EQ(doc.entries[0].path.back(), "Key ]with[ brackets]");
        for (std::size_t i = 0; i < values.size(); ++i) EXPECT_EQ(doc.entries[i + 1].value, values[i]) << i;
        EXPECT_EQ(doc.entries.back().path.back(), "Empty");
        std::size_t accepted = 0;
        for (std::size_t cut = 0; cut < file.size(); ++cut) {
            const ParseResult result = Parse(std::string_view(file).substr(0, cut));
            accepted += result.document.has_value();
            EXPECT_TRUE(!result.document || result.document->entries.size() == doc.entries.size()) << "cut at " << cut;
        }
        EXPECT_LE(accepted, 4u);  // the last line end: "\n", or "\r\n" in UTF-16
    }
}

}  // namespace
}  // namespace kelvaston::platform::regfile
