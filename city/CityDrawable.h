#pragma once

#include "base/Vec.h"
#include "grammar/DrawFactory.h"
#include "vrml/VRSceneSink.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace ombrel {

class Progress;

// One generated city: the buildings with their colours and the roads, in generation order.
class CityDrawable : public Drawable, public VRSceneSource {
public:
    CityDrawable() = default;
    // Destroys every building drawable, then every road drawable.
    ~CityDrawable() override;
    CityDrawable(const CityDrawable&) = delete;
    CityDrawable& operator=(const CityDrawable&) = delete;

    std::vector<std::unique_ptr<Drawable>> buildingDrawables;
    std::vector<Colour> buildingColours; // one per building drawable
    // The cell and height of each building drawable, for exports that record them; a building
    // without an entry is taken as cell (0, 0) of height 0.
    static constexpr std::uint32_t kNoDefinition = 0xFFFFFFFFu;
    struct BuildingCell {
        std::uint32_t column = 0;
        std::uint32_t row = 0;
        float height = 0.0f;
        std::uint32_t blockColumn = 0; // the street block: street columns and rows before it
        std::uint32_t blockRow = 0;
        std::uint32_t definition = kNoDefinition; // its entry in `definitions`
    };
    std::vector<BuildingCell> buildingCells;
    // Where the Building elements the buildings came from start, "FILE:LINE" each.
    std::vector<std::string> definitions;
    std::vector<std::unique_ptr<Drawable>> roadDrawables;
    // The cell of each road drawable; a road without an entry is taken as cell (0, 0).
    struct RoadCell {
        std::uint32_t column = 0;
        std::uint32_t row = 0;
    };
    std::vector<RoadCell> roadCells;
    // The number in the whole city of the first building: not 0 for a band of a city generated
    // a band of columns at a time.
    std::uint32_t firstBuildingNumber = 0;

    // The cells that drew something: buildings and roads.
    std::size_t cellCount() const { return buildingDrawables.size() + roadDrawables.size(); }

    // Every building, then every road.
    void render() const override;
    bool collect(GeometrySink& sink) const override;
    // toVrmlScene(false, true).
    VRRef<VRNode> toVrml() const override;
    // A fresh tree rooted in a Group "City_Model" holding the buildings' node (a Group
    // "Buildings" when there are two or more) and, when saveRoads and there are roads, the
    // roads' node ("Roads"). collapseBuildings turns every building into one Shape of its
    // colour, named like the building.
    VRRef<VRNode> toVrmlScene(bool collapseBuildings, bool saveRoads) const override;
    // The same tree handed to `sink` piece by piece (one building or road at a time, in
    // writing order), so that it never needs to be in memory whole; each building's and road's
    // node is announced to the sink's piece() with its cell. Reports the buildings
    // and roads done to `progress` as stage "Exporting" when one is given.
    void toVrmlScene(bool collapseBuildings, bool saveRoads, VRSceneSink& sink,
                     Progress* progress = nullptr) const override;
    // Finds the band by the cells' columns. A collapsed building takes its own colour.
    void piecesOfColumns(bool collapseBuildings, bool saveRoads, std::uint32_t firstColumn,
                         std::uint32_t endColumn, VRSceneSink& sink) const override;

private:
    // What the scene tells of building `index` and road `index`.
    VRPiece buildingPiece(std::size_t index) const;
    VRPiece roadPiece(std::size_t index) const;
};

} // namespace ombrel
