#include "base/Log.h"
#include "config/CityFactory.h"
#include "grammar/DrawFactories.h"
#include "grammar/GenerationContext.h"
#include "grammar/Operators.h"
#include "grammar/Random.h"
#include "grammar/Texture.h"
#include "tests/support/FreshContext.h"
#include "vrml/VRWriter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ombrel {
namespace {

// Grammars that draw nothing random: GoUp by a marker height, then a floor. The floor's height
// tells which definition made a cell, its corners where the cell lies.
template <class T> std::unique_ptr<T> marker(float height) {
    auto def = std::make_unique<T>();
    def->add(std::make_unique<GoUpFactory>(FloatRange(height)));
    def->add(std::make_unique<DrawFloorFactory>());
    return def;
}

constexpr float kCross = 1, kHorizontal = 2, kVertical = 3, kBuildingA = 10, kBuildingB = 20;

struct Cell {
    float height;
    float x0, y0, x1, y1;
    friend bool operator==(const Cell&, const Cell&) = default;
};

std::ostream& operator<<(std::ostream& os, const Cell& c) {
    return os << "{h " << c.height << ", (" << c.x0 << ", " << c.y0 << ")-(" << c.x1 << ", " << c.y1
              << ")}";
}

std::vector<Cell> cellsOf(const std::vector<std::unique_ptr<Drawable>>& drawables) {
    std::vector<Cell> cells;
    for (const auto& d : drawables) {
        const auto& compound = dynamic_cast<const CompoundDrawable&>(*d);
        const auto& floor = dynamic_cast<const DrawFloor&>(*compound.children.at(0));
        cells.push_back(Cell{floor.baseHeight, floor.corners[0].x, floor.corners[0].y,
                             floor.corners[2].x, floor.corners[2].y});
    }
    return cells;
}

// The 5 x 2 grid: a street column every fourth column from column 1, a street row every second
// row from row 0, cells 10 x 20, streets 4 x 6.
void gridOf5x2(CityFactory& f) {
    f.numCellsX = 5;
    f.numCellsY = 2;
    f.streetEveryX = 3;
    f.firstStreetCrossX = 1;
    f.streetEveryY = 1;
    f.firstStreetCrossY = 0;
    f.cellSizeX = 10;
    f.cellSizeY = 20;
    f.streetSizeX = 4;
    f.streetSizeY = 6;
}

void allDefinitions(CityFactory& f) {
    f.crossStreets.add(1, marker<CityStreetFactory>(kCross));
    f.horizontalStreets.add(1, marker<CityStreetFactory>(kHorizontal));
    f.verticalStreets.add(1, marker<CityStreetFactory>(kVertical));
    f.buildings.add(1, marker<CityBuildingFactory>(kBuildingA));
    f.buildings.add(3, marker<CityBuildingFactory>(kBuildingB));
}

class GenerateTest : public ::testing::Test {
protected:
    void SetUp() override { testsupport::useFreshGenerationContext(); }
    void TearDown() override { testsupport::useFreshGenerationContext(); }
    StringLogSink log;
    ScopedLogSink scoped{log};
};

TEST_F(GenerateTest, GridLayoutKindsDrawsAndBox) {
    CityFactory f;
    gridOf5x2(f);
    allDefinitions(f);
    generationContext().randomState = 0x1234;
    CityFactory::Generated g = f.generate();

    EXPECT_EQ(g.seed, 0x1234u);
    const std::vector<Cell> roads{{kHorizontal, 0, 0, 10, 6},  {kCross, 10, 0, 14, 6},
                                  {kVertical, 10, 6, 14, 26},  {kHorizontal, 14, 0, 24, 6},
                                  {kHorizontal, 24, 0, 34, 6}, {kHorizontal, 34, 0, 44, 6}};
    // Draws of about 0.515, 0.990, 0.093 and 0.673 pick the second, second, first and second
    // building definition (weights 1 and 3).
    const std::vector<Cell> buildings{{kBuildingB, 0, 6, 10, 26},
                                      {kBuildingB, 14, 6, 24, 26},
                                      {kBuildingA, 24, 6, 34, 26},
                                      {kBuildingB, 34, 6, 44, 26}};
    EXPECT_EQ(cellsOf(g.city->roadDrawables), roads);
    EXPECT_EQ(cellsOf(g.city->buildingDrawables), buildings);
    EXPECT_EQ(g.city->buildingColours.size(), 4u);
    // The street column at x = 1 parts the lots: column 0 is block 0, columns 2 to 4 block 1;
    // the street row 0 leaves row 1 in block 1.
    ASSERT_EQ(g.city->buildingCells.size(), 4u);
    const std::uint32_t blockColumns[] = {0, 1, 1, 1};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(g.city->buildingCells[i].blockColumn, blockColumns[i]) << i;
        EXPECT_EQ(g.city->buildingCells[i].blockRow, 1u) << i;
    }

