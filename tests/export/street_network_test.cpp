// The street network of a grid: which roads, junctions and connecting roads it has, where they
// lie, and that every connecting road joins the ends of the roads it connects.
#include "export/StreetNetwork.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <string>

namespace ombrel {
namespace {

constexpr double kPi = 3.14159265358979323846;

StreetGrid grid(std::uint32_t cellsX, std::uint32_t cellsY, std::uint32_t everyX,
                std::uint32_t everyY, std::uint32_t firstX, std::uint32_t firstY, float cellX,
                float cellY, float streetX, float streetY) {
    StreetGrid g;
    g.numCellsX = cellsX;
    g.numCellsY = cellsY;
    g.streetEveryX = everyX;
    g.streetEveryY = everyY;
    g.firstStreetCrossX = firstX;
    g.firstStreetCrossY = firstY;
    g.cellSizeX = cellX;
    g.cellSizeY = cellY;
    g.streetSizeX = streetX;
    g.streetSizeY = streetY;
    return g;
}

// The town example's grid: streets every fourth cell from 0, cells 20, streets 8.
StreetGrid town() {
    return grid(10, 10, 3, 3, 0, 0, 20, 20, 8, 8);
}

StreetGrid without(StreetGrid g, bool cross, bool horizontal, bool vertical) {
    g.crossStreets = !cross;
    g.horizontalStreets = !horizontal;
    g.verticalStreets = !vertical;
    return g;
}

struct CountCase {
    const char* name;
    StreetGrid grid;
    std::size_t roads;
    std::size_t junctions;
    std::size_t connecting;
};

void PrintTo(const CountCase& c, std::ostream* os) {
    *os << c.name;
}

class NetworkCounts : public testing::TestWithParam<CountCase> {};

TEST_P(NetworkCounts, HasTheRoadsJunctionsAndConnectingRoadsOfItsGrid) {
    const CountCase& c = GetParam();
    const StreetNetwork net = StreetNetwork::build(c.grid);
    EXPECT_EQ(net.roads.size(), c.roads);
    EXPECT_EQ(net.junctions.size(), c.junctions);
    EXPECT_EQ(net.connectingRoadCount(), c.connecting);
    std::size_t listed = 0;
    for (const NetworkJunction& j : net.junctions)
        listed += net.connectingRoads(j).size();
    EXPECT_EQ(listed, c.connecting);
    EXPECT_EQ(net.empty(), c.roads == 0);
}

INSTANTIATE_TEST_SUITE_P(
    Grids, NetworkCounts,
    testing::Values(
        // Three street columns and rows: three runs each; corner crossings meet two roads,
        // edge ones three, inner ones four (all turns but U-turns: 2, 6 and 12).
        CountCase{"Town", town(), 18, 9, 2 + 6 * 4 + 12 * 4},
        CountCase{"NoStreetsAcross", grid(10, 10, 0, 3, 0, 0, 20, 20, 8, 8), 0, 0, 0},
        CountCase{"NoStreetsAlong", grid(10, 10, 3, 0, 0, 0, 20, 20, 8, 8), 0, 0, 0},
        CountCase{"NoCells", grid(0, 0, 3, 3, 0, 0, 20, 20, 8, 8), 0, 0, 0},
        // Crossings without definitions are lots: the roads end at them, nothing connects.
        CountCase{"CrossingsAreLots", without(town(), true, false, false), 18, 0, 0},
        // Without street rows the columns meet nothing but each other across a crossing; a
        // crossing at the edge with one road is no junction.
        CountCase{"ColumnsOnly", without(town(), false, true, false), 9, 6, 12},
        CountCase{"RowsOnly", without(town(), false, false, true), 9, 6, 12},
        CountCase{"NothingButCrossings", without(town(), false, true, true), 0, 0, 0},
        // The grid of the layout's worked example: one street column (1) and one row (0).
        CountCase{"WorkedExample", grid(5, 2, 3, 1, 1, 0, 10, 20, 4, 6), 3, 1, 6},
        // Streets on every other cell: roads one cell long, every crossing a corner.
        CountCase{"EveryOtherCell", grid(3, 3, 1, 1, 0, 0, 10, 10, 4, 4), 4, 4, 8},
        // A street narrower than nothing has no road.
        CountCase{"NoWidth", grid(10, 10, 3, 3, 0, 0, 20, 20, -8, 8), 9, 0, 0},
        // One column wide: the column's pieces join straight across its crossings.
        CountCase{"OneColumn", grid(1, 7, 3, 2, 0, 0, 8, 20, 8, 8), 2, 1, 2}),
    [](const auto& info) { return std::string(info.param.name); });

struct LaneCase {
    const char* name;
    double width;
    int driving;
    double drivingWidth;
    double sidewalk;
};

void PrintTo(const LaneCase& c, std::ostream* os) {
    *os << c.name;
}

class Lanes : public testing::TestWithParam<LaneCase> {};

TEST_P(Lanes, OneLaneEachWayPerWidthTheRestSidewalk) {
    const LaneCase& c = GetParam();
    const SideLanes lanes = lanesForWidth(c.width);
    EXPECT_EQ(lanes.driving, c.driving);
    EXPECT_NEAR(lanes.drivingWidth, c.drivingWidth, 1e-9);
    EXPECT_NEAR(lanes.sidewalkWidth, c.sidewalk, 1e-9);
}

INSTANTIATE_TEST_SUITE_P(Widths, Lanes,
                         testing::Values(LaneCase{"Town8", 8, 1, 3.25, 0.75},
                                         LaneCase{"Metropolis10", 10, 1, 3.25, 1.75},
                                         LaneCase{"Downtown12", 12, 1, 3.25, 2.75},
                                         LaneCase{"ExactlyTwoLanes", 6.5, 1, 3.25, 0},
                                         LaneCase{"NarrowerThanTwoLanes", 4, 1, 2, 0},
                                         LaneCase{"FourLanes", 13, 2, 3.25, 0},
                                         LaneCase{"SixLanes", 20, 3, 3.25, 0.25},
                                         LaneCase{"Nothing", 0, 0, 0, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(StreetNetwork, RoadsRunAlongTheMiddleOfTheirCells) {
    // Column 1 spans x 10 to 14, row 0 y 0 to 6; the column's cell in row 1 spans y 6 to 26.
    const StreetNetwork net = StreetNetwork::build(grid(5, 2, 3, 1, 1, 0, 10, 20, 4, 6));
    ASSERT_EQ(net.roads.size(), 3u);
    const NetworkRoad& column = net.roads[0];
    EXPECT_TRUE(column.column);
    EXPECT_EQ(column.name(), "column 1");
    EXPECT_DOUBLE_EQ(column.x, 12);
    EXPECT_DOUBLE_EQ(column.y, 6);
    EXPECT_DOUBLE_EQ(column.length, 20);
    EXPECT_DOUBLE_EQ(column.heading, kPi / 2);
    EXPECT_EQ(column.startJunction, 1u);
    EXPECT_EQ(column.endJunction, 0u);
    const NetworkRoad& west = net.roads[1];
    EXPECT_EQ(west.name(), "row 0");
    EXPECT_DOUBLE_EQ(west.x, 0);
    EXPECT_DOUBLE_EQ(west.y, 3);
    EXPECT_DOUBLE_EQ(west.length, 10);
    EXPECT_EQ(west.endJunction, 1u);
    const NetworkRoad& east = net.roads[2];
    EXPECT_DOUBLE_EQ(east.x, 14);
    EXPECT_DOUBLE_EQ(east.length, 30);
    EXPECT_EQ(east.startJunction, 1u);
    ASSERT_EQ(net.junctions.size(), 1u);
    EXPECT_EQ(net.junctions[0].name(), "column 1, row 0");
    EXPECT_DOUBLE_EQ(net.junctions[0].x0, 10);
    EXPECT_DOUBLE_EQ(net.junctions[0].x1, 14);
    EXPECT_DOUBLE_EQ(net.junctions[0].y1, 6);
    // The cells end at 44 by 26.
    EXPECT_DOUBLE_EQ(net.east, 44);
    EXPECT_DOUBLE_EQ(net.north, 26);
}

TEST(StreetNetwork, RoadsEndWhereALotOnACrossingBegins) {
    // The crossing at column 4, row 4 spans 68 to 76 each way; as a lot it spans 68 to 88,
    // over the first 12 of the roads north and east of it. Those south and west end at 68.
    const StreetNetwork net = StreetNetwork::build(without(town(), true, false, false));
    bool north = false, east = false, south = false, west = false;
    for (const NetworkRoad& road : net.roads) {
        if (road.column && road.line == 4 && road.firstCell == 5) {
            north = true;
            EXPECT_DOUBLE_EQ(road.y, 88);
            EXPECT_DOUBLE_EQ(road.length, 48);
        }
        if (!road.column && road.line == 4 && road.firstCell == 5) {
            east = true;
            EXPECT_DOUBLE_EQ(road.x, 88);
        }
        if (road.column && road.line == 4 && road.lastCell == 3) {
            south = true;
            EXPECT_DOUBLE_EQ(road.y + road.length, 68);
        }
        if (!road.column && road.line == 4 && road.lastCell == 3) {
            west = true;
            EXPECT_DOUBLE_EQ(road.x + road.length, 68);
        }
    }
    EXPECT_TRUE(north && east && south && west);
    // The one-cell pieces at the far edge (cell 9, 144 to 164) keep 8 beyond the lots.
    EXPECT_DOUBLE_EQ(net.roads[2].y, 156);
    EXPECT_DOUBLE_EQ(net.roads[2].length, 8);
    // Cells no larger than streets: nothing is covered.
    StreetGrid even = without(town(), true, false, false);
    even.cellSizeX = even.cellSizeY = 8;
    EXPECT_DOUBLE_EQ(StreetNetwork::build(even).roads[0].y, 8);
}

TEST(StreetNetwork, NumbersAreTheFilesDecimals) {
    const StreetNetwork net =
        StreetNetwork::build(grid(3, 3, 1, 1, 1, 1, 10.1f, 10.1f, 4.2f, 4.2f));
    ASSERT_FALSE(net.roads.empty());
    EXPECT_EQ(net.roads[0].x, 10.1 + 2.1);
}

// Where a reference line ends, walked piece by piece.
struct Pose {
    double x, y, heading;
};

Pose endOf(const Pieces& pieces) {
    Pose p{};
    for (const Geometry& g : pieces) {
        if (g.curvature == 0.0) {
            p = {g.x + g.length * std::cos(g.heading), g.y + g.length * std::sin(g.heading),
                 g.heading};
        } else {
            const double r = 1.0 / g.curvature;
            const double h = g.heading + g.length * g.curvature;
            p = {g.x + r * (std::sin(h) - std::sin(g.heading)),
                 g.y - r * (std::cos(h) - std::cos(g.heading)), h};
        }
    }
    return p;
}

Pose roadEnd(const NetworkRoad& road, bool atEnd) {
    const double l = atEnd ? road.length : 0.0;
    return {road.x + l * std::cos(road.heading), road.y + l * std::sin(road.heading), road.heading};
}

double angleBetween(double a, double b) {
    return std::abs(std::remainder(a - b, 2 * kPi));
}

struct JoinCase {
    const char* name;
    StreetGrid grid;
};

void PrintTo(const JoinCase& c, std::ostream* os) {
    *os << c.name;
}

class ConnectingRoads : public testing::TestWithParam<JoinCase> {};

TEST_P(ConnectingRoads, LeadFromTheEndOfOneRoadToTheEndOfAnother) {
    const StreetNetwork net = StreetNetwork::build(GetParam().grid);
    ASSERT_FALSE(net.junctions.empty());
    std::set<std::uint64_t> ids;
    for (const NetworkRoad& road : net.roads)
        EXPECT_TRUE(ids.insert(road.id).second) << road.id;
    for (const NetworkJunction& j : net.junctions) {
        for (const ConnectingRoad& c : net.connectingRoads(j)) {
            SCOPED_TRACE(j.name() + " from " + std::to_string(int(c.from)) + " to " +
                         std::to_string(int(c.to)));
            EXPECT_TRUE(ids.insert(c.id).second) << c.id;
            EXPECT_NE(c.from, c.to);
            const NetworkRoad& in = net.roads[c.incoming];
            const NetworkRoad& out = net.roads[c.outgoing];
            EXPECT_EQ(c.incomingAtEnd ? in.endJunction : in.startJunction, j.id);
            EXPECT_EQ(c.outgoingAtEnd ? out.endJunction : out.startJunction, j.id);
            ASSERT_FALSE(c.geometry.empty());
            const Geometry& first = c.geometry.front();
            const Pose start = roadEnd(in, c.incomingAtEnd);
            EXPECT_NEAR(first.x, start.x, 1e-9);
            EXPECT_NEAR(first.y, start.y, 1e-9);
            // Driving on: along the road at its end, against it at its start.
            EXPECT_NEAR(angleBetween(first.heading, start.heading + (c.incomingAtEnd ? 0 : kPi)), 0,
                        1e-9);
            const Pose end = endOf(c.geometry);
            const Pose target = roadEnd(out, c.outgoingAtEnd);
            EXPECT_NEAR(end.x, target.x, 1e-9);
            EXPECT_NEAR(end.y, target.y, 1e-9);
            EXPECT_NEAR(angleBetween(end.heading, target.heading + (c.outgoingAtEnd ? kPi : 0)), 0,
                        1e-9);
            double s = 0.0;
            for (const Geometry& g : c.geometry) {
                EXPECT_NEAR(g.s, s, 1e-9);
                EXPECT_GT(g.length, 0.0);
                s += g.length;
            }
            EXPECT_NEAR(c.length, s, 1e-9);
            EXPECT_GE(c.lanes, 1);
            EXPECT_LE(c.lanes, std::min(in.lanes.driving, out.lanes.driving));
            EXPECT_EQ(c.widthStart, in.lanes.drivingWidth);
            EXPECT_EQ(c.widthEnd, out.lanes.drivingWidth);
            // Traffic keeps right: it comes in on the lanes heading into the junction and
            // leaves on those heading away.
            EXPECT_EQ(c.incomingLane(1), c.incomingAtEnd ? -1 : 1);
            EXPECT_EQ(c.outgoingLane(1), c.outgoingAtEnd ? 1 : -1);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Grids, ConnectingRoads,
    testing::Values(JoinCase{"Town", town()},
                    // Crossings longer than wide: turns are a line, an arc and a line.
                    JoinCase{"OblongCrossings", grid(9, 9, 2, 2, 1, 2, 30, 30, 12, 8)},
                    JoinCase{"WideStreets", grid(9, 9, 2, 2, 1, 1, 30, 30, 20, 13)},
                    JoinCase{"ColumnsOnly", without(town(), false, true, false)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(StreetNetwork, IdsStayWhatTheyWere) {
    const StreetNetwork a = StreetNetwork::build(town());
    const StreetNetwork b = StreetNetwork::build(town());
    ASSERT_EQ(a.junctions.size(), b.junctions.size());
    for (std::size_t i = 0; i < a.junctions.size(); ++i) {
        const auto ca = a.connectingRoads(a.junctions[i]);
        const auto cb = b.connectingRoads(b.junctions[i]);
        ASSERT_EQ(ca.size(), cb.size());
        for (std::size_t k = 0; k < ca.size(); ++k)
            EXPECT_EQ(ca[k].id, cb[k].id);
    }
    // Junctions come column by column; connecting roads follow the roads' ids.
    EXPECT_EQ(a.junctions[1].column, 0u);
    EXPECT_EQ(a.junctions[1].row, 4u);
    EXPECT_GT(a.connectingRoads(a.junctions[0]).front().id, a.roads.back().id);
}

} // namespace
} // namespace ombrel
