#include "base/Log.h"
#include "city/CityDefinitions.h"
#include "grammar/BuildingColour.h"
#include "grammar/DrawFactories.h"
#include "grammar/GenerationContext.h"
#include "grammar/Operators.h"
#include "tests/support/FreshContext.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace ombrel {
namespace {

class DefinitionsTest : public ::testing::Test {
protected:
    void SetUp() override { testsupport::useFreshGenerationContext(); }
    void TearDown() override { testsupport::useFreshGenerationContext(); }
    void setCodes(const std::string& x, const std::string& y) {
        generationContext().vrmlTagCodes.codes['X'] = x;
        generationContext().vrmlTagCodes.codes['Y'] = y;
    }
    StringLogSink log;
    ScopedLogSink scoped{log};
};

TEST_F(DefinitionsTest, VrmlTagExpansion) {
    struct Case {
        const char* name;
        std::string tag, x, y;
        std::optional<std::string> result;
        std::string error;
    };
    const Case cases[] = {
        {"column and row", "Building_%X_%Y", "3", "7", "Building_3_7", ""},
        {"lower-case codes", "b%x%y", "12", "0", "b120", ""},
        {"percent", "100%%", "0", "0", "100%", ""},
        {"no codes", "Plain", "1", "2", "Plain", ""},
        {"unknown code", "A%Z", "0", "0", std::nullopt, "not support vrmlTag code '%Z'"},
        {"unknown code upper-cased", "a%q", "0", "0", std::nullopt,
         "not support vrmlTag code '%Q'"},
        {"percent at the end", "A%", "0", "0", std::nullopt,
         "vrmlTag '%' must be followed by an appropriate code character"},
    };
    for (const Case& c : cases) {
        setCodes(c.x, c.y);
        generationContext().vrmlTagCodes.lastError = "stale";
        EXPECT_EQ(expandVrmlTag(c.tag), c.result) << c.name;
        if (c.result && c.tag.find('%') == std::string::npos) {
            continue; // no code, so the recorded error is not touched
        }
        EXPECT_EQ(generationContext().vrmlTagCodes.lastError, c.error) << c.name;
    }
}

TEST_F(DefinitionsTest, BuildingNamesAndTagWarnings) {
    struct Case {
        const char* name;
        std::string tag;
        std::string vrmlName;
        std::string log;
    };
    const Case cases[] = {
        {"no tag", "", "", ""},
        {"tag", "Tower_%X_%Y", "Tower_3_7", ""},
        {"unknown code", "A%Z", "", "VRML tag error, not support vrmlTag code '%Z' - ignored\r\n"},
        {"missing code", "A%", "",
         "VRML tag error, vrmlTag '%' must be followed by an appropriate code character - "
         "ignored\r\n"},
    };
    for (const Case& c : cases) {
        log.clear();
        setCodes("3", "7");
        CityBuildingFactory def(c.tag);
        def.add(std::make_unique<DrawFloorFactory>());
        def.add(std::make_unique<DrawFloorFactory>());
        float low = -5, high = -5;
        Colour colour = 0;
        auto building = def.createBuilding(0, 0, 10, 10, low, high, colour);
        ASSERT_NE(building, nullptr) << c.name;
        EXPECT_EQ(building->children.size(), 2u) << c.name << ": the building is still made";
        EXPECT_EQ(building->vrmlName, c.vrmlName) << c.name;
        EXPECT_EQ(log.text(), c.log) << c.name;
    }
}

TEST_F(DefinitionsTest, BuildingHeights) {
    struct Case {
        const char* name;
        bool popAtEnd;
        float high;
    };
    const Case cases[] = {{"GoUp 10 then a box of 20", false, 30},
                          {"a Pop restores the height", true, 0}};
    for (const Case& c : cases) {
        CityBuildingFactory def;
        def.add(std::make_unique<PushFactory>(1));
        def.add(std::make_unique<GoUpFactory>(FloatRange(10)));
        def.add(std::make_unique<DrawBoxFactory>(false, nullptr, FloatRange(20)));
        if (c.popAtEnd) {
            def.add(std::make_unique<PopFactory>(false, true, false));
        }
        float low = -5, high = -5;
        Colour colour = 0;
        auto building = def.createBuilding(0, 0, 10, 10, low, high, colour);
        EXPECT_EQ(low, 0.0f) << c.name;
        EXPECT_EQ(high, c.high) << c.name;
        auto& box = static_cast<DrawBox&>(*building->children.at(0));
        EXPECT_EQ(box.colour, colour) << c.name << ": the building's colour is its state's";
        generationContext().stateStack.clear();
    }
}

TEST_F(DefinitionsTest, StreetAndBuildingColours) {
    CityStreetFactory street;
    street.add(std::make_unique<DrawFloorFactory>());
    for (float x : {0.0f, 100.0f, -50.0f}) {
        auto cell = street.createCell(x, 0, x + 10, 10);
        auto& floor = static_cast<DrawFloor&>(*static_cast<CompoundDrawable&>(*cell).children[0]);
        EXPECT_EQ(floor.colour, 0x7F7F7Fu) << "street at x " << x;
    }
    EXPECT_EQ(generationContext().randomState, 0u) << "streets draw no colour";

    for (int i = 0; i < 500; ++i) {
        const Colour c = randomBuildingColour();
        const int r = c & 0xFF, g = (c >> 8) & 0xFF, b = (c >> 16) & 0xFF;
        EXPECT_EQ(c >> 24, 0u) << "colour " << i;
        for (int channel : {r, g, b}) {
            EXPECT_TRUE((channel >= 80 && channel <= 95) || (channel >= 112 && channel <= 127))
                << "colour " << i << " channel " << channel;
        }
        EXPECT_GE(std::max(std::abs(g - r), std::abs(b - r)), 30) << "colour " << i;
    }
    EXPECT_EQ(generationContext().randomState, 0u) << "colours come from their own source";
}

} // namespace
} // namespace ombrel
