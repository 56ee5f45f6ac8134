// The text helpers judged over every code point and every byte pair against references of
// their own: the C library's case mapping, and UTF-8 and UTF-16 decoders written from the
// Unicode standard's tables.
#include <gtest/gtest.h>

#include <locale.h>
#include <clocale>
#include <cwctype>
#include <map>
#include <sstream>
#include <vector>

#include "platform/test_helpers.h"
#include "platform/text.h"

namespace kelvaston::platform::text {
namespace {

using test::Utf16;
using test::Utf8;

// Where the first ill-formed sequence starts: the well-formed byte sequences of the standard's
// table 3-7, each lead byte with the range its second byte must lie in.
std::size_t FirstIllFormed(std::string_view s) {
    for (std::size_t i = 0; i < s.size();) {
        const unsigned lead = static_cast<unsigned char>(s[i]);
        const std::size_t length = lead < 0x80   ? 1
                                   : lead < 0xC2 ? 0
                                   : lead < 0xE0 ? 2
                                   : lead < 0xF0 ? 3
                                   : lead < 0xF5 ? 4
                                                 : 0;
        const unsigned low = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
        const unsigned high = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
        if (length == 0 || i + length > s.size()) return i;
        for (std::size_t k = 1; k < length; ++k) {
            const unsigned byte = static_cast<unsigned char>(s[i + k]);
            if (byte < (k == 1 ? low : 0x80) || byte > (k == 1 ? high : 0xBF)) return i;
        }
        i += length;
    }
    return std::string_view::npos;
}

// Every code point converts to UTF-16LE and back unchanged and folds to the one code point the
// C library's upper case gives where that goes both ways (its lower case is the code point
// again: ß, ς, ı and ſ stay), outside the Basic Multilingual Plane to itself: the registry's
// own table, as Wine's registry confirms code point for code point. The code points that fold
// alike are equal, hash alike and compare equal, and differ from the next class.
TEST(Text, FoldingIsTheRegistrysAndConversionsKeepEveryCharacter) {
    const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
    ASSERT_NE(utf8, locale_t{}) << "the C.UTF-8 locale is missing";
    std::map<std::string, std::vector<std::string>> classes;
    for (char32_t c = 1; c <= 0x10FFFF; ++c) {
        SCOPED_TRACE(testing::Message() << "U+" << std::hex << static_cast<unsigned>(c));
        if (c >= 0xD800 && c <= 0xDFFF) {
            ASSERT_EQ(FirstInvalidUtf8("ab" + Utf8(c)), 2u);
            ASSERT_EQ(CharacterAt("ab" + Utf8(c), 2), "\xED");
            continue;
        }
        ASSERT_EQ(Utf8ToUtf16Le(Utf8(c)), Utf16(c));
        ASSERT_EQ(Utf16LeToUtf8(Utf16(c)), Utf8(c));
        ASSERT_EQ(Utf16Length(Utf8(c) + "x"), c < 0x10000 ? 2u : 3u);
        ASSERT_EQ(CharacterAt("ab" + Utf8(c) + "\x80z", 2), Utf8(c));
        const auto upper = static_cast<char32_t>(towupper_l(static_cast<wint_t>(c), utf8));
        const bool both =
            c < 0x10000 && towlower_l(static_cast<wint_t>(upper), utf8) == static_cast<wint_t>(c);
        const std::string folded = FoldCase(Utf8(c));
        ASSERT_EQ(folded, Utf8(both ? upper : c));
        if (c < 0x10000) classes[folded].push_back(Utf8(c));
    }
    freelocale(utf8);
    for (const auto& [folded, names] : classes) {
        for (const std::string& a : names) {
            ASSERT_TRUE(EqualsNoCase("x" + a, "X" + folded)) << a;
            ASSERT_TRUE(EqualsNoCase("\xC3\xA4" + a, "\xC3\x84" + folded))
                << a;  // not by the ASCII shortcut
            ASSERT_EQ(CompareFolded("\xC3\x84" + folded, "\xC3\xA4" + a), 0) << a;
            ASSERT_EQ(FoldedHash(a + "12345678"), FoldedHash(folded + "12345678")) << a;
            ASSERT_EQ(CompareFolded(FoldCase("Name" + folded), "nAME" + a), 0) << a;
            for (const std::string& b : names) ASSERT_TRUE(EqualsNoCase(a, b)) << a << " " << b;
        }
        const auto next = classes.upper_bound(folded);
        if (next != classes.end()) {
            ASSERT_FALSE(EqualsNoCase(names.front(), next->second.back())) << names.front();
            ASSERT_LT(CompareFolded(folded, next->second.back()), 0) << names.front();
        }
    }
}

// Every lead byte with every second byte, before each of a few endings: the first ill-formed
// sequence is found where the standard's table puts it, and the character there is the
// shortest well-formed start of the rest, or its first byte.
TEST(Text, FindsTheFirstSequenceThatIsNotUtf8) {
    for (const std::string_view ending : {"", "\x80", "\x80\x80", "\xBF\xBF", "\x7F", "\xC0"}) {
        for (unsigned lead = 0; lead < 0x100; ++lead) {
            for (unsigned second = 0; second < 0x100; ++second) {
                const std::string bytes = std::string("ok") + static_cast<char>(lead) +
                                          static_cast<char>(second) + std::string(ending);
                ASSERT_EQ(FirstInvalidUtf8(bytes), FirstIllFormed(bytes))
                    << std::hex << lead << " " << second << " " << ending;
                ASSERT_EQ(IsValidUtf8(bytes), FirstIllFormed(bytes) == std::string_view::npos);
                const std::string_view rest = std::string_view(bytes).substr(2);
                std::size_t length = 1;
                while (FirstIllFormed(rest) != 0 && FirstIllFormed(rest.substr(0, length)) == 0)
                    ++length;
                ASSERT_EQ(CharacterAt(bytes, 2), rest.substr(0, length));
                ASSERT_EQ(CharacterAt(bytes, bytes.size()), "");
            }
        }
    }
}

// Sequences of up to three UTF-16 units from either side of every surrogate boundary: a high
// surrogate before a low one is one character, any other surrogate U+FFFD, an odd byte at the
// end nothing.
TEST(Text, ReadsUtf16WhoseSurrogatesArePairedOrNot) {
    const char16_t units[] = {0x0041, 0x00E4, 0xD7FF, 0xD800, 0xD801, 0xDBFF,
                              0xDC00, 0xDC01, 0xDFFF, 0xE000, 0xFFFF};
    const auto expect = [](const std::u16string& in) {
        std::string out;
        for (std::size_t i = 0; i < in.size(); ++i) {
            const char32_t u = in[i];
            const bool high = u >= 0xD800 && u <= 0xDBFF,
                       lowNext = i + 1 < in.size() && in[i + 1] >= 0xDC00 && in[i + 1] <= 0xDFFF;
            if (high && lowNext)
                out += Utf8(0x10000 + ((u - 0xD800) << 10) + (in[++i] - 0xDC00));
            else
                out += Utf8(u >= 0xD800 && u <= 0xDFFF ? 0xFFFD : u);
        }
        return out;
    };
    std::vector<std::u16string> sequences;
    for (const char16_t a : units) {
        for (const char16_t b : units) {
            sequences.push_back({a, b});
            for (const char16_t c : units) sequences.push_back({a, b, c});
        }
    }
    for (const std::u16string& sequence : sequences) {
        std::string bytes;
        for (const char16_t u : sequence)
            bytes += {static_cast<char>(u & 0xFF), static_cast<char>(u >> 8)};
        ASSERT_EQ(Utf16LeToUtf8(bytes), expect(sequence))
            << std::hex << unsigned{sequence[0]} << " " << unsigned{sequence[1]};
        ASSERT_EQ(Utf16LeToUtf8(bytes + 'x'), expect(sequence));
    }
}

// Cutting a text of 1-, 2-, 4- and 1-byte characters at every length: never inside a character,
// and marked when something was cut. Windows-1252 has characters of its own in 0x80-0x9F; its five
// unused bytes stay C1 controls.
TEST(Text, CutsBetweenCharactersAndReadsWindows1252) {
    const std::string mixed = "a\xC3\xA4\xF0\x9F\x93\xA7z";
    const std::size_t byCharacters[] = {0, 1, 3, 7, 8, 8};
    for (std::size_t n = 0; n < std::size(byCharacters); ++n) {
        EXPECT_EQ(FirstCharacters(mixed, n), mixed.substr(0, byCharacters[n])) << n;
        EXPECT_EQ(Abbreviated(mixed, n, "~"), mixed.substr(0, byCharacters[n]) + (n < 4 ? "~" : ""))
            << n;
    }
    EXPECT_EQ(Cp1252ToUtf8("\x80\xE4\x9F\x81\x7F\xA0"),
              "\xE2\x82\xAC\xC3\xA4\xC5\xB8\xC2\x81\x7F\xC2\xA0");
}

// The paths that take eight bytes at a time, at every length up to three words and every
// position: a name of one letter with another character at one place, beside the same name in
// upper case with a character there too, folds, compares, hashes, counts and cuts as the two
// names' upper-case forms, spelt out here character by character, say. A byte that is not UTF-8
// at that place is found there.
TEST(Text, EightBytesAtATimeAgreeWithOneCharacterAtATime) {
    // Each character with its upper case: letters, the characters beside them, and some of two,
    // three and four bytes.
    std::istringstream table(
        "a A z Z A A Z Z @ @ [ [ ` ` { { \x7F \x7F \xC3\xA4 \xC3\x84 "
        "\xC3\x84 \xC3\x84 \xC3\x9F \xC3\x9F \xE2\x82\xAC \xE2\x82\xAC "
        "\xF0\x9D\x84\x9E \xF0\x9D\x84\x9E");
    std::vector<std::pair<std::string, std::string>> characters;
    for (std::string c, upper; table >> c >> upper;) characters.emplace_back(c, upper);
    ASSERT_EQ(characters.size(), 14u);
    const auto name = [](std::size_t length, std::size_t p, const std::string& c, char letter) {
        return std::string(p, letter) + c + std::string(length - p - 1, letter);
    };
    const auto sign = [](int n) { return (n > 0) - (n < 0); };
    for (std::size_t length = 1; length <= 24; ++length) {
        for (std::size_t p = 0; p < length; ++p) {
            ASSERT_EQ(FirstInvalidUtf8(name(length, p, "\x80", 'k')), p);
            for (const auto& [c, upperC] : characters) {
                const std::string a = name(length, p, c, 'k');
                const std::string upperA = name(length, p, upperC, 'K');
                SCOPED_TRACE(testing::Message() << '"' << a << "\" at " << p);
                ASSERT_EQ(FoldCase(a), upperA);
                ASSERT_EQ(Utf16Length(a), length - 1 + (c.size() == 4 ? 2 : 1));
                ASSERT_EQ(FirstCharacters(a, p), a.substr(0, p));
                ASSERT_EQ(FirstCharacters(a, p + 1), a.substr(0, p + c.size()));
                ASSERT_EQ(FirstInvalidUtf8(a), std::string_view::npos);
                for (std::size_t other = length - 1; other <= length + 1; ++other) {
                    for (const auto& [d, upperD] : characters) {
                        const std::string b = p < other ? name(other, p, d, 'K') : "";
                        const std::string upperB = p < other ? name(other, p, upperD, 'K') : "";
                        ASSERT_EQ(EqualsNoCase(a, b), upperA == upperB) << b;
                        ASSERT_EQ(FoldedHash(a) == FoldedHash(b), upperA == upperB) << b;
                        ASSERT_EQ(sign(CompareFolded(upperA, b)), sign(upperA.compare(upperB)))
                            << b;
                    }
                }
            }
        }
    }
}

}  // namespace
}  // namespace kelvaston::platform::text
