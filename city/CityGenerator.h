#pragma once

#include "base/Vec.h"
#include "city/CityDefinitions.h"
#include "city/CityDrawable.h"
#include "export/StreetNetwork.h"
#include "grammar/WeightedList.h"

#include <cstdint>
#include <memory>

namespace ombrel {

class Progress;

// Takes a city a band of columns at a time as generate() makes it, so that a city too large to
// hold is written out as it grows.
class CityBandSink {
public:
    virtual ~CityBandSink() = default;
    // Told the grid before the first band; returning false stops the generation before it
    // begins.
    virtual bool begin(const StreetGrid& grid) = 0;
    // How many columns a band holds, asked after begin(); at least 1.
    virtual std::uint32_t bandColumns() const = 0;
    // The band of columns [first, end): a city holding just their buildings (numbered on from
    // the bands before, see CityDrawable::firstBuildingNumber) and roads, in generation order;
    // freed when this returns. Returning false stops the generation there.
    virtual bool band(const CityDrawable& band, std::uint32_t first, std::uint32_t end) = 0;
};

// The grid of a city and the street and building definitions that fill it; generates cities
// from them. A construction file fills one (see CityFactory).
class CityGenerator {
public:
    using CityDrawable = ombrel::CityDrawable;

    // What generate() hands back.
    struct Generated {
        std::unique_ptr<CityDrawable> city;
        std::uint32_t seed = 0; // randomState when generation began; reproduces the geometry
        Vec3 minCorner;         // (0, 0, lowest building bottom)
        Vec3 maxCorner;         // (numCellsX * cellSizeX, numCellsY * cellSizeY, highest top)
        StreetGrid streets;     // the grid it was laid out on
        bool complete = true;   // false when a band sink stopped the generation
    };

    // Builds a city from the current randomState (which the last load set and every generation
    // since has advanced) and writes "Generated city [randomSeed=0x%08X]" to the info log.
    // Never fails; empty definition lists leave cells empty.
    // Reports the columns done to `progress` as stage "Generating" when one is given.
    // With `bands`, the city is handed to it band by band and never held whole: the city handed
    // back then has no buildings or roads, only its definitions. The random draws, the city and
    // the log lines are the same either way; a sink that stops the generation leaves the rest
    // of the city ungenerated and logs nothing of it.
    Generated generate(Progress* progress = nullptr, CityBandSink* bands = nullptr) const;

    // The grid's parameters and which kinds of street have definitions: all a street network
    // needs of the city.
    StreetGrid streetGrid() const;

    // City parameters.
    std::uint32_t randomSeed = 0;
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

    // Definitions, picked by weight.
    WeightedList<std::unique_ptr<CityBuildingFactory>> buildings;
    WeightedList<std::unique_ptr<CityStreetFactory>> crossStreets;
    WeightedList<std::unique_ptr<CityStreetFactory>> horizontalStreets;
    WeightedList<std::unique_ptr<CityStreetFactory>> verticalStreets;

private:
    void reserveCells(CityDrawable& city, bool streetsOn, std::uint32_t columns) const;
};

} // namespace ombrel
