#include "base/Log.h"
#include "config/CityFactory.h"
#include "grammar/DrawFactories.h"
#include "grammar/GenerationContext.h"
#include "grammar/Operators.h"
#include "preview/gl/HeadlessGL.h"
#include "preview/gl/TextureCache.h"
#include "tests/support/FreshContext.h"
#include "vrml/VRNode.h"
#include "vrml/VRWriter.h"

#include <GL/gl.h>
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <ostream>
#include <string>
#include <vector>

namespace ombrel {
namespace {

constexpr int kSize = 64;

// A context with an orthographic view straight down on the square (0, 0)-(64, 64).
std::unique_ptr<HeadlessGL> topDownContext() {
    std::string why;
    std::unique_ptr<HeadlessGL> gl = HeadlessGL::create(kSize, kSize, &why);
    if (!gl) {
        return nullptr;
    }
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0, kSize, 0, kSize, -1000, 1000);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    return gl;
}

#define REQUIRE_GL(gl)                                                                             \
    do {                                                                                           \
        if (!(gl)) {                                                                               \
            std::string why;                                                                       \
            HeadlessGL::create(1, 1, &why);                                                        \
            GTEST_SKIP() << "no headless OpenGL: " << why;                                         \
        }                                                                                          \
    } while (0)

class HeadlessTest : public ::testing::Test {
protected:
    void SetUp() override { testsupport::useFreshGenerationContext(); }
    void TearDown() override { testsupport::useFreshGenerationContext(); }
    StringLogSink log;
    ScopedLogSink scoped{log};
};

TEST_F(HeadlessTest, RejectsEmptyFramebuffer) {
    std::string why;
    EXPECT_EQ(HeadlessGL::create(0, 10, &why), nullptr);
    EXPECT_EQ(why, "framebuffer size must be positive");
}

TEST_F(HeadlessTest, FloorAndBoxShowTheirColours) {
    std::unique_ptr<HeadlessGL> gl = topDownContext();
    REQUIRE_GL(gl);
    struct Case {
        const char* name;
        int x, y;
        std::uint32_t rgba;
    };
    // A red floor on (2, 2)-(30, 30); a blue box on (34, 34)-(60, 60) seen from above (its top
    // face); a white noColor floor on (34, 2)-(60, 30); black elsewhere.
    GrammarState floorCell = GrammarState::forRect(2, 2, 30, 30, 0x00007F);
    DrawFloorFactory().create(floorCell)->render();
    GrammarState boxCell = GrammarState::forRect(34, 34, 60, 60, 0x7F0000);
    DrawBoxFactory(false, nullptr, FloatRange(10)).create(boxCell)->render();
    GrammarState whiteCell = GrammarState::forRect(34, 2, 60, 30, 0x7F0000);
    DrawFloorFactory(true, nullptr).create(whiteCell)->render();
    const Case cases[] = {
        {"floor centre", 16, 16, 0xFF0000FF},    {"box top centre", 47, 47, 0xFFFF0000},
        {"noColor floor", 47, 16, 0xFFFFFFFF},   {"between", 32, 32, 0xFF000000},
        {"outside the box", 16, 47, 0xFF000000},
    };
    for (const Case& c : cases) {
        // Signed colour bytes convert as (2b + 1) / 255, so a 0 channel comes out as 1.
        const std::uint32_t got = gl->pixel(c.x, c.y);
        for (int shift = 0; shift < 32; shift += 8) {
            const int g = (got >> shift) & 0xFF;
            const int w = (c.rgba >> shift) & 0xFF;
            EXPECT_NEAR(g, w, 2) << c.name << ": channel " << shift / 8;
        }
    }
    EXPECT_EQ(gl->readPixels().size(), static_cast<std::size_t>(kSize * kSize * 4));
}

TEST_F(HeadlessTest, TextureIsUploadedOnFirstBind) {
    std::unique_ptr<HeadlessGL> gl = topDownContext();
    REQUIRE_GL(gl);
    auto texture = std::make_shared<Texture>("green.png", 1, 1, false, false);
    texture->image.width = 2;
    texture->image.height = 2;
    for (int i = 0; i < 4; ++i) {
        texture->image.rgba.insert(texture->image.rgba.end(), {0, 255, 0, 255});
    }
    auto group = std::make_shared<TextureGroup>();
    group->textures.add(1, texture);
    EXPECT_EQ(TextureCache::glName(*texture), 0u);
    glEnable(GL_TEXTURE_2D);
    GrammarState cell = GrammarState::forRect(2, 2, 60, 60, 0);
    DrawFloorFactory(true, group).create(cell)->render();
    EXPECT_NE(TextureCache::glName(*texture), 0u);
    EXPECT_EQ(gl->pixel(30, 30), 0xFF00FF00u);
    TextureCache::release(*texture);
    EXPECT_EQ(TextureCache::glName(*texture), 0u);
}

std::shared_ptr<Texture> greenTexture() {
    auto texture = std::make_shared<Texture>("green.png", 1, 1, false, false);
    texture->image.width = 1;
    texture->image.height = 1;
    texture->image.rgba = {0, 255, 0, 255};
    return texture;
}

TEST_F(HeadlessTest, DiedTexturesAreDeletedAtTheNextBindInTheirContext) {
    std::unique_ptr<HeadlessGL> gl = topDownContext();
    REQUIRE_GL(gl);
    auto texture = greenTexture();
    TextureCache::bind(texture.get());
    const GLuint name = TextureCache::glName(*texture);
    ASSERT_NE(name, 0u);
    EXPECT_TRUE(glIsTexture(name));
    texture.reset(); // the last drawable let go of it, no matter which context is current
    ASSERT_EQ(TextureCache::releasedCount(), 1u);
    EXPECT_TRUE(glIsTexture(name)) << "still there until the next bind";

    auto other = greenTexture();
    TextureCache::bind(other.get());
    EXPECT_EQ(TextureCache::releasedCount(), 0u);
    if (TextureCache::glName(*other) != name) { // the freed name may be handed out again at once
        EXPECT_FALSE(glIsTexture(name));
    }

    // A context that goes away takes its left-behind objects with it.
    other.reset();
    EXPECT_EQ(TextureCache::releasedCount(), 1u);
    gl.reset();
    EXPECT_EQ(TextureCache::releasedCount(), 0u);
    EXPECT_EQ(TextureCache::contextTag(), nullptr);
}

// One vertex as OpenGL feedback reports it, in object coordinates under the top-down view.
struct FeedbackVertex {
    float x, y, z, s, t;
};

std::ostream& operator<<(std::ostream& os, const FeedbackVertex& v) {
    return os << "(" << v.x << ", " << v.y << ", " << v.z << " | " << v.s << ", " << v.t << ")";
}

// The triangles that drawing sends through the pipeline, with the colour of the first vertex.
// Mesa hands a quad (a, b, c, d) to feedback as the triangles (a, b, d) and (b, c, d).
std::vector<std::array<FeedbackVertex, 3>> feedbackTriangles(const Drawable& d, float rgb[3]) {
    std::vector<GLfloat> buffer(1 << 14);
    glFeedbackBuffer(static_cast<GLsizei>(buffer.size()), GL_3D_COLOR_TEXTURE, buffer.data());
    glRenderMode(GL_FEEDBACK);
    d.render();
    const GLint n = glRenderMode(GL_RENDER);
    std::vector<std::array<FeedbackVertex, 3>> triangles;
    for (GLint i = 0; i < n;) {
        const int token = static_cast<int>(buffer[i++]);
        if (token != GL_POLYGON_TOKEN || static_cast<int>(buffer[i++]) != 3) {
            ADD_FAILURE() << "unexpected feedback token " << token;
            break;
        }
        std::array<FeedbackVertex, 3> triangle;
        for (FeedbackVertex& v : triangle) {
            const GLfloat* f = &buffer[i];
            // Window depth back to height for glOrtho(..., -1000, 1000).
            v = FeedbackVertex{f[0], f[1], 1000.0f * (1.0f - 2.0f * f[2]), f[7], f[8]};
            rgb[0] = f[3];
            rgb[1] = f[4];
            rgb[2] = f[5];
            i += 11;
        }
        triangles.push_back(triangle);
    }
    return triangles;
}

using Quad = std::array<FeedbackVertex, 4>;

std::vector<std::array<FeedbackVertex, 3>> split(const std::vector<Quad>& quads) {
    std::vector<std::array<FeedbackVertex, 3>> triangles;
    for (const Quad& q : quads) {
        triangles.push_back({q[0], q[1], q[3]});
        triangles.push_back({q[1], q[2], q[3]});
    }
    return triangles;
}

TEST_F(HeadlessTest, RenderSendsTheTables) {
    std::unique_ptr<HeadlessGL> gl = topDownContext();
    REQUIRE_GL(gl);
    // Cell (0, 0)-(20, 10) at height 5; a texture that repeats 2 across and 3 up.
    auto group = std::make_shared<TextureGroup>();
    group->textures.add(1, std::make_shared<Texture>("t.png", 2, 3, false, false));
    const auto make = [](const DrawFactory& f) {
        GrammarState s = GrammarState::forRect(0, 0, 20, 10, 0x00507F60);
        s.height = 5;
        return f.create(s);
    };
    using V = FeedbackVertex;
    struct Case {
        const char* name;
        std::unique_ptr<Drawable> drawable;
        std::vector<std::array<FeedbackVertex, 3>> triangles;
        bool white;
    };
    std::vector<Quad> box{
        {V{0, 0, 5, 0, 0}, V{0, 10, 5, 0, 3}, V{20, 10, 5, 2, 3}, V{20, 0, 5, 2, 0}},
        {V{0, 10, 5, 0, 0}, V{0, 0, 5, 2, 0}, V{0, 0, 35, 2, 3}, V{0, 10, 35, 0, 3}},
        {V{20, 10, 5, 0, 0}, V{0, 10, 5, 2, 0}, V{0, 10, 35, 2, 3}, V{20, 10, 35, 0, 3}},
        {V{20, 0, 5, 0, 0}, V{20, 10, 5, 2, 0}, V{20, 10, 35, 2, 3}, V{20, 0, 35, 0, 3}},
        {V{0, 0, 5, 0, 0}, V{20, 0, 5, 2, 0}, V{20, 0, 35, 2, 3}, V{0, 0, 35, 0, 3}},
        {V{20, 0, 35, 0, 0}, V{20, 10, 35, 0, 3}, V{0, 10, 35, 2, 3}, V{0, 0, 35, 2, 0}},
    };
    std::vector<Quad> sides(box.begin() + 1, box.end() - 1);
    std::vector<Case> cases;
    cases.push_back(
        {"floor", make(DrawFloorFactory(false, group)),
         split({{V{20, 0, 5, 0, 0}, V{20, 10, 5, 0, 3}, V{0, 10, 5, 2, 3}, V{0, 0, 5, 2, 0}}}),
         false});
    cases.push_back(
        {"floor pointing down", make(DrawFloorFactory(true, group, true)),
         split({{V{0, 0, 5, 0, 0}, V{0, 10, 5, 0, 3}, V{20, 10, 5, 2, 3}, V{20, 0, 5, 2, 0}}}),
         true});
    cases.push_back(
        {"closed box", make(DrawBoxFactory(false, group, FloatRange(30))), split(box), false});
    cases.push_back({"open box", make(DrawBoxFactory(false, group, FloatRange(30), ClosedMode::no)),
                     split(sides), false});
    cases.push_back({"pyramid",
                     make(DrawPyramidFactory(false, group, FloatRange(20))),
                     {{V{0, 10, 5, 0, 0}, V{0, 0, 5, 1, 0}, V{10, 5, 25, 0.5f, 1}},
                      {V{20, 10, 5, 0, 0}, V{0, 10, 5, 1, 0}, V{10, 5, 25, 0.5f, 1}},
                      {V{20, 0, 5, 0, 0}, V{20, 10, 5, 1, 0}, V{10, 5, 25, 0.5f, 1}},
                      {V{0, 0, 5, 0, 0}, V{20, 0, 5, 1, 0}, V{10, 5, 25, 0.5f, 1}}},
                     false});
    for (const Case& c : cases) {
        float rgb[3] = {0, 0, 0};
        const auto got = feedbackTriangles(*c.drawable, rgb);
        ASSERT_EQ(got.size(), c.triangles.size()) << c.name;
        for (std::size_t i = 0; i < got.size(); ++i) {
            for (int k = 0; k < 3; ++k) {
                const FeedbackVertex& g = got[i][k];
                const FeedbackVertex& w = c.triangles[i][k];
                const bool same = std::abs(g.x - w.x) < 1e-3f && std::abs(g.y - w.y) < 1e-3f &&
                                  std::abs(g.z - w.z) < 1e-2f && g.s == w.s && g.t == w.t;
                EXPECT_TRUE(same) << c.name << ": triangle " << i << " vertex " << k << " is " << g
                                  << ", expected " << w;
            }
        }
        // glColor3b(96, 127, 80), or white for noColor; signed bytes convert as (2b + 1) / 255.
        const float want[3] = {c.white ? 1.0f : 193.0f / 255, 1.0f, c.white ? 1.0f : 161.0f / 255};
        for (int k = 0; k < 3; ++k) {
            EXPECT_NEAR(rgb[k], want[k], 1e-4f) << c.name << ": channel " << k;
        }
    }
}

// A city with every kind of element and cell, in textures and names too.
std::unique_ptr<CityFactory> everyElementCity() {
    auto f = std::make_unique<CityFactory>();
    f->numCellsX = 9;
    f->numCellsY = 7;
    f->streetEveryX = 3;
    f->firstStreetCrossX = 1;
    f->streetEveryY = 2;
    f->firstStreetCrossY = 0;
    f->cellSizeX = 6;
    f->cellSizeY = 8;
    f->streetSizeX = 3;
    f->streetSizeY = 2;

    auto walls = std::make_shared<TextureGroup>();
    walls->textures.add(1, std::make_shared<Texture>("walls/a.png", 2, 1, true, true));
    walls->textures.add(2, std::make_shared<Texture>("walls/b.png", 1, 3, false, false));
    f->textureGroups["walls"] = walls;

    auto floor = std::make_shared<BBlockFactory>();
    floor->add(std::make_unique<DrawBoxFactory>(false, walls, FloatRange(2, 4), ClosedMode::no));
    floor->add(std::make_unique<DrawFloorFactory>(false, f->lastTextureGroup));
    f->procedures["floor"] = floor;

    auto tower = std::make_unique<CityBuildingFactory>("Tower_%X_%Y");
    tower->add(std::make_unique<ScaleToFactory>(ScaleWhere::center, FloatRange(0.6f, 0.9f),
                                                FloatRange(0.6f, 0.9f), ScaleType::relative));
    tower->add(std::make_unique<PushFactory>(1));
    tower->add(std::make_unique<CallFactory>(floor, UintRange(2, 6)));
    auto maybe = std::make_unique<MaybeFactory>(0.5f);
    maybe->add(std::make_unique<RotateFactory>(FloatRange(0, 20), FloatRange(0.1f, 0.3f)));
    maybe->add(std::make_unique<DrawPyramidFactory>(false, nullptr, FloatRange(3, 6)));
    tower->add(std::move(maybe));
    tower->add(std::make_unique<PopFactory>(true, false, false));
    tower->add(std::make_unique<DrawFloorFactory>(true, nullptr, true));
    f->buildings.add(2, std::move(tower));

    auto block = std::make_unique<CityBuildingFactory>();
    auto choose = std::make_unique<ChooseFactory>();
    for (ScaleWhere where : {ScaleWhere::v0, ScaleWhere::v2}) {
        auto option = std::make_unique<CityCellFactory>();
        option->add(std::make_unique<ScaleToFactory>(where, FloatRange(4), FloatRange(5),
                                                     ScaleType::exact));
        option->add(std::make_unique<GoUpFactory>(FloatRange(0, 1)));
        option->add(std::make_unique<DrawBoxFactory>(false, walls, FloatRange(5, 15)));
        option->add(
            std::make_unique<DrawPyramidFactory>(false, f->lastTextureGroup, FloatRange(2)));
        choose->addOption(1, std::move(option));
    }
    block->add(std::move(choose));
    f->buildings.add(1, std::move(block));

    const float heights[] = {0.05f, 0.1f, 0.15f};
    WeightedList<std::unique_ptr<CityStreetFactory>>* lists[] = {
        &f->crossStreets, &f->horizontalStreets, &f->verticalStreets};
    for (int i = 0; i < 3; ++i) {
        auto street = std::make_unique<CityStreetFactory>();
        street->add(std::make_unique<GoUpFactory>(FloatRange(heights[i])));
        street->add(std::make_unique<DrawFloorFactory>());
        lists[i]->add(1, std::move(street));
    }
    f->loaded = true;
    return f;
}

TEST_F(HeadlessTest, SameSeedGivesSameScene) {
    std::unique_ptr<CityFactory> f = everyElementCity();
    // Building colours come from their own source: start it the same way too.
    generationContext().randomState = 0xC0FFEE;
    generationContext().buildingColours.seed(1);
    CityFactory::Generated first = f->generate();
    const std::string text = vrmlText(first.city->toVrmlScene(false, true).get());
    CityFactory::Generated other = f->generate();
    generationContext().randomState = 0xC0FFEE;
    generationContext().buildingColours.seed(1);
    CityFactory::Generated again = f->generate();

    EXPECT_EQ(again.seed, first.seed);
    EXPECT_EQ(vrmlText(again.city->toVrmlScene(false, true).get()), text);
    EXPECT_NE(vrmlText(other.city->toVrmlScene(false, true).get()), text);
    EXPECT_EQ(first.minCorner, (Vec3{0, 0, 0}));
    EXPECT_EQ(first.maxCorner.x, 54.0f);
    EXPECT_EQ(first.maxCorner.y, 56.0f);
    EXPECT_GT(first.maxCorner.z, 5.0f);
    EXPECT_NE(text.find("DEF Tower_"), std::string::npos);
    EXPECT_NE(text.find("walls/b.png"), std::string::npos);
    EXPECT_TRUE(generationContext().stateStack.empty()) << "every Push was popped";

    // Collapsed, every building is one Shape.
    VRRef<VRNode> collapsed = first.city->toVrmlScene(true, false);
    const auto& root = static_cast<const VRGroup&>(*collapsed);
    ASSERT_EQ(root.children.size(), 1u);
    const auto& buildings = static_cast<const VRGroup&>(*root.children[0]);
    EXPECT_EQ(buildings.children.size(), first.city->buildingDrawables.size());
    for (const auto& child : buildings.children) {
        EXPECT_EQ(child->type, VR_SHAPE);
    }
}

TEST_F(HeadlessTest, GeneratedCityRenders) {
    std::unique_ptr<HeadlessGL> gl = topDownContext();
    REQUIRE_GL(gl);
    std::unique_ptr<CityFactory> f = everyElementCity();
    for (auto& [name, group] : f->textureGroups) {
        for (auto& entry : group->textures.entries()) {
            entry.item->image.width = 1;
            entry.item->image.height = 1;
            entry.item->image.rgba = {200, 200, 200, 255};
        }
    }
    generationContext().randomState = 0xC0FFEE;
    CityFactory::Generated g = f->generate();
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_TEXTURE_2D);
    g.city->render();
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    const std::vector<std::uint8_t> pixels = gl->readPixels();
    int drawn = 0;
    for (std::size_t i = 0; i < pixels.size(); i += 4) {
        drawn += (pixels[i] | pixels[i + 1] | pixels[i + 2]) != 0;
    }
    // Streets and buildings cover a good part of the 48 x 38 area the cells span.
    EXPECT_GT(drawn, 900);
    // The horizontal street of row 0 in column 2, grey 0x7F7F7F drawn as full white.
    EXPECT_EQ(gl->pixel(12, 1), 0xFFFFFFFFu);
    for (auto& [name, group] : f->textureGroups) {
        for (auto& entry : group->textures.entries()) {
            TextureCache::release(*entry.item);
        }
    }
}

} // namespace
} // namespace ombrel
