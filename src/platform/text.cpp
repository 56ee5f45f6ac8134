#include "platform/text.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

namespace kelvaston::platform::text {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

// Decodes one code point at `pos` and advances past it. Invalid sequences yield U+FFFD and
// advance by one byte, so every input is consumed.
char32_t DecodeUtf8(std::string_view s, std::size_t& pos) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char lead = byte(pos);
    if (lead < 0x80) {
        ++pos;
        return lead;
    }
    std::size_t length = 0;
    char32_t cp = 0;
    char32_t minimum = 0;
    if ((lead & 0xE0) == 0xC0) {
        length = 2, cp = lead & 0x1Fu, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, cp = lead & 0x0Fu, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, cp = lead & 0x07u, minimum = 0x10000;
    } else {
        ++pos;
        return kReplacement;
    }
    if (pos + length > s.size()) {
        ++pos;
        return kReplacement;
    }
    for (std::size_t i = 1; i < length; ++i) {
        const unsigned char c = byte(pos + i);
        if ((c & 0xC0) != 0x80) {
            ++pos;
            return kReplacement;
        }
        cp = (cp << 6) | (c & 0x3Fu);
    }
    if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        ++pos;
        return kReplacement;
    }
    pos += length;
    return cp;
}

char32_t ToUpper(char32_t c) {
    if (c >= 'a' && c <= 'z') return c - 32;
    if (c < 0x80) return c;
    if ((c >= 0xE0 && c <= 0xFE && c != 0xF7)) return c - 32;  // Latin-1 letters
    if (c == 0xFF) return 0x178;
    if (c >= 0x100 && c <= 0x17F) {  // Latin Extended-A: mostly upper/lower pairs
        if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) {
            return (c % 2 == 0) ? c - 1 : c;
        }
        if (c == 0x131 || c == 0x138 || c == 0x149 || c == 0x17F) return c;
        return (c % 2 == 1) ? c - 1 : c;
    }
    if (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) return c - 32;  // Greek
    if (c >= 0x430 && c <= 0x44F) return c - 32;                 // Cyrillic
    if (c >= 0x450 && c <= 0x45F) return c - 80;
    return c;
}

constexpr std::array<char16_t, 32> kCp1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

}  // namespace

bool IsValidUtf8(std::string_view bytes) { return FirstInvalidUtf8(bytes) == std::string_view::npos; }

std::size_t FirstInvalidUtf8(std::string_view bytes) {
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        // Eight ASCII bytes at a time.
        while (pos + 8 <= bytes.size()) {
            std::uint64_t word;
            std::memcpy(&word, bytes.data() + pos, 8);
            if ((word & 0x8080808080808080ull) != 0) break;
            pos += 8;
        }
        if (pos == bytes.size()) break;
        if (static_cast<unsigned char>(bytes[pos]) < 0x80) {  // most of a file is ASCII
            ++pos;
            continue;
        }
        const std::size_t start = pos;
        if (DecodeUtf8(bytes, pos) == kReplacement) {
            // A literal U+FFFD (EF BF BD) is valid; a replacement from a bad sequence is not.
            if (pos - start != 3) return start;
        }
    }
    return std::string_view::npos;
}

std::string Utf16LeToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() / 2);
    const std::size_t units = bytes.size() / 2;
    const auto unit = [&](std::size_t i) {
        return static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                     (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
    };
    for (std::size_t i = 0; i < units; ++i) {
        const char16_t u = unit(i);
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units) {
            const char16_t low = unit(i + 1);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                AppendUtf8(out, 0x10000 + ((char32_t{u} - 0xD800) << 10) + (low - 0xDC00));
                ++i;
                continue;
            }
        }
        AppendUtf8(out, (u >= 0xD800 && u <= 0xDFFF) ? kReplacement : char32_t{u});
    }
    return out;
}

std::string Utf8ToUtf16Le(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size() * 2);
    const auto put = [&](char32_t u) {
        out.push_back(static_cast<char>(u & 0xFF));
        out.push_back(static_cast<char>((u >> 8) & 0xFF));
    };
    std::size_t pos = 0;
    while (pos < utf8.size()) {
        const char32_t cp = DecodeUtf8(utf8, pos);
        if (cp >= 0x10000) {
            put(0xD800 + ((cp - 0x10000) >> 10));
            put(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            put(cp);
        }
    }
    return out;
}

std::string Cp1252ToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 4);
    for (const char ch : bytes) {
        const auto b = static_cast<unsigned char>(ch);
        AppendUtf8(out, (b >= 0x80 && b < 0xA0) ? char32_t{kCp1252High[b - 0x80]} : char32_t{b});
    }
    return out;
}

std::string FoldCase(std::string_view utf8) {
    std::string out(utf8);
    std::size_t pos = 0;
    for (; pos < out.size(); ++pos) {  // ASCII in place, the usual case
        const auto b = static_cast<unsigned char>(out[pos]);
        if (b >= 0x80) break;
        if (b >= 'a' && b <= 'z') out[pos] = static_cast<char>(b - 32);
    }
    if (pos == out.size()) return out;
    out.resize(pos);
    while (pos < utf8.size()) {
        const unsigned char b = static_cast<unsigned char>(utf8[pos]);
        if (b < 0x80) {
            out.push_back(static_cast<char>(b >= 'a' && b <= 'z' ? b - 32 : b));
            ++pos;
            continue;
        }
        AppendUtf8(out, ToUpper(DecodeUtf8(utf8, pos)));
    }
    return out;
}

