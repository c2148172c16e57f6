// The writer's fast "%g" against the standard library's, whose bytes it must reproduce.
#include "vrml/FormatG.h"

#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cstdint>
#include <limits>
#include <string>

namespace ombrel {
namespace {

std::string fast(float v) {
    char buf[kFormatGMax];
    return std::string(buf, formatG(buf, v));
}

std::string library(float v) {
    char buf[64];
    return std::string(buf,
                       std::to_chars(buf, buf + 64, double(v), std::chars_format::general, 6).ptr);
}

TEST(FormatG, EdgeValues) {
    struct Case {
        const char* name;
        float value;
        const char* text;
    };
    const float inf = std::numeric_limits<float>::infinity();
    for (const Case& c : {
             Case{"Zero", 0.0f, "0"},
             Case{"NegativeZero", -0.0f, "-0"},
             Case{"One", 1.0f, "1"},
             Case{"Fraction", 0.1f, "0.1"},
             Case{"Colour", 0.007874016f * 100, "0.787402"},
             Case{"Coordinate", -1234.5678f, "-1234.57"},
             Case{"SmallestFixed", 0.0001f, "0.0001"},
             Case{"BelowFixed", 0.000015f, "1.5e-05"},
             Case{"BelowFastRange", 1e-6f, "1e-06"},
             Case{"Denormal", 1e-40f, "9.99995e-41"},
             Case{"TieRoundsToEven", 123456.5f, "123456"},
             Case{"TieRoundsUpToEven", 123457.5f, "123458"},
             Case{"RoundsIntoNextDecade", 999999.6f, "1e+06"},
             Case{"LargestFixed", 999999.0f, "999999"},
             Case{"Exponent", 12345678.0f, "1.23457e+07"},
             Case{"AboveFastRange", 1e17f, "1e+17"},
             Case{"Largest", std::numeric_limits<float>::max(), "3.40282e+38"},
             Case{"Infinity", -inf, "-inf"},
             Case{"NaN", std::numeric_limits<float>::quiet_NaN(), "nan"},
         }) {
        EXPECT_EQ(fast(c.value), c.text) << c.name;
        EXPECT_EQ(fast(c.value), library(c.value)) << c.name;
    }
}

// Every 9973rd bit pattern, so all exponents and both signs (the whole range was checked once
// by hand the same way).
TEST(FormatG, MatchesTheLibraryAcrossAllFloats) {
    int mismatches = 0;
    for (std::uint64_t bits = 0; bits < (std::uint64_t(1) << 32) && mismatches < 10; bits += 9973) {
        const float v = std::bit_cast<float>(static_cast<std::uint32_t>(bits));
        const std::string got = fast(v);
        const std::string want = library(v);
        if (got != want) {
            ++mismatches;
            ADD_FAILURE() << "bits " << std::hex << bits << ": " << got << " instead of " << want;
        }
    }
}

} // namespace
} // namespace ombrel
