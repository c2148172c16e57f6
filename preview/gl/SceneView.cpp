#include "preview/gl/SceneView.h"

#include "grammar/DrawFactory.h"
#include "preview/gl/TextureCache.h"

#include <GL/gl.h>
#include <GL/glu.h>

#include <algorithm>

namespace ombrel {

void SceneView::initGL() {
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_NORMALIZE);
    glHint(GL_PERSPECTIVE_CORRECTION_HINT, GL_NICEST);
    glShadeModel(GL_SMOOTH);
    glEnable(GL_TEXTURE_2D);
    glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glEnable(GL_CULL_FACE);
    cityList_ = 0;
    forgetCity();
    // A context made anew for a window that keeps its size gets no resize: it needs the
    // viewport and projection all the same.
    if (viewWidth_ > 0 || viewHeight_ > 0) {
        resizeGL(viewWidth_, viewHeight_);
    }
}

void SceneView::forgetCity() {
    listReady_ = false;
    listRefused_ = false;
    drawnCity_ = nullptr;
}

void SceneView::releaseGL() {
    if (cityList_ != 0) {
        glDeleteLists(cityList_, 1);
        cityList_ = 0;
    }
    forgetCity();
}

void SceneView::resizeGL(int w, int h) {
    viewWidth_ = std::max(w, 0);
    viewHeight_ = std::max(h, 0);
    glViewport(0, 0, viewWidth_, viewHeight_);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    const double aspect =
        static_cast<double>(viewWidth_) / static_cast<double>(std::max(viewHeight_, 1));
    gluPerspective(45.0, aspect, 5.0, 7000.0);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
}

std::vector<std::uint8_t> SceneView::backdropImage(int w, int h) {
    if (w <= 0 || h <= 0) {
        return {};
    }
    const std::size_t width = static_cast<std::size_t>(w);
    const std::size_t height = static_cast<std::size_t>(h);
    std::vector<std::uint8_t> image(width * height * 3);
    // Doubling the step makes the shading reach white half-way down. The colour is accumulated
    // row by row in single precision, which leaves the middle row just short of white.
    const float start[3] = {0.31f, 0.81f, 0.98f};
    const float span[3] = {0.69f, 0.19f, 0.02f};
    float colour[3];
    float step[3];
    for (int c = 0; c < 3; ++c) {
        colour[c] = start[c];
        step[c] = span[c] / static_cast<float>(h) * 2.0f;
    }
    for (std::size_t fromTop = 0; fromTop < height; ++fromTop) {
        std::uint8_t rgb[3];
        for (int c = 0; c < 3; ++c) {
            colour[c] += step[c];
            rgb[c] = colour[c] >= 1.0f ? 255 : static_cast<std::uint8_t>(colour[c] * 255.0f);
        }
        std::uint8_t* out = image.data() + (height - 1 - fromTop) * width * 3;
        for (std::size_t x = 0; x < width; ++x) {
            out[x * 3] = rgb[0];
            out[x * 3 + 1] = rgb[1];
            out[x * 3 + 2] = rgb[2];
        }
    }
    return image;
}

void SceneView::drawBackdrop() {
    if (backdropWidth_ != viewWidth_ || backdropHeight_ != viewHeight_ || backdrop_.empty()) {
        backdrop_ = backdropImage(viewWidth_, viewHeight_);
        backdropWidth_ = viewWidth_;
        backdropHeight_ = viewHeight_;
        ++backdropBuilds_;
    }
    const GLboolean textured = glIsEnabled(GL_TEXTURE_2D);
    glDisable(GL_TEXTURE_2D);
    glDepthMask(GL_FALSE);
    // The raster position is never set, so the image lands at the lower-left corner.
    glDrawPixels(viewWidth_, viewHeight_, GL_RGB, GL_UNSIGNED_BYTE, backdrop_.data());
    glDepthMask(GL_TRUE);
    if (textured) {
        glEnable(GL_TEXTURE_2D);
    }
}

void SceneView::drawCity(const Drawable& city, std::size_t cityCells) {
    const std::uint64_t textureChanges = TextureCache::changes();
    const bool same = drawnCity_ == &city && drawnTextures_ == textureChanges;
    if (same && listReady_) {
        glCallList(cityList_);
        return;
    }
    if (same && !listRefused_) {
        if (cityList_ == 0) {
            cityList_ = glGenLists(1);
        }
        if (cityList_ != 0) {
            // Every texture it binds was uploaded by the last frame, so the recording holds
            // texture names only, never images.
            glNewList(cityList_, GL_COMPILE_AND_EXECUTE);
            city.render();
            glEndList();
            ++cityListBuilds_;
            // A list the driver had no memory for is undefined: this city is drawn afresh
            // every frame instead. A texture uploaded or freed meanwhile would have put an
            // image or a dead name into the list: record again next frame.
            listRefused_ = glGetError() == GL_OUT_OF_MEMORY;
            listReady_ = !listRefused_ && TextureCache::changes() == drawnTextures_;
            if (!listReady_) {
                glNewList(cityList_, GL_COMPILE); // give the memory back
                glEndList();
                drawnTextures_ = TextureCache::changes();
            }
            return;
        }
    }
    if (!same) {
        listReady_ = false;
        listRefused_ = cityCells > kMaxRecordedCells;
    }
    city.render();
    drawnCity_ = &city;
    drawnTextures_ = TextureCache::changes();
}

void SceneView::drawGL(const Drawable* city, const CameraState& camera, const SceneToggles& toggles,
                       std::size_t cityCells) {
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glLoadIdentity();

    if (toggles.skyBackdrop && viewWidth_ > 0 && viewHeight_ > 0) {
        drawBackdrop();
    }

    gluLookAt(0.0, 0.0, 0.0, 0.0, 20.0, 0.0, 0.0, 0.0, 1.0);
    applyCamera(camera);

    // Axes in world coordinates; x and y one unit above the ground.
    glBegin(GL_LINES);
    glColor3f(0.0f, 1.0f, 0.0f);
    glVertex3f(0.0f, 0.0f, 1.0f);
    glVertex3f(0.0f, 100.0f, 1.0f);
    glColor3f(1.0f, 0.0f, 0.0f);
    glVertex3f(0.0f, 0.0f, 1.0f);
    glVertex3f(100.0f, 0.0f, 1.0f);
    glColor3f(1.0f, 1.0f, 0.0f);
    glVertex3f(0.0f, 0.0f, 0.0f);
    glVertex3f(0.0f, 0.0f, 100.0f);
    glEnd();

    if (city) {
        drawCity(*city, cityCells);
    }
}

} // namespace ombrel
