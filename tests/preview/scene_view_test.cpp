#include "grammar/DrawFactory.h"
#include "preview/gl/HeadlessGL.h"
#include "preview/gl/SceneView.h"
#include "vrml/VRNode.h"

#include <GL/gl.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>

namespace ombrel {
namespace {

// A flat magenta square on the ground around the origin, facing up.
class GroundSquare : public Drawable {
public:
    void render() const override {
        glColor3ub(255, 0, 255);
        glBegin(GL_QUADS);
        glVertex3f(-50, -50, 0);
        glVertex3f(50, -50, 0);
        glVertex3f(50, 50, 0);
        glVertex3f(-50, 50, 0);
        glEnd();
    }
    VRRef<VRNode> toVrml() const override { return nullptr; }
};

class SceneViewTest : public ::testing::Test {
protected:
    static constexpr int kWidth = 120;
    static constexpr int kHeight = 100;

    void SetUp() override {
        std::string why;
        gl_ = HeadlessGL::create(kWidth, kHeight, &why);
        if (!gl_) {
            GTEST_SKIP() << "no headless OpenGL here: " << why;
        }
        view_.initGL();
        view_.resizeGL(kWidth, kHeight);
    }

    // Pixel with x from the left and the row counted from the top, 1-based.
    std::uint32_t pixelFromTop(int x, int row) { return gl_->pixel(x, kHeight - row) & 0xFFFFFF; }

    static std::uint32_t rgb(int r, int g, int b) {
        return static_cast<std::uint32_t>(r) | static_cast<std::uint32_t>(g) << 8 |
               static_cast<std::uint32_t>(b) << 16;
    }

    std::unique_ptr<HeadlessGL> gl_;
    SceneView view_;
};

TEST_F(SceneViewTest, BackdropRowsMatchTheImage) {
    view_.drawGL(nullptr, CameraState{});
    struct Case {
        int row;
        std::uint32_t expected;
    };
    const Case cases[] = {{1, rgb(82, 207, 250)},
                          {2, rgb(86, 208, 250)},
                          {51, rgb(255, 255, 255)},
                          {100, rgb(255, 255, 255)}};
    for (const Case& c : cases) {
        // The left column stays clear of the axes, which lie at the centre.
        EXPECT_EQ(c.expected, pixelFromTop(2, c.row)) << "row " << c.row;
    }
}

TEST_F(SceneViewTest, EveryPixelIsTheBackdropImage) {
    SceneToggles toggles;
    toggles.axes = false;
    for (int height : {kHeight, kHeight - 37}) {
        view_.resizeGL(kWidth, height);
        view_.drawGL(nullptr, CameraState{}, toggles);
        const std::vector<std::uint8_t> pixels = gl_->readPixels();
        const std::vector<std::uint8_t> image = SceneView::backdropImage(kWidth, height);
        int differing = 0;
        for (std::size_t i = 0; i < image.size() / 3; ++i) {
            differing += std::memcmp(&pixels[i * 4], &image[i * 3], 3) != 0;
        }
        EXPECT_EQ(0, differing) << "height " << height;
    }
}

TEST_F(SceneViewTest, BlackWithoutTheBackdrop) {
    SceneToggles toggles;
    toggles.skyBackdrop = false;
    view_.drawGL(nullptr, CameraState{}, toggles);
    for (int row : {1, 50, 100}) {
        EXPECT_EQ(0u, pixelFromTop(2, row)) << "row " << row;
    }
}

TEST_F(SceneViewTest, AxesShowInFrontOfTheCamera) {
    // Up and back from the origin, so all three axes lie in view.
    CameraState camera;
    camera.position = {40, -250, 60};
    SceneToggles toggles;
    toggles.skyBackdrop = false;
    view_.drawGL(nullptr, camera, toggles);
    const std::vector<std::uint8_t> pixels = gl_->readPixels();
    int red = 0, green = 0, yellow = 0;
    for (std::size_t i = 0; i + 3 < pixels.size(); i += 4) {
        const int r = pixels[i], g = pixels[i + 1], b = pixels[i + 2];
        red += r > 200 && g < 60 && b < 60;
        green += r < 60 && g > 200 && b < 60;
        yellow += r > 200 && g > 200 && b < 60;
    }
    EXPECT_GT(red, 0) << "x axis";
    EXPECT_GT(green, 0) << "y axis";
    EXPECT_GT(yellow, 0) << "z axis";
}

TEST_F(SceneViewTest, DrawsTheCityThroughTheCamera) {
    GroundSquare square;
    const CameraState camera = cameraFacingCity({-50, -50, 0}, {50, 50, 100});
    view_.drawGL(&square, camera);
    // Seen from above its front edge, the square covers the lower middle of the picture.
    EXPECT_EQ(rgb(255, 0, 255), pixelFromTop(kWidth / 2 - 15, 82));
    EXPECT_EQ(rgb(82, 207, 250), pixelFromTop(2, 1)) << "sky stays behind it";
}

TEST_F(SceneViewTest, ZeroHeightKeepsTheProjectionFinite) {
    view_.resizeGL(kWidth, 0);
    GLfloat projection[16];
    glGetFloatv(GL_PROJECTION_MATRIX, projection);
    for (int i = 0; i < 16; ++i) {
        EXPECT_TRUE(std::isfinite(projection[i])) << "element " << i;
    }
    EXPECT_EQ(0, view_.viewHeight());
    view_.drawGL(nullptr, CameraState{}); // no backdrop rows to draw, and no crash
    EXPECT_EQ(static_cast<GLenum>(GL_NO_ERROR), glGetError());
}

} // namespace
} // namespace ombrel
