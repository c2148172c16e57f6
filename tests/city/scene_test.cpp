#include "base/Log.h"
#include "config/CityFactory.h"
#include "grammar/DrawFactories.h"
#include "grammar/GenerationContext.h"
#include "grammar/Operators.h"
#include "tests/support/FreshContext.h"
#include "vrml/VRNode.h"
#include "vrml/VRWriter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ombrel {
namespace {

using City = CityFactory::CityDrawable;

// A compound of `pieces` textured boxes stacked on the cell at x, named `name`.
std::unique_ptr<CompoundDrawable> building(float x, int pieces, const std::string& name) {
    auto group = std::make_shared<TextureGroup>();
    group->textures.add(1, std::make_shared<Texture>("wall.png", 1, 1, false, false));
    CityBuildingFactory def(name);
    for (int i = 0; i < pieces; ++i) {
        def.add(std::make_unique<DrawBoxFactory>(false, group, FloatRange(5)));
    }
    float low, high;
    Colour colour;
    return def.createBuilding(x, 0, x + 10, 10, low, high, colour);
}

std::unique_ptr<Drawable> road(float x) {
    CityStreetFactory def;
    def.add(std::make_unique<DrawFloorFactory>());
    return def.createCell(x, 20, x + 10, 26);
}

void addBuilding(City& city, std::unique_ptr<Drawable> b, Colour colour) {
    city.buildingDrawables.push_back(std::move(b));
    city.buildingColours.push_back(colour);
}

// A compact outline of a tree: kind and DEF name, children in brackets.
std::string outline(const VRNode* node) {
    if (!node) {
        return "none";
    }
    std::string s;
    switch (node->type) {
    case VR_GROUP:
        s = "Group";
        break;
    case VR_SHAPE:
        s = "Shape";
        break;
    default:
        s = "Kind" + std::to_string(node->type);
    }
    if (node->hasName()) {
        s += " " + *node->name;
    }
    if (node->type == VR_GROUP) {
        s += " [";
        const auto& group = static_cast<const VRGroup&>(*node);
        for (std::size_t i = 0; i < group.children.size(); ++i) {
            if (i) {
                s += ", ";
            }
            s += outline(group.children[i].get());
            EXPECT_EQ(group.children[i]->parent, node) << "parent link of " << s;
        }
        s += "]";
    }
    return s;
}

class SceneTest : public ::testing::Test {
protected:
    void SetUp() override { testsupport::useFreshGenerationContext(); }
    void TearDown() override { testsupport::useFreshGenerationContext(); }
    StringLogSink log;
    ScopedLogSink scoped{log};
};

TEST_F(SceneTest, ShapesOfTheTree) {
    struct Case {
        const char* name;
        int buildings, roads;
        bool saveRoads;
        std::string outline;
    };
    const Case cases[] = {
        {"nothing", 0, 0, true, "Group City_Model []"},
        {"roads not saved", 0, 2, false, "Group City_Model []"},
        {"one building", 1, 0, false, "Group City_Model [Group B0 [Shape, Shape]]"},
        {"two buildings", 2, 3, false,
         "Group City_Model [Group Buildings [Group B0 [Shape, Shape], Group B1 [Shape, Shape]]]"},
        {"two buildings and roads", 2, 2, true,
         "Group City_Model [Group Buildings [Group B0 [Shape, Shape], Group B1 [Shape, Shape]], "
         "Group Roads [Shape, Shape]]"},
        {"one road", 0, 1, true, "Group City_Model [Shape]"},
    };
    for (const Case& c : cases) {
        City city;
        for (int i = 0; i < c.buildings; ++i) {
            addBuilding(city, building(20.0f * i, 2, std::string("B") += std::to_string(i)),
                        0x607080);
        }
        for (int i = 0; i < c.roads; ++i) {
            city.roadDrawables.push_back(road(10.0f * i));
        }
        VRRef<VRNode> root = city.toVrmlScene(false, c.saveRoads);
        EXPECT_EQ(outline(root.get()), c.outline) << c.name;
        EXPECT_EQ(root->parent, nullptr) << c.name;
    }
}

TEST_F(SceneTest, CollapseMakesOneColouredShapePerBuilding) {
    City city;
    addBuilding(city, building(0, 2, "Left"), 0x00507F60);
    addBuilding(city, building(20, 3, ""), 0x00605050);
    addBuilding(city, building(40, 2, "Right"), 0x007F5050);
    city.roadDrawables.push_back(road(0));
    city.roadDrawables.push_back(road(10));

    VRRef<VRNode> root = city.toVrmlScene(true, true);
    EXPECT_EQ(outline(root.get()),
              "Group City_Model [Group Buildings [Shape Left, Shape, Shape Right], "
              "Group Roads [Shape, Shape]]");
    const auto& buildings =
        static_cast<const VRGroup&>(*static_cast<const VRGroup&>(*root).children[0]);
    const Colour colours[] = {0x00507F60, 0x00605050, 0x007F5050};
    const std::size_t points[] = {16, 24, 16};
    for (std::size_t i = 0; i < 3; ++i) {
        const auto& shape = static_cast<const VRShape&>(*buildings.children[i]);
        ASSERT_TRUE(shape.appearance) << "building " << i;
        ASSERT_TRUE(shape.appearance->material) << "building " << i;
        EXPECT_EQ(shape.appearance->material->diffuseColor, colourToDiffuse(colours[i]))
            << "building " << i;
        EXPECT_FALSE(shape.appearance->texture) << "building " << i;
        EXPECT_EQ(shape.appearance->parent, &shape) << "building " << i;
        const auto& faces = static_cast<const VRIndexedFaceSet&>(*shape.geometry);
        EXPECT_EQ(faces.coord->point.size(), points[i]) << "building " << i;
        EXPECT_EQ(shape.refCount, 1) << "building " << i;
    }
    // Roads are never collapsed: they keep their own shapes.
    const auto& roads =
        static_cast<const VRGroup&>(*static_cast<const VRGroup&>(*root).children[1]);
    EXPECT_EQ(roads.children[0]->type, VR_SHAPE);
}

TEST_F(SceneTest, CollapseOfTheOnlyBuilding) {
    struct Case {
        const char* name;
        int pieces;
    };
    for (const Case& c : {Case{"two pieces", 2}, Case{"one piece", 1}}) {
        City city;
        addBuilding(city, building(0, c.pieces, "Solo"), 0x00507F60);
        VRRef<VRNode> root = city.toVrmlScene(true, false);
        const auto& group = static_cast<const VRGroup&>(*root);
        ASSERT_EQ(group.children.size(), 1u) << c.name;
        const auto& shape = static_cast<const VRShape&>(*group.children[0]);
        EXPECT_EQ(shape.type, VR_SHAPE) << c.name;
        EXPECT_EQ(shape.parent, &group) << c.name;
        // A single-piece building exports its Shape directly, without the building's name.
        EXPECT_EQ(shape.hasName(), c.pieces > 1) << c.name;
        EXPECT_EQ(shape.appearance->material->diffuseColor, colourToDiffuse(0x00507F60)) << c.name;
        EXPECT_FALSE(shape.appearance->texture) << c.name;
    }
}

// Records what a scene source tells its sink about each building.
class PieceRecorder : public VRSceneSink {
public:
    std::vector<VRPiece> pieces;
    std::vector<bool> nodeNamed;
    void piece(const VRPiece& p) override { pieces.push_back(p); }
    void openGroup(VRRef<VRGroup>) override {}
    void node(VRRef<VRNode> node) override { nodeNamed.push_back(node && node->hasName()); }
    void closeGroup() override {}
};

TEST_F(SceneTest, EveryBuildingIsToldWithItsNameNumberAndBlock) {
    City city;
    addBuilding(city, building(0, 1, "Solo_0_0"), 0x607080);
    addBuilding(city, building(20, 2, "Pair_2_0"), 0x607080);
    addBuilding(city, building(40, 1, ""), 0x607080);
    city.buildingCells = {{0, 0, 5, 0, 0}, {2, 0, 10, 1, 0}, {4, 1, 5, 1, 1}};
    for (const bool collapse : {false, true}) {
        PieceRecorder sink;
        city.toVrmlScene(collapse, false, sink);
        ASSERT_EQ(sink.pieces.size(), 3u) << collapse;
        // The one-piece building's node has no name, but its piece does.
        EXPECT_EQ(sink.nodeNamed, (std::vector<bool>{false, true, false})) << collapse;
        const char* names[] = {"Solo_0_0", "Pair_2_0", ""};
        const std::uint32_t blocks[][2] = {{0, 0}, {1, 0}, {1, 1}};
        for (std::uint32_t i = 0; i < 3; ++i) {
            EXPECT_EQ(sink.pieces[i].name, names[i]) << i;
            EXPECT_EQ(sink.pieces[i].number, i) << i;
            EXPECT_EQ(sink.pieces[i].blockColumn, blocks[i][0]) << i;
            EXPECT_EQ(sink.pieces[i].blockRow, blocks[i][1]) << i;
        }
    }
}

TEST_F(SceneTest, ToVrmlIsTheUncollapsedSceneWithRoads) {
    City city;
    addBuilding(city, building(0, 2, "A"), 0x607080);
    addBuilding(city, building(20, 2, "B"), 0x607080);
    city.roadDrawables.push_back(road(0));
    city.roadDrawables.push_back(road(10));
    VRRef<VRNode> a = city.toVrml();
    VRRef<VRNode> b = city.toVrmlScene(false, true);
    EXPECT_EQ(outline(a.get()), outline(b.get()));
    EXPECT_EQ(vrmlText(a.get()), vrmlText(b.get()));
}

} // namespace
} // namespace ombrel
