#include "base/Log.h"
#include "config/CityFactory.h"
#include "grammar/GenerationContext.h"
#include "grammar/Texture.h"
#include "preview/gl/HeadlessGL.h"
#include "preview/gl/SceneView.h"
#include "preview/gl/TextureCache.h"
#include "tests/support/FreshContext.h"
#include "vrml/VRNode.h"

#include <GL/gl.h>
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace ombrel {
namespace {

constexpr int kWidth = 160;
constexpr int kHeight = 120;

// The recorded city replays the very frame that drawing it afresh gives, and a city or texture
// change is never hidden by an old recording.
class CityListTest : public ::testing::Test {
protected:
    void SetUp() override {
        testsupport::useFreshGenerationContext();
        std::string why;
        gl_ = HeadlessGL::create(kWidth, kHeight, &why);
        if (!gl_) {
            GTEST_SKIP() << "no headless OpenGL here: " << why;
        }
        ASSERT_TRUE(factory_.load(std::string(OMBREL_SOURCE_DIR) + "/examples/town/town.xml"))
            << log_.text();
        a_ = factory_.generate();
        b_ = factory_.generate();
        camera_ = cameraFacingCity(a_.minCorner, a_.maxCorner);
        for (SceneView* v : {&view_, &fresh_}) {
            v->initGL();
            v->resizeGL(kWidth, kHeight);
        }
    }
    void TearDown() override {
        if (gl_) {
            view_.releaseGL();
            releaseTextures();
        }
        testsupport::useFreshGenerationContext();
    }

    void releaseTextures() {
        for (auto& [name, group] : factory_.textureGroups) {
            for (auto& entry : group->textures.entries()) {
                TextureCache::release(*entry.item);
            }
        }
    }

    // A frame's pixels, then the texture binding and texture coordinate it leaves behind (the
    // next frame's axes are drawn with them). Every frame starts from the same leftovers.
    std::vector<std::uint8_t> frame(SceneView& view, const Drawable* city) {
        glBindTexture(GL_TEXTURE_2D, 0);
        glTexCoord2f(0.0f, 0.0f);
        view.drawGL(city, camera_);
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

    static int differing(const std::vector<std::uint8_t>& x, const std::vector<std::uint8_t>& y) {
        if (x.size() != y.size()) {
            return -1;
        }
        int n = 0;
        for (std::size_t i = 0; i < x.size(); i += 4) {
            n += std::memcmp(&x[i], &y[i], 4) != 0;
        }
        return n;
    }

    StringLogSink log_;
    ScopedLogSink scoped_{log_};
    std::unique_ptr<HeadlessGL> gl_;
    CityFactory factory_;
    CityFactory::Generated a_;
    CityFactory::Generated b_;
    CameraState camera_;
    SceneView view_;
    SceneView fresh_; // draws every city once only, so never from a recording
};

TEST_F(CityListTest, RecordingFollowsCityAndTextures) {
    const std::vector<std::uint8_t> pictureA = frame(fresh_, a_.city.get());
    const std::vector<std::uint8_t> pictureB = frame(fresh_, b_.city.get());
    ASSERT_GT(differing(pictureA, pictureB), 100) << "two different cities";
    ASSERT_EQ(0u, fresh_.cityListBuilds());

    enum Before { Nothing, ReleaseTextures, ForgetCity };
    struct Step {
        const char* name;
        Before before;
        const CityFactory::Generated& city;
        std::uint64_t listBuilds; // after the frame
    };
    const Step steps[] = {
        {"A drawn afresh", Nothing, a_, 0},
        {"A recorded", Nothing, a_, 1},
        {"A replayed", Nothing, a_, 1},
        {"B drawn afresh", Nothing, b_, 1},
        {"B recorded", Nothing, b_, 2},
        {"B replayed", Nothing, b_, 2},
        {"textures freed: B drawn afresh", ReleaseTextures, b_, 2},
        {"B recorded with the new texture names", Nothing, b_, 3},
        {"B replayed again", Nothing, b_, 3},
        {"city forgotten: B drawn afresh", ForgetCity, b_, 3},
        {"B recorded after forgetting", Nothing, b_, 4},
        {"back to A: drawn afresh", Nothing, a_, 4},
        {"A replayed after its recording", Nothing, a_, 5},
    };
    for (const Step& s : steps) {
        if (s.before == ReleaseTextures) {
            releaseTextures();
        } else if (s.before == ForgetCity) {
            view_.forgetCity();
        }
        const std::vector<std::uint8_t>& expected = &s.city == &a_ ? pictureA : pictureB;
        EXPECT_EQ(0, differing(frame(view_, s.city.city.get()), expected)) << s.name;
        EXPECT_EQ(s.listBuilds, view_.cityListBuilds()) << s.name;
    }
}

TEST_F(CityListTest, BackdropFollowsTheSizeOnly) {
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
            view_.resizeGL(s.width, kHeight);
        }
        SceneToggles toggles;
        toggles.skyBackdrop = s.sky;
        view_.drawGL(nullptr, camera_, toggles);
        EXPECT_EQ(s.builds, view_.backdropBuilds()) << s.name;
        // The top-left pixel is the first row of the image for the current size, or black.
        std::uint32_t top = 0;
        if (s.sky) {
            const std::vector<std::uint8_t> image =
                SceneView::backdropImage(view_.viewWidth(), kHeight);
            const std::uint8_t* row = image.data() + (image.size() - view_.viewWidth() * 3);
            top = row[0] | row[1] << 8 | row[2] << 16;
        }
        EXPECT_EQ(top, gl_->pixel(0, kHeight - 1) & 0xFFFFFF) << s.name;
    }
}

// A generated city past 512 x 512 cells is drawn afresh every frame: its recording would take
// far more memory than it saves time.
TEST_F(CityListTest, HugeCityIsNeverRecorded) {
    struct Nothing : Drawable {
        void render() const override {}
        VRRef<VRNode> toVrml() const override { return nullptr; }
    };
    struct Case {
        const char* name;
        std::size_t cells;
        std::uint64_t listBuilds; // after three frames
    };
    const Case cases[] = {{"512 x 512 recorded", 512 * 512, 1},
                          {"one cell more drawn afresh", 512 * 512 + 1, 1}};
    for (const Case& c : cases) {
        CityFactory::CityDrawable city;
        for (std::size_t i = 0; i < c.cells; ++i) {
            city.roadDrawables.push_back(std::make_unique<Nothing>());
        }
        for (int frame = 0; frame < 3; ++frame) {
            view_.drawGL(&city, camera_, SceneToggles{}, city.cellCount());
        }
        EXPECT_EQ(c.listBuilds, view_.cityListBuilds()) << c.name;
        view_.forgetCity();
    }
}

} // namespace
} // namespace ombrel
