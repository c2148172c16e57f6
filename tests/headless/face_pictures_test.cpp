// The dataset pictures of the bundled examples: labels, instances and depth agree with each
// other, with the city's own frame, and with the geometry.

#include "base/Log.h"
#include "city/CityDrawable.h"
#include "config/CityFactory.h"
#include "grammar/GeometrySink.h"
#include "preview/gl/FacePictures.h"
#include "preview/gl/HeadlessGL.h"
#include "preview/gl/SceneView.h"
#include "tests/support/FreshContext.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <set>
#include <string>
#include <vector>

namespace ombrel {
namespace {

// Where a drawable is highest: the middle of its highest flat face when one lies at the top,
// otherwise its highest corner (a pyramid's apex), and the class of that face.
class TopSink : public GeometrySink {
public:
    void face(const Face& face) override {
        const int n = face.cornerCount();
        bool flat = true;
        float x = 0.0f;
        float y = 0.0f;
        for (int i = 0; i < n; ++i) {
            flat = flat && face.corners[i].z == face.corners[0].z;
            x += face.corners[i].x / float(n);
            y += face.corners[i].y / float(n);
        }
        for (int i = 0; i < n; ++i) {
            const FaceVertex& c = face.corners[i];
            if (c.z > top.z || (c.z == top.z && flat && !topIsFlat)) {
                top = flat ? Vec3{x, y, c.z} : Vec3{c.x, c.y, c.z};
                topIsFlat = flat;
                surface = std::string(face.surface);
            }
        }
    }
    Vec3 top{0.0f, 0.0f, -1e30f};
    bool topIsFlat = false;
    std::string surface;
};

// Looking straight down from `position`: right is +x, up in the picture is +y.
CameraState straightDown(Vec3 position) {
    return CameraState{position, Mat3{1, 0, 0, 0, 0, -1, 0, 1, 0}};
}

class FacePicturesTest : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        testsupport::useFreshGenerationContext();
        std::string why;
        // Before the factory, so that its textures go while their context is still there.
        gl = HeadlessGL::create(kWidth, kHeight, &why);
        if (!gl) {
            GTEST_SKIP() << "no headless OpenGL: " << why;
        }
        const std::string path = std::string(OMBREL_SOURCE_DIR) + "/examples/" + GetParam();
        factory = std::make_unique<CityFactory>();
        ASSERT_TRUE(factory->load(path)) << log.text();
        generated = factory->generate();
        view.initGL();
        view.resizeGL(kWidth, kHeight);
    }
    void TearDown() override {
        if (gl) {
            view.releaseGL();
        }
        factory.reset();
        gl.reset();
        testsupport::useFreshGenerationContext();
    }
    std::vector<std::uint8_t> picture(FacePass pass, const CameraState& camera) {
        std::string why;
        EXPECT_TRUE(view.drawFacePass(*generated.city, pass, camera, &why)) << why;
        return gl->readPixels();
    }
    CameraState home() const { return cameraFacingCity(generated.minCorner, generated.maxCorner); }

    // Odd, so that the middle pixel's centre lies on the view axis.
    static constexpr int kWidth = 161;
    static constexpr int kHeight = 121;
    StringLogSink log;
    ScopedLogSink scoped{log};
    std::unique_ptr<HeadlessGL> gl;
    std::unique_ptr<CityFactory> factory;
    CityFactory::Generated generated;
    SceneView view;
};

TEST_P(FacePicturesTest, EveryBuildingPixelHasAClassAndTheSkyIsBlackInTheFrame) {
    for (const CameraState& camera :
         {home(), overviewCamera(generated.minCorner, generated.maxCorner,
                                 double(kWidth) / double(kHeight))}) {
        const std::vector<std::uint8_t> labels = picture(FacePass::labels, camera);
        const std::vector<std::uint8_t> instances = picture(FacePass::instances, camera);
        const std::vector<std::uint8_t> depth = picture(FacePass::depth, camera);
        std::set<std::uint32_t> colours;
        for (const auto& c : view.facePictures().classes()) {
            colours.insert(c.colour);
        }
        SceneToggles plain;
        plain.skyBackdrop = false;
        plain.axes = false;
        view.drawGL(generated.city.get(), camera, plain);
        const std::vector<std::uint8_t> frame = gl->readPixels();
        std::size_t buildingPixels = 0;
        for (std::size_t i = 0; i < labels.size(); i += 4) {
            const std::uint32_t label = FacePictures::valueAt(FacePass::labels, &labels[i]);
            const std::uint32_t building =
                FacePictures::valueAt(FacePass::instances, &instances[i]);
            const std::uint32_t distance = FacePictures::valueAt(FacePass::depth, &depth[i]);
            ASSERT_TRUE(colours.count(label)) << "pixel " << i / 4 << " colour " << label;
            ASSERT_LE(building, generated.city->buildingDrawables.size()) << "pixel " << i / 4;
            if (building != 0) {
                ++buildingPixels;
                ASSERT_NE(label, 0u) << "a building pixel is not sky: pixel " << i / 4;
            }
            ASSERT_EQ(label == 0, distance == 0) << "the sky, and only it, has no depth";
            if (label == 0) {
                ASSERT_EQ(frame[i] | frame[i + 1] | frame[i + 2], 0)
                    << "where the labels see sky the frame shows none of the city: pixel " << i / 4;
            }
        }
        EXPECT_GT(buildingPixels, 0u);
    }
}

