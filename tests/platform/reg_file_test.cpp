// The .reg format: what regedit writes must read back exactly, and what is wrong must be named
// with its line.
#include <gtest/gtest.h>

#include "platform/reg_file.h"
#include "platform/registry_api.h"
#include "platform/text.h"

namespace kelvaston::platform::regfile {
namespace {

Document MustParse(std::string_view bytes) {
    ParseResult result = Parse(bytes);
    EXPECT_TRUE(result.document) << "line " << result.error.line << ": " << result.error.message;
    return result.document.value_or(Document{});
}

ParseError MustFail(std::string_view bytes) {
    ParseResult result = Parse(bytes);
    EXPECT_FALSE(result.document);
    return result.error;
}

std::string Repeat(const std::string& text, int times) {
    std::string repeated;
    for (int i = 0; i < times; ++i) repeated += text;
    return repeated;
}

// The body of a file as the Writer begins it, after the header.
std::string Marked(const std::string& body) { return std::string(kWholeFileMark) + "\n\n" + body; }

std::string Dword(std::uint32_t n) {
    return std::string{static_cast<char>(n & 0xFF), static_cast<char>((n >> 8) & 0xFF),
                       static_cast<char>((n >> 16) & 0xFF), static_cast<char>(n >> 24)};
}

TEST(RegFileParse, ReadsWhatRegeditWritesInUtf16) {
    const std::string text =
        "Windows Registry Editor Version 5.00\r\n\r\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Gr\xC3\xBC\xC3\x9F" "e]\r\n"
        "@=\"Standard\"\r\n"
        "\"Pfad\"=\"C:\\\\Programme\\\\\\\"x\\\"\"\r\n"
        "\"TimeOut\"=dword:00000258\r\n"
        "\"Blob\"=hex:01,02,\\\r\n"
        "  03,ff\r\n\r\n";
    const Document doc = MustParse("\xFF\xFE" + text::Utf8ToUtf16Le(text));
    ASSERT_EQ(doc.entries.size(), 5u);
    EXPECT_EQ(doc.entries[0].root, "HKEY_LOCAL_MACHINE");
    EXPECT_EQ(doc.entries[0].path, (std::vector<std::string>{"SOFTWARE", "Gr\xC3\xBC\xC3\x9F" "e"}));
    EXPECT_EQ(doc.entries[1].value, (Value{"", kRegSz, "Standard"}));
    EXPECT_EQ(doc.entries[2].value, (Value{"Pfad", kRegSz, "C:\\Programme\\\"x\""}));
    EXPECT_EQ(doc.entries[3].value, (Value{"TimeOut", kRegDword, Dword(600)}));
    EXPECT_EQ(doc.entries[4].value, (Value{"Blob", kRegBinary, "\x01\x02\x03\xff"}));
    EXPECT_EQ(doc.entries[4].line, 7);
}

TEST(RegFileParse, Regedit4DeletionsCommentsAndEightBitText) {
    const Document doc = MustParse(
        "REGEDIT4\n"
        "; a comment\n"
        "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Old]\n"
        "[hkey_local_machine\\SOFTWARE\\New]   ; trailing comment\n"
        "\"Gone\"=-\n"
        "\"Name\"=\"M\xFCller\"\n"  // Windows-1252 ü
        "\"Exp\"=hex(2):25,41,25,00\n");
    ASSERT_EQ(doc.entries.size(), 5u);
    EXPECT_EQ(doc.flavor, Flavor::Regedit4);
    EXPECT_EQ(doc.entries[0].kind, EntryKind::DeleteKey);
    EXPECT_EQ(doc.entries[1].root, "HKEY_LOCAL_MACHINE");
    EXPECT_EQ(doc.entries[2].kind, EntryKind::DeleteValue);
    EXPECT_EQ(doc.entries[3].value.data, "M\xC3\xBCller");
    // REGEDIT4 keeps expandable text 8-bit; the registry holds it as UTF-16LE.
    EXPECT_EQ(doc.entries[4].value.data, text::Utf8ToUtf16Le(std::string("%A%\0", 4)));
}

TEST(RegFileParse, EveryKindOfLineEndReadsAlike) {
    const std::string lines[] = {"REGEDIT4", "[HKLM\\A]", "\"x\"=hex:01,\\", "  02", "\"y\"=\"z\""};
    for (const std::string end : {"\n", "\r\n", "\r"}) {
        std::string file;
        for (const auto& line : lines) file += line + end;
        const Document doc = MustParse(file);
        ASSERT_EQ(doc.entries.size(), 3u) << end.size();
        EXPECT_EQ(doc.entries[1].value, (Value{"x", kRegBinary, "\x01\x02"}));
        EXPECT_EQ(doc.entries[2].line, 5);
        EXPECT_EQ(MustFail(file + "junk" + end).line, 6) << end.size();
    }
}

TEST(RegFileParse, NamesTheLineOfWhatIsWrong) {
    const std::string header = "Windows Registry Editor Version 5.00\n";
    const struct {
        std::string body;
        int line;
        std::string says;
    } cases[] = {
        {"\n\"x\"=\"y\"\n", 3, "before the first key"},
        {"[HKEY_LOCAL_MACHINE\\A]\n\"x\"=dword:123456789\n", 3, "more than 8"},
        {"[HKEY_LOCAL_MACHINE\\A]\n\"x\"=dword:zehn\n", 3, "without hexadecimal"},
        {"[HKEY_LOCAL_MACHINE\\A]\n\"x\"=\"open\n", 3, "closing"},
        {"[HKEY_LOCAL_MACHINE\\A]\n\"x\"=\"a\\tb\"\n", 3, "escape"},
        {"[HKEY_LOCAL_MACHINE\\A]\n\"x\"=hex:01,zz\n", 3, "hex"},
        {"[HKEY_LOCAL_MACHINE\\A]\n\"x\"=hex:01,\\\n", 3, "end of the file"},
        {"[HKEY_LOCAL_MACHINE\\A]\n\"x\"=\"y\" junk\n", 3, "after"},
        {"[HKEY_LOCAL_MACHINE\\A]\nx=1\n", 3, "unexpected"},
        {"[HKEY_LOCAL_MACHINE\\A\n", 2, "closing ']'"},
        {"[HKEY_NOWHERE\\A]\n", 2, "root"},
        {"[HKEY_LOCAL_MACHINE\\A\\\\B]\n", 2, "empty key name"},
        {"[HKEY_LOCAL_MACHINE\\" + std::string(256, 'n') + "]\n", 2, "255"},
        {"[HKEY_LOCAL_MACHINE" + Repeat("\\d", 513) + "]\n", 2, "deeper than 512"},
        {"[HKEY_LOCAL_MACHINE\\A]\n\"x\"=other:1\n", 3, "unrecognised"},
        // A file with nothing but its header, or the start of the whole-file mark, was cut short.
        {"", 1, "nothing follows"},
        {"\n\n", 1, "nothing follows"},
        {std::string(kWholeFileMark.substr(0, 20)), 1, "nothing follows"},
        // A file the Writer made: whole only with its last line, eight-digit dwords, UTF-8.
        {Marked("[HKEY_LOCAL_MACHINE\\A]\n\"x\"=dword:00000001\n"), 5, "cut short"},
        {Marked("[HKEY_LOCAL_MACHINE\\A]\n\"x\"=dword:000\n; end of file\n"), 5, "fewer than 8"},
        {Marked("[HKEY_LOCAL_MACHINE\\A]\n\"x\"=\"caf\xE9\"\n; end of file\n"), 5, "not UTF-8"},
        {Marked("; end of file\n[HKEY_LOCAL_MACHINE\\A]\n"), 5, "after the line"},
    };
    for (const auto& c : cases) {
        const ParseError error = MustFail(header + c.body);
        EXPECT_EQ(error.line, c.line) << c.body;
        EXPECT_NE(error.message.find(c.says), std::string::npos) << c.body << " -> " << error.message;
    }
    EXPECT_EQ(MustFail("").line, 0);
    EXPECT_EQ(MustFail("\n\nRegistry\n").line, 3);
    constexpr char kEmbeddedNul[] = "[HKEY_LOCAL_MACHINE\\A]\n\"x\"=\"a\0b\"\n";
    EXPECT_EQ(MustFail(header + std::string(kEmbeddedNul, sizeof kEmbeddedNul - 1)).line, 3);
}

TEST(RegFileWrite, WhatIsWrittenReadsBackExactly) {
    const std::vector<Value> values = {
        {"", kRegSz, "default"},
        {"with \"quotes\" and \\", kRegSz, "line1\nline2\r\\end\""},
        {"Umlaut \xC3\xA4", kRegSz, "\xC3\x9F"},
        {"TimeOut", kRegDword, Dword(0xFFFFFFFF)},
        {"Short dword", kRegDword, "\x01\x02"},
        {"Long", kRegBinary, std::string(200, '\x5A')},
        {"Empty", kRegBinary, ""},
        {"Expand", kRegExpandSz, text::Utf8ToUtf16Le(std::string("%SystemRoot%\0", 13))},
        {"Qword", kRegQword, std::string("\0\1\2\3\4\5\6\7", 8)},
        {"Type 0x20000", 0x20000, "x"},
    };
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
    }
}

// Whatever byte a written file is cut at, the cut copy is refused, or (when only the last line
// end is missing) reads as the whole file: it never reads as a smaller registry.
TEST(RegFileWrite, ACopyCutShortAtAnyByteIsRefused) {
    const std::vector<Value> values = {{"TimeOut", kRegDword, Dword(0x258)},
                                       {"Host", kRegSz, "pop.example.net"},
                                       {"Blob", kRegBinary, std::string(60, '\x7f')},
                                       {"Odd", kRegExpandSz, "A\0B"}};
    for (const auto encoding : {Encoding::Utf8Lf, Encoding::Utf16LeBomCrlf}) {
        Writer writer(encoding);
        writer.AddKey("HKEY_LOCAL_MACHINE\\SOFTWARE", values);
        writer.AddKey("HKEY_LOCAL_MACHINE\\SOFTWARE\\Sub", values);
        const std::string file = writer.Finish();
        const std::vector<Entry> whole = MustParse(file).entries;
        std::size_t accepted = 0;
        for (std::size_t cut = 0; cut < file.size(); ++cut) {
            const ParseResult result = Parse(std::string_view(file).substr(0, cut));
            if (!result.document) continue;
            ++accepted;
            EXPECT_EQ(result.document->entries.size(), whole.size()) << "cut at " << cut;
        }
        EXPECT_LE(accepted, 4u);  // the last line end: "\n", or "\r\n" in UTF-16
    }
}

TEST(RegFileWrite, HandsOnInWholeLinesWhatItWouldWriteAtOnce) {
    const std::vector<Value> values = {{"Name", kRegSz, std::string(300, 'x')},
                                       {"Blob", kRegBinary, std::string(500, '\x7F')},
                                       {"Zahl", kRegDword, Dword(7)}};
    for (const auto encoding : {Encoding::Utf8Lf, Encoding::Utf16LeBomCrlf}) {
        Writer whole(encoding);
        std::vector<std::string> pieces;
        Writer pieced(encoding, [&](std::string_view piece) {
            pieces.emplace_back(piece);
            return true;
        });
        for (int k = 0; k < 200; ++k) {
            const std::string path = "HKEY_LOCAL_MACHINE\\SOFTWARE\\K" + std::to_string(k);
            whole.AddKey(path, values);
            pieced.AddKey(path, values);
        }
        const std::string expected = whole.Finish();
        EXPECT_EQ(pieced.Finish(), "");
        ASSERT_GT(pieces.size(), 3u);
        std::string joined;
        for (const auto& piece : pieces) {
            const std::string_view end = encoding == Encoding::Utf8Lf ? "\n" : std::string_view("\n\0", 2);
            EXPECT_TRUE(std::string_view(piece).ends_with(end));
            joined += piece;
        }
        EXPECT_EQ(joined, expected);
        EXPECT_FALSE(pieced.Failed());
    }
    // An output that fails is not called again, and the writer says so.
    int calls = 0;
    Writer failing(Encoding::Utf8Lf, [&](std::string_view) { return ++calls > 1; });
    for (int k = 0; k < 200; ++k) failing.AddKey("HKEY_LOCAL_MACHINE\\K" + std::to_string(k), values);
    failing.Finish();
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(failing.Failed());
}

TEST(RegFileWrite, WrapsLongHexLinesAsRegeditDoes) {
    Writer writer(Encoding::Utf8Lf);
    writer.AddKey("HKEY_LOCAL_MACHINE\\A", std::vector<Value>{{"Blob", kRegBinary, std::string(100, '\x11')}});
    const std::string file = writer.Finish();
    std::size_t start = 0;
    int lines = 0;
    while (start < file.size()) {
        const std::size_t end = file.find('\n', start);
        EXPECT_LE(end - start, 80u) << file.substr(start, end - start);
        start = end + 1;
        ++lines;
    }
    EXPECT_GT(lines, 6);
}

TEST(Text, FoldsCaseAsTheRegistryComparesNames) {
    EXPECT_TRUE(text::EqualsNoCase("Tolvane Service", "TOLVANE SERVICE"));
    EXPECT_TRUE(text::EqualsNoCase("m\xC3\xBCller", "M\xC3\x9CLLER"));      // ü Ü
    EXPECT_TRUE(text::EqualsNoCase("\xC5\x82\xC3\xB3" "d\xC5\xBA", "\xC5\x81\xC3\x93" "D\xC5\xB9"));  // łódź
    EXPECT_FALSE(text::EqualsNoCase("stra\xC3\x9F" "e", "STRASSE"));        // ß has no one-letter upper case
    EXPECT_LT(text::FoldCase("NORAS"), text::FoldCase("volatile"));
    // The copy-free comparisons agree with comparing folded copies, for ASCII and beyond.
    const char* names[] = {"", "a", "A", "ab", "Ab ", "b", "\xC3\x9F", "\xC5\xBF", "S", "_x", "Zeta", "\xC3\xA4rger", "\xC3\x84" "b", "a\xC3\xA4",
                           "A\xC3\x84", "\xC3\xBF", "z", "1a", "EnableWissenschaft", "enableWISSENSCHAFT",
                           "EnableWissenschafu", "Verbindung \xC3\x84rger", "VERBINDUNG \xC3\xA4RGER"};
    for (const char* a : names) {
        for (const char* b : names) {
            const std::string fa = text::FoldCase(a);
            const int expected = fa.compare(text::FoldCase(b));
            const int actual = text::CompareFolded(fa, b);
            EXPECT_EQ((expected > 0) - (expected < 0), (actual > 0) - (actual < 0)) << a << " vs " << b;
            EXPECT_EQ(text::EqualsNoCase(a, b), expected == 0) << a << " vs " << b;
            if (expected == 0) {
                EXPECT_EQ(text::FoldedHash(a), text::FoldedHash(b)) << a << " vs " << b;
            }
        }
    }
    EXPECT_LT(text::FoldCase("b"), text::FoldCase("C"));
}

TEST(Text, ConvertsEncodingsWithoutLosingCharacters) {
    const std::string sample = "A\xC3\xA4\xE2\x82\xAC\xF0\x9F\x93\xA7";  // A ä € 📧
    EXPECT_EQ(text::Utf16LeToUtf8(text::Utf8ToUtf16Le(sample)), sample);
    EXPECT_EQ(text::Cp1252ToUtf8("\x80\xE4\x9F"), "\xE2\x82\xAC\xC3\xA4\xC5\xB8");
    EXPECT_TRUE(text::IsValidUtf8(sample));
    EXPECT_FALSE(text::IsValidUtf8("M\xFCller"));
    EXPECT_FALSE(text::IsValidUtf8("\xC0\xAF"));  // overlong
    EXPECT_EQ(text::TruncateUtf8("a\xC3\xA4", 2), "a");
}

}  // namespace
}  // namespace kelvaston::platform::regfile
