#include "TextUtil.h"

#include <cmath>
#include <limits>

namespace fileinfo_detail {

namespace {

bool IsBlankByte(char c) {
    return static_cast<unsigned char>(c) <= 0x20;
}

void AppendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// Appends count 16-bit units, unitAt(i) giving each, as UTF-8.
template <typename UnitAt>
void AppendUtf16(std::string& out, std::size_t count, UnitAt unitAt) {
    out.reserve(out.size() + count);
    for (std::size_t i = 0; i < count; ++i) {
        const uint32_t unit = unitAt(i);
        if (unit < 0x80) {
            out += static_cast<char>(unit);
        } else if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < count && unitAt(i + 1) >= 0xDC00 &&
                   unitAt(i + 1) <= 0xDFFF) {
            const uint32_t low = unitAt(++i);
            AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
        } else if (unit >= 0xD800 && unit <= 0xDFFF) {
            AppendUtf8(out, 0xFFFD);
        } else {
            AppendUtf8(out, unit);
        }
    }
}

}  // namespace

std::string_view Trimmed(std::string_view text) {
    std::size_t begin = 0, end = text.size();
    while (begin < end && IsBlankByte(text[begin])) ++begin;
    while (end > begin && IsBlankByte(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

std::string_view TrimmedRight(std::string_view text) {
    std::size_t end = text.size();
    while (end > 0 && IsBlankByte(text[end - 1])) --end;
    return text.substr(0, end);
}

std::u16string_view TrimmedUnits(std::u16string_view text) {
    std::size_t begin = 0, end = text.size();
    while (begin < end && text[begin] <= 0x20) ++begin;
    while (end > begin && text[end - 1] <= 0x20) --end;
    return text.substr(begin, end - begin);
}

std::string Utf16ToUtf8(std::u16string_view text) {
    std::string out;
    AppendUtf16(out, text.size(), [text](std::size_t i) { return text[i]; });
    return out;
}

std::string TrimmedUtf16LEToUtf8(const uint8_t* bytes, std::size_t count) {
    const auto unit = [bytes](std::size_t i) {
        return static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    };
    std::size_t begin = 0, end = count;
    while (begin < end && unit(begin) <= 0x20) ++begin;
    while (end > begin && unit(end - 1) <= 0x20) --end;
    std::string out;
    AppendUtf16(out, end - begin, [&unit, begin](std::size_t i) { return unit(begin + i); });
    return out;
}

bool EqualsUpperAscii(std::string_view text, std::string_view name) {
    if (text.size() != name.size()) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c =
            text[i] >= 'a' && text[i] <= 'z' ? static_cast<char>(text[i] - 'a' + 'A') : text[i];
        if (c != name[i]) return false;
    }
    return true;
}

bool ParseWholeNumber(std::string_view text, int32_t& value) {
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    if (i == text.size()) return false;
    int64_t number = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        number = number * 10 + (text[i] - '0');
        if (number > static_cast<int64_t>(std::numeric_limits<int32_t>::max()) + 1) return false;
    }
    if (negative) number = -number;
    if (number > std::numeric_limits<int32_t>::max()) return false;
    value = static_cast<int32_t>(number);
    return true;
}

int32_t WholeNumberOrZero(std::string_view text) {
    int32_t value = 0;
    return ParseWholeNumber(text, value) ? value : 0;
}

int32_t NumberBeforeSlash(std::string_view text) {
    return WholeNumberOrZero(text.substr(0, text.find('/')));
}

int64_t RoundHalfEven(double value) {
    if (!std::isfinite(value) || std::fabs(value) >= 9.2e18) return 0;
    // nearbyint follows the current rounding mode, which is to nearest, ties to even.
    return static_cast<int64_t>(std::nearbyint(value));
}

namespace {

// Continuation bytes that a UTF-8 lead byte announces; -1 for a byte that
// cannot begin a character.
int ContinuationCount(unsigned char lead) {
    if (lead < 0x80) return 0;
    if (lead < 0xC2) return -1;
    if (lead < 0xE0) return 1;
    if (lead < 0xF0) return 2;
    if (lead < 0xF5) return 3;
    return -1;
}

bool IsValidUtf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const int extra = ContinuationCount(static_cast<unsigned char>(text[i]));
        if (extra < 0 || i + extra >= text.size() + (extra == 0)) return false;
        for (int k = 1; k <= extra; ++k)
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
        i += static_cast<std::size_t>(extra) + 1;
    }
    return true;
}

// The code page's characters at 0x80..0x9F; 0 where it has none.
constexpr char16_t kHighControls[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

}  // namespace

std::string EightBitToUtf8(std::string_view text) {
    if (IsValidUtf8(text)) return std::string(text);
    // Every character of the code page is a single 16-bit unit outside the
    // surrogates, so each byte converts on its own.
    std::string out;
    out.reserve(text.size() * 2);
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        const char16_t mapped = (byte >= 0x80 && byte < 0xA0) ? kHighControls[byte - 0x80] : 0;
        AppendUtf8(out, mapped ? mapped : byte);
    }
    return out;
}

std::string FirstCharacters(std::string_view text, std::size_t count) {
    std::size_t end = 0, taken = 0;
    while (end < text.size() && taken < count) {
        ++end;
        while (end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) ++end;
        ++taken;
    }
    return std::string(text.substr(0, end));
}

}  // namespace fileinfo_detail
