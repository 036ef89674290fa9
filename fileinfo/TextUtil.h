#pragma once
// Text helpers shared by the readers: trimming, 16-bit text to UTF-8 (the
// system's 8-bit character set), whole-number parsing and rounding.

#include <cstdint>
#include <string>
#include <string_view>

namespace fileinfo_detail {

// The part of the text without its leading and trailing bytes of value 0x20
// or less; a view into the same characters.
std::string_view Trimmed(std::string_view text);
// The text without its trailing bytes of value 0x20 or less.
std::string_view TrimmedRight(std::string_view text);
// The text without its leading and trailing 16-bit units of value 0x20 or less.
std::u16string_view TrimmedUnits(std::u16string_view text);

// Converts 16-bit text to UTF-8; surrogate pairs are joined, a lone surrogate
// becomes U+FFFD. Zero units are kept as zero bytes.
std::string Utf16ToUtf8(std::u16string_view text);
// The same for count 16-bit units stored low byte first at bytes, converted
// where they lie, without the leading and trailing units of value 0x20 or less.
std::string TrimmedUtf16LEToUtf8(const uint8_t* bytes, std::size_t count);

// 8-bit tag text in the system's character set: kept when it is already
// valid UTF-8, otherwise read as the Western 8-bit code page (Latin-1 with the
// printable characters of 0x80..0x9F) and converted, so "Can\xE7\xE3o" shows
// as "Canção" and never as invalid bytes.
std::string EightBitToUtf8(std::string_view text);

// True when the text, ASCII letters upper-cased, is the upper-case name.
bool EqualsUpperAscii(std::string_view text, std::string_view name);

// The text as a whole decimal number (an optional sign, then digits only,
// within 32 bits); false for anything else.
bool ParseWholeNumber(std::string_view text, int32_t& value);
// The whole number, or 0 when the text is not one.
int32_t WholeNumberOrZero(std::string_view text);
// The text before the first "/" (all of it when there is none) as a number, or 0.
int32_t NumberBeforeSlash(std::string_view text);

// Rounds to the nearest integer, halves to even. Values beyond the 64-bit
// range or not finite give 0, so a hostile file cannot cause an overflow.
int64_t RoundHalfEven(double value);

// The first count characters of UTF-8 text (a character is a lead byte and
// its continuation bytes).
std::string FirstCharacters(std::string_view text, std::size_t count);

}  // namespace fileinfo_detail
