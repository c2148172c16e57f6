#pragma once

// A city's streets as a road network: the roads that run between crossings, the junctions at
// the crossings and the connecting roads that lead through each junction. Computed from the
// grid alone (its parameters and which kinds of street have definitions), so the same file
// always gives the same network whatever the seed.
//
// Coordinates are the city's: x grows with the column, y with the row, z up, the ground at 0.
// Traffic keeps to the right: a road's right lanes (negative ids) run along its reference line,
// its left lanes (positive ids) against it.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ombrel {

// The grid of a generated city, as far as the streets are concerned.
struct StreetGrid {
    std::uint32_t numCellsX = 0;
    std::uint32_t numCellsY = 0;
    std::uint32_t streetEveryX = 0;
    std::uint32_t streetEveryY = 0;
    std::uint32_t firstStreetCrossX = 0;
    std::uint32_t firstStreetCrossY = 0;
    float cellSizeX = 0.0f;
    float cellSizeY = 0.0f;
    float streetSizeX = 0.0f;
    float streetSizeY = 0.0f;
    // Which kinds of street cell have definitions; a kind without any becomes building lots.
    bool crossStreets = true;
    bool horizontalStreets = true;
    bool verticalStreets = true;
};

// The lanes of one side of a road: driving lanes next to the reference line, then a sidewalk
// when the width leaves room for one.
struct SideLanes {
    int driving = 0;
    double drivingWidth = 0.0;
    double sidewalkWidth = 0.0; // 0: no sidewalk
};

// The lanes of a street `width` wide: one driving lane each way of kLaneWidth while the width
// allows, more where it allows more, at least one each way (narrower then); what is left over
// is a sidewalk on each side.
SideLanes lanesForWidth(double width);

inline constexpr double kLaneWidth = 3.25;

// A straight street between two crossings, a crossing and the city's edge, or a crossing and a
// building lot that took a street cell (the road ends where the lot begins).
struct NetworkRoad {
    std::uint64_t id = 0;
    bool column = false;    // along a street column (heading +y) or a street row (heading +x)
    std::uint32_t line = 0; // the street column's or row's index
    std::uint32_t firstCell = 0, lastCell = 0; // the row (column) indices of its cells
    double x = 0.0, y = 0.0;                   // start of the reference line
    double heading = 0.0;                      // radians: pi/2 for columns, 0 for rows
    double length = 0.0;
    SideLanes lanes; // the same on both sides
    // The junctions at its start and its end; 0 where it ends at the city's edge or a lot.
    std::uint64_t startJunction = 0;
    std::uint64_t endJunction = 0;

    // "column 12" or "row 40".
    std::string name() const;
};

// The sides of a crossing, counter-clockwise.
enum class Side { south = 0, east = 1, north = 2, west = 3 };

// A crossing where two or more roads meet.
struct NetworkJunction {
    std::uint64_t id = 0;
    std::uint32_t column = 0, row = 0;
    double x0 = 0.0, y0 = 0.0, x1 = 0.0, y1 = 0.0; // the crossing cell
    // The road on each side (an index into StreetNetwork::roads), none where no road meets it.
    std::array<std::optional<std::size_t>, 4> arms;

    // "column 12, row 40".
    std::string name() const;
};

// One piece of a reference line: a line (curvature 0) or an arc.
struct Geometry {
    double s = 0.0;
    double x = 0.0, y = 0.0, heading = 0.0;
    double length = 0.0;
    double curvature = 0.0;
};

// A reference line of up to three pieces (a line, an arc, a line), held in place: a big city
// has over a million connecting roads.
class Pieces {
public:
    void push_back(const Geometry& g) { items_[count_++] = g; }
    const Geometry* begin() const { return items_.data(); }
    const Geometry* end() const { return items_.data() + count_; }
    std::size_t size() const { return count_; }
    bool empty() const { return count_ == 0; }
    const Geometry& front() const { return items_[0]; }

private:
    std::array<Geometry, 3> items_{};
    std::size_t count_ = 0;
};

// A road inside a junction from one side to another: driving lanes on its right only, each as
// wide as the incoming road's lanes at its start and the outgoing road's at its end.
struct ConnectingRoad {
    std::uint64_t id = 0;
    std::uint64_t junction = 0;
    Side from = Side::south, to = Side::north;
    std::size_t incoming = 0, outgoing = 0; // indices into StreetNetwork::roads
    bool incomingAtEnd = false;             // the junction is at the incoming road's end
    bool outgoingAtEnd = false;             // the junction is at the outgoing road's end
    Pieces geometry;
    double length = 0.0;
    int lanes = 0; // its lanes -1 .. -lanes
    double widthStart = 0.0, widthEnd = 0.0;

    // The lane of the incoming road that its lane -k continues, and the lane of the outgoing
    // road that it leads into (k from 1 to lanes).
    int incomingLane(int k) const { return incomingAtEnd ? -k : k; }
    int outgoingLane(int k) const { return outgoingAtEnd ? k : -k; }
};

class StreetNetwork {
public:
    // The network of a grid. Empty (no roads) when the grid has no streets, every street cell
    // became a building lot, or the streets have no width.
    static StreetNetwork build(const StreetGrid& grid);

    bool empty() const { return roads.empty(); }

    // The connecting roads of a junction: one from every road that meets it to every other,
    // in the order of the sides (south, east, north, west) coming in, then going out. Their ids
    // are fixed by the junction's position in `junctions`, whatever else is asked.
    std::vector<ConnectingRoad> connectingRoads(const NetworkJunction& junction) const;
    // The same into `out`, which is cleared first (so that a writer can reuse it).
    void connectingRoads(const NetworkJunction& junction, std::vector<ConnectingRoad>& out) const;
    std::size_t connectingRoadCount() const;

    // The extent of the grid's cells: (0, 0) to (east, north).
    double east = 0.0, north = 0.0;

    std::vector<NetworkRoad> roads;         // street columns first, then street rows
    std::vector<NetworkJunction> junctions; // column by column, row by row
    // Ids of connecting roads start after this one.
    std::uint64_t firstConnectingId = 0;
};

} // namespace ombrel
