#include "config/CityFactory.h"
#include "grammar/DrawFactories.h"
#include "grammar/Log.h"
#include "grammar/Operators.h"
#include "grammar/ProcessState.h"
#include "preview/gl/HeadlessGL.h"
#include "vrml/VRNode.h"
#include "vrml/VRWriter.h"

#include <GL/gl.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

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
    void SetUp() override { resetProcessState(); }
    void TearDown() override { resetProcessState(); }
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
    EXPECT_EQ(texture->glName(), 0u);
    glEnable(GL_TEXTURE_2D);
    GrammarState cell = GrammarState::forRect(2, 2, 60, 60, 0);
    DrawFloorFactory(true, group).create(cell)->render();
    EXPECT_NE(texture->glName(), 0u);
    EXPECT_EQ(gl->pixel(30, 30), 0xFF00FF00u);
    texture->releaseGL();
    EXPECT_EQ(texture->glName(), 0u);
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
    // Building colours come from the C library's generator: start it the same way too.
    processState().randomState = 0xC0FFEE;
    std::srand(1);
    CityFactory::Generated first = f->generate();
    const std::string text = vrmlText(first.city->toVrmlScene(false, true).get());
    CityFactory::Generated other = f->generate();
    processState().randomState = 0xC0FFEE;
    std::srand(1);
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
    EXPECT_TRUE(processState().stateStack.empty()) << "every Push was popped";

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
    processState().randomState = 0xC0FFEE;
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
            entry.item->releaseGL();
        }
    }
}

} // namespace
} // namespace ombrel
