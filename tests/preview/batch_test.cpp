#include "base/Log.h"
#include "config/CityFactory.h"
#include "grammar/Texture.h"
#include "preview/gl/HeadlessGL.h"
#include "preview/gl/SceneView.h"
#include "preview/gl/TextureCache.h"
#include "tests/support/FreshContext.h"
#include "vrml/VRNode.h"

#include <GL/gl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace ombrel {
namespace {

constexpr int kWidth = 200;
constexpr int kHeight = 150;

const std::string kSource = OMBREL_SOURCE_DIR;

// Two small cities whose faces lie on each other: roofs on the closed tops of boxes (a second,
// smaller one on the first), and markings on the streets.
std::string roofsOnBoxes() {
    return R"(<?xml version="1.0" encoding="UTF-8"?>
<Ombrel numCellsX="6" numCellsY="6" cellSizeX="20" cellSizeY="20" randomSeed="5">
  <TextureGroup name="walls">
    <Texture imageURL=")" +
           kSource + R"(/examples/textures/facade1.png" scalex="3" scaley="3"/>
    <Texture imageURL=")" +
           kSource + R"(/examples/textures/office.png" scalex="2" scaley="2"/>
  </TextureGroup>
  <TextureGroup name="roofs">
    <Texture imageURL=")" +
           kSource + R"(/examples/textures/roof_gravel.png" scalex="2" scaley="2"/>
  </TextureGroup>
  <Building probability="1" vrmlTag="B_%X_%Y">
    <ScaleTo scalex="0.8" scaley="0.8"/>
    <DrawBox height="[10,40]" closed="yes" useTextureGroup="walls"/>
    <DrawFloor useTextureGroup="roofs"/>
    <ScaleTo scalex="0.5" scaley="0.5"/>
    <DrawFloor noColor="true"/>
  </Building>
</Ombrel>
)";
}

// Plant rooms standing on the gravel roofs of a row of towers, flush with their fronts: the
// roof goes on under a plant room, so where the room's front wall meets it both have the same
// depth. The white pads come first, so that grouping by colour and texture alone would draw the
// plant rooms before the roofs, where immediate mode draws them after.
std::string plantRoomsOnRoofs() {
    return R"(<?xml version="1.0" encoding="UTF-8"?>
<Ombrel numCellsX="8" numCellsY="1" cellSizeX="100" cellSizeY="100" randomSeed="3">
  <TextureGroup name="walls">
    <Texture imageURL=")" +
           kSource + R"(/examples/textures/facade1.png" scalex="3" scaley="3"/>
    <Texture imageURL=")" +
           kSource + R"(/examples/textures/bands.png" scalex="2" scaley="3"/>
  </TextureGroup>
  <TextureGroup name="gravel">
    <Texture imageURL=")" +
           kSource + R"(/examples/textures/roof_gravel.png" scalex="4" scaley="4"/>
  </TextureGroup>
  <Building probability="1" vrmlTag="T_%X_%Y">
    <DrawFloor noColor="true"/>
    <ScaleTo scalex="0.8" scaley="0.8"/>
    <DrawBox height="100" closed="no" useTextureGroup="walls"/>
    <DrawFloor useTextureGroup="gravel"/>
    <ScaleTo where="v0" scalex="[15,45]" scaley="[15,45]" scaleType="exact"/>
    <DrawBox height="15" closed="onlyTop" noColor="true"/>
  </Building>
</Ombrel>
)";
}