TEST_P(FacePicturesTest, RoofDepthIsTheDistanceFromTheCameraToTheRoof) {
    const CityDrawable& city = *generated.city;
    int checked = 0;
    for (std::size_t i = 0; i < city.buildingDrawables.size() && checked < 8; i += 3) {
        TopSink sink;
        ASSERT_TRUE(city.buildingDrawables[i]->collect(sink));
        // The building's top seen from 40 units above it, in the middle of the picture.
        const CameraState camera = straightDown(Vec3{sink.top.x, sink.top.y, sink.top.z + 40.0f});
        const std::size_t middle = (std::size_t(kHeight / 2) * kWidth + kWidth / 2) * 4;
        const auto labels = picture(FacePass::labels, camera);
        const auto instances = picture(FacePass::instances, camera);
        const auto depth = picture(FacePass::depth, camera);
        EXPECT_EQ(FacePictures::valueAt(FacePass::instances, &instances[middle]), i + 1)
            << "building " << i;
        EXPECT_EQ(FacePictures::valueAt(FacePass::labels, &labels[middle]),
                  surfaceColour(sink.surface))
            << "building " << i << " " << sink.surface;
        EXPECT_NEAR(double(FacePictures::valueAt(FacePass::depth, &depth[middle])), 4000.0, 1.0)
            << "building " << i << (sink.topIsFlat ? ", flat roof" : ", apex");
        ++checked;
    }
    EXPECT_GT(checked, 0);
}

INSTANTIATE_TEST_SUITE_P(Examples, FacePicturesTest,
                         ::testing::Values("town/town.xml", "downtown/downtown.xml",
                                           "metropolis/metropolis.xml"),
                         [](const auto& info) {
                             std::string name = info.param;
                             return name.substr(0, name.find('/'));
                         });

TEST(SurfaceColours, FixedForTheBuiltInClassesHashedAndStableForNames) {
    struct Case {
        const char* surface;
        std::uint32_t colour;
    };
    for (const Case& c :
         {Case{"sky", 0x000000}, Case{"wall", 0xB4463C}, Case{"roof", 0x3C50B4},
          Case{"floor", 0xDCB43C}, Case{"road", 0x505050}, Case{"crossing", 0xA0A0A0}}) {
        EXPECT_EQ(surfaceColour(c.surface), c.colour) << c.surface;
    }
    const std::set<std::uint32_t> fixed = {0x000000, 0xB4463C, 0x3C50B4,
                                           0xDCB43C, 0x505050, 0xA0A0A0};
    for (const char* name : {"glass", "awning", "park", "", "terrace"}) {
        const std::uint32_t colour = surfaceColour(name);
        EXPECT_EQ(colour, surfaceColour(name)) << name;
        EXPECT_FALSE(fixed.count(colour)) << name;
        EXPECT_LE(colour, 0xFFFFFFu) << name;
    }
    EXPECT_NE(surfaceColour("glass"), surfaceColour("park"));
}

TEST(FacePictureValues, CountsAddUpToThePicture) {
    const std::vector<std::uint8_t> rgba = {0, 0,   1, 255, 0, 0,   1, 255, 0, 0,
                                            0, 255, 1, 2,   3, 255, 0, 0,   1, 255};
    const auto counts = countValues(FacePass::instances, rgba);
    EXPECT_EQ(counts,
              (std::vector<std::pair<std::uint32_t, std::size_t>>{{0, 1}, {1, 3}, {0x010203, 1}}));
    EXPECT_EQ(FacePictures::valueAt(FacePass::depth, &rgba[12]), 0x0102u);
}

} // namespace
} // namespace ombrel
