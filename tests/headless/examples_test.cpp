#include "base/Log.h"
#include "config/CityFactory.h"
#include "grammar/GenerationContext.h"
#include "preview/gl/HeadlessGL.h"
#include "preview/gl/TextureCache.h"
#include "tests/support/FreshContext.h"
#include "vrml/VRNode.h"
#include "vrml/VRWriter.h"

#include <GL/gl.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace ombrel {
namespace {

class ExampleCityTest : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override { testsupport::useFreshGenerationContext(); }
    void TearDown() override { testsupport::useFreshGenerationContext(); }
    StringLogSink log;
    ScopedLogSink scoped{log};
};

// The bundled examples load, generate the same city from the same seed, turn into a scene in
// every collapse mode, and draw into a headless context.
TEST_P(ExampleCityTest, GeneratesRepeatablyAndRenders) {
    const std::string path = std::string(OMBREL_SOURCE_DIR) + "/examples/" + GetParam();
    CityFactory f;
    ASSERT_TRUE(f.load(path)) << log.text();
    const std::uint32_t seed = generationContext().randomState;

    generationContext().buildingColours.seed(1);
    CityFactory::Generated first = f.generate();
    EXPECT_EQ(first.seed, seed);
    ASSERT_FALSE(first.city->buildingDrawables.empty());
    const std::string text = vrmlText(first.city->toVrmlScene(false, true).get());

    generationContext().randomState = seed;
    generationContext().stateStack.clear();
    generationContext().buildingColours.seed(1);
    CityFactory::Generated again = f.generate();
    EXPECT_EQ(vrmlText(again.city->toVrmlScene(false, true).get()), text);
    EXPECT_EQ(again.maxCorner, first.maxCorner);

    VRRef<VRNode> collapsed = first.city->toVrmlScene(true, false);
    ASSERT_EQ(collapsed->type, VR_GROUP);
    const auto& root = static_cast<const VRGroup&>(*collapsed);
    ASSERT_EQ(root.children.size(), 1u);
    if (first.city->buildingDrawables.size() > 1) {
        for (const auto& b : static_cast<const VRGroup&>(*root.children[0]).children) {
            EXPECT_EQ(b->type, VR_SHAPE);
        }
    }

    std::string why;
    std::unique_ptr<HeadlessGL> gl = HeadlessGL::create(128, 128, &why);
    if (!gl) {
        GTEST_SKIP() << "no headless OpenGL: " << why;
    }
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(first.minCorner.x, first.maxCorner.x, first.minCorner.y, first.maxCorner.y, -10000,
            10000);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_TEXTURE_2D);
    first.city->render();
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    const std::vector<std::uint8_t> pixels = gl->readPixels();
    int drawn = 0;
    for (std::size_t i = 0; i < pixels.size(); i += 4) {
        drawn += (pixels[i] | pixels[i + 1] | pixels[i + 2]) != 0;
    }
    EXPECT_GT(drawn, 128 * 128 / 4) << "the city covers its box";
    for (auto& [name, group] : f.textureGroups) {
        for (auto& entry : group->textures.entries()) {
            TextureCache::release(*entry.item);
        }
    }
    for (auto& group : f.inlineTextureGroups) {
        for (auto& entry : group->textures.entries()) {
            TextureCache::release(*entry.item);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Examples, ExampleCityTest,
                         ::testing::Values("town/town.xml", "downtown/downtown.xml",
                                           "metropolis/metropolis.xml"),
                         [](const auto& info) {
                             std::string name = info.param;
                             return name.substr(0, name.find('/'));
                         });

} // namespace
} // namespace ombrel
