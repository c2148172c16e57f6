#include "export/StreetNetwork.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>

namespace ombrel {

namespace {

constexpr double kPi = 3.14159265358979323846;
// Widths closer than this count as equal: what is left beside the lanes is no sidewalk.
constexpr double kTiny = 1e-6;

// The decimal a float was written as in the construction file (10.1 rather than
// 10.100000381...), so that the network's numbers stay as short as the file's.
double decimalOf(float value) {
    char text[32];
    const auto [end, ec] = std::to_chars(text, text + sizeof text - 1, value);
    if (ec != std::errc())
        return static_cast<double>(value);
    *end = '\0';
    double out = 0.0;
    std::from_chars(text, end, out);
    return out;
}

// One axis of the grid: where its cells start and which are streets, as the generator places
// them.
struct Axis {
    std::uint32_t count = 0;
    std::uint64_t every = 0; // streetEvery + 1
    std::uint32_t first = 0;
    double cell = 0.0;
    double street = 0.0;

    bool isStreet(std::uint64_t i) const { return i % every == first; }
    double start(std::uint64_t i) const {
        const std::uint64_t k = (every - 1 - first + i) / every; // streets before i
        return static_cast<double>(k) * street + static_cast<double>(i - k) * cell;
    }
    double end(std::uint64_t i) const { return start(i) + (isStreet(i) ? street : cell); }
    // The street lines, in order.
    std::vector<std::uint32_t> streets() const {
        std::vector<std::uint32_t> out;
        for (std::uint64_t i = first; i < count; i += every)
            out.push_back(static_cast<std::uint32_t>(i));
        return out;
    }
};

// A run of street cells between two street lines of the other axis (or the edge).
struct Run {
    std::uint32_t first, last;
    std::optional<std::size_t> before, after; // the crossing line's position in the list
};

std::vector<Run> runsBetween(const std::vector<std::uint32_t>& crossings, std::uint32_t count) {
    std::vector<Run> runs;
    std::uint64_t next = 0;
    std::optional<std::size_t> before;
    for (std::size_t i = 0; i < crossings.size(); ++i) {
        if (crossings[i] > next)
            runs.push_back({static_cast<std::uint32_t>(next), crossings[i] - 1, before, i});
        next = static_cast<std::uint64_t>(crossings[i]) + 1;
        before = i;
    }
    if (next < count)
        runs.push_back({static_cast<std::uint32_t>(next), count - 1, before, std::nullopt});
    return runs;
}

// The unit vector of a heading that is a multiple of a quarter turn, exactly.
struct Direction {
    double x, y;
};

// Heading into the crossing from a side, and out of it through a side.
double headingIn(Side side) {
    switch (side) {
    case Side::south:
        return kPi / 2;
    case Side::east:
        return kPi;
    case Side::north:
        return -kPi / 2;
    default:
        return 0.0;
    }
}

double headingOut(Side side) {
    return headingIn(static_cast<Side>((static_cast<int>(side) + 2) % 4));
}

Direction directionIn(Side side) {
    switch (side) {
    case Side::south:
        return {0.0, 1.0};
    case Side::east:
        return {-1.0, 0.0};
    case Side::north:
        return {0.0, -1.0};
    default:
        return {1.0, 0.0};
    }
}

Direction directionOut(Side side) {
    const Direction in = directionIn(side);
    return {-in.x, -in.y};
}

// Slot of a connection among a junction's twelve: three per side it comes from.
int slotOf(Side from, Side to) {
    const int f = static_cast<int>(from);
    const int t = static_cast<int>(to);
    return f * 3 + (t - f + 4) % 4 - 1;
}

constexpr int kSlots = 12;

void appendLine(Pieces& geometry, double& s, double& x, double& y, double heading,
                Direction direction, double length) {
    if (length <= kTiny)
        return;
    geometry.push_back({s, x, y, heading, length, 0.0});
    x += length * direction.x;
    y += length * direction.y;
    s += length;
}

} // namespace

SideLanes lanesForWidth(double width) {
    SideLanes lanes;
    if (width <= 0.0)
        return lanes;
    lanes.driving = std::max(1, static_cast<int>(std::floor(width / (2 * kLaneWidth) + kTiny)));
    lanes.drivingWidth = std::min(kLaneWidth, width / (2 * lanes.driving));
    const double left = width / 2 - lanes.driving * lanes.drivingWidth;
    lanes.sidewalkWidth = left > kTiny ? left : 0.0;
    return lanes;
}

std::string NetworkRoad::name() const {
    return (column ? "column " : "row ") + std::to_string(line);
}

std::string NetworkJunction::name() const {
    return "column " + std::to_string(column) + ", row " + std::to_string(row);
}

StreetNetwork StreetNetwork::build(const StreetGrid& grid) {
    StreetNetwork net;
    Axis xs{grid.numCellsX, std::uint64_t(grid.streetEveryX) + 1, grid.firstStreetCrossX,
            decimalOf(grid.cellSizeX), decimalOf(grid.streetSizeX)};
    Axis ys{grid.numCellsY, std::uint64_t(grid.streetEveryY) + 1, grid.firstStreetCrossY,
            decimalOf(grid.cellSizeY), decimalOf(grid.streetSizeY)};
    if (grid.streetEveryX == 0 || grid.streetEveryY == 0)
        return net;
    net.east = xs.start(xs.count);
    net.north = ys.start(ys.count);

    const std::vector<std::uint32_t> columns = xs.streets();
    const std::vector<std::uint32_t> rows = ys.streets();
    const bool crossingsAreRoad = grid.crossStreets && xs.street > 0.0 && ys.street > 0.0;
    // A crossing without definitions is a building lot of a whole cell placed at the crossing's
    // corner, so where cells are larger than streets it reaches over the start of the roads
    // north and east of it: those start where it ends.
    const double lotOverX = grid.crossStreets ? 0.0 : std::max(0.0, xs.cell - xs.street);
    const double lotOverY = grid.crossStreets ? 0.0 : std::max(0.0, ys.cell - ys.street);
    // The roads met at each crossing, column by column.
    std::vector<std::array<std::optional<std::size_t>, 4>> arms(columns.size() * rows.size());
    const auto crossing = [&](std::size_t column, std::size_t row) -> auto& {
        return arms[column * rows.size() + row];
    };

    if (grid.verticalStreets && xs.street > 0.0) {
        const SideLanes lanes = lanesForWidth(xs.street);
        const std::vector<Run> runs = runsBetween(rows, ys.count);
        for (std::size_t c = 0; c < columns.size(); ++c) {
            for (const Run& run : runs) {
                NetworkRoad road;
                road.column = true;
                road.line = columns[c];
                road.firstCell = run.first;
                road.lastCell = run.last;
                road.x = xs.start(columns[c]) + xs.street / 2;
                road.y = ys.start(run.first);
                road.heading = kPi / 2;
                if (run.before)
                    road.y += lotOverY;
                road.length = ys.end(run.last) - road.y;
                if (road.length <= kTiny)
                    continue;
                road.lanes = lanes;
                const std::size_t index = net.roads.size();
                if (crossingsAreRoad && run.before)
                    crossing(c, *run.before)[int(Side::north)] = index;
                if (crossingsAreRoad && run.after)
                    crossing(c, *run.after)[int(Side::south)] = index;
                net.roads.push_back(road);
            }
        }
    }
    if (grid.horizontalStreets && ys.street > 0.0) {
        const SideLanes lanes = lanesForWidth(ys.street);
        const std::vector<Run> runs = runsBetween(columns, xs.count);
        for (std::size_t r = 0; r < rows.size(); ++r) {
            for (const Run& run : runs) {
                NetworkRoad road;
                road.column = false;
                road.line = rows[r];
                road.firstCell = run.first;
                road.lastCell = run.last;
                road.x = xs.start(run.first);
                road.y = ys.start(rows[r]) + ys.street / 2;
                road.heading = 0.0;
                if (run.before)
                    road.x += lotOverX;
                road.length = xs.end(run.last) - road.x;
                if (road.length <= kTiny)
                    continue;
                road.lanes = lanes;
                const std::size_t index = net.roads.size();
                if (crossingsAreRoad && run.before)
                    crossing(*run.before, r)[int(Side::east)] = index;
                if (crossingsAreRoad && run.after)
                    crossing(*run.after, r)[int(Side::west)] = index;
                net.roads.push_back(road);
            }
        }
    }
    for (std::size_t i = 0; i < net.roads.size(); ++i)
        net.roads[i].id = i + 1;

    // A crossing is a junction where two roads or more meet; a road that meets no other there
    // simply ends at it.
    for (std::size_t c = 0; c < columns.size(); ++c) {
        for (std::size_t r = 0; r < rows.size(); ++r) {
            const auto& met = crossing(c, r);
            if (std::count_if(met.begin(), met.end(), [](const auto& a) { return a; }) < 2)
                continue;
            NetworkJunction junction;
            junction.id = net.junctions.size() + 1;
            junction.column = columns[c];
            junction.row = rows[r];
            junction.x0 = xs.start(columns[c]);
            junction.x1 = junction.x0 + xs.street;
            junction.y0 = ys.start(rows[r]);
            junction.y1 = junction.y0 + ys.street;
            junction.arms = met;
            if (met[int(Side::south)])
                net.roads[*met[int(Side::south)]].endJunction = junction.id;
            if (met[int(Side::west)])
                net.roads[*met[int(Side::west)]].endJunction = junction.id;
            if (met[int(Side::north)])
                net.roads[*met[int(Side::north)]].startJunction = junction.id;
            if (met[int(Side::east)])
                net.roads[*met[int(Side::east)]].startJunction = junction.id;
            net.junctions.push_back(junction);
        }
    }
    net.firstConnectingId = net.roads.size();
    return net;
}

std::vector<ConnectingRoad> StreetNetwork::connectingRoads(const NetworkJunction& junction) const {
    std::vector<ConnectingRoad> out;
    connectingRoads(junction, out);
    return out;
}

void StreetNetwork::connectingRoads(const NetworkJunction& junction,
                                    std::vector<ConnectingRoad>& out) const {
    out.clear();
    const double cx = (junction.x0 + junction.x1) / 2;
    const double cy = (junction.y0 + junction.y1) / 2;
    // Where a road meets the crossing: the middle of the crossing's edge on that side.
    const auto edgePoint = [&](Side side, double& x, double& y) {
        x = side == Side::east ? junction.x1 : side == Side::west ? junction.x0 : cx;
        y = side == Side::north ? junction.y1 : side == Side::south ? junction.y0 : cy;
    };
    for (int f = 0; f < 4; ++f) {
        if (!junction.arms[f])
            continue;
        for (int t = 0; t < 4; ++t) {
            if (t == f || !junction.arms[t])
                continue;
            ConnectingRoad c;
            c.from = static_cast<Side>(f);
            c.to = static_cast<Side>(t);
            c.junction = junction.id;
            c.id = firstConnectingId + 1 + (junction.id - 1) * kSlots + slotOf(c.from, c.to);
            c.incoming = *junction.arms[f];
            c.outgoing = *junction.arms[t];
            c.incomingAtEnd = c.from == Side::south || c.from == Side::west;
            c.outgoingAtEnd = c.to == Side::south || c.to == Side::west;
            const SideLanes& in = roads[c.incoming].lanes;
            const SideLanes& outLanes = roads[c.outgoing].lanes;
            c.lanes = std::min(in.driving, outLanes.driving);
            c.widthStart = in.drivingWidth;
            c.widthEnd = outLanes.drivingWidth;

            double x = 0.0, y = 0.0, qx = 0.0, qy = 0.0, s = 0.0;
            edgePoint(c.from, x, y);
            edgePoint(c.to, qx, qy);
            const double hIn = headingIn(c.from);
            const double hOut = headingOut(c.to);
            const Direction dIn = directionIn(c.from);
            const Direction dOut = directionOut(c.to);
            if ((t - f + 4) % 4 == 2) {
                appendLine(c.geometry, s, x, y, hIn, dIn, std::hypot(qx - x, qy - y));
            } else {
                // Straight to the turn, a quarter circle as wide as the nearer edge allows, and
                // straight on out: every side's middle line passes through the centre.
                const double in1 = std::hypot(cx - x, cy - y);
                const double out1 = std::hypot(qx - cx, qy - cy);
                const double radius = std::min(in1, out1);
                const bool left = (t - f + 4) % 4 == 3;
                appendLine(c.geometry, s, x, y, hIn, dIn, in1 - radius);
                if (radius > kTiny) {
                    c.geometry.push_back(
                        {s, x, y, hIn, radius * kPi / 2, (left ? 1.0 : -1.0) / radius});
                    s += radius * kPi / 2;
                }
                x = cx + radius * dOut.x;
                y = cy + radius * dOut.y;
                appendLine(c.geometry, s, x, y, hOut, dOut, out1 - radius);
            }
            c.length = s;
            out.push_back(c);
        }
    }
}

std::size_t StreetNetwork::connectingRoadCount() const {
    std::size_t count = 0;
    for (const NetworkJunction& junction : junctions) {
        const auto arms = static_cast<std::size_t>(std::count_if(
            junction.arms.begin(), junction.arms.end(), [](const auto& a) { return a; }));
        count += arms * (arms - 1);
    }
    return count;
}

} // namespace ombrel
