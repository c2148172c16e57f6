#include "city/CityDrawable.h"

#include "base/Progress.h"
#include "grammar/Drawables.h"
#include "vrml/VRNode.h"
#include "vrml/VRSceneSink.h"

#include <algorithm>

namespace ombrel {

CityDrawable::~CityDrawable() {
    buildingDrawables.clear();
    roadDrawables.clear();
}

void CityDrawable::render() const {
    for (const auto& building : buildingDrawables) {
        building->render();
    }
    // Roads are always drawn in the preview, whatever the export leaves out.
    for (const auto& road : roadDrawables) {
        road->render();
    }
}

bool CityDrawable::collect(GeometrySink& sink) const {
    for (const auto& building : buildingDrawables) {
        if (!building->collect(sink)) {
            return false;
        }
    }
    for (const auto& road : roadDrawables) {
        if (!road->collect(sink)) {
            return false;
        }
    }
    return true;
}

VRRef<VRNode> CityDrawable::toVrml() const {
    return toVrmlScene(false, true);
}

namespace {

// Replaces a building's node tree by one Shape of the building's colour, named like it.
VRRef<VRNode> collapseBuilding(VRRef<VRNode> building, Colour colour) {
    VRRef<VRShape> shape = collapseToShape(building.get());
    shape->name = building->name;
    auto appearance = makeNode<VRAppearance>();
    auto material = makeNode<VRMaterial>();
    material->diffuseColor = colourToDiffuse(colour);
    appearance->setMaterial(std::move(material));
    shape->setAppearance(std::move(appearance));
    return shape;
}

// Progress is told every this many drawables: often enough for a display, rarely enough to
// cost nothing.
constexpr std::size_t kProgressEvery = 256;

} // namespace

VRRef<VRNode> CityDrawable::toVrmlScene(bool collapseBuildings, bool saveRoads) const {
    VRTreeBuilder builder;
    toVrmlScene(collapseBuildings, saveRoads, builder);
    return builder.result();
}

void CityDrawable::toVrmlScene(bool collapseBuildings, bool saveRoads, VRSceneSink& sink,
                               Progress* progress) const {
    const bool buildings = !buildingDrawables.empty();
    const bool roads = saveRoads && !roadDrawables.empty();
    const std::size_t total = buildingDrawables.size() + (roads ? roadDrawables.size() : 0);
    std::size_t done = 0;
    auto advance = [&] {
        if (progress && ++done % kProgressEvery == 0)
            progress->step("Exporting", done, total);
    };

    auto root = makeNode<VRGroup>();
    root->setName("City_Model");
    if (!buildings && !roads) {
        sink.node(std::move(root));
        return;
    }
    sink.openGroup(std::move(root));
    if (buildings) {
        // One building stands for itself; two or more are gathered under "Buildings".
        const bool single = buildingDrawables.size() == 1;
        if (!single) {
            auto group = makeNode<VRGroup>();
            group->setName("Buildings");
            sink.openGroup(std::move(group));
        }
        std::size_t child = 0;
        std::size_t index = 0;
        for (const auto& drawable : buildingDrawables) {
            VRRef<VRNode> node = drawable->toVrml();
            const std::size_t cell = index++;
            advance();
            if (!node)
                continue;
            if (collapseBuildings) {
                const Colour colour = child < buildingColours.size() ? buildingColours[child] : 0;
                node = collapseBuilding(std::move(node), colour);
            }
            ++child;
            sink.piece(buildingPiece(cell));
            sink.node(std::move(node));
        }
        if (!single)
            sink.closeGroup();
    }
    if (roads) {
        const bool single = roadDrawables.size() == 1;
        if (!single) {
            auto group = makeNode<VRGroup>();
            group->setName("Roads");
            sink.openGroup(std::move(group));
        }
        for (std::size_t index = 0; index < roadDrawables.size(); ++index) {
            VRRef<VRNode> node = roadDrawables[index]->toVrml();
            advance();
            if (node) {
                sink.piece(roadPiece(index));
                sink.node(std::move(node));
            }
        }
        if (!single)
            sink.closeGroup();
    }
    sink.closeGroup();
    if (progress)
        progress->step("Exporting", total, total);
}

VRPiece CityDrawable::buildingPiece(std::size_t index) const {
    VRPiece piece;
    if (index < buildingCells.size()) {
        const BuildingCell& cell = buildingCells[index];
        piece.column = cell.column;
        piece.row = cell.row;
        piece.height = cell.height;
        piece.blockColumn = cell.blockColumn;
        piece.blockRow = cell.blockRow;
        if (cell.definition < definitions.size())
            piece.definition = definitions[cell.definition];
    }
    piece.number = firstBuildingNumber + std::uint32_t(index);
    // A building that drew one piece hands over that piece's node, which carries no name; the
    // name is told beside it.
    if (const auto* compound =
            dynamic_cast<const CompoundDrawable*>(buildingDrawables[index].get()))
        piece.name = compound->vrmlName;
    return piece;
}

VRPiece CityDrawable::roadPiece(std::size_t index) const {
    VRPiece piece;
    piece.kind = VRPiece::Kind::road;
    if (index < roadCells.size()) {
        piece.column = roadCells[index].column;
        piece.row = roadCells[index].row;
    }
    return piece;
}

void CityDrawable::piecesOfColumns(bool collapseBuildings, bool saveRoads,
                                   std::uint32_t firstColumn, std::uint32_t endColumn,
                                   VRSceneSink& sink) const {
    // Cells are listed in generation order, column by column, so a band is one run of each
    // list. Lists without their cells fall back to filtering the whole scene.
    if (buildingCells.size() != buildingDrawables.size() ||
        (saveRoads && roadCells.size() != roadDrawables.size())) {
        VRSceneSource::piecesOfColumns(collapseBuildings, saveRoads, firstColumn, endColumn, sink);
        return;
    }
    const auto firstBuilding =
        std::partition_point(buildingCells.begin(), buildingCells.end(),
                             [&](const BuildingCell& cell) { return cell.column < firstColumn; });
    for (std::size_t i = std::size_t(firstBuilding - buildingCells.begin());
         i < buildingCells.size() && buildingCells[i].column < endColumn; ++i) {
        VRRef<VRNode> node = buildingDrawables[i]->toVrml();
        if (!node)
            continue;
        if (collapseBuildings)
            node = collapseBuilding(std::move(node),
                                    i < buildingColours.size() ? buildingColours[i] : 0);
        sink.piece(buildingPiece(i));
        sink.node(std::move(node));
    }
    if (!saveRoads)
        return;
    const auto firstRoad =
        std::partition_point(roadCells.begin(), roadCells.end(),
                             [&](const RoadCell& cell) { return cell.column < firstColumn; });
    for (std::size_t i = std::size_t(firstRoad - roadCells.begin());
         i < roadCells.size() && roadCells[i].column < endColumn; ++i) {
        VRRef<VRNode> node = roadDrawables[i]->toVrml();
        if (!node)
            continue;
        sink.piece(roadPiece(i));
        sink.node(std::move(node));
    }
}

} // namespace ombrel
