// The .reg format: what regedit writes must read back exactly, and what is wrong must be named
// with its line.
#include <gtest/gtest.h>

#include <array>
#include <optional>
#include <sstream>
#include <tuple>
#include <utility>
#include <vector>

#include "platform/reg_file.h"
#include "platform/registry_api.h"
#include "platform/test_helpers.h"
#include "platform/text.h"
#include "support/temp_dir.h"

namespace kelvaston::platform::regfile {
namespace {

constexpr const char* kHeader = "Windows Registry Editor Version 5.00\n";

Document MustParse(std::string_view bytes) {
    ParseResult result = Parse(bytes);
    EXPECT_TRUE(result.document) << "line " << result.error.line << ": " << result.error.message;
    return result.document.value_or(Document{});
}

// What a parse gives as text: the flavor and the entries with their lines, or the error with its
// line.
std::string Outcome(std::string_view file) {
    const ParseResult result = Parse(file);
    if (!result.document)
        return "error at line " + std::to_string(result.error.line) + ": " + result.error.message;
    std::string text = result.document->flavor == Flavor::Regedit4 ? "flavor 4\n" : "flavor 5\n";
    for (const Entry& entry : result.document->entries) {
        text += std::to_string(entry.line) + " " + std::to_string(static_cast<int>(entry.kind)) +
                " " + entry.root;
        for (const auto& name : entry.path) text += "\\" + name;
        text += " " + entry.value.name + "=" + std::to_string(entry.value.type) + ":" +
                entry.value.data + "\n";
    }
    return text;
}

std::string Dword(std::uint32_t n) {
    return {static_cast<char>(n), static_cast<char>(n >> 8), static_cast<char>(n >> 16),
            static_cast<char>(n >> 24)};
}

// Every file of reg_file_cases.txt reads as its case says: refused at the line it names, with
// a message that says what it quotes, or read as the entries it lists.
TEST(RegFileParse, EachFileReadsAsItsCaseSays) {
    std::istringstream lines(test::ReadFile(KELVASTON_REG_FILE_CASES));
    std::vector<std::array<std::string, 5>> cases;  // its line, file, reading, saying, encoding
    std::string end;
    int number = 0;
    for (std::string line; std::getline(lines, line);) {
        ++number;
        if (line.empty() || line[0] == '#') continue;
        if (line == "case") {
            cases.push_back({std::to_string(number), "", "", "", ""});
            end = "\n";
            continue;
        }
        const auto text = test::Unescape(line.substr(std::min<std::size_t>(line.size(), 2)));
        const bool spaced = line.size() == 1 || line[1] == ' ';
        const std::size_t form = spaced ? std::string_view("~|+=!%").find(line[0]) : 6;
        const bool encoding = form == 5 && (*text == "utf16" || *text == "utf8-bom");
        ASSERT_TRUE(text && form < 6 && (form != 5 || encoding) && !cases.empty())
            << KELVASTON_REG_FILE_CASES << " line " << number << " is of no known form: " << line;
        auto& [at, file, reads, says, encoded] = cases.back();
        if (form == 5) {
            encoded = *text;
        } else if (form == 0) {
            end = *text;
        } else if (form <= 2) {
            file += *text + (form == 1 ? end : "");
        } else if (form == 3) {
            reads += *text + "\n";
        } else {
            reads += "error at line " + text->substr(0, text->find(' ')) + ": ";
            says = text->substr(text->find(' ') + 1);
        }
    }
    ASSERT_FALSE(cases.empty()) << "no cases in " << KELVASTON_REG_FILE_CASES;
    for (const auto& [at, file, reads, says, encoded] : cases) {
        const std::string outcome =
            Outcome(encoded.empty()      ? file
                    : encoded == "utf16" ? "\xFF\xFE" + text::Utf8ToUtf16Le(file)
                                         : "\xEF\xBB\xBF" + file);
        const bool quoted = outcome.find(says) != std::string::npos;
        EXPECT_TRUE(says.empty() ? outcome == reads : outcome.starts_with(reads) && quoted)
            << "reg_file_cases.txt, the case at line " << at << ", reads as\n"
            << outcome << "\nnot as\n"
            << reads << says;
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
    writer.AddKey("HKEY_LOCAL_MACHINE\\W",
                  std::vector<Value>{{"v", kRegSz, "w"}, {"b", kRegBinary, std::string(100, 'b')}});
    const std::string written = writer.Finish();
    const auto withEnds = [](const std::string& text, const std::string& end, bool last) {
        std::string out;
        for (const char c : text.substr(0, text.size() - (last ? 0 : 1)))
            out += c == '\n' ? end : std::string(1, c);
        return out;
    };
    for (const auto& [name, end, same] :  // the line ends `end` stands for
         {std::tuple("CR LF", "\r\n", "\n"), std::tuple("CR", "\r", "\n"),
          std::tuple("CR CR LF", "\r\r\n", "\n\n"), std::tuple("CR CR", "\r\r", "\n\n")}) {
        for (const std::string* text : {&std::as_const(lines), &written}) {
            for (const bool lastEnd : {true, false}) {
                SCOPED_TRACE(testing::Message()
                             << name << (text == &written ? " in the Writer's file" : "")
                             << (lastEnd ? "" : ", none at the end"));
                const std::string outcome = Outcome(withEnds(*text, end, lastEnd));
                EXPECT_EQ(outcome, Outcome(withEnds(*text, same, lastEnd)));
                EXPECT_EQ(outcome.starts_with("error"),
                          text == &written && std::string(same) == "\n\n")
                    << outcome.substr(0, 200);
            }
        }
    }
}

// What is written reads back exactly, hostile names and data included; whatever byte the file
// is cut at, the cut copy is refused or (when only the last line end is missing) reads whole.
TEST(RegFileWrite, WhatIsWrittenReadsBackExactlyAndACutCopyIsRefused) {
    const std::vector<Value> values = {
        {"", kRegSz, "default"},
        {"with \"quotes\" and \\", kRegSz,
         "line1\nline2\r\\end\" and then some more \"text\" \\\\"},
        {"Umlaut \xC3\xA4", kRegSz, "\xC3\x9F"},
        {"TimeOut", kRegDword, Dword(0xFFFFFFFF)},
        {"Seven", kRegDword, Dword(7)},
        {"Short dword", kRegDword, "\x01\x02"},
        {"Empty", kRegBinary, ""},
        {"Expand", kRegExpandSz,
         std::string("A\0\0\xD8"
                     "B",
                     5)},
        {"Multi", kRegMultiSz, text::Utf8ToUtf16Le(std::string("a\0b\0\0", 5))},
        {"Qword", kRegQword, std::string("\0\1\2\3\4\5\6\7", 8)},
        {"Type 0x20000", 0x20000, "x"}};
    for (const auto encoding : {Encoding::Utf8Lf, Encoding::Utf16LeBomCrlf}) {
        Writer writer(encoding);
        writer.AddKey("HKEY_LOCAL_MACHINE\\SOFTWARE\\Key ]with[ brackets]", values);
        writer.AddKey("HKEY_LOCAL_MACHINE\\SOFTWARE\\Empty", {});
        const std::string file = writer.Finish();
        const Document doc = MustParse(file);
        ASSERT_EQ(doc.entries.size(), values.size() + 2);
        EXPECT_EQ(doc.entries[0].path.back(), "Key ]with[ brackets]");
        for (std::size_t i = 0; i < values.size(); ++i)
            EXPECT_EQ(doc.entries[i + 1].value, values[i]) << i;
        EXPECT_EQ(doc.entries.back().path.back(), "Empty");
        std::size_t accepted = 0;
        for (std::size_t cut = 0; cut < file.size(); ++cut) {
            const ParseResult result = Parse(std::string_view(file).substr(0, cut));
            accepted += result.document.has_value();
            EXPECT_TRUE(!result.document || result.document->entries.size() == doc.entries.size())
                << "cut at " << cut;
        }
        EXPECT_LE(accepted, 4u);  // the last line end: "\n", or "\r\n" in UTF-16

        // Handed on piece by piece, the same file: one byte order mark, one end.
        Writer whole(encoding);
        std::string streamed;
        std::size_t pieces = 0;
        Writer streaming(encoding, [&](std::string_view piece) {
            streamed += piece;
            ++pieces;
            return true;
        });
        for (int i = 0; i < 500; ++i) {
            const std::string path = "HKEY_LOCAL_MACHINE\\SOFTWARE\\K" + std::to_string(i);
            whole.AddKey(path, values);
            streaming.AddKey(path, values);
        }
        EXPECT_EQ(streaming.Finish(), "");
        EXPECT_GT(pieces, 3u);
        EXPECT_EQ(streamed, whole.Finish());
    }
    // Each character that needs escaping, at every offset of a text otherwise plain (the writer
    // passes plain text eight bytes at a time), in a name and in the data.
    for (const char special : {'"', '\\', '\n', '\r'}) {
        for (std::size_t at = 0; at < 20; ++at) {
            std::string text(20, 'a');
            text[at] = special;
            const std::vector<Value> value = {{text, kRegSz, text}};
            Writer writer(Encoding::Utf8Lf);
            writer.AddKey("HKEY_LOCAL_MACHINE\\K", value);
            const Document doc = MustParse(writer.Finish());
            ASSERT_EQ(doc.entries.size(), 2u);
            EXPECT_EQ(doc.entries[1].value, value[0]) << static_cast<int>(special) << " at " << at;
        }
    }
}

}  // namespace
}  // namespace kelvaston::platform::regfile
