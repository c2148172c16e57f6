#include "config/Attributes.h"

#include "base/Log.h"

#include <cfloat>
#include <charconv>
#include <cmath>
#include <limits>

namespace ombrel {

namespace {

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

std::size_t skipSpace(std::string_view text, std::size_t i = 0) {
    while (i < text.size() && isSpace(text[i])) {
        ++i;
    }
    return i;
}

std::size_t skipDigits(std::string_view text, std::size_t i) {
    while (i < text.size() && isDigit(text[i])) {
        ++i;
    }
    return i;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Where a range's two bounds lie in its text; see readFloatRange.
struct RangeParts {
    std::string_view lower;
    std::string_view upper;
    bool single = true;
};

RangeParts splitRange(std::string_view text) {
    const std::size_t comma = text.find(',');
    if (comma == std::string_view::npos) {
        return {text, text, true};
    }
    // The opening character is skipped whatever it is; a comma in first place leaves no lower
    // bound at all.
    const std::string_view lower = comma == 0 ? std::string_view() : text.substr(1, comma - 1);
    return {lower, text.substr(comma + 1), false};
}

// Where the number that readFloat reads from text[i] on lies; `digits` counts the digits of its
// mantissa (none: there is no number, and `end` is i).
struct FloatSpan {
    bool negative = false;
    std::size_t start = 0;       // after the sign
    std::size_t mantissaEnd = 0; // after the digits and the fraction
    std::size_t end = 0;         // after the exponent, when there is one
    std::size_t digits = 0;
};

FloatSpan scanFloat(std::string_view text, std::size_t i) {
    FloatSpan span;
    const std::size_t first = i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        span.negative = text[i] == '-';
        ++i;
    }
    span.start = i;
    std::size_t end = skipDigits(text, i);
    span.digits = end - i;
    if (end < text.size() && text[end] == '.') {
        const std::size_t fractionEnd = skipDigits(text, end + 1);
        span.digits += fractionEnd - (end + 1);
        end = fractionEnd;
    }
    if (span.digits == 0) {
        span.mantissaEnd = span.end = first;
        return span;
    }
    span.mantissaEnd = end;
    // An exponent counts only when at least one digit follows "e" and its sign.
    if (end < text.size() && (text[end] == 'e' || text[end] == 'E')) {
        std::size_t j = end + 1;
        if (j < text.size() && (text[j] == '+' || text[j] == '-')) {
            ++j;
        }
        if (j < text.size() && isDigit(text[j])) {
            end = skipDigits(text, j);
        }
    }
    span.end = end;
    return span;
}

// The end of the integer that readInt reads from text[i] on; i when there is none.
std::size_t scanInt(std::string_view text, std::size_t i) {
    std::size_t j = i;
    if (j < text.size() && (text[j] == '+' || text[j] == '-')) {
        ++j;
    }
    const std::size_t end = skipDigits(text, j);
    return end == j ? i : end;
}

// Whether text[i] on is one number (as `scan` finds it) with nothing after it but white space.
template <class Scan> bool plainNumberFrom(std::string_view text, std::size_t i, Scan scan) {
    i = skipSpace(text, i);
    const std::size_t end = scan(text, i);
    return end != i && skipSpace(text, end) == text.size();
}

std::size_t floatEnd(std::string_view text, std::size_t i) {
    return scanFloat(text, i).end;
}

// A single number, or "[" number "," number "]" with the bracket first (reading skips the first
// character whatever it is), white space allowed around the numbers and after the bracket.
template <class Scan> bool plainRange(std::string_view text, Scan scan) {
    if (text.find(',') == std::string_view::npos) {
        return plainNumberFrom(text, 0, scan);
    }
    if (text.empty() || text[0] != '[') {
        return false;
    }
    std::size_t i = 1;
    for (const char separator : {',', ']'}) {
        i = skipSpace(text, i);
        const std::size_t end = scan(text, i);
        if (end == i) {
            return false;
        }
        i = skipSpace(text, end);
        if (i >= text.size() || text[i] != separator) {
            return false;
        }
        ++i;
    }
    return skipSpace(text, i) == text.size();
}

} // namespace

std::int32_t readInt(std::string_view text) {
    std::size_t i = skipSpace(text);
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    std::uint32_t value = 0;
    for (; i < text.size() && isDigit(text[i]); ++i) {
        value = value * 10u + static_cast<std::uint32_t>(text[i] - '0');
    }
    if (negative) {
        value = 0u - value;
    }
    return static_cast<std::int32_t>(value);
}

std::uint32_t readUnsigned(std::string_view text) {
    return static_cast<std::uint32_t>(readInt(text));
}

std::uint32_t readUnsigned(std::u16string_view text) {
    return readUnsigned(utf16ToUtf8(text));
}

float readFloat(std::string_view text) {
    const FloatSpan span = scanFloat(text, skipSpace(text));
    if (span.digits == 0) {
        return 0.0f;
    }
    const std::size_t start = span.start;
    const std::size_t mantissaEnd = span.mantissaEnd;
    const std::size_t end = span.end;
    const bool negative = span.negative;

    double value = 0.0;
    const char* first = text.data() + start;
    const auto [ptr, ec] =
        std::from_chars(first, text.data() + end, value, std::chars_format::general);
    (void)ptr;
    if (ec == std::errc::result_out_of_range) {
        // Too large or too small for a double: decide by the mantissa's magnitude and the
        // exponent's sign. A zero mantissa is zero whatever its exponent.
        double mantissa = 0.0;
        std::from_chars(first, text.data() + mantissaEnd, mantissa, std::chars_format::fixed);
        const bool tiny =
            mantissa == 0.0 || (mantissaEnd + 1 < end && text[mantissaEnd + 1] == '-');
        value = tiny ? 0.0 : std::numeric_limits<double>::infinity();
    } else if (ec != std::errc()) {
        value = 0.0;
    }
    if (value > FLT_MAX) {
        value = FLT_MAX;
    }
    const float result = static_cast<float>(value);
    return negative ? -result : result;
}

float readFloat(std::u16string_view text) {
    return readFloat(utf16ToUtf8(text));
}

bool readBool(std::u16string_view text) {
    return text == u"true";
}

std::optional<std::uint32_t> readSeed(std::u16string_view wide) {
    const std::string text = utf16ToUtf8(wide);
    std::size_t i = skipSpace(text);
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i + 2 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X') &&
        hexValue(text[i + 2]) >= 0) {
        i += 2;
    }
    std::uint32_t value = 0;
    bool any = false;
    for (; i < text.size() && hexValue(text[i]) >= 0; ++i) {
        value = (value << 4) | static_cast<std::uint32_t>(hexValue(text[i]));
        any = true;
    }
    if (!any) {
        return std::nullopt;
    }
    return negative ? 0u - value : value;
}

