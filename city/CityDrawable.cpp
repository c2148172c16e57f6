#include "city/CityDrawable.h"

#include "base/Progress.h"
#include "grammar/Drawables.h"
#include "vrml/VRNode.h"
#include "vrml/VRSceneSink.h"

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
            VRPiece piece;
            if (cell < buildingCells.size()) {
                piece.column = buildingCells[cell].column;
                piece.row = buildingCells[cell].row;
                piece.height = buildingCells[cell].height;
                piece.blockColumn = buildingCells[cell].blockColumn;
                piece.blockRow = buildingCells[cell].blockRow;
            }
            piece.number = std::uint32_t(cell);
            // A building that drew one piece hands over that piece's node, which carries no
            // name; the name is told beside it.
            if (const auto* compound = dynamic_cast<const CompoundDrawable*>(drawable.get()))
                piece.name = compound->vrmlName;
            ++child;
            sink.piece(piece);
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
        for (const auto& drawable : roadDrawables) {
            VRRef<VRNode> node = drawable->toVrml();
            advance();
            if (node) {
                VRPiece piece;
                piece.kind = VRPiece::Kind::road;
                sink.piece(piece);
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

} // namespace ombrel