namespace {

constexpr std::uint64_t kEveryByte = 0x0101010101010101ull;

// Up to eight bytes of `s` from `pos` as one little-endian word, zero-padded.
std::uint64_t Word(std::string_view s, std::size_t pos) {
    std::uint64_t word = 0;
    const std::size_t left = s.size() - pos;
    if (left >= 8) {
        std::memcpy(&word, s.data() + pos, 8);
        return word;
    }
    for (std::size_t i = 0; i < left; ++i) word |= std::uint64_t{static_cast<unsigned char>(s[pos + i])} << (8 * i);
    return word;
}

// Eight ASCII bytes with their lower-case letters made upper case.
std::uint64_t UpperAscii(std::uint64_t word) {
    const std::uint64_t atLeastA = word + kEveryByte * (0x80 - 'a');
    const std::uint64_t aboveZ = word + kEveryByte * (0x80 - 'z' - 1);
    return word ^ (((atLeastA & ~aboveZ) & (kEveryByte * 0x80)) >> 2);
}

std::uint64_t Mix(std::uint64_t hash, std::uint64_t word) { return (hash ^ word) * 0x9E3779B97F4A7C15ull; }

}  // namespace

namespace {

bool IsAscii(std::string_view s) {
    for (const char c : s) {
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    }
    return true;
}

char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }

}  // namespace

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() == b.size()) {
        std::size_t i = 0;
        for (; i < a.size(); ++i) {
            if ((static_cast<unsigned char>(a[i]) | static_cast<unsigned char>(b[i])) >= 0x80) break;
            if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
        }
        if (i == a.size()) return true;
    } else if (IsAscii(a) && IsAscii(b)) {
        return false;  // folding never changes the length of ASCII text
    }
    return FoldCase(a) == FoldCase(b);
}


std::uint32_t FoldedHash(std::string_view name) {
    // ASCII names, nearly all of them, eight bytes at a time; others by their folded form.
    std::uint64_t hash = name.size();
    for (std::size_t pos = 0; pos < name.size(); pos += 8) {
        const std::uint64_t word = Word(name, pos);
        if ((word & (kEveryByte * 0x80)) != 0) {
            const std::string folded = FoldCase(name);
            hash = folded.size();
            for (std::size_t at = 0; at < folded.size(); at += 8) hash = Mix(hash, Word(folded, at));
            break;
        }
        hash = Mix(hash, UpperAscii(word));
    }
    return static_cast<std::uint32_t>(hash ^ (hash >> 32));
}

int CompareFolded(std::string_view folded, std::string_view name) {
    const std::size_t n = std::min(folded.size(), name.size());
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {  // eight bytes at a time while they are ASCII
        const std::uint64_t word = Word(name, i);
        if ((word & (kEveryByte * 0x80)) != 0) break;
        const std::uint64_t upper = UpperAscii(word);
        const std::uint64_t mine = Word(folded, i);
        if (upper != mine) {
            const int shift = std::countr_zero(upper ^ mine) & ~7;  // the first byte that differs
            return ((mine >> shift) & 0xFF) < ((upper >> shift) & 0xFF) ? -1 : 1;
        }
    }
    for (; i < n; ++i) {
        const auto b = static_cast<unsigned char>(name[i]);
        if (b >= 0x80) return folded.compare(FoldCase(name));  // not ASCII: the full way
        const auto upper = static_cast<unsigned char>(b >= 'a' && b <= 'z' ? b - 32 : b);
        const auto f = static_cast<unsigned char>(folded[i]);
        if (f != upper) return f < upper ? -1 : 1;
    }
    if (folded.size() == name.size()) return 0;
    if (folded.size() < name.size()) {
        // The rest of `name` may hold non-ASCII, which folds to other lengths.
        for (std::size_t k = n; k < name.size(); ++k) {
            if (static_cast<unsigned char>(name[k]) >= 0x80) return folded.compare(FoldCase(name));
        }
        return -1;
    }
    return 1;
}

std::size_t Utf16Length(std::string_view utf8) {
    if (std::all_of(utf8.begin(), utf8.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
        return utf8.size();
    }
    std::size_t units = 0;
    std::size_t pos = 0;
    while (pos < utf8.size()) units += DecodeUtf8(utf8, pos) >= 0x10000 ? 2u : 1u;
    return units;
}

std::string_view FirstCharacters(std::string_view utf8, std::size_t maxCharacters) {
    if (utf8.size() <= maxCharacters) return utf8;  // no more characters than bytes
    std::size_t pos = 0;
    for (std::size_t n = 0; n < maxCharacters && pos < utf8.size(); ++n) DecodeUtf8(utf8, pos);
    return utf8.substr(0, pos);
}

std::string_view TruncateUtf8(std::string_view utf8, std::size_t maxBytes) {
    if (utf8.size() <= maxBytes) return utf8;
    std::size_t cut = maxBytes;
    while (cut > 0 && (static_cast<unsigned char>(utf8[cut]) & 0xC0) == 0x80) --cut;
    return utf8.substr(0, cut);
}

}  // namespace kelvaston::platform::text