bool isPlainInt(std::string_view text) {
    return plainNumberFrom(text, 0, scanInt);
}

bool isPlainFloat(std::string_view text) {
    return plainNumberFrom(text, 0, floatEnd);
}

bool isPlainBool(std::u16string_view text) {
    return text == u"true" || text == u"false";
}

bool isPlainSeed(std::u16string_view wide) {
    const std::string text = utf16ToUtf8(wide);
    const auto hexEnd = [](std::string_view t, std::size_t i) {
        std::size_t j = i;
        if (j < t.size() && (t[j] == '+' || t[j] == '-')) {
            ++j;
        }
        if (j + 2 < t.size() && t[j] == '0' && (t[j + 1] == 'x' || t[j + 1] == 'X') &&
            hexValue(t[j + 2]) >= 0) {
            j += 2;
        }
        const std::size_t digits = j;
        while (j < t.size() && hexValue(t[j]) >= 0) {
            ++j;
        }
        return j == digits ? i : j;
    };
    return plainNumberFrom(text, 0, hexEnd);
}

bool isPlainFloatRange(std::string_view text) {
    return plainRange(text, floatEnd);
}

bool isPlainUintRange(std::string_view text) {
    return plainRange(text, scanInt);
}

FloatRange readFloatBounds(std::string_view text) {
    const RangeParts parts = splitRange(text);
    FloatRange range(readFloat(parts.lower), parts.single ? 0.0f : readFloat(parts.upper));
    if (parts.single) {
        range.upper = range.lower;
    }
    return range;
}

UintRange readUintBounds(std::string_view text) {
    const RangeParts parts = splitRange(text);
    UintRange range(readUnsigned(parts.lower), parts.single ? 0u : readUnsigned(parts.upper));
    if (parts.single) {
        range.upper = range.lower;
    }
    return range;
}

FloatRange readFloatRange(std::string_view text, const SourcePlace& place) {
    FloatRange range = readFloatBounds(text);
    if (range.lower > range.upper) {
        warningLog.at(place).line("Float range [", range.lower, ",", range.upper,
                                  "] is in wrong order, flipping");
        std::swap(range.lower, range.upper);
    }
    return range;
}

UintRange readUintRange(std::string_view text, const SourcePlace& place) {
    UintRange range = readUintBounds(text);
    if (range.lower > range.upper) {
        warningLog.at(place).line("UINT range [", range.lower, ",", range.upper,
                                  "] is in wrong order, flipping");
        std::swap(range.lower, range.upper);
    }
    return range;
}

} // namespace ombrel
