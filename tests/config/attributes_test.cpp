#include "base/Log.h"
#include "config/Attributes.h"
#include "grammar/GenerationContext.h"
#include "tests/support/FreshContext.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <clocale>
#include <string>

namespace ombrel {
namespace {

struct IntCase {
    const char* text;
    std::uint32_t expected;
};

TEST(Attributes, UnsignedIntegers) {
    const IntCase cases[] = {
        {"12", 12u},
        {" 12abc", 12u},
        {"\t+7", 7u},
        {"abc", 0u},
        {"", 0u},
        {"-", 0u},
        {"-1", 4294967295u},
        {"-3", 4294967293u},
        {"4294967295", 4294967295u},
        {"4294967296", 0u},
        {"1 2", 1u},
        {"3.9", 3u},
        // Far longer than any integer: read whole, modulo 2^32.
        {"000000000000000000000000000000042", 42u},
        {"123456789012345678901234567890", 1312754386u},
    };
    for (const IntCase& c : cases) {
        EXPECT_EQ(readUnsigned(std::string_view(c.text)), c.expected) << "text '" << c.text << "'";
    }
    EXPECT_EQ(readUnsigned(std::u16string_view(u" 12abc")), 12u);
    EXPECT_EQ(readInt("-3"), -3);
}

struct FloatCase {
    const char* text;
    float expected;
};

void expectFloats() {
    const FloatCase cases[] = {
        {"2.5", 2.5f},       {"  -3e2x", -300.0f}, {"+4.25", 4.25f},  {".5", 0.5f},
        {"5.", 5.0f},        {"1e", 1.0f},         {"1e+", 1.0f},     {"2E-1", 0.2f},
        {"0.1", 0.1f},       {"3,5", 3.0f},        {"", 0.0f},        {".", 0.0f},
        {"-", 0.0f},         {"abc", 0.0f},        {"nan", 0.0f},     {"inf", 0.0f},
        {"-infinity", 0.0f}, {"0x1p3", 0.0f},      {"1e39", FLT_MAX}, {"-1e400", -FLT_MAX},
        {"1e-50", 0.0f},     {"1e-400", 0.0f},     {"0e999", 0.0f},
    };
    for (const FloatCase& c : cases) {
        EXPECT_EQ(readFloat(std::string_view(c.text)), c.expected) << "text '" << c.text << "'";
    }
    EXPECT_EQ(readFloat(std::u16string_view(u" 7.75 m")), 7.75f);
}

TEST(Attributes, Floats) {
    expectFloats();
}

// The Qt application switches the C locale to the user's; numbers must read the same.
TEST(Attributes, FloatsIgnoreTheLocale) {
    const std::string previous = std::setlocale(LC_ALL, nullptr);
    if (!std::setlocale(LC_ALL, "de_DE.UTF-8")) {
        GTEST_SKIP() << "de_DE.UTF-8 locale not installed (scripts/setup generates it)";
    }
    expectFloats();
    EXPECT_EQ(readFloatRange("[2.5,7.5]"), FloatRange(2.5f, 7.5f));
    std::setlocale(LC_ALL, previous.c_str());
}

TEST(Attributes, Booleans) {
    const std::pair<const char16_t*, bool> cases[] = {
        {u"true", true}, {u"True", false},  {u"TRUE", false},  {u"1", false},
        {u"yes", false}, {u" true", false}, {u"true ", false}, {u"", false},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(readBool(text), expected) << "text '" << utf16ToUtf8(text) << "'";
    }
}

TEST(Attributes, Seeds) {
    const std::pair<const char16_t*, std::optional<std::uint32_t>> cases[] = {
        {u"1a2b", 0x1A2Bu},         {u"0x1A2B", 0x1A2Bu},
        {u"0X1a2b", 0x1A2Bu},       {u"  ff", 0xFFu},
        {u"DEADBEEF", 0xDEADBEEFu}, {u"123456789", 0x23456789u}, // beyond 32 bits: the low 32 bits
        {u"1a2bxyz", 0x1A2Bu},      {u"0x", 0u}, // the "0" is a digit, the "x" ends it
        {u"-1", 0xFFFFFFFFu},       {u"zz", std::nullopt},
        {u"", std::nullopt},        {u"0xg", 0u},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(readSeed(text), expected) << "text '" << utf16ToUtf8(text) << "'";
    }
}

struct FloatRangeCase {
    const char* text;
    FloatRange expected;
    const char* log;
};

TEST(Attributes, FloatRanges) {
    const FloatRangeCase cases[] = {
        {"[5,2]", {2.0f, 5.0f}, "Float range [5,2] is in wrong order, flipping\r\n"},
        {"7", {7.0f, 7.0f}, ""},
        {"[3]", {0.0f, 0.0f}, ""},
        {"10,20", {0.0f, 20.0f}, ""},
        {"[2, 5]", {2.0f, 5.0f}, ""},
        {"[ 2 , 5 ] trailing", {2.0f, 5.0f}, ""},
        {"", {0.0f, 0.0f}, ""},
        {"[4,4]", {4.0f, 4.0f}, ""},
        {"(1,2)", {1.0f, 2.0f}, ""},
        {",3", {0.0f, 3.0f}, ""},
        {"[1.5,2,9]", {1.5f, 2.0f}, ""},
        {"[0.3333333,0.1]",
         {0.1f, 0.3333333f},
         "Float range [0.333333,0.1] is in wrong order, flipping\r\n"},
        {"[-1,-2]", {-2.0f, -1.0f}, "Float range [-1,-2] is in wrong order, flipping\r\n"},
    };
    for (const FloatRangeCase& c : cases) {
        StringLogSink sink;
        ScopedLogSink scope(sink);
        EXPECT_EQ(readFloatRange(c.text), c.expected) << "text '" << c.text << "'";
        EXPECT_EQ(sink.text(), c.log) << "text '" << c.text << "'";
    }
}

struct UintRangeCase {
    const char* text;
    UintRange expected;
    const char* log;
};

TEST(Attributes, UintRanges) {
    const UintRangeCase cases[] = {
        {"[-1,2]", {2u, 4294967295u}, "UINT range [4294967295,2] is in wrong order, flipping\r\n"},
        {"[1,3]", {1u, 3u}, ""},
        {"[0,1]", {0u, 1u}, ""},
        {"4", {4u, 4u}, ""},
        {"[3]", {0u, 0u}, ""},
        {"10,20", {0u, 20u}, ""},
        {"[9,2]", {2u, 9u}, "UINT range [9,2] is in wrong order, flipping\r\n"},
        {"", {0u, 0u}, ""},
    };
    for (const UintRangeCase& c : cases) {
        StringLogSink sink;
        ScopedLogSink scope(sink);
        EXPECT_EQ(readUintRange(c.text), c.expected) << "text '" << c.text << "'";
        EXPECT_EQ(sink.text(), c.log) << "text '" << c.text << "'";
    }
}

// Which texts the readers take exactly as written; every other one gets a "read as" warning.
TEST(Attributes, PlainTexts) {
    const struct {
        const char* text;
        bool integer, number, floatRange, uintRange;
    } cases[] = {
        {"12", true, true, true, true},          {" -3 ", true, true, true, true},
        {"+7", true, true, true, true},          {"2.5", false, true, true, false},
        {".5", false, true, true, false},        {"5.", false, true, true, false},
        {"1e39", false, true, true, false},      {"1e", false, false, false, false},
        {"1,5", false, false, false, false},     {"50%", false, false, false, false},
        {"tall", false, false, false, false},    {"NaN", false, false, false, false},
        {"", false, false, false, false},        {"-", false, false, false, false},
        {"[2,5]", false, false, true, true},     {"[ 2 , 5 ] ", false, false, true, true},
        {"[-1,2.5]", false, false, true, false}, {" [2,5]", false, false, false, false},
        {"(2,5)", false, false, false, false},   {"[2,5", false, false, false, false},
        {"[2,5] x", false, false, false, false}, {"[3]", false, false, false, false},
        {"[,]", false, false, false, false},     {"[1,2,3]", false, false, false, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(isPlainInt(c.text), c.integer) << "text '" << c.text << "'";
        EXPECT_EQ(isPlainFloat(c.text), c.number) << "text '" << c.text << "'";
        EXPECT_EQ(isPlainFloatRange(c.text), c.floatRange) << "text '" << c.text << "'";
        EXPECT_EQ(isPlainUintRange(c.text), c.uintRange) << "text '" << c.text << "'";
    }
    EXPECT_TRUE(isPlainBool(u"true"));
    EXPECT_TRUE(isPlainBool(u"false"));
    EXPECT_FALSE(isPlainBool(u"yes"));
    EXPECT_FALSE(isPlainBool(u"True"));
    EXPECT_FALSE(isPlainBool(u" true"));
    for (const char16_t* seed : {u"1a2B", u"0x1A2B", u" ff ", u"-5", u"0x123456789abcdef0"}) {
        EXPECT_TRUE(isPlainSeed(seed)) << utf16ToUtf8(seed);
    }
    for (const char16_t* seed : {u"12 monkeys", u"0x", u"xyz", u"", u"0xg"}) {
        EXPECT_FALSE(isPlainSeed(seed)) << utf16ToUtf8(seed);
    }
}

TEST(Attributes, RangeSamples) {
    testsupport::useFreshGenerationContext();
    generationContext().randomState = 0x1234;
    // A single number never varies and draws nothing.
    EXPECT_EQ(readFloatRange("7").sample(), 7.0f);
    EXPECT_EQ(generationContext().randomState, 0x1234u);
    // [0,1] as unsigned never reaches its upper bound.
    const UintRange zeroOne = readUintRange("[0,1]");
    for (int i = 0; i < 50; ++i) {
        EXPECT_EQ(zeroOne.sample(), 0u);
    }
    EXPECT_NE(generationContext().randomState, 0x1234u);
}

} // namespace
} // namespace ombrel
