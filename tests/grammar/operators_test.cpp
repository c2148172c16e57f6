#include "base/Log.h"
#include "grammar/DrawFactories.h"
#include "grammar/Drawables.h"
#include "grammar/GenerationContext.h"
#include "grammar/Operators.h"
#include "grammar/Random.h"
#include "tests/support/FreshContext.h"
#include "vrml/VRNode.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace ombrel {
namespace {

// The cell (0, 0)-(20, 10) that the corner tables below start from.
GrammarState cell() {
    return GrammarState::forRect(0, 0, 20, 10, 0x123456);
}

struct Corners {
    Vec2 v0, v1, v2, v3;
};

void expectCorners(const GrammarState& s, const Corners& want, float tolerance,
                   const std::string& name) {
    const Vec2 got[4] = {s.v0, s.v1, s.v2, s.v3};
    const Vec2 exp[4] = {want.v0, want.v1, want.v2, want.v3};
    for (int i = 0; i < 4; ++i) {
        EXPECT_NEAR(got[i].x, exp[i].x, tolerance) << name << ": v" << i << ".x";
        EXPECT_NEAR(got[i].y, exp[i].y, tolerance) << name << ": v" << i << ".y";
    }
}

// The randomState from which the next randomBit() reports the given bit and leaves the state
// after it.
std::uint32_t stateGivingBit(bool bit) {
    for (std::uint32_t s = 1;; ++s) {
        generationContext().randomState = s;
        if (randomBit() == bit) {
            return s;
        }
    }
}

class OperatorTest : public ::testing::Test {
protected:
    void SetUp() override { testsupport::useFreshGenerationContext(); }
    void TearDown() override { testsupport::useFreshGenerationContext(); }
    StringLogSink log;
    ScopedLogSink scoped{log};
};

TEST_F(OperatorTest, RotateCorners) {
    struct Case {
        const char* name;
        float theta, distance;
        bool bit;
        Corners want;
    };
    const Case cases[] = {
        {"theta 10 distance 0.3 bit false",
         10,
         0.3f,
         false,
         {{0, 3}, {1.234f, 10}, {20, 6.691f}, {18.82f, 0}}},
        {"theta 10 distance 0.3 bit true",
         10,
         0.3f,
         true,
         {{6, 0}, {0, 6.708f}, {18.672f, 10}, {20, 2.469f}}},
        {"theta 0 distance 0.5 bit false", 0, 0.5f, false, {{0, 5}, {0, 10}, {20, 10}, {20, 0}}},
        {"theta 0 distance 0 bit false", 0, 0, false, {{0, 0}, {0, 10}, {20, 10}, {20, 0}}},
    };
    for (const Case& c : cases) {
        const std::uint32_t start = stateGivingBit(c.bit);
        generationContext().randomState = start;
        GrammarState s = cell();
        // Constant ranges draw nothing, so the one draw is the bit.
        EXPECT_EQ(RotateFactory(c.theta, c.distance).create(s), nullptr) << c.name;
        expectCorners(s, c.want, 0.01f, c.name);
        generationContext().randomState = start;
        randomNext();
        const std::uint32_t afterOne = generationContext().randomState;
        generationContext().randomState = start;
        GrammarState again = cell();
        RotateFactory(c.theta, c.distance).create(again);
        EXPECT_EQ(generationContext().randomState, afterOne) << c.name << ": one draw only";
        EXPECT_EQ(s.height, 0.0f) << c.name;
        EXPECT_EQ(s.colour, 0x123456u) << c.name;
    }
}

TEST_F(OperatorTest, RotateDrawsThetaDistanceBitInOrder) {
    generationContext().randomState = 77;
    const float theta = static_cast<float>(randomRange(0, 30));
    const float distance = static_cast<float>(randomRange(0, 1));
    const bool bit = randomBit();
    const std::uint32_t after = generationContext().randomState;

    generationContext().randomState = 77;
    GrammarState expected = cell();
    // Replays the same values as constants with the same bit.
    const std::uint32_t bitState = stateGivingBit(bit);
    generationContext().randomState = bitState;
    RotateFactory(theta, distance).create(expected);

    generationContext().randomState = 77;
    GrammarState s = cell();
    RotateFactory(FloatRange(0, 30), FloatRange(0, 1)).create(s);
    EXPECT_EQ(generationContext().randomState, after);
    expectCorners(s, {expected.v0, expected.v1, expected.v2, expected.v3}, 0.0f, "ranges");
}

TEST_F(OperatorTest, ScaleToCorners) {
    struct Case {
        const char* name;
        ScaleWhere where;
        ScaleType type;
        float sx, sy;
        Corners want;
    };
    const auto rel = ScaleType::relative;
    const Case cases[] = {
        {"center 2 1", ScaleWhere::center, rel, 2, 1, {{-10, 0}, {-10, 10}, {30, 10}, {30, 0}}},
        {"center 1 2", ScaleWhere::center, rel, 1, 2, {{0, -5}, {0, 15}, {20, 15}, {20, -5}}},
        {"v0 2 1", ScaleWhere::v0, rel, 2, 1, {{0, 0}, {0, 20}, {20, 20}, {20, 0}}},
        {"v0 1 2", ScaleWhere::v0, rel, 1, 2, {{0, 0}, {0, 10}, {40, 10}, {40, 0}}},
        {"v0 exact 5 10",
         ScaleWhere::v0,
         ScaleType::exact,
         5,
         10,
         {{0, 0}, {0, 5}, {10, 5}, {10, 0}}},
        // Anchored at v2 the edge v2->v3 is scaled by sx, the others by sy.
        {"v2 0.5 1", ScaleWhere::v2, rel, 0.5f, 1, {{0, 5}, {0, 10}, {20, 10}, {20, 5}}},
        {"v1 1 0.5", ScaleWhere::v1, rel, 1, 0.5f, {{0, 5}, {0, 10}, {20, 10}, {20, 5}}},
        {"v3 1 0.5", ScaleWhere::v3, rel, 1, 0.5f, {{0, 0}, {0, 5}, {20, 5}, {20, 0}}},
        {"unknown anchor",
         static_cast<ScaleWhere>(9),
         rel,
         3,
         3,
         {{0, 0}, {0, 10}, {20, 10}, {20, 0}}},
    };
    for (const Case& c : cases) {
        GrammarState s = cell();
        EXPECT_EQ(ScaleToFactory(c.where, c.sx, c.sy, c.type).create(s), nullptr) << c.name;
        expectCorners(s, c.want, 1e-5f, c.name);
        EXPECT_EQ(s.height, 0.0f) << c.name;
    }
    EXPECT_EQ(log.text(), "");
}

TEST_F(OperatorTest, ScaleToExactOnZeroEdgeLeavesCornersAndWarns) {
    struct Case {
        const char* name;
        GrammarState state;
    };
    const Case cases[] = {
        {"v0 equals v1", GrammarState{{5, 5}, {5, 5}, {20, 10}, {20, 0}, 3, 0}},
        {"v1 equals v2", GrammarState{{0, 0}, {7, 7}, {7, 7}, {20, 0}, 3, 0}},
    };
    for (const Case& c : cases) {
        log.clear();
        generationContext().randomState = 5;
        GrammarState s = c.state;
        ScaleToFactory(ScaleWhere::center, FloatRange(1, 2), FloatRange(1, 2), ScaleType::exact)
            .create(s);
        expectCorners(s, {c.state.v0, c.state.v1, c.state.v2, c.state.v3}, 0.0f, c.name);
        EXPECT_FALSE(std::isnan(s.v0.x)) << c.name;
        EXPECT_EQ(log.text(), "ScaleTo exact on an edge of length 0 ignored\r\n") << c.name;
        // Both samples are still drawn.
        generationContext().randomState = 5;
        randomNext();
        randomNext();
        const std::uint32_t afterTwo = generationContext().randomState;
        generationContext().randomState = 5;
        s = c.state;
        ScaleToFactory(ScaleWhere::center, FloatRange(1, 2), FloatRange(1, 2), ScaleType::exact)
            .create(s);
        EXPECT_EQ(generationContext().randomState, afterTwo) << c.name;
    }
}

TEST_F(OperatorTest, PushPopRestoresSnapshots) {
    GrammarState s = cell();
    s.height = 7;
    generationContext().randomState = 1234;
    PushFactory(3).create(s);
    ASSERT_EQ(generationContext().stateStack.size(), 3u);
    const PopFactory popAll(true, true, true);
    for (int i = 0; i < 3; ++i) {
        GrammarState changed{{1, 1}, {2, 2}, {3, 3}, {4, 4}, 99, 0xABCDEF};
        generationContext().randomState = 9;
        popAll.create(changed);
        expectCorners(changed, {{0, 0}, {0, 10}, {20, 10}, {20, 0}}, 0.0f,
                      "pop " + std::to_string(i));
        EXPECT_EQ(changed.height, 7.0f) << "pop " << i;
        EXPECT_EQ(changed.colour, 0xABCDEFu) << "pop " << i << ": colour is never restored";
        EXPECT_EQ(generationContext().randomState, 1234u) << "pop " << i;
    }
    EXPECT_EQ(log.text(), "");
    popAll.create(s);
    EXPECT_EQ(log.text(), "Poping from an empty stack ignored\r\n");
}

TEST_F(OperatorTest, PopFlagsSelectWhatIsRestored) {
    struct Case {
        const char* name;
        bool cells, height, seed;
    };
    const Case cases[] = {{"nothing", false, false, false},
                          {"cell vertices", true, false, false},
                          {"height", false, true, false},
                          {"random seed", false, false, true}};
    for (const Case& c : cases) {
        testsupport::useFreshGenerationContext();
        GrammarState saved = cell();
        saved.height = 3;
        generationContext().randomState = 111;
        PushFactory(1).create(saved);
        GrammarState s{{1, 1}, {2, 2}, {3, 3}, {4, 4}, 50, 0};
        generationContext().randomState = 222;
        PopFactory(c.cells, c.height, c.seed).create(s);
        EXPECT_EQ(s.v2, (c.cells ? Vec2{20, 10} : Vec2{3, 3})) << c.name;
        EXPECT_EQ(s.height, c.height ? 3.0f : 50.0f) << c.name;
        EXPECT_EQ(generationContext().randomState, c.seed ? 111u : 222u) << c.name;
        EXPECT_TRUE(generationContext().stateStack.empty()) << c.name;
    }
}

TEST_F(OperatorTest, PopRandomSeedRepeatsDraws) {
    GrammarState s = cell();
    generationContext().randomState = 42;
    PushFactory(1).create(s);
    const double first = randomUnit();
    PopFactory(false, false, true).create(s);
    EXPECT_EQ(randomUnit(), first);
}

TEST_F(OperatorTest, PushCountsAsWritten) {
    GrammarState s = cell();
    const GrammarState first = s;
    generationContext().randomState = 7;
    PushFactory(65537).create(s);
    EXPECT_EQ(generationContext().stateStack.size(), 65537u);
    EXPECT_EQ(log.text(), "") << "a count above 65536 is no longer cut";
    s.height = 99;
    s.v0 = Vec2{-1, -1};
    generationContext().randomState = 8;
    const PopFactory pop(true, true, true);
    for (int i = 0; i < 65537; ++i)
        pop.create(s);
    EXPECT_TRUE(generationContext().stateStack.empty());
    EXPECT_EQ(s.height, first.height);
    EXPECT_EQ(s.v0.x, first.v0.x);
    EXPECT_EQ(s.v0.y, first.v0.y);
    EXPECT_EQ(generationContext().randomState, 7u);
    EXPECT_EQ(log.text(), "");

    // A count of -1 in the file fills the stack, and says so once.
    const PushFactory huge(4294967295u);
    EXPECT_EQ(log.text(), "") << "nothing to say while the element is built";
    huge.create(s);
    EXPECT_EQ(generationContext().stateStack.size(), PushPopBase::kMaxStackSize);
    EXPECT_EQ(log.text(), "State stack is full (1048576 entries) - Push cut short\r\n");
    generationContext().stateStack.clear();
    log.clear();

    // The stack as a whole stays bounded too.
    generationContext().stateStack.resize(PushPopBase::kMaxStackSize - 2);
    PushFactory(5).create(s);
    EXPECT_EQ(generationContext().stateStack.size(), PushPopBase::kMaxStackSize);
    EXPECT_EQ(log.text(), "State stack is full (1048576 entries) - Push cut short\r\n");
    PushFactory five(5);
    log.clear();
    five.create(s);
    five.create(s);
    EXPECT_EQ(log.text(), "State stack is full (1048576 entries) - Push cut short\r\n")
        << "once per element";
    EXPECT_EQ(generationContext().stateStack.size(), PushPopBase::kMaxStackSize);
}

// A procedure body that draws one floor and goes up 10.
std::shared_ptr<BBlockFactory> floorAndUp() {
    auto body = std::make_shared<BBlockFactory>();
    body->add(std::make_unique<DrawFloorFactory>());
    body->add(std::make_unique<GoUpFactory>(FloatRange(10)));
    return body;
}

TEST_F(OperatorTest, MaybeDrawsOnceAndRunsChildrenWhenBelow) {
    struct Case {
        const char* name;
        float probability;
        bool taken;
    };
    // From randomState 0 the first draw is about 0.1665.
    const Case cases[] = {{"below", 0.5f, true},
                          {"above", 0.1f, false},
                          {"one always", 1.0f, true},
                          {"zero", 0.0f, false}};
    for (const Case& c : cases) {
        testsupport::useFreshGenerationContext();
        MaybeFactory maybe(c.probability);
        maybe.add(std::make_unique<GoUpFactory>(FloatRange(0, 1))); // one more draw when run
        GrammarState s = cell();
        std::unique_ptr<Drawable> result = maybe.create(s);
        EXPECT_EQ(result != nullptr, c.taken) << c.name;
        EXPECT_EQ(generationContext().randomState, c.taken ? 703157902u : 715136305u) << c.name;
    }
}

TEST_F(OperatorTest, ChoosePicksByWeight) {
    ChooseFactory choose;
    GrammarState s = cell();
    EXPECT_EQ(choose.create(s), nullptr);
    EXPECT_EQ(generationContext().randomState, 0u) << "no options, no draw";

    for (float h : {1.0f, 2.0f}) {
        auto option = std::make_unique<CityCellFactory>();
        option->add(std::make_unique<GoUpFactory>(FloatRange(h)));
        choose.addOption(h == 1.0f ? 1.0f : 3.0f, std::move(option));
    }
    // Draws of about 0.1665 then 0.1637 take the first option; 0.8333 the second.
    const float expected[] = {1, 1, 2, 2};
    for (int i = 0; i < 4; ++i) {
        GrammarState t = cell();
        auto result = choose.create(t);
        ASSERT_NE(result, nullptr) << "draw " << i;
        EXPECT_EQ(t.height, expected[i]) << "draw " << i;
    }
}

TEST_F(OperatorTest, CallRepeatsFromTheLeftState) {
    struct Case {
        const char* name;
        UintRange repeat;
        std::size_t children;
    };
    const Case cases[] = {{"zero", UintRange(0), 0}, {"three", UintRange(3), 3}};
    for (const Case& c : cases) {
        CallFactory call(floorAndUp(), c.repeat);
        GrammarState s = cell();
        auto result = call.create(s);
        auto* compound = dynamic_cast<CompoundDrawable*>(result.get());
        ASSERT_NE(compound, nullptr) << c.name;
        ASSERT_EQ(compound->children.size(), c.children) << c.name;
        EXPECT_EQ(s.height, 10.0f * static_cast<float>(c.children)) << c.name;
        for (std::size_t i = 0; i < c.children; ++i) {
            auto* body = dynamic_cast<CompoundDrawable*>(compound->children[i].get());
            ASSERT_NE(body, nullptr) << c.name;
            auto* floor = dynamic_cast<DrawFloor*>(body->children.at(0).get());
            ASSERT_NE(floor, nullptr) << c.name;
            EXPECT_EQ(floor->baseHeight, 10.0f * static_cast<float>(i)) << c.name << " rep " << i;
        }
    }
}

TEST_F(OperatorTest, CallRepeatRangeNeverReachesUpperBound) {
    CallFactory call(floorAndUp(), UintRange(2, 4));
    bool seen[5] = {};
    for (int i = 0; i < 200; ++i) {
        GrammarState s = cell();
        auto result = call.create(s);
        const std::size_t n = static_cast<CompoundDrawable&>(*result).children.size();
        ASSERT_GE(n, 2u);
        ASSERT_LE(n, 3u);
        seen[n] = true;
    }
    EXPECT_TRUE(seen[2]);
    EXPECT_TRUE(seen[3]);
}

TEST_F(OperatorTest, CallRepeatsAsWritten) {
    auto up = std::make_shared<BBlockFactory>();
    up->add(std::make_unique<GoUpFactory>(FloatRange(1)));
    CallFactory call(up, UintRange(65537));
    GrammarState s = cell();
    const float start = s.height;
    call.create(s);
    EXPECT_EQ(s.height, start + 65537.0f) << "a repeat above 65536 is no longer cut";
    EXPECT_EQ(log.text(), "");
}

// Without a cap of its own, a runaway repeat ends at the cell's step budget.
TEST_F(OperatorTest, CallRepeatEndsAtTheStepBudget) {
    CallFactory call(std::make_shared<BBlockFactory>(), UintRange(4294967295u));
    EXPECT_EQ(log.text(), "");
    GrammarState s = cell();
    auto result = call.create(s);
    EXPECT_EQ(static_cast<CompoundDrawable&>(*result).children.size(),
              CityCellFactory::kMaxCellSteps);
}

TEST_F(OperatorTest, CallKeepsReplacedProcedureAlive) {
    std::shared_ptr<BBlockFactory> table = floorAndUp();
    CallFactory call(table, UintRange(1));
    table = std::make_shared<BBlockFactory>(); // a later procedure of the same name
    GrammarState s = cell();
    auto result = call.create(s);
    EXPECT_EQ(s.height, 10.0f) << "the call still runs the body it was bound to";
}

TEST_F(OperatorTest, ThousandNestedLevelsEvaluate) {
    // Maybe, Choose and Call in turn, 1000 levels deep, a floor at the bottom.
    std::unique_ptr<CityCellFactory> inner = std::make_unique<CityCellFactory>();
    inner->add(std::make_unique<DrawFloorFactory>());
    for (int level = 0; level < 1000; ++level) {
        auto outer = std::make_unique<CityCellFactory>();
        switch (level % 3) {
        case 0: {
            auto maybe = std::make_unique<MaybeFactory>(1.0f);
            maybe->children = std::move(inner->children);
            outer->add(std::move(maybe));
            break;
        }
        case 1: {
            auto choose = std::make_unique<ChooseFactory>();
            choose->addOption(1.0f, std::move(inner));
            outer->add(std::move(choose));
            break;
        }
        default: {
            auto body = std::make_shared<BBlockFactory>();
            body->children = std::move(inner->children);
            outer->add(std::make_unique<CallFactory>(body, UintRange(1)));
            break;
        }
        }
        inner = std::move(outer);
    }
    GrammarState s = cell();
    std::unique_ptr<Drawable> result = inner->create(s);
    int depth = 0;
    const Drawable* d = result.get();
    while (auto* c = dynamic_cast<const CompoundDrawable*>(d)) {
        ASSERT_EQ(c->children.size(), 1u) << "depth " << depth;
        d = c->children[0].get();
        ++depth;
    }
    EXPECT_NE(dynamic_cast<const DrawFloor*>(d), nullptr);
    EXPECT_GE(depth, 1000);
    // Compounds of one child export that child's node, however deep.
    VRRef<VRNode> node = result->toVrml();
    ASSERT_TRUE(node);
    EXPECT_EQ(node->type, VR_SHAPE);
}

} // namespace
} // namespace ombrel