std::string markedStreets() {
    auto street = [](const char* type, const char* image) {
        return std::string("  <Street type=\"") + type +
               "\">\n    <DrawFloor><Texture imageURL=\"" + kSource + "/examples/textures/" +
               image +
               "\"/></DrawFloor>\n    <ScaleTo scalex=\"0.3\" scaley=\"0.3\"/>\n"
               "    <DrawFloor><Texture imageURL=\"" +
               kSource + "/examples/textures/asphalt.png\"/></DrawFloor>\n  </Street>\n";
    };
    return R"(<?xml version="1.0" encoding="UTF-8"?>
<Ombrel numCellsX="9" numCellsY="9" cellSizeX="20" cellSizeY="20" streetEveryX="2"
        streetEveryY="2" streetSizeX="10" streetSizeY="10" randomSeed="7">
)" + street("horizontal", "road_h.png") +
           street("vertical", "road_v.png") + street("cross", "crossing.png") + R"(
  <Building probability="1" vrmlTag="P_%X_%Y">
    <DrawFloor><Texture imageURL=")" +
           kSource + R"(/examples/textures/grass.png"/></DrawFloor>
    <ScaleTo scalex="0.5" scaley="0.5"/>
    <DrawFloor><Texture imageURL=")" +
           kSource + R"(/examples/textures/pavement.png"/></DrawFloor>
    <DrawBox height="[5,15]" closed="onlyTop" useLastTexture="true"/>
  </Building>
</Ombrel>
)";
}

std::string writeCity(const std::string& name, const std::string& text) {
    const std::string path = ::testing::TempDir() + "/" + name;
    std::ofstream(path) << text;
    return path;
}

// Differing pixels of two RGBA frames, and the largest difference in one channel.
struct Difference {
    int pixels = 0;
    int most = 0;
};
Difference compare(const std::vector<std::uint8_t>& x, const std::vector<std::uint8_t>& y) {
    Difference d;
    for (std::size_t i = 0; i + 3 < std::min(x.size(), y.size()); i += 4) {
        int most = 0;
        for (int c = 0; c < 3; ++c) {
            most = std::max(most, std::abs(int(x[i + c]) - int(y[i + c])));
        }
        d.pixels += most != 0;
        d.most = std::max(d.most, most);
    }
    if (x.size() != y.size()) {
        d.pixels = -1;
    }
    return d;
}

class BatchTest : public ::testing::Test {
protected:
    void SetUp() override {
        testsupport::useFreshGenerationContext();
        std::string why;
        gl_ = HeadlessGL::create(kWidth, kHeight, &why);
        if (!gl_) {
            GTEST_SKIP() << "no headless OpenGL here: " << why;
        }
        for (SceneView* v : {&batched_, &immediate_}) {
            v->initGL();
            v->resizeGL(kWidth, kHeight);
        }
        immediate_.setRenderer(CityRenderer::immediate);
    }
    void TearDown() override {
        if (gl_) {
            batched_.releaseGL();
            releaseTextures();
        }
        testsupport::useFreshGenerationContext();
    }

    void load(const std::string& path) {
        ASSERT_TRUE(factory_.load(path)) << log_.text();
        for (const auto& [name, group] : factory_.textureGroups) {
            groups_.push_back(group);
        }
    }

    // Deletes the texture objects of every file loaded so far (cities keep their textures).
    void releaseTextures() {
        for (const auto& group : groups_) {
            for (auto& entry : group->textures.entries()) {
                TextureCache::release(*entry.item);
            }
        }
    }

    // A frame's pixels, then the texture binding and texture coordinate it leaves behind (the
    // next frame's axes are drawn with them). Every frame starts from the same leftovers.
    std::vector<std::uint8_t> frame(SceneView& view, const Drawable* city,
                                    const CameraState& camera) {
        glBindTexture(GL_TEXTURE_2D, 0);
        glTexCoord2f(0.0f, 0.0f);
        view.drawGL(city, camera);
        EXPECT_EQ(static_cast<GLenum>(GL_NO_ERROR), glGetError());
        std::vector<std::uint8_t> result = gl_->readPixels();
        GLint bound = 0;
        GLfloat coord[4] = {};
        glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
        glGetFloatv(GL_CURRENT_TEXTURE_COORDS, coord);
        for (float v : {static_cast<float>(bound), coord[0], coord[1]}) {
            const auto* bytes = reinterpret_cast<const std::uint8_t*>(&v);
            result.insert(result.end(), bytes, bytes + 4);
        }
        return result;
    }

