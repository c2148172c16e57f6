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
    };

    // Builds a city from the current randomState (which the last load set and every generation
    // since has advanced) and writes "Generated city [randomSeed=0x%08X]" to the info log.
    // Never fails; empty definition lists leave cells empty.
    // Reports the columns done to `progress` as stage "Generating" when one is given.
    Generated generate(Progress* progress = nullptr) const;

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
    void reserveCells(CityDrawable& city, bool streetsOn) const;
};

} // namespace ombrel
