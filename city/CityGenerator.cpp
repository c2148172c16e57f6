#include "city/CityGenerator.h"

#include "base/Log.h"
#include "base/Progress.h"
#include "grammar/GenerationContext.h"

#include <algorithm>
#include <cstdio>
#include <string>

namespace ombrel {

namespace {

// How many of count columns (rows) are streets with a street every `every` and the first at
// `first`.
std::uint64_t streetLines(std::uint32_t count, std::uint32_t every, std::uint32_t first) {
    if (count <= first) {
        return 0;
    }
    return (static_cast<std::uint64_t>(count) - 1 - first) /
               (static_cast<std::uint64_t>(every) + 1) +
           1;
}

} // namespace

void CityGenerator::reserveCells(CityDrawable& city, bool streetsOn, std::uint32_t columns) const {
    // Sized up front so that the lists are not copied as they grow; capped, since a grid that
    // large takes its time anyway and may leave many lots empty. A band of `columns` columns
    // is sized as the city's first columns would be.
    constexpr std::uint64_t kMaxReserve = std::uint64_t(1) << 24;
    const std::uint64_t cells = static_cast<std::uint64_t>(columns) * numCellsY;
    std::uint64_t streetCells = 0;
    if (streetsOn) {
        const std::uint64_t cols = streetLines(columns, streetEveryX, firstStreetCrossX);
        const std::uint64_t rows = streetLines(numCellsY, streetEveryY, firstStreetCrossY);
        streetCells = cols * numCellsY + rows * columns - cols * rows;
    }
    const std::uint64_t lots = cells - streetCells;
    if (!buildings.empty()) {
        city.buildingDrawables.reserve(std::min(lots, kMaxReserve));
        city.buildingColours.reserve(std::min(lots, kMaxReserve));
        city.buildingCells.reserve(std::min(lots, kMaxReserve));
    }
    city.roadDrawables.reserve(std::min(streetCells, kMaxReserve));
    city.roadCells.reserve(std::min(streetCells, kMaxReserve));
}

StreetGrid CityGenerator::streetGrid() const {
    StreetGrid grid;
    grid.numCellsX = numCellsX;
    grid.numCellsY = numCellsY;
    grid.streetEveryX = streetEveryX;
    grid.streetEveryY = streetEveryY;
    grid.firstStreetCrossX = firstStreetCrossX;
    grid.firstStreetCrossY = firstStreetCrossY;
    grid.cellSizeX = cellSizeX;
    grid.cellSizeY = cellSizeY;
    grid.streetSizeX = streetSizeX;
    grid.streetSizeY = streetSizeY;
    grid.crossStreets = !crossStreets.empty();
    grid.horizontalStreets = !horizontalStreets.empty();
    grid.verticalStreets = !verticalStreets.empty();
    return grid;
}

CityGenerator::Generated CityGenerator::generate(Progress* progress, CityBandSink* bands) const {
    GenerationContext& process = generationContext();
    Generated out;
    out.seed = process.randomState;
    out.streets = streetGrid();
    out.city = std::make_unique<CityDrawable>();
    // Each building definition's place, where the buildings find it by their definition's entry.
    std::vector<std::string> definitions;
    definitions.reserve(buildings.size());
    for (const auto& entry : buildings.entries()) {
        const SourcePlace& place = entry.item->place;
        definitions.push_back(place ? *place.file + ":" + std::to_string(place.line)
                                    : std::string());
    }
    out.city->definitions = definitions;
    if (bands && !bands->begin(out.streets)) {
        out.complete = false;
        return out;
    }
    // Without bands the city is built in place; with them, in a band city of its own that is
    // handed over and started afresh every bandColumns() columns.
    const std::uint32_t bandColumns = bands ? std::max<std::uint32_t>(bands->bandColumns(), 1) : 0;
    std::unique_ptr<CityDrawable> band;
    std::uint32_t bandStart = 0;
    std::uint32_t buildingsBefore = 0;
    float lowest = 1000000.0f;
    float highest = -1.0f;

    process.cellsCut = 0;
    process.firstCutCall = SourcePlace();
    const bool streetsOn = streetEveryX != 0 && streetEveryY != 0;
    if (!bands)
        reserveCells(*out.city, streetsOn, numCellsX);
    // The code texts are looked up once: map entries stay where they are.
    std::string& xCode = process.vrmlTagCodes.codes['X'];
    std::string& yCode = process.vrmlTagCodes.codes['Y'];
    for (std::uint32_t x = 0; x < numCellsX; ++x) {
        if (bands && !band) {
            band = std::make_unique<CityDrawable>();
            band->definitions = definitions;
            band->firstBuildingNumber = buildingsBefore;
            bandStart = x;
            reserveCells(*band, streetsOn, std::min(bandColumns, numCellsX - x));
        }
        CityDrawable& city = bands ? *band : *out.city;
        if (progress)
            progress->step("Generating", x, numCellsX);
        const std::string xText = std::to_string(x);
        std::uint32_t kx = 0;
        bool streetColumn = false;
        if (streetsOn) {
            kx = (streetEveryX - firstStreetCrossX + x) / (streetEveryX + 1);
            streetColumn = x % (streetEveryX + 1) == firstStreetCrossX;
        }
        const float px =
            static_cast<float>(kx) * streetSizeX + static_cast<float>(x - kx) * cellSizeX;
        for (std::uint32_t y = 0; y < numCellsY; ++y) {
            process.lastTexture.reset();
            xCode = xText;
            yCode = std::to_string(y);
            std::uint32_t ky = 0;
            bool streetRow = false;
            if (streetsOn) {
                ky = (streetEveryY - firstStreetCrossY + y) / (streetEveryY + 1);
                streetRow = y % (streetEveryY + 1) == firstStreetCrossY;
            }
            const float py =
                static_cast<float>(ky) * streetSizeY + static_cast<float>(y - ky) * cellSizeY;

            const WeightedList<std::unique_ptr<CityStreetFactory>>* streets = nullptr;
            float w = cellSizeX;
            float h = cellSizeY;
            if (streetRow && streetColumn) {
                streets = &crossStreets;
                w = streetSizeX;
                h = streetSizeY;
            } else if (streetRow) {
                streets = &horizontalStreets;
                h = streetSizeY;
            } else if (streetColumn) {
                streets = &verticalStreets;
                w = streetSizeX;
            }
            if (streets && !streets->empty()) {
                const auto& def = pickWeighted(*streets);
                city.roadDrawables.push_back(def->createCell(px, py, px + w, py + h));
                city.roadCells.push_back({x, y});
                continue;
            }
            // A building lot, or a street cell without definitions, which takes a building at
            // the building size.
            if (buildings.empty()) {
                continue;
            }
            const std::size_t which =
                pickWeightedIndex(buildings, static_cast<float>(randomUnit()));
            const auto& def = buildings.entries()[which].item;
            float low = 0.0f;
            float high = 0.0f;
            Colour colour = 0;
            city.buildingDrawables.push_back(
                def->createBuilding(px, py, px + cellSizeX, py + cellSizeY, low, high, colour));
            city.buildingColours.push_back(colour);
            city.buildingCells.push_back({x, y, high, kx, ky, std::uint32_t(which)});
            if (low <= lowest) {
                lowest = low;
            }
            if (high >= highest) {
                highest = high;
            }
        }
        if (band && (x + 1 - bandStart == bandColumns || x + 1 == numCellsX)) {
            buildingsBefore += std::uint32_t(band->buildingDrawables.size());
            const bool going = bands->band(*band, bandStart, x + 1);
            band.reset();
            if (!going) {
                out.complete = false;
                return out;
            }
        }
    }
    if (progress)
        progress->step("Generating", numCellsX, numCellsX);
    out.minCorner = Vec3{0.0f, 0.0f, lowest};
    out.maxCorner = Vec3{static_cast<float>(numCellsX) * cellSizeX,
                         static_cast<float>(numCellsY) * cellSizeY, highest};

    if (process.cellsCut > 0) {
        warningLog.at(process.firstCutCall)
            .line("Grammar too large - ", process.cellsCut, " cell(s) stopped after ",
                  CityCellFactory::kMaxCellSteps, " steps");
    }
    char seedText[16];
    std::snprintf(seedText, sizeof seedText, "0x%08X", out.seed);
    infoLog.line("Generated city [randomSeed=", seedText, "]");
    return out;
}

} // namespace ombrel