    // Cameras that see the city from its home, from among its buildings, and from above.
    static std::vector<std::pair<const char*, CameraState>>
    cameras(const CityFactory::Generated& city) {
        const Vec3 lo = city.minCorner;
        const Vec3 hi = city.maxCorner;
        CameraState inside;
        inside.position = {lo.x + (hi.x - lo.x) * 0.45f, lo.y + (hi.y - lo.y) * 0.2f, 8.0f};
        return {{"home", cameraFacingCity(lo, hi)},
                {"inside", inside},
                {"overview", overviewCamera(lo, hi, double(kWidth) / kHeight)}};
    }

    StringLogSink log_;
    ScopedLogSink scoped_{log_};
    std::unique_ptr<HeadlessGL> gl_;
    CityFactory factory_;
    std::vector<std::shared_ptr<TextureGroup>> groups_;
    SceneView batched_;
    SceneView immediate_;
};

// Drawn from buffers, every city looks as immediate mode draws it: at most 0.05% of the pixels
// differ, by one colour level at most, and the frame leaves the same texture state behind.
TEST_F(BatchTest, PictureIsTheImmediatePicture) {
    struct Case {
        const char* name;
        std::string file;
        bool onRoofEdges = false; // also seen from onEdges
    };
    const Case cases[] = {
        {"town", kSource + "/examples/town/town.xml"},
        {"downtown", kSource + "/examples/downtown/downtown.xml"},
        {"metropolis", kSource + "/examples/metropolis/metropolis.xml"},
        {"roofs on boxes", writeCity("roofs.xml", roofsOnBoxes())},
        {"marked streets", writeCity("streets.xml", markedStreets())},
        {"plant rooms on roofs", writeCity("plant-rooms.xml", plantRoomsOnRoofs()), true},
    };
    // Looking down at 45 degrees from 1000 units away onto the plant rooms' roofs' front edges
    // (y = 10, z = 100), which lie half a pixel below the middle: on a row of pixel centres,
    // which both the roof and the plant room's wall cover.
    CameraState onEdges;
    {
        const double pi = 3.14159265358979323846;
        const double down = pi / 4 + std::atan(0.5 * std::tan(pi / 8) / (kHeight / 2.0));
        onEdges.position = {400.0f, float(10.0 - 1000.0 * std::cos(down)),
                            float(100.0 + 1000.0 * std::sin(down))};
        const float c = float(std::sqrt(0.5));
        onEdges.orientation = {1, 0, 0, 0, c, -c, 0, c, c};
    }
    const int allowed = kWidth * kHeight * 5 / 10000;
    for (const Case& c : cases) {
        load(c.file);
        const CityFactory::Generated city = factory_.generate();
        std::vector<std::pair<const char*, CameraState>> views = cameras(city);
        if (c.onRoofEdges) {
            views.emplace_back("on the roofs' edges", onEdges);
        }
        for (const auto& [view, camera] : views) {
            const std::vector<std::uint8_t> expected = frame(immediate_, city.city.get(), camera);
            const std::vector<std::uint8_t> got = frame(batched_, city.city.get(), camera);
            EXPECT_TRUE(batched_.drewBatched()) << c.name << ", " << view;
            const Difference d = compare(expected, got);
            EXPECT_LE(d.pixels, allowed) << c.name << ", " << view;
            EXPECT_GE(d.pixels, 0) << c.name << ", " << view;
            EXPECT_LE(d.most, 1) << c.name << ", " << view;
            EXPECT_EQ(0, std::memcmp(expected.data() + expected.size() - 12,
                                     got.data() + got.size() - 12, 12))
                << c.name << ", " << view << ": texture state left behind";
        }
        batched_.forgetCity();
    }
}