    // One draw per cell, nothing else.
    generationContext().randomState = 0x1234;
    for (int i = 0; i < 10; ++i) {
        randomNext();
    }
    const std::uint32_t afterTen = generationContext().randomState;
    testsupport::useFreshGenerationContext();
    generationContext().randomState = 0x1234;
    f.generate();
    EXPECT_EQ(generationContext().randomState, afterTen);

    // The box spans the cell counts times the cell size, whatever the streets are.
    EXPECT_EQ(g.minCorner, (Vec3{0, 0, 0}));
    EXPECT_EQ(g.maxCorner, (Vec3{50, 40, kBuildingB}));
    EXPECT_EQ(log.text(), "Generated city [randomSeed=0x00001234]\r\n"
                          "Generated city [randomSeed=0x00001234]\r\n");
}

TEST_F(GenerateTest, StreetLayouts) {
    struct Case {
        const char* name;
        std::uint32_t numX, numY, everyX, firstX, everyY, firstY;
        std::vector<Cell> roads, buildings;
    };
    const Case cases[] = {
        {"streets off when streetEveryX is 0",
         2,
         2,
         0,
         0,
         5,
         0,
         {},
         {{kBuildingA, 0, 0, 10, 20},
          {kBuildingA, 0, 20, 10, 40},
          {kBuildingA, 10, 0, 20, 20},
          {kBuildingA, 10, 20, 20, 40}}},
        {"every other column from column 0",
         4,
         1,
         1,
         0,
         3,
         3,
         {{kVertical, 0, 0, 4, 20}, {kVertical, 14, 0, 18, 20}},
         {{kBuildingA, 4, 0, 14, 20}, {kBuildingA, 18, 0, 28, 20}}},
        {"street row last in its period",
         1,
         3,
         3,
         3,
         1,
         1,
         {{kHorizontal, 0, 20, 10, 26}},
         {{kBuildingA, 0, 0, 10, 20}, {kBuildingA, 0, 26, 10, 46}}},
    };
    for (const Case& c : cases) {
        testsupport::useFreshGenerationContext();
        CityFactory f;
        f.numCellsX = c.numX;
        f.numCellsY = c.numY;
        f.streetEveryX = c.everyX;
        f.firstStreetCrossX = c.firstX;
        f.streetEveryY = c.everyY;
        f.firstStreetCrossY = c.firstY;
        f.cellSizeX = 10;
        f.cellSizeY = 20;
        f.streetSizeX = 4;
        f.streetSizeY = 6;
        f.crossStreets.add(1, marker<CityStreetFactory>(kCross));
        f.horizontalStreets.add(1, marker<CityStreetFactory>(kHorizontal));
        f.verticalStreets.add(1, marker<CityStreetFactory>(kVertical));
        f.buildings.add(1, marker<CityBuildingFactory>(kBuildingA));
        CityFactory::Generated g = f.generate();
        EXPECT_EQ(cellsOf(g.city->roadDrawables), c.roads) << c.name;
        EXPECT_EQ(cellsOf(g.city->buildingDrawables), c.buildings) << c.name;
    }
}

