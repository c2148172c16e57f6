#include "vrml/FormatG.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace ombrel {

namespace {

constexpr std::uint64_t kPow10[] = {1,
                                    10,
                                    100,
                                    1000,
                                    10000,
                                    100000,
                                    1000000,
                                    10000000,
                                    100000000,
                                    1000000000,
                                    10000000000,
                                    100000000000,
                                    1000000000000,
                                    10000000000000,
                                    100000000000000,
                                    1000000000000000,
                                    10000000000000000};

// The decimal exponents the exact integer path covers: 1e-5 <= |value| < 1e16.
constexpr int kLowest = -5;
constexpr int kHighest = 15;
// 10^e for e in kLowest .. kHighest + 1, as doubles, to find a value's decimal exponent.
constexpr double kBounds[] = {1e-5, 1e-4, 1e-3, 1e-2, 1e-1, 1e0,  1e1,  1e2,  1e3,  1e4,  1e5,
                              1e6,  1e7,  1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15, 1e16};

char* fallback(char* out, float value) {
    return std::to_chars(out, out + kFormatGMax, double(value), std::chars_format::general, 6).ptr;
}

// The six digits of n (100000 <= n < 1000000) at out.
void sixDigits(char* out, std::uint32_t n) {
    for (int i = 5; i >= 0; --i) {
        out[i] = char('0' + n % 10);
        n /= 10;
    }
}

} // namespace

char* formatG(char* out, float value) {
    const auto bits = std::bit_cast<std::uint32_t>(value);
    const int biased = int((bits >> 23) & 0xFF);
    if (biased == 0xFF)
        return fallback(out, value); // NaN, infinity
    if ((bits & 0x7FFFFFFF) == 0) {
        if (bits >> 31)
            *out++ = '-';
        *out++ = '0';
        return out;
    }
    const double magnitude = std::fabs(double(value));
    if (biased == 0 || magnitude < kBounds[0] || magnitude >= kBounds[kHighest - kLowest + 1])
        return fallback(out, value);
    // The value is 2^power times 1.x, so its decimal exponent is floor(power * log10(2)) or
    // one more.
    const int power = biased - 127;
    int e10 = (power * 78913) >> 18;
    if (e10 < kLowest)
        e10 = kLowest;
    if (e10 < kHighest && magnitude >= kBounds[e10 - kLowest + 1])
        ++e10;

    // The value is exactly mantissa * 2^exponent; scaled by 10^(5 - e10) and rounded to an
    // integer it gives the six digits. All of it is exact integer arithmetic in 64 bits (the
    // range above keeps it there), so the rounding is that of the exact value.
    const std::uint64_t mantissa = (bits & 0x7FFFFF) | 0x800000;
    const int exponent = power - 23;
    const int p = 5 - e10;
    std::uint64_t digits = 0;
    bool roundUp = false;
    if (p >= 0 && exponent < 0) {
        // Below a million the divisor is a power of two: a shift, the remainder a mask.
        const std::uint64_t numerator = mantissa * kPow10[p];
        const int shift = -exponent;
        digits = numerator >> shift;
        const std::uint64_t remainder = numerator & ((std::uint64_t(1) << shift) - 1);
        const std::uint64_t half = std::uint64_t(1) << (shift - 1);
        if (remainder == half)
            return fallback(out, value); // a tie: leave it to the library's rule
        roundUp = remainder > half;
    } else {
        std::uint64_t numerator = mantissa;
        std::uint64_t denominator = 1;
        if (p >= 0)
            numerator *= kPow10[p];
        else
            denominator = kPow10[-p];
        if (exponent >= 0)
            numerator <<= exponent;
        else
            denominator <<= -exponent;
        digits = numerator / denominator;
        const std::uint64_t twiceRemainder = (numerator - digits * denominator) * 2;
        if (twiceRemainder == denominator)
            return fallback(out, value);
        roundUp = twiceRemainder > denominator;
    }
    if (roundUp)
        ++digits;
    if (digits == 1000000) {
        digits = 100000;
        ++e10;
    }
    if (digits < 100000 || digits >= 1000000)
        return fallback(out, value); // the exponent guess was off by one

    if (value < 0)
        *out++ = '-';
    char d[6];
    sixDigits(d, static_cast<std::uint32_t>(digits));
    int kept = 6; // significant digits left once trailing zeros go
    while (kept > 1 && d[kept - 1] == '0')
        --kept;
    if (e10 < -4 || e10 >= 6) {
        // d.ddddde+XX
        *out++ = d[0];
        if (kept > 1) {
            *out++ = '.';
            std::memcpy(out, d + 1, std::size_t(kept - 1));
            out += kept - 1;
        }
        *out++ = 'e';
        *out++ = e10 < 0 ? '-' : '+';
        const int x = e10 < 0 ? -e10 : e10;
        *out++ = char('0' + x / 10);
        *out++ = char('0' + x % 10);
        return out;
    }
    if (e10 < 0) {
        // 0.000ddd
        *out++ = '0';
        *out++ = '.';
        for (int i = -1; i > e10; --i)
            *out++ = '0';
        std::memcpy(out, d, std::size_t(kept));
        return out + kept;
    }
    const int whole = e10 + 1; // digits before the point
    std::memcpy(out, d, std::size_t(whole));
    out += whole;
    if (kept > whole) {
        *out++ = '.';
        std::memcpy(out, d + whole, std::size_t(kept - whole));
        out += kept - whole;
    }
    return out;
}

} // namespace ombrel
