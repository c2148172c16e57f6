#include "base/Log.h"
#include "grammar/DrawFactories.h"
#include "grammar/Drawables.h"
#include "grammar/GenerationContext.h"
#include "grammar/Random.h"
#include "grammar/Range.h"
#include "grammar/SurfaceLabels.h"
#include "grammar/Texture.h"
#include "tests/support/FreshContext.h"
#include "vrml/VRNode.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace ombrel {
namespace {

GrammarState cell(float height = 0) {
    GrammarState s = GrammarState::forRect(0, 0, 20, 10, 0x00507F60);
    s.height = height;
    return s;
}

std::shared_ptr<TextureGroup> groupOf(std::shared_ptr<Texture> texture) {
    auto group = std::make_shared<TextureGroup>();
    group->textures.add(1.0f, std::move(texture));
    return group;
}

std::shared_ptr<Texture> texture(float sx, float sy, bool relW, bool relH) {
    return std::make_shared<Texture>("img/facade.png", sx, sy, relW, relH);
}

const VRIndexedFaceSet& facesOf(const VRRef<VRNode>& node) {
    EXPECT_EQ(node->type, VR_SHAPE);
    const auto& shape = static_cast<const VRShape&>(*node);
    EXPECT_EQ(shape.geometry->type, VR_INDEXED_FACE_SET);
    return static_cast<const VRIndexedFaceSet&>(*shape.geometry);
}

class DrawableTest : public ::testing::Test {
protected:
    void SetUp() override { testsupport::useFreshGenerationContext(); }
    void TearDown() override { testsupport::useFreshGenerationContext(); }
    StringLogSink log;
    ScopedLogSink scoped{log};
};

TEST_F(DrawableTest, RangeSampling) {
    EXPECT_EQ(FloatRange(7).sample(), 7.0f);
    EXPECT_EQ(UintRange(7).sample(), 7u);
    EXPECT_EQ(generationContext().randomState, 0u) << "equal bounds draw nothing";
    EXPECT_NEAR(FloatRange(10, 20).sample(), 11.665056f, 1e-4f);
    EXPECT_EQ(generationContext().randomState, 715136305u);
    for (int i = 0; i < 100; ++i) {
        EXPECT_EQ(UintRange(0, 1).sample(), 0u) << "draw " << i;
    }
    // Bounds near 2^32 round up as floats; the result stays below the upper bound.
    for (int i = 0; i < 100; ++i) {
        EXPECT_LT(UintRange(4294967290u, 4294967295u).sample(), 4294967295u) << "draw " << i;
    }
}

TEST_F(DrawableTest, BoxCaptureAndRepeats) {
    struct Case {
        const char* name;
        std::shared_ptr<Texture> tex;
        float repeatS, repeatT;
    };
    const Case cases[] = {
        {"no texture", nullptr, 0, 0},
        {"relative to width", texture(2, 3, true, false), 1, 3},
        {"relative to height", texture(2, 3, false, true), 2, 3},
        {"not relative", texture(2, 3, false, false), 2, 3},
    };
    for (const Case& c : cases) {
        testsupport::useFreshGenerationContext();
        DrawBoxFactory factory(false, c.tex ? groupOf(c.tex) : nullptr, FloatRange(30));
        GrammarState s = cell(5);
        auto result = factory.create(s);
        auto* box = dynamic_cast<DrawBox*>(result.get());
        ASSERT_NE(box, nullptr) << c.name;
        EXPECT_EQ(box->baseHeight, 5.0f) << c.name;
        EXPECT_EQ(box->topHeight, 35.0f) << c.name;
        EXPECT_EQ(s.height, 35.0f) << c.name;
        EXPECT_EQ(box->repeatS, c.repeatS) << c.name;
        EXPECT_EQ(box->repeatT, c.repeatT) << c.name;
        EXPECT_EQ(box->texture, c.tex) << c.name;
        EXPECT_EQ(box->colour, 0x00507F60u) << c.name;
        EXPECT_EQ(box->corners[1], (Vec2{0, 10})) << c.name;
        EXPECT_EQ(generationContext().lastTexture, c.tex) << c.name;
    }
}

TEST_F(DrawableTest, ShapesBeyondTheFloatRangeAreLeftOut) {
    constexpr float kMax = 3.4028235e38f; // what 1e39 in a file reads as
    struct Case {
        const char* name;
        std::unique_ptr<DrawFactory> factory;
        GrammarState state;
        const char* warning;
    };
    GrammarState farCell = GrammarState::forRect(kMax, 0, kMax, 10, 0);
    farCell.v2.x = farCell.v3.x = -kMax; // the pyramid's centre overflows, the corners do not
    GrammarState infinite = cell(5);
    infinite.v1.x = std::numeric_limits<float>::infinity();
    GrammarState notANumber = cell(5);
    notANumber.height = std::nanf("");
    Case cases[] = {
        {"box top", std::make_unique<DrawBoxFactory>(false, nullptr, FloatRange(kMax)), cell(kMax),
         "DrawBox with coordinates out of range ignored\r\n"},
        {"box repeats",
         std::make_unique<DrawBoxFactory>(false, groupOf(texture(1, kMax, false, true)),
                                          FloatRange(60)),
         cell(5), "DrawBox with coordinates out of range ignored\r\n"},
        {"pyramid centre", std::make_unique<DrawPyramidFactory>(false, nullptr, FloatRange(1)),
         farCell, "DrawPyramid with coordinates out of range ignored\r\n"},
        {"floor corner", std::make_unique<DrawFloorFactory>(), infinite,
         "DrawFloor with coordinates out of range ignored\r\n"},
        {"floor height", std::make_unique<DrawFloorFactory>(), notANumber,
         "DrawFloor with coordinates out of range ignored\r\n"},
    };
    for (Case& c : cases) {
        log.clear();
        const float height = c.state.height;
        EXPECT_EQ(c.factory->create(c.state), nullptr) << c.name;
        EXPECT_EQ(log.text(), c.warning) << c.name;
        EXPECT_TRUE(c.state.height == height || std::isnan(height)) << c.name << ": state kept";
    }
}

TEST_F(DrawableTest, BoxSamplesHeightBeforeTexture) {
    auto group = std::make_shared<TextureGroup>();
    auto a = texture(1, 1, false, false);
    auto b = texture(1, 1, false, false);
    group->textures.add(1, a);
    group->textures.add(1, b);
    // From state 0 the draws are about 0.1665 (height) and 0.1637 (texture, the first).
    DrawBoxFactory factory(false, group, FloatRange(0, 100));
    GrammarState s = cell();
    auto result = factory.create(s);
    auto& box = static_cast<DrawBox&>(*result);
    EXPECT_NEAR(box.topHeight, 16.65056f, 1e-3f);
    EXPECT_EQ(box.texture, a);
    // The next height takes the third draw (about 0.833), the pick the fourth (about 0.877).
    auto second = factory.create(s);
    EXPECT_EQ(static_cast<DrawBox&>(*second).texture, b);
}

TEST_F(DrawableTest, BoxVrmlFaces) {
    struct Case {
        const char* name;
        ClosedMode closed;
        std::size_t indexCount;
        std::vector<int> first, last;
    };
    const Case cases[] = {
        {"no", ClosedMode::no, 20, {0, 1, 5, 4, -1}, {3, 0, 4, 7, -1}},
        {"only top", ClosedMode::onlyTop, 25, {0, 1, 5, 4, -1}, {4, 5, 6, 7, -1}},
        {"only bottom", ClosedMode::onlyBottom, 25, {3, 2, 1, 0, -1}, {3, 0, 4, 7, -1}},
        {"yes", ClosedMode::yes, 30, {3, 2, 1, 0, -1}, {4, 5, 6, 7, -1}},
    };
    for (const Case& c : cases) {
        for (bool textured : {false, true}) {
            const std::string name = std::string(c.name) + (textured ? " textured" : "");
            auto tex = texture(2, 3, false, false);
            DrawBoxFactory factory(false, textured ? groupOf(tex) : nullptr, FloatRange(30),
                                   c.closed);
            GrammarState s = cell(5);
            VRRef<VRNode> node = factory.create(s)->toVrml();
            const VRIndexedFaceSet& faces = facesOf(node);
            ASSERT_EQ(faces.coordIndex.size(), c.indexCount) << name;
            EXPECT_EQ(std::vector<int>(faces.coordIndex.begin(), faces.coordIndex.begin() + 5),
                      c.first)
                << name;
            EXPECT_EQ(std::vector<int>(faces.coordIndex.end() - 5, faces.coordIndex.end()), c.last)
                << name;
            const std::vector<Vec3> points{{20, 0, 5},  {20, 10, 5},  {0, 10, 5},  {0, 0, 5},
                                           {20, 0, 35}, {20, 10, 35}, {0, 10, 35}, {0, 0, 35}};
            EXPECT_EQ(faces.coord->point, points) << name;
            if (!textured) {
                EXPECT_FALSE(faces.texCoord) << name;
                EXPECT_TRUE(faces.texCoordIndex.empty()) << name;
                continue;
            }
            ASSERT_TRUE(faces.texCoord) << name;
            const bool caps = c.closed != ClosedMode::no;
            std::vector<Vec2> tpoints{{0, 0}, {2, 0}, {2, 3}, {0, 3}};
            if (caps) {
                tpoints.insert(tpoints.end(), {{2, 0}, {2, 3}, {0, 3}});
            }
            EXPECT_EQ(faces.texCoord->point, tpoints) << name;
            EXPECT_EQ(faces.texCoordIndex.size(), c.indexCount) << name;
            if (hasTop(c.closed)) {
                EXPECT_EQ(
                    std::vector<int>(faces.texCoordIndex.end() - 5, faces.texCoordIndex.end()),
                    (std::vector<int>{0, 4, 5, 6, -1}))
                    << name;
            }
        }
    }
}

TEST_F(DrawableTest, FloorPointsFollowPointingDown) {
    struct Case {
        const char* name;
        bool down;
        std::vector<Vec3> points;
    };
    const Case cases[] = {
        {"up", false, {{20, 0, 2}, {20, 10, 2}, {0, 10, 2}, {0, 0, 2}}},
        {"down", true, {{0, 0, 2}, {0, 10, 2}, {20, 10, 2}, {20, 0, 2}}},
    };
    for (const Case& c : cases) {
        DrawFloorFactory factory(false, nullptr, c.down);
        GrammarState s = cell(2);
        VRRef<VRNode> node = factory.create(s)->toVrml();
        EXPECT_EQ(s.height, 2.0f) << c.name;
        const VRIndexedFaceSet& faces = facesOf(node);
        EXPECT_EQ(faces.coord->point, c.points) << c.name;
        EXPECT_EQ(faces.coordIndex, (MFInt32{0, 1, 2, 3, -1})) << c.name;
    }
}

TEST_F(DrawableTest, FloorTextureCoordinates) {
    DrawFloorFactory factory(false, groupOf(texture(4, 5, true, true)));
    GrammarState s = cell();
    VRRef<VRNode> node = factory.create(s)->toVrml();
    const VRIndexedFaceSet& faces = facesOf(node);
    ASSERT_TRUE(faces.texCoord);
    EXPECT_EQ(faces.texCoord->point, (MFVec2f{{0, 0}, {0, 5}, {4, 5}, {4, 0}}));
    EXPECT_EQ(faces.texCoordIndex, (MFInt32{0, 1, 2, 3, -1}));
    const auto& shape = static_cast<const VRShape&>(*node);
    ASSERT_TRUE(shape.appearance->texture);
    const auto& image = static_cast<const VRImageTexture&>(*shape.appearance->texture);
    EXPECT_EQ(image.url, (MFString{"img/facade.png"}));
}

TEST_F(DrawableTest, PyramidApexAndFaces) {
    DrawPyramidFactory factory(false, groupOf(texture(1, 1, false, false)), FloatRange(20));
    GrammarState s = cell(5);
    auto result = factory.create(s);
    auto& pyramid = static_cast<DrawPyramid&>(*result);
    EXPECT_EQ(pyramid.apex, (Vec3{10, 5, 25}));
    EXPECT_EQ(s.height, 25.0f);
    VRRef<VRNode> node = pyramid.toVrml();
    const VRIndexedFaceSet& faces = facesOf(node);
    EXPECT_EQ(faces.coord->point,
              (MFVec3f{{0, 0, 5}, {0, 10, 5}, {20, 10, 5}, {20, 0, 5}, {10, 5, 25}}));
    EXPECT_EQ(faces.coordIndex, (MFInt32{1, 0, 4, -1, 2, 1, 4, -1, 3, 2, 4, -1, 0, 3, 4, -1}));
    EXPECT_EQ(faces.texCoord->point, (MFVec2f{{0, 0}, {1, 0}, {0.5f, 1}}));
    EXPECT_EQ(faces.texCoordIndex.size(), 16u);
}

TEST_F(DrawableTest, AppearanceColourAndNoColor) {
    struct Case {
        const char* name;
        bool noColor;
    };
    for (const Case& c : {Case{"coloured", false}, Case{"noColor", true}}) {
        DrawFloorFactory factory(c.noColor, nullptr);
        GrammarState s = cell();
        VRRef<VRNode> node = factory.create(s)->toVrml();
        const auto& shape = static_cast<const VRShape&>(*node);
        ASSERT_TRUE(shape.appearance) << c.name;
        EXPECT_FALSE(shape.appearance->texture) << c.name;
        EXPECT_EQ(static_cast<bool>(shape.appearance->material), !c.noColor) << c.name;
        if (!c.noColor) {
            const Vec3 d = shape.appearance->material->diffuseColor;
            EXPECT_EQ(d, (Vec3{96 * 0.007874016f, 127 * 0.007874016f, 80 * 0.007874016f}))
                << c.name;
        }
        EXPECT_EQ(shape.parent, nullptr) << c.name;
        EXPECT_FALSE(shape.hasName()) << c.name;
    }
}

TEST_F(DrawableTest, CompoundExport) {
    struct Case {
        const char* name;
        int children;
        std::string vrmlName;
    };
    const Case cases[] = {{"empty", 0, ""},
                          {"one child, name unused", 1, "Tower"},
                          {"two children named", 2, "Tower"},
                          {"two children unnamed", 2, ""}};
    for (const Case& c : cases) {
        CompoundDrawable compound;
        compound.vrmlName = c.vrmlName;
        for (int i = 0; i < c.children; ++i) {
            GrammarState s = cell();
            compound.append(DrawFloorFactory().create(s));
        }
        VRRef<VRNode> node = compound.toVrml();
        if (c.children == 1) {
            EXPECT_EQ(node->type, VR_SHAPE) << c.name;
            EXPECT_FALSE(node->hasName()) << c.name;
            continue;
        }
        ASSERT_EQ(node->type, VR_GROUP) << c.name;
        const auto& group = static_cast<const VRGroup&>(*node);
        EXPECT_EQ(group.children.size(), static_cast<std::size_t>(c.children)) << c.name;
        EXPECT_EQ(group.hasName(), !c.vrmlName.empty()) << c.name;
        if (group.hasName()) {
            EXPECT_EQ(*group.name, c.vrmlName) << c.name;
        }
        for (const auto& child : group.children) {
            EXPECT_EQ(child->parent, &group) << c.name;
        }
    }
}

TEST_F(DrawableTest, TextureGroupPicks) {
    auto a = texture(1, 1, false, false);
    auto b = texture(1, 1, false, false);
    TextureGroup group;
    generationContext().randomState = 0;
    generationContext().lastTexture = b;
    EXPECT_EQ(group.pick(), nullptr) << "an empty group returns none";
    EXPECT_EQ(generationContext().randomState, 0u)
        << "and makes no draw: there is nothing to choose";
    EXPECT_EQ(generationContext().lastTexture, b) << "the texture picked before stays the last one";
    group.textures.add(1, a);
    group.textures.add(3, b);
    // Draws of about 0.1665, 0.1637, 0.8333.
    EXPECT_EQ(group.pick(), a);
    EXPECT_EQ(group.pick(), a);
    EXPECT_EQ(group.pick(), b);
    EXPECT_EQ(generationContext().lastTexture, b);

    LastTextureGroup last;
    const std::uint32_t before = generationContext().randomState;
    EXPECT_EQ(last.pick(), b);
    EXPECT_NE(generationContext().randomState, before) << "the last group still draws once";
    EXPECT_EQ(log.text(), "");
    generationContext().lastTexture.reset();
    EXPECT_EQ(last.pick(), nullptr);
    EXPECT_EQ(log.text(), "Last texture group used with no last texture\r\n");
}

TEST_F(DrawableTest, DrawableKeepsTextureAfterGroupIsGone) {
    std::weak_ptr<Texture> weak;
    std::unique_ptr<Drawable> floor;
    {
        auto tex = texture(1, 1, false, false);
        weak = tex;
        DrawFloorFactory factory(false, groupOf(std::move(tex)));
        GrammarState s = cell();
        floor = factory.create(s);
    }
    generationContext().lastTexture.reset();
    EXPECT_FALSE(weak.expired());
    floor.reset();
    EXPECT_TRUE(weak.expired());
}

// Each face as "class/material", in drawing order.
class LabelSink : public GeometrySink {
public:
    void face(const Face& face) override {
        labels.push_back(std::string(face.surface) + "/" + std::string(face.material));
    }
    std::vector<std::string> labels;
};

std::vector<std::string> labelsOf(const Drawable& drawable) {
    LabelSink sink;
    EXPECT_TRUE(drawable.collect(sink));
    return sink.labels;
}

using Labels = std::vector<std::string>;

TEST_F(DrawableTest, FacesWithoutLabelsGetTheClassesOfWhatDrewThem) {
    GrammarState s = cell();
    EXPECT_EQ(labelsOf(*DrawFloorFactory().create(s)), (Labels{"floor/"}));
    EXPECT_EQ(labelsOf(*DrawBoxFactory(false, nullptr, FloatRange(4)).create(s)),
              (Labels{"floor/", "wall/", "wall/", "wall/", "wall/", "roof/"}));
    EXPECT_EQ(labelsOf(*DrawPyramidFactory(false, nullptr, FloatRange(4)).create(s)),
              (Labels{"roof/", "roof/", "roof/", "roof/"}));
}

TEST_F(DrawableTest, LabelsAreSharedByTheDrawablesOfOneCombination) {
    DrawBoxFactory box(false, nullptr, FloatRange(4), ClosedMode::onlyTop);
    box.labels.roofSurface = "terrace";
    const SurfaceDefaults brick{"", "brick"};
    const SurfaceDefaults glass{"road", "glass"};
    GrammarState s = cell();
    s.surfaces = &brick;
    auto first = box.create(s);
    auto second = box.create(s);
    s.surfaces = &glass;
    auto third = box.create(s);
    const auto& a = static_cast<const DrawBox&>(*first);
    const auto& b = static_cast<const DrawBox&>(*second);
    const auto& c = static_cast<const DrawBox&>(*third);
    EXPECT_EQ(a.labels, b.labels);
    EXPECT_NE(a.labels, c.labels);
    EXPECT_EQ(labelsOf(a),
              (Labels{"wall/brick", "wall/brick", "wall/brick", "wall/brick", "terrace/brick"}));
    EXPECT_EQ(labelsOf(c),
              (Labels{"wall/glass", "wall/glass", "wall/glass", "wall/glass", "terrace/glass"}))
        << "a definition's floor class is for floors only";
}

TEST_F(DrawableTest, NothingSaidCostsNoLabels) {
    const SurfaceDefaults none;
    GrammarState s = cell();
    s.surfaces = &none;
    auto box = DrawBoxFactory(false, nullptr, FloatRange(4)).create(s);
    EXPECT_EQ(static_cast<const DrawBox&>(*box).labels, nullptr);
}

} // namespace
} // namespace ombrel
