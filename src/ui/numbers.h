// The numbers of the pages as text. The registry keeps numbers as dwords; the pages show them
// as the user's digits, and the connection interval, stored in seconds, in minutes in the user's
// number format (a decimal comma under a German one).
#pragma once

#include <QString>
#include <cstdint>
#include <optional>

namespace kelvaston::ui {

// The largest number a dword holds.
inline constexpr std::uint32_t kLargestNumber = 4294967295u;

// `seconds` in minutes, in the user's number format, with the fewest decimals that
// IntervalSeconds takes back to `seconds` (61 seconds: "1,02"; 90 seconds: "1,5").
QString IntervalText(std::uint32_t seconds);

// The seconds that the minutes of `text` make, rounded to the nearest whole second; none when
// the text is no number in the user's format (group separators included), is negative, or
// makes more than kLargestNumber seconds. Blanks at the ends do not count; no text is 0.
std::optional<std::uint32_t> IntervalSeconds(const QString& text);

// Whether a number field's text can be stored as a dword, as the save reads it: the decimal
// digits of 0 to kLargestNumber with blanks (' ') at the ends, or no text at all (stored as 0).
bool FitsANumber(const QString& text);

}  // namespace kelvaston::ui