TEST_F(GenerateTest, EmptyListsLeaveOrFillCells) {
    struct Case {
        const char* name;
        bool cross, horizontal, vertical, buildings;
        std::vector<Cell> roads, builds;
        float lowest, highest;
    };
    const Case cases[] = {
        {"no crossings: a building lot at the crossing's corner",
         false,
         true,
         true,
         true,
         {{kHorizontal, 0, 0, 10, 6},
          {kVertical, 10, 6, 14, 26},
          {kHorizontal, 14, 0, 24, 6},
          {kHorizontal, 24, 0, 34, 6},
          {kHorizontal, 34, 0, 44, 6}},
         {{kBuildingA, 0, 6, 10, 26},
          {kBuildingA, 10, 0, 20, 20},
          {kBuildingA, 14, 6, 24, 26},
          {kBuildingA, 24, 6, 34, 26},
          {kBuildingA, 34, 6, 44, 26}},
         0,
         kBuildingA},
        {"no buildings: only streets",
         true,
         true,
         true,
         false,
         {{kHorizontal, 0, 0, 10, 6},
          {kCross, 10, 0, 14, 6},
          {kVertical, 10, 6, 14, 26},
          {kHorizontal, 14, 0, 24, 6},
          {kHorizontal, 24, 0, 34, 6},
          {kHorizontal, 34, 0, 44, 6}},
         {},
         1000000,
         -1},
        {"nothing at all", false, false, false, false, {}, {}, 1000000, -1},
    };
    for (const Case& c : cases) {
        testsupport::useFreshGenerationContext();
        CityFactory f;
        gridOf5x2(f);
        if (c.cross)
            f.crossStreets.add(1, marker<CityStreetFactory>(kCross));
        if (c.horizontal)
            f.horizontalStreets.add(1, marker<CityStreetFactory>(kHorizontal));
        if (c.vertical)
            f.verticalStreets.add(1, marker<CityStreetFactory>(kVertical));
        if (c.buildings)
            f.buildings.add(1, marker<CityBuildingFactory>(kBuildingA));
        CityFactory::Generated g = f.generate();
        EXPECT_EQ(cellsOf(g.city->roadDrawables), c.roads) << c.name;
        EXPECT_EQ(cellsOf(g.city->buildingDrawables), c.builds) << c.name;
        EXPECT_EQ(g.minCorner.z, c.lowest) << c.name;
        EXPECT_EQ(g.maxCorner.z, c.highest) << c.name;
        if (!c.cross && !c.horizontal && !c.vertical && !c.buildings) {
            EXPECT_EQ(generationContext().randomState, 0u)
                << c.name << ": empty lists draw nothing";
        }
    }
}

TEST_F(GenerateTest, NoColumnsStillLogs) {
    CityFactory f;
    gridOf5x2(f);
    f.numCellsX = 0;
    allDefinitions(f);
    generationContext().randomState = 0x1A2B;
    CityFactory::Generated g = f.generate();
    EXPECT_TRUE(g.city->buildingDrawables.empty());
    EXPECT_TRUE(g.city->roadDrawables.empty());
    EXPECT_EQ(generationContext().randomState, 0x1A2Bu);
    EXPECT_EQ(g.minCorner, (Vec3{0, 0, 1000000}));
    EXPECT_EQ(g.maxCorner, (Vec3{0, 40, -1}));
    EXPECT_EQ(log.text(), "Generated city [randomSeed=0x00001A2B]\r\n");
}

TEST_F(GenerateTest, EachCellStartsWithoutLastTextureAndWithItsCodes) {
    CityFactory f;
    f.numCellsX = 3;
    f.numCellsY = 2;
    f.cellSizeX = f.cellSizeY = f.streetSizeX = f.streetSizeY = 10;
    auto def = std::make_unique<CityBuildingFactory>("b%x_%y");
    def->add(std::make_unique<DrawFloorFactory>(false, f.lastTextureGroup));
    f.buildings.add(1, std::move(def));
    generationContext().lastTexture = std::make_shared<Texture>("stale.png", 1, 1, false, false);
    CityFactory::Generated g = f.generate();
    std::vector<std::string> names;
    for (const auto& b : g.city->buildingDrawables) {
        const auto& compound = static_cast<const CompoundDrawable&>(*b);
        names.push_back(compound.vrmlName);
        EXPECT_EQ(static_cast<const DrawableBase&>(*compound.children[0]).texture, nullptr);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"b0_0", "b0_1", "b1_0", "b1_1", "b2_0", "b2_1"}));
    std::string expected;
    for (int i = 0; i < 6; ++i) {
        expected += "Last texture group used with no last texture\r\n";
    }
    expected += "Generated city [randomSeed=0x00000000]\r\n";
    EXPECT_EQ(log.text(), expected);
}

TEST_F(GenerateTest, GeneratingAgainContinuesTheSequence) {
    CityFactory f;
    gridOf5x2(f);
    allDefinitions(f);
    generationContext().randomState = 0x1A2B;
    CityFactory::Generated first = f.generate();
    CityFactory::Generated second = f.generate();
    EXPECT_EQ(first.seed, 0x1A2Bu);
    EXPECT_NE(second.seed, first.seed);
    generationContext().randomState = 0x1A2B;
    CityFactory::Generated again = f.generate();
    EXPECT_EQ(cellsOf(again.city->buildingDrawables), cellsOf(first.city->buildingDrawables));
}