// The overview of a city deeper than the far plane is drawn whole with depthRangeFor's planes,
// which a city within the far plane keeps at 5 and 7000.
TEST_F(BatchTest, OverviewOfADeepCityShowsEveryBlock) {
    const std::string wide = R"(<?xml version="1.0" encoding="UTF-8"?>
<Ombrel numCellsX="48" numCellsY="48" cellSizeX="200" cellSizeY="200" randomSeed="9">
  <Building probability="1" vrmlTag="B_%X_%Y">
    <ScaleTo scalex="0.5" scaley="0.5"/>
    <DrawBox height="[20,200]" closed="onlyTop"/>
  </Building>
</Ombrel>
)";
    load(writeCity("wide.xml", wide));
    const CityFactory::Generated city = factory_.generate();
    const CameraState camera =
        overviewCamera(city.minCorner, city.maxCorner, double(kWidth) / kHeight);
    const DepthRange range = depthRangeFor(camera, city.minCorner, city.maxCorner);
    EXPECT_GT(range.farPlane, kFarPlane);
    EXPECT_GE(range.nearPlane, kNearPlane);

    frame(batched_, city.city.get(), camera);
    ASSERT_GT(batched_.batch().blockCount(), 1u);
    EXPECT_LT(batched_.batch().blocksDrawn(), batched_.batch().blockCount())
        << "the usual far plane cuts the city";
    batched_.setDepthRange(range);
    frame(batched_, city.city.get(), camera);
    EXPECT_EQ(batched_.batch().blockCount(), batched_.batch().blocksDrawn());

    const CameraState home = cameraFacingCity(city.minCorner, city.maxCorner);
    const DepthRange near = depthRangeFor(home, {0, 0, 0}, {2000, 2000, 100});
    EXPECT_EQ(kNearPlane, near.nearPlane);
    EXPECT_EQ(kFarPlane, near.farPlane);
}

// Given no time for building, the frames build one block each until every block in view is
// built, and the last of them is the frame of the city built whole.
TEST_F(BatchTest, BuildingBlockByBlockEndsInTheWholeFrame) {
    load(kSource + "/examples/metropolis/metropolis.xml");
    const CityFactory::Generated city = factory_.generate();
    const CameraState home = cameraFacingCity(city.minCorner, city.maxCorner);
    const std::vector<std::uint8_t> whole = frame(batched_, city.city.get(), home);
    EXPECT_FALSE(batched_.cityPending());

    SceneView lazy;
    lazy.initGL();
    lazy.resizeGL(kWidth, kHeight);
    lazy.setBatchLimits(1, 0.0);
    std::vector<std::uint8_t> last;
    int frames = 0;
    do {
        last = frame(lazy, city.city.get(), home);
        ++frames;
    } while (lazy.cityPending() && frames < 1000);
    EXPECT_EQ(0, compare(whole, last).pixels);
    EXPECT_EQ(batched_.batch().blocksDrawn(), static_cast<std::size_t>(frames));
    EXPECT_EQ(batched_.batch().blocksDrawn(), lazy.batch().blocksBuilt());
    lazy.releaseGL();
}

// Leaving out the blocks outside the view and the faces turned away never drops a face that
// shows.
TEST_F(BatchTest, CullingDropsNothingVisible) {
    load(kSource + "/examples/metropolis/metropolis.xml");
    const CityFactory::Generated city = factory_.generate();
    std::vector<std::pair<const char*, CameraState>> views = cameras(city);
    CameraState turned = views[1].second;
    turned.orientation = {0, -1, 0, 1, 0, 0, 0, 0, 1}; // looking along +x
    views.emplace_back("inside, turned", turned);
    CameraState low = cameraFacingCity(city.minCorner, city.maxCorner);
    low.position.z = 2.0f;
    views.emplace_back("home, near the ground", low);
    for (const auto& [name, camera] : views) {
        batched_.setCulling(true);
        const std::vector<std::uint8_t> culled = frame(batched_, city.city.get(), camera);
        const std::size_t drawn = batched_.batch().blocksDrawn();
        batched_.setCulling(false);
        const std::vector<std::uint8_t> all = frame(batched_, city.city.get(), camera);
        EXPECT_EQ(0, compare(culled, all).pixels) << name;
        EXPECT_EQ(batched_.batch().blockCount(), batched_.batch().blocksDrawn()) << name;
        if (std::string(name) == "inside") {
            EXPECT_LT(drawn, batched_.batch().blockCount()) << name << ": some blocks culled";
        }
    }
}

