#pragma once

// A small city scene for the writers' tests: a named building with a textured wall and a
// coloured floor, a building of one piece with a floor of the same colour (named only when
// the test names it), and one textured road.

#include "vrml/VRNode.h"
#include "vrml/VRSceneSink.h"

#include <cstdint>
#include <string>

namespace ombrel::testsupport {

inline VRRef<VRShape> quad(const MFVec3f& points, Vec3 colour, const std::string& image) {
    auto shape = makeNode<VRShape>();
    auto faces = makeNode<VRIndexedFaceSet>();
    auto coord = makeNode<VRCoordinate>();
    coord->point = points;
    faces->setCoord(std::move(coord));
    faces->coordIndex = {0, 1, 2, 3, -1};
    auto appearance = makeNode<VRAppearance>();
    auto material = makeNode<VRMaterial>();
    material->diffuseColor = colour;
    appearance->setMaterial(std::move(material));
    if (!image.empty()) {
        auto texture = makeNode<VRImageTexture>();
        texture->url = {image};
        appearance->setTexture(std::move(texture));
        auto tex = makeNode<VRTextureCoordinate>();
        tex->point = {{0, 0}, {2, 0}, {2, 1}, {0, 1}};
        faces->setTexCoord(std::move(tex));
        faces->texCoordIndex = {0, 1, 2, 3, -1};
    }
    shape->setAppearance(std::move(appearance));
    shape->setGeometry(std::move(faces));
    return shape;
}

class FakeCity : public VRSceneSource {
public:
    std::string wallImage;
    std::string roadImage;
    std::string shedName;              // the second building's vrmlTag name; empty: none
    std::uint32_t shedBlockColumn = 0; // its street block's column (the tower's is 0)

    VRRef<VRNode> toVrmlScene(bool collapse, bool roads) const override {
        VRTreeBuilder builder;
        toVrmlScene(collapse, roads, builder, nullptr);
        return builder.result();
    }
    void toVrmlScene(bool, bool saveRoads, VRSceneSink& sink, Progress* = nullptr) const override {
        auto root = makeNode<VRGroup>();
        root->setName("City_Model");
        sink.openGroup(std::move(root));
        auto buildings = makeNode<VRGroup>();
        buildings->setName("Buildings");
        sink.openGroup(std::move(buildings));
        auto tower = makeNode<VRGroup>();
        tower->setName("Tower_1_2");
        // A wall facing the city's y = 0 edge, and a floor whose colour is clamped to 1.
        tower->addChild(quad({{0, 2, 0}, {10, 2, 0}, {10, 2, 5}, {0, 2, 5}}, {1, 1, 1}, wallImage));
        tower->addChild(
            quad({{0, 2, 0}, {0, 4, 0}, {10, 4, 0}, {10, 2, 0}}, {1.2f, 0.5f, 0.25f}, ""));
        VRPiece towerPiece;
        towerPiece.column = 1;
        towerPiece.row = 2;
        towerPiece.height = 12.5f;
        towerPiece.name = "Tower_1_2";
        sink.piece(towerPiece);
        sink.node(std::move(tower));
        // A building that drew one piece: its node is the Shape itself, without a name.
        VRPiece shed;
        shed.column = 3;
        shed.row = 4;
        shed.height = 1.0f;
        shed.number = 1;
        shed.name = shedName;
        shed.blockColumn = shedBlockColumn;
        sink.piece(shed);
        sink.node(quad({{0, 6, 0}, {0, 8, 0}, {10, 8, 0}, {10, 6, 0}}, {1.2f, 0.5f, 0.25f}, ""));
        sink.closeGroup();
        if (saveRoads) {
            auto roads = makeNode<VRGroup>();
            roads->setName("Roads");
            sink.openGroup(std::move(roads));
            VRPiece road;
            road.kind = VRPiece::Kind::road;
            sink.piece(road);
            sink.node(quad({{0, -4, 0}, {10, -4, 0}, {10, 0, 0}, {0, 0, 0}}, {0.5f, 0.5f, 0.5f},
                           roadImage));
            sink.closeGroup();
        }
        sink.closeGroup();
    }
};

} // namespace ombrel::testsupport