// Two Calls of 65536 repeats, one inside the other, asked for four
// billion floors per cell and never finished. Each cell now stops after its step budget, the
// next cell gets a fresh budget, and one warning counts the cells cut short.
TEST_F(GenerateTest, NestedCallRepeatsStopAtTheCellStepBudget) {
    auto leaf = std::make_shared<BBlockFactory>();
    leaf->add(std::make_unique<DrawFloorFactory>());
    auto middle = std::make_shared<BBlockFactory>();
    middle->add(std::make_unique<CallFactory>(leaf, UintRange(65536)));
    auto building = std::make_unique<CityBuildingFactory>();
    building->add(std::make_unique<CallFactory>(middle, UintRange(65536)));
    CityFactory f;
    f.numCellsX = 2;
    f.numCellsY = 1;
    f.cellSizeX = 10;
    f.cellSizeY = 10;
    f.buildings.add(1, std::move(building));
    log.clear();
    CityFactory::Generated g = f.generate();

    ASSERT_EQ(g.city->buildingDrawables.size(), 2u);
    for (const auto& cell : g.city->buildingDrawables) {
        // Building sequence -> outer Call -> its repetitions -> inner Call -> floors.
        std::size_t floors = 0;
        const auto& outer = dynamic_cast<const CompoundDrawable&>(
            *dynamic_cast<const CompoundDrawable&>(*cell).children.at(0));
        for (const auto& rep : outer.children)
            for (const auto& inner : dynamic_cast<const CompoundDrawable&>(*rep).children)
                floors += dynamic_cast<const CompoundDrawable&>(*inner).children.size();
        EXPECT_GT(floors, 0u);
        EXPECT_LT(floors, std::size_t(CityCellFactory::kMaxCellSteps));
    }
    EXPECT_EQ(log.text(), "Grammar too large - 2 cell(s) stopped after 1048576 steps\r\n"
                          "Generated city [randomSeed=0x00000000]\r\n");
}

// A texture group whose images were all left out has nothing to choose from: it makes no draw,
// so the rest of the city comes out as if the element asked for no texture at all.
TEST_F(GenerateTest, AnEmptyTextureGroupLeavesTheRandomSequenceAlone) {
    auto city = [](std::shared_ptr<TextureGroup> group) {
        auto building = std::make_unique<CityBuildingFactory>();
        building->add(std::make_unique<DrawFloorFactory>(false, group));
        building->add(std::make_unique<GoUpFactory>(FloatRange(0, 100)));
        building->add(std::make_unique<DrawFloorFactory>());
        CityFactory f;
        f.numCellsX = 4;
        f.numCellsY = 3;
        f.cellSizeX = 10;
        f.cellSizeY = 10;
        f.buildings.add(1, std::move(building));
        generationContext().randomState = 0x5EED;
        // The random height of each cell's upper floor.
        std::vector<float> heights;
        const CityFactory::Generated g = f.generate();
        for (const auto& d : g.city->buildingDrawables) {
            const auto& compound = dynamic_cast<const CompoundDrawable&>(*d);
            heights.push_back(dynamic_cast<const DrawFloor&>(*compound.children.at(1)).baseHeight);
        }
        return heights;
    };
    const std::vector<float> untextured = city(nullptr);
    const std::vector<float> emptyGroup = city(std::make_shared<TextureGroup>());
    ASSERT_GT(untextured.size(), 2u);
    EXPECT_EQ(emptyGroup, untextured);
}

// What a scene tells of its pieces, and the VRML of each piece's node, in order: buildings and
// roads apart, since a whole scene tells every building before the roads and a band only its own.
class PieceList : public VRSceneSink {
public:
    std::vector<std::string> lines, roads;
    void piece(const VRPiece& p) override {
        (p.kind == VRPiece::Kind::road ? roads : lines)
            .push_back(std::string(p.kind == VRPiece::Kind::road ? "road" : "building") + " " +
                       std::to_string(p.column) + "," + std::to_string(p.row) + " #" +
                       std::to_string(p.number) + " " + p.name + " @" + p.definition);
    }
    void openGroup(VRRef<VRGroup>) override {}
    void node(VRRef<VRNode> node) override {
        std::vector<std::string>& list =
            !roads.empty() && roads.size() > roadsNoded ? roads : lines;
        if (&list == &roads)
            ++roadsNoded;
        list.back() += " " + vrmlText(node.get());
    }
    void closeGroup() override {}

private:
    std::size_t roadsNoded = 0;
};

// Hands every band's pieces on to one list and keeps the ranges.
class BandList : public CityBandSink {
public:
    explicit BandList(std::uint32_t columns, int stopAfter = -1)
        : columns_(columns), stopAfter_(stopAfter) {}
    bool begin(const StreetGrid& grid) override {
        columnsSeen = grid.numCellsX;
        return true;
    }
    std::uint32_t bandColumns() const override { return columns_; }
    bool band(const CityDrawable& band, std::uint32_t first, std::uint32_t end) override {
        ranges.push_back({first, end});
        band.toVrmlScene(false, true, pieces);
        return --stopAfter_ != 0;
    }
    std::vector<std::pair<std::uint32_t, std::uint32_t>> ranges;
    PieceList pieces;
    std::uint32_t columnsSeen = 0;

private:
    std::uint32_t columns_;
    int stopAfter_;
};