// The buffers follow the city, survive freed textures and a reloaded file, and are made again
// for a new city, a forgotten one and a new context.
TEST_F(BatchTest, BuffersFollowCityTexturesAndContext) {
    load(kSource + "/examples/town/town.xml");
    const CityFactory::Generated a = factory_.generate();
    const CityFactory::Generated b = factory_.generate();
    const CameraState camera = cameraFacingCity(a.minCorner, a.maxCorner);
    std::vector<std::uint8_t> pictureA = frame(immediate_, a.city.get(), camera);
    std::vector<std::uint8_t> pictureB = frame(immediate_, b.city.get(), camera);
    ASSERT_GT(compare(pictureA, pictureB).pixels, 100) << "two different cities";

    enum Before { Nothing, ReleaseTextures, Reload, ForgetCity, NewContext };
    struct Step {
        const char* name;
        Before before;
        const CityFactory::Generated& city;
        std::uint64_t builds; // after the frame
    };
    const Step steps[] = {
        {"A built", Nothing, a, 1},
        {"A again", Nothing, a, 1},
        {"B built", Nothing, b, 2},
        {"B again", Nothing, b, 2},
        {"textures freed: B uploads them again", ReleaseTextures, b, 2},
        {"file reloaded: B keeps its textures", Reload, b, 2},
        {"city forgotten: B built again", ForgetCity, b, 3},
        {"back to A", Nothing, a, 4},
        {"new context: A built again", NewContext, a, 5},
        {"and kept", Nothing, a, 5},
    };
    for (const Step& s : steps) {
        if (s.before == ReleaseTextures) {
            releaseTextures();
        } else if (s.before == Reload) {
            load(kSource + "/examples/town/town.xml");
        } else if (s.before == ForgetCity) {
            batched_.forgetCity();
        } else if (s.before == NewContext) {
            // The old context goes with its buffers and texture objects.
            releaseTextures();
            gl_.reset();
            gl_ = HeadlessGL::create(kWidth, kHeight);
            ASSERT_TRUE(gl_);
            batched_.initGL();
            immediate_.initGL();
            // The new context names its texture objects afresh (and Mesa's first context draws
            // a few pixels differently): the references are drawn in it.
            pictureA = frame(immediate_, a.city.get(), camera);
            pictureB = frame(immediate_, b.city.get(), camera);
        }
        const std::vector<std::uint8_t>& expected = &s.city == &a ? pictureA : pictureB;
        const Difference d = compare(frame(batched_, s.city.city.get(), camera), expected);
        EXPECT_EQ(0, d.pixels) << s.name;
        EXPECT_EQ(s.builds, batched_.cityBuilds()) << s.name;
    }
}

TEST_F(BatchTest, BackdropFollowsTheSizeOnly) {
    const CameraState camera;
    struct Step {
        const char* name;
        int width; // resize to width x kHeight first, unless 0
        bool sky;
        std::uint64_t builds; // after the frame
    };
    const Step steps[] = {
        {"first frame", 0, true, 1},
        {"second frame", 0, true, 1},
        {"same size again", kWidth, true, 1},
        {"narrower", kWidth / 2, true, 2},
        {"backdrop off", kWidth, false, 2},
        {"backdrop on at the new size", 0, true, 3},
        {"and stays", 0, true, 3},
    };
    for (const Step& s : steps) {
        if (s.width != 0) {
            batched_.resizeGL(s.width, kHeight);
        }
        SceneToggles toggles;
        toggles.skyBackdrop = s.sky;
        batched_.drawGL(nullptr, camera, toggles);
        EXPECT_EQ(s.builds, batched_.backdropBuilds()) << s.name;
        // The top-left pixel is the first row of the image for the current size, or black.
        std::uint32_t top = 0;
        if (s.sky) {
            const std::vector<std::uint8_t> image =
                SceneView::backdropImage(batched_.viewWidth(), kHeight);
            const std::uint8_t* row = image.data() + (image.size() - batched_.viewWidth() * 3);
            top = row[0] | row[1] << 8 | row[2] << 16;
        }
        EXPECT_EQ(top, gl_->pixel(0, kHeight - 1) & 0xFFFFFF) << s.name;
    }
}

} // namespace
} // namespace ombrel
