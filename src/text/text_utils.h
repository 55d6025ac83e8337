// Free functions on 8-bit strings shared by the whole driver: formatting, trimming, case folding
// and comparison, line splitting, the value lookup that reads CGI answers, RTSP header parameters
// and SDP attributes, strict integer parsing, comma splitting and number conversions. Pure: no
// system service.
//
// Threads: stateless; any thread.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace norvane {

// FormatString formats printf-style into a string of exactly the formatted length (no limit).
std::string FormatString(const char* format, ...) __attribute__((format(printf, 1, 2)));

// FormatStringV is FormatString for an argument list already started by the caller.
std::string FormatStringV(const char* format, va_list args) __attribute__((format(printf, 1, 0)));

// Trim removes leading and trailing blanks and tabs; CR, LF and other characters stay.
std::string Trim(std::string_view text);

// RemoveChars returns the text without every character that occurs in `set`.
std::string RemoveChars(std::string_view text, std::string_view set);

// ToLower and ToUpper fold the ASCII letters only; every other byte stays.
std::string ToLower(std::string_view text);
std::string ToUpper(std::string_view text);

// EqualsNoCase compares two texts with the ASCII letters folded; StartsWithNoCase compares the
// start of `text` with `prefix` the same way.
bool EqualsNoCase(std::string_view a, std::string_view b);
bool StartsWithNoCase(std::string_view text, std::string_view prefix);

// IsTokenChar tells whether `c` may stand in a token (tchar, RFC 7230 section 3.2.6): the
// characters of method names, header names, authentication schemes and their parameter names.
[[nodiscard]] bool IsTokenChar(char c);

// TrimBlanks is Trim without a copy: the view without leading and trailing blanks and tabs.
std::string_view TrimBlanks(std::string_view text);

// FirstWord returns the text up to its first blank or tab.
std::string_view FirstWord(std::string_view text);

// NextLine returns the line that starts at `position` and moves `position` past its end. A line
// ends at CR LF, a lone LF or a lone CR; the last line may end with the text. At the end of the
// text `position` becomes npos and the line is empty.
std::string_view NextLine(std::string_view text, std::size_t& position);

// ParseDecimal32 reads an unsigned decimal number that must fit 32 bits: leading blanks, then one
// or more digits, then only blanks. Nothing for anything else.
std::optional<std::uint32_t> ParseDecimal32(std::string_view text);

// LeadingDecimal32 reads the digits at the start of `text` after blanks and ignores what follows
// them (no digits: 0); nothing when they do not fit 32 bits.
std::optional<std::uint32_t> LeadingDecimal32(std::string_view text);

// FormatNumber writes a rate: "%u" of its integer part when the value is whole, "%1.1f" otherwise
// (25 -> "25", 7.5 -> "7.5", -2 -> "-2.0").
std::string FormatNumber(float value);

// FindValue returns the value that follows `key` and `separator` in `text`, up to the next
// character of `terminators` (or the end of the text); empty when there is none. Only the text
// from the start of the key's field up to the separator is compared with the key, after trimming,
// so a key also matches as the tail of a longer name ("alarm" finds the value of "rise_alarm").
// The value is not trimmed.
std::string FindValue(std::string_view key, std::string_view separator, std::string_view text,
                      std::string_view terminators);

// ParseInt accepts an optional sign followed by one or more decimal digits and nothing else;
// `value` is 0 whenever it refuses. Digit strings beyond 32 bits saturate at the nearest limit.
bool ParseInt(std::string_view text, std::int32_t& value);

// SplitList splits at every comma. Empty fields between or before commas are kept; a trailing
// comma adds no field; an empty text gives an empty list. Fields are not trimmed.
std::vector<std::string> SplitList(std::string_view text);

// RateFromInterval turns milliseconds between frames into frames per second, rounded half up;
// 0 gives 1.
std::uint32_t RateFromInterval(std::uint32_t intervalMs);

} // namespace norvane
