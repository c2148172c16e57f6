// What the preview's log tells of a selected building: its cell, height, name and definition,
// and the drawing elements that drew it with their places, classes and materials.

#include "base/Log.h"
#include "city/BuildingInspection.h"
#include "city/CityDrawable.h"
#include "config/CityFactory.h"
#include "tests/config/LoadSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace ombrel {
namespace {

namespace fs = std::filesystem;

using Lines = std::vector<std::string>;

class InspectionTest : public testsupport::SourceDirTest {
protected:
    // Loads a 3 x 3 city without streets whose one building definition is `building`, written
    // from line 4 on, and generates it.
    void generate(const std::string& building) {
        const fs::path dir = fs::path(::testing::TempDir()) / "inspection";
        fs::create_directories(dir);
        file = (dir / "inspect.xml").string();
        std::ofstream(file, std::ios::binary)
            << "<Ombrel numCellsX=\"3\" numCellsY=\"3\" cellSizeX=\"10\" cellSizeY=\"10\"\n"
               "        streetEveryX=\"100\" streetEveryY=\"100\" randomSeed=\"1\">\n"
               "<Procedure name=\"top\"><DrawPyramid height=\"2\"/></Procedure>\n"
            << building << "</Ombrel>\n";
        const testsupport::Logged loaded = testsupport::loadBody(factory, file);
        ASSERT_TRUE(loaded.ok) << loaded.log;
        city = factory.generate().city;
        ASSERT_NE(city, nullptr);
    }
    Lines described(std::uint32_t column, std::uint32_t row) const {
        const std::optional<std::size_t> index = buildingInCell(*city, column, row);
        EXPECT_TRUE(index) << "column " << column << ", row " << row;
        return index ? describeBuilding(*city, *index) : Lines{};
    }

    // Generation logs its seed; it goes here rather than to the next test's load.
    StringLogSink log;
    ScopedLogSink scoped{log};
    CityFactory factory;
    std::string file;
    std::unique_ptr<CityDrawable> city;
};

TEST_F(InspectionTest, TellsTheCellHeightNameAndEveryElementWithItsPlace) {
    generate("<Building vrmlTag=\"B_%X_%Y\" material=\"concrete\">\n"
             "  <DrawFloor surface=\"park\" material=\"vegetation\"/>\n"
             "  <DrawBox height=\"6\" roofSurface=\"terrace\"/>\n"
             "  <Call name=\"top\"/>\n"
             "</Building>\n");
    EXPECT_EQ(
        described(1, 2),
        (Lines{"Selected the building in column 1, row 2: height 8, vrmlTag name B_1_2, "
               "definition " +
                   file + ":4",
               "Drawn by DrawFloor at " + file + ":5:3: park; material vegetation",
               "Drawn by DrawBox at " + file + ":6:3: floor, wall, terrace; material concrete",
               "Drawn by DrawPyramid at " + file + ":3:23: roof; material concrete"}));
}

TEST_F(InspectionTest, SaysWhenThereIsNoNameAndNoMaterial) {
    generate("<Building>\n"
             "  <DrawBox height=\"3\" closed=\"no\"/>\n"
             "</Building>\n");
    EXPECT_EQ(described(0, 0),
              (Lines{"Selected the building in column 0, row 0: height 3, no vrmlTag name, "
                     "definition " +
                         file + ":4",
                     "Drawn by DrawBox at " + file + ":5:3: wall; no material"}));
}

TEST_F(InspectionTest, OneLineForAnElementThatDrewSeveralTimes) {
    generate("<Building>\n"
             "  <Call name=\"top\" repeat=\"3\"/>\n"
             "</Building>\n");
    EXPECT_EQ(described(2, 2),
              (Lines{"Selected the building in column 2, row 2: height 6, no vrmlTag name, "
                     "definition " +
                         file + ":4",
                     "Drawn by DrawPyramid at " + file + ":3:23: roof; no material"}));
}

TEST_F(InspectionTest, ADefinitionTheCityDoesNotKnowIsSaidToBeUnknown) {
    generate("<Building><DrawFloor/></Building>\n");
    city->definitions.clear();
    const Lines lines = described(0, 1);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front(), "Selected the building in column 0, row 1: height 0, no vrmlTag "
                             "name, definition unknown");
}

TEST_F(InspectionTest, NoBuildingNoLines) {
    generate("<Building><DrawFloor/></Building>\n");
    EXPECT_EQ(buildingInCell(*city, 3, 0), std::nullopt);
    EXPECT_EQ(describeBuilding(*city, city->buildingDrawables.size()), Lines{});
}

} // namespace
} // namespace ombrel
