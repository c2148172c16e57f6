#include "config/CityFactory.h"

#include "vrml/VRNode.h"

namespace ombrel {

CityFactory::CityDrawable::~CityDrawable() {
    buildingDrawables.clear();
    roadDrawables.clear();
}

void CityFactory::CityDrawable::render() const {
    for (const auto& building : buildingDrawables) {
        building->render();
    }
    // Roads are always drawn in the preview, whatever the export leaves out.
    for (const auto& road : roadDrawables) {
        road->render();
    }
}

VRRef<VRNode> CityFactory::CityDrawable::toVrml() const {
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

} // namespace

VRRef<VRNode> CityFactory::CityDrawable::toVrmlScene(bool collapseBuildings, bool saveRoads) const {
    auto root = makeNode<VRGroup>();
    root->setName("City_Model");
    if (!buildingDrawables.empty()) {
        VRRef<VRNode> buildings = drawablesToVrml(buildingDrawables, "Buildings");
        if (collapseBuildings && buildings) {
            if (buildingDrawables.size() == 1) {
                buildings = collapseBuilding(std::move(buildings), buildingColours.front());
            } else {
                auto& group = static_cast<VRGroup&>(*buildings);
                for (std::size_t i = 0; i < group.children.size(); ++i) {
                    const Colour colour = i < buildingColours.size() ? buildingColours[i] : 0;
                    VRRef<VRNode> shape = collapseBuilding(std::move(group.children[i]), colour);
                    shape->parent = &group;
                    group.children[i] = std::move(shape);
                }
            }
        }
        root->addChild(std::move(buildings));
    }
    if (saveRoads && !roadDrawables.empty()) {
        root->addChild(drawablesToVrml(roadDrawables, "Roads"));
    }
    return root;
}

} // namespace ombrel