void namedDefinitions(CityFactory& f) {
    allDefinitions(f);
    auto file = std::make_shared<const std::string>("town.xml");
    f.buildings.entries()[0].item->place = SourcePlace{file, 12, 5};
    f.buildings.entries()[1].item->place = SourcePlace{file, 30, 3};
    f.buildings.entries()[1].item->vrmlTag = "B_%X_%Y";
}

TEST_F(GenerateTest, BandsHandOverTheSameCityAFewColumnsAtATime) {
    CityFactory f;
    gridOf5x2(f);
    namedDefinitions(f);
    generationContext().randomState = 0x1234;
    CityFactory::Generated whole = f.generate();
    const std::uint32_t after = generationContext().randomState;
    PieceList expected;
    whole.city->toVrmlScene(false, true, expected);
    ASSERT_EQ(expected.lines.size(), 4u);
    ASSERT_EQ(expected.roads.size(), 6u);
    EXPECT_EQ(expected.roads[1].rfind("road 1,0 #0  @ ", 0), 0u) << expected.roads[1];
    EXPECT_EQ(expected.lines[0].rfind("building 0,1 #0 B_0_1 @town.xml:30 ", 0), 0u)
        << expected.lines[0];
    EXPECT_EQ(expected.lines[2].rfind("building 3,1 #2  @town.xml:12 ", 0), 0u)
        << expected.lines[2];
    const std::string wholeLog = log.text();

    for (const std::uint32_t columns : {1u, 2u, 3u, 5u, 9u}) {
        SCOPED_TRACE("bands of " + std::to_string(columns));
        testsupport::useFreshGenerationContext();
        log.clear();
        generationContext().randomState = 0x1234;
        BandList bands(columns);
        CityFactory::Generated streamed = f.generate(nullptr, &bands);
        EXPECT_TRUE(streamed.complete);
        EXPECT_EQ(generationContext().randomState, after);
        EXPECT_EQ(log.text(), wholeLog);
        EXPECT_EQ(bands.pieces.lines, expected.lines);
        EXPECT_EQ(bands.pieces.roads, expected.roads);
        EXPECT_TRUE(streamed.city->buildingDrawables.empty());
        EXPECT_EQ(streamed.city->definitions,
                  (std::vector<std::string>{"town.xml:12", "town.xml:30"}));
        EXPECT_EQ(streamed.maxCorner, whole.maxCorner);
        EXPECT_EQ(bands.columnsSeen, 5u);
        ASSERT_FALSE(bands.ranges.empty());
        EXPECT_EQ(bands.ranges.front().first, 0u);
        EXPECT_EQ(bands.ranges.back().second, 5u);
        for (std::size_t i = 1; i < bands.ranges.size(); ++i)
            EXPECT_EQ(bands.ranges[i].first, bands.ranges[i - 1].second);
    }
}

TEST_F(GenerateTest, ASinkThatStopsEndsTheGenerationSilently) {
    CityFactory f;
    gridOf5x2(f);
    allDefinitions(f);
    BandList bands(2, 1);
    CityFactory::Generated g = f.generate(nullptr, &bands);
    EXPECT_FALSE(g.complete);
    EXPECT_EQ(bands.ranges.size(), 1u);
    EXPECT_EQ(log.text(), "");
}

TEST_F(GenerateTest, PiecesOfColumnsAreTheFilteredScene) {
    CityFactory f;
    gridOf5x2(f);
    namedDefinitions(f);
    CityFactory::Generated g = f.generate();
    const CityDrawable& city = *g.city;
    for (const bool collapse : {false, true}) {
        for (const bool roads : {false, true}) {
            for (const auto& [first, end] : {std::pair{0u, 5u}, {1u, 3u}, {4u, 9u}, {2u, 2u}}) {
                SCOPED_TRACE(std::to_string(first) + ".." + std::to_string(end) +
                             (collapse ? " collapsed" : "") + (roads ? " with roads" : ""));
                PieceList direct, filtered;
                city.piecesOfColumns(collapse, roads, first, end, direct);
                city.VRSceneSource::piecesOfColumns(collapse, roads, first, end, filtered);
                EXPECT_EQ(direct.lines, filtered.lines);
                EXPECT_EQ(direct.roads, filtered.roads);
            }
        }
    }
}
} // namespace
} // namespace ombrel
