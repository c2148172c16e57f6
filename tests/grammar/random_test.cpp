#include "grammar/BuildingColour.h"
#include "grammar/GenerationContext.h"
#include "grammar/GrammarState.h"
#include "grammar/Random.h"
#include "grammar/WeightedList.h"
#include "tests/support/FreshContext.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

namespace ombrel {
namespace {

class RandomTest : public ::testing::Test {
protected:
    void SetUp() override { testsupport::useFreshGenerationContext(); }
};

TEST_F(RandomTest, SequenceFromZero) {
    const std::uint32_t expected[] = {715136305u, 703157902u, 3578898599u, 3764622540u};
    const bool bits[] = {true, false, true, false};
    for (int i = 0; i < 4; ++i) {
        const std::uint32_t v = randomNext();
        EXPECT_EQ(v, expected[i]) << "draw " << i;
        EXPECT_EQ((v & 1u) != 0, bits[i]) << "draw " << i;
    }
    generationContext().randomState = 0;
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(randomBit(), bits[i]) << "draw " << i;
    }
}

TEST_F(RandomTest, UnitFromZero) {
    const double expected[] = {0.1665056, 0.1637167, 0.8332773, 0.8765195};
    for (int i = 0; i < 4; ++i) {
        EXPECT_NEAR(randomUnit(), expected[i], 1e-7) << "draw " << i;
    }
}

TEST_F(RandomTest, SequenceFromSeed) {
    generationContext().randomState = 0x12345678u;
    EXPECT_EQ(randomNext(), 0xA4629249u);
    EXPECT_EQ(randomNext(), 0x0ABE05C6u);
    EXPECT_EQ(randomNext(), 0xEC08877Fu);
}

// The state s whose successor is the wanted value v: s = (v - c) * inverse(a) mod 2^32.
std::uint32_t stateBefore(std::uint32_t v) {
    std::uint32_t inv = 0x7FF8A3EDu; // Newton iteration for the inverse of an odd number
    for (int i = 0; i < 5; ++i)
        inv *= 2u - 0x7FF8A3EDu * inv;
    return (v - 0x2AA01D31u) * inv;
}

TEST_F(RandomTest, UnitBounds) {
    struct Case {
        const char* name;
        std::uint32_t next;
        double unit;
    };
    const Case cases[] = {
        {"next 0", 0u, 0.0},
        {"next 4294967294", 4294967294u, 0.0},
        {"largest", 4294967293u, 4294967293.0 * 2.3283064370807974e-10},
        {"all ones", 4294967295u, 1.0 * 2.3283064370807974e-10},
    };
    for (const Case& c : cases) {
        generationContext().randomState = stateBefore(c.next);
        EXPECT_EQ(randomUnit(), c.unit) << c.name;
        EXPECT_EQ(generationContext().randomState, c.next) << c.name;
    }
    EXPECT_LT(4294967293.0 * 2.3283064370807974e-10, 1.0);
}

TEST_F(RandomTest, RangeAndBelow) {
    generationContext().randomState = 0;
    EXPECT_NEAR(randomRange(10.0f, 20.0f), 11.665056, 1e-6);
    generationContext().randomState = 0;
    EXPECT_EQ(randomBelow(10), 715136305u % 10);
}

TEST_F(RandomTest, WeightedPicks) {
    WeightedList<std::string> list;
    list.add(1.0f, "first");
    list.add(3.0f, "second");
    struct Case {
        float u;
        std::size_t index;
    };
    for (const Case& c : {Case{0.0f, 0}, Case{0.2499f, 0}, Case{0.25f, 1}, Case{0.9999f, 1}}) {
        EXPECT_EQ(pickWeightedIndex(list, c.u), c.index) << "u " << c.u;
    }
    // From seed 0 the first draw is about 0.1665 and the third about 0.833.
    generationContext().randomState = 0;
    EXPECT_EQ(pickWeighted(list), "first");
    EXPECT_EQ(pickWeighted(list), "first");
    EXPECT_EQ(pickWeighted(list), "second");
}

TEST_F(RandomTest, OneEntryStillDraws) {
    WeightedList<int> list;
    list.add(0.5f, 42);
    EXPECT_EQ(pickWeighted(list), 42);
    EXPECT_EQ(generationContext().randomState, 715136305u);
}

TEST_F(RandomTest, ZeroWeightsPickFirst) {
    WeightedList<int> list;
    list.add(0.0f, 1);
    list.add(0.0f, 2);
    for (float u : {0.0f, 0.5f, 0.99f}) {
        EXPECT_EQ(pickWeightedIndex(list, u), 0u) << "u " << u;
    }
}

// The pick as a plain walk over the running sum of the shares: what the bounds kept by the list
// must give for every draw.
std::size_t pickBySumming(const std::vector<float>& weights, float total, float u) {
    float acc = 0.0f;
    for (std::size_t i = 0; i < weights.size(); ++i) {
        const float next = acc + weights[i] / total;
        if (acc <= u && u < next) {
            return i;
        }
        acc = next;
    }
    return 0;
}

TEST_F(RandomTest, PicksAsTheRunningSumDoes) {
    struct Case {
        const char* name;
        std::vector<float> weights;
    };
    std::vector<float> many;
    for (int i = 0; i < 1000; ++i) {
        many.push_back(static_cast<float>(1 + (i * 7919) % 13) * 0.37f);
    }
    const Case cases[] = {
        {"one", {0.5f}},
        {"two", {1.0f, 3.0f}},
        {"zero weights between", {1.0f, 0.0f, 0.0f, 2.0f, 0.0f}},
        {"all zero", {0.0f, 0.0f}},
        {"a negative weight", {2.0f, -1.0f, 3.0f}},
        {"negative total", {-1.0f, -2.0f}},
        {"thirds that round", {1.0f, 1.0f, 1.0f}},
        {"many", many},
    };
    for (const Case& c : cases) {
        WeightedList<int> list;
        float total = 0.0f;
        for (std::size_t i = 0; i < c.weights.size(); ++i) {
            list.add(c.weights[i], static_cast<int>(i));
            total += c.weights[i];
        }
        // Draws on, just below and just above every bound, and outside [0, 1).
        std::vector<float> draws{-0.5f, -0.0f, 0.0f, 0.5f, 0.999999f, 1.0f, 1.5f};
        float acc = 0.0f;
        for (const float weight : c.weights) {
            acc = acc + weight / total;
            draws.insert(draws.end(), {acc, std::nextafter(acc, -2.0f), std::nextafter(acc, 2.0f)});
        }
        for (int i = 0; i < 200; ++i) {
            draws.push_back(static_cast<float>(randomUnit()));
        }
        for (const float u : draws) {
            ASSERT_EQ(pickWeightedIndex(list, u), pickBySumming(c.weights, total, u))
                << c.name << ", u " << u;
        }
    }
}

TEST_F(RandomTest, PicksSeeWeightsChangedInPlace) {
    WeightedList<int> list;
    list.add(1.0f, 0);
    list.add(1.0f, 1);
    EXPECT_EQ(pickWeightedIndex(list, 0.25f), 0u);
    list.entries()[0].weight = 0.0f;
    EXPECT_EQ(pickWeightedIndex(list, 0.25f), 1u) << "shares 0 and 1/2 of a total of 2";
    list.add(2.0f, 2);
    EXPECT_EQ(pickWeightedIndex(list, 0.5f), 2u) << "shares 0, 1/4 and 1/2 of a total of 4";
}

TEST(GrammarStateTest, CellRectangle) {
    const GrammarState s = GrammarState::forRect(0, 0, 20, 10, 0x7F7F7F);
    EXPECT_EQ(s.v0, (Vec2{0, 0}));
    EXPECT_EQ(s.v1, (Vec2{0, 10}));
    EXPECT_EQ(s.v2, (Vec2{20, 10}));
    EXPECT_EQ(s.v3, (Vec2{20, 0}));
    EXPECT_EQ(s.height, 0.0f);
}

// Building colours once came from the C library's rand(); their own source must give exactly
// that sequence, so that every city keeps its colours.
TEST(BuildingColourSource, GivesTheSequenceOfTheCLibrary) {
    for (const unsigned seed : {1u, 0u, 2u, 12345u, 4294967295u}) {
        BuildingColourSource source;
        source.seed(seed);
        std::srand(seed);
        for (int i = 0; i < 5000; ++i)
            ASSERT_EQ(source.next(), std::rand()) << "seed " << seed << ", number " << i;
    }
    BuildingColourSource unseeded;
    std::srand(1);
    for (int i = 0; i < 100; ++i)
        ASSERT_EQ(unseeded.next(), std::rand()) << "an unseeded rand() starts as seed 1";
}

// Each context has its own colours: a fresh one starts the sequence again.
TEST(BuildingColourSource, BelongsToTheGenerationContext) {
    GenerationContext first, second;
    GenerationContext* previous = setCurrentGenerationContext(&first);
    const Colour a = randomBuildingColour();
    setCurrentGenerationContext(&second);
    EXPECT_EQ(randomBuildingColour(), a);
    EXPECT_EQ(&generationContext(), &second);
    setCurrentGenerationContext(previous);
    EXPECT_EQ(&generationContext(), previous);
}

} // namespace
} // namespace ombrel
