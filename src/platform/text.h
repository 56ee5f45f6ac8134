// Text helpers for the registry layer: encodings met in .reg files and the registry's
// case-insensitive comparison of names.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kelvaston::platform::text {

bool IsValidUtf8(std::string_view bytes);
// The byte offset of the first sequence that is not UTF-8; npos when all of it is.
std::size_t FirstInvalidUtf8(std::string_view bytes);

// UTF-16LE bytes to UTF-8. An odd trailing byte is dropped; unpaired surrogates become U+FFFD.
std::string Utf16LeToUtf8(std::string_view bytes);
std::string Utf8ToUtf16Le(std::string_view utf8);

// Windows-1252 (the usual 8-bit code page of a German or English Windows) to UTF-8.
std::string Cp1252ToUtf8(std::string_view bytes);

// The form in which the registry compares names: every character of the Basic Multilingual
// Plane that has an upper-case partner in upper case, as the registry's own case table has it
// (one code point for one, never a letter whose upper case belongs to another letter: ß, ς, ı
// and ſ stay). Equal folded forms name the same key or value; ordering the folded forms gives
// the order in which Windows enumerates subkeys. The window checks new names with it too.
std::string FoldCase(std::string_view utf8);
bool EqualsNoCase(std::string_view a, std::string_view b);
// A hash of the folded form: names equal but for case hash alike.
std::uint32_t FoldedHash(std::string_view name);

// Compares a name already in comparison form with another name, as their folded forms compare
// (<0, 0, >0); ASCII names are folded on the fly, without a copy.
int CompareFolded(std::string_view folded, std::string_view name);

// The most bytes a character takes in UTF-8: a buffer for n characters has this many times n.
inline constexpr std::size_t kMaxUtf8BytesPerCharacter = 4;

// The length of a UTF-8 text in UTF-16 units: how the registry counts a name's characters.
std::size_t Utf16Length(std::string_view utf8);
// Whether it is longer than `maxUnits` UTF-16 units; a text of no more bytes never is.
inline bool LongerThan(std::string_view utf8, std::size_t maxUnits) {
    return utf8.size() > maxUnits && Utf16Length(utf8) > maxUnits;
}

// The character that begins at byte `at`: its whole UTF-8 sequence, or the one byte there where
// no well-formed sequence begins; empty at the end. How a message names a character.
std::string_view CharacterAt(std::string_view bytes, std::size_t at);

// Cuts a UTF-8 text to its first `maxCharacters` characters.
std::string_view FirstCharacters(std::string_view utf8, std::size_t maxCharacters);
// A name as a message shows it: whole when it has at most `maxCharacters` characters, else its
// first `maxCharacters` and then `mark` ("…").
std::string Abbreviated(std::string_view utf8, std::size_t maxCharacters, std::string_view mark);

}  // namespace kelvaston::platform::text
