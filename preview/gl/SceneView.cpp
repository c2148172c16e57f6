#include "preview/gl/SceneView.h"

#include "base/Log.h"
#include "grammar/DrawFactory.h"

#include <GL/gl.h>
#include <GL/glu.h>

#include <algorithm>
#include <cstdio>

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
    // Buffers and the sky's texture of an earlier context went with it.
    batch_.forget();
    faces_.forgetGL();
    skyTexture_ = 0;
    skyQuad_ = -1;
    cityStale_ = false;
    forgetCity();
    // A context made anew for a window that keeps its size gets no resize: it needs the
    // viewport and projection all the same.
    if (viewWidth_ > 0 || viewHeight_ > 0) {
        resizeGL(viewWidth_, viewHeight_);
    }
}

void SceneView::forgetCity() {
    drawnCity_ = nullptr;
    facesCity_ = nullptr;
    batched_ = false;
    cityStale_ = !batch_.empty();
}

void SceneView::releaseGL() {
    if (skyTexture_ != 0) {
        glDeleteTextures(1, &skyTexture_);
        skyTexture_ = 0;
    }
    batch_.release();
    faces_.releaseGL();
    cityStale_ = false;
    forgetCity();
}

void SceneView::setRenderer(CityRenderer renderer) {
    renderer_ = renderer;
}

void SceneView::resizeGL(int w, int h) {
    viewWidth_ = std::max(w, 0);
    viewHeight_ = std::max(h, 0);
    glViewport(0, 0, viewWidth_, viewHeight_);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    const double aspect =
        static_cast<double>(viewWidth_) / static_cast<double>(std::max(viewHeight_, 1));
    gluPerspective(kFieldOfViewDegrees, aspect, depthRange_.nearPlane, depthRange_.farPlane);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
}

void SceneView::setDepthRange(const DepthRange& range) {
    depthRange_ = range;
    resizeGL(viewWidth_, viewHeight_);
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
        skyStale_ = true;
    }
    const GLboolean textured = glIsEnabled(GL_TEXTURE_2D);
    glDepthMask(GL_FALSE);
    if (skyQuad_ < 0) {
        // A texture one texel wide and as high as the window needs OpenGL 2.0.
        int major = 0;
        const auto* version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
        skyQuad_ = version && std::sscanf(version, "%d", &major) == 1 && major >= 2 ? 1 : 0;
    }
    if (skyQuad_ == 0) {
        glDisable(GL_TEXTURE_2D);
        // The raster position is never set, so the image lands at the lower-left corner.
        glDrawPixels(viewWidth_, viewHeight_, GL_RGB, GL_UNSIGNED_BYTE, backdrop_.data());
    } else {
        // The image's rows as a texture one texel wide, stretched over the window: nearest
        // sampling puts row k of the texture on row k of the window, which glDrawPixels
        // does with the whole image at several times the cost.
        GLint bound = 0;
        GLint envMode = GL_MODULATE;
        GLfloat texCoord[4] = {};
        glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
        glGetTexEnviv(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, &envMode);
        glGetFloatv(GL_CURRENT_TEXTURE_COORDS, texCoord);
        if (skyTexture_ == 0) {
            glGenTextures(1, &skyTexture_);
            skyStale_ = true;
        }
        glBindTexture(GL_TEXTURE_2D, skyTexture_);
        if (skyStale_) {
            std::vector<std::uint8_t> column(static_cast<std::size_t>(viewHeight_) * 3);
            const std::size_t rowBytes = static_cast<std::size_t>(viewWidth_) * 3;
            for (std::size_t row = 0; row < static_cast<std::size_t>(viewHeight_); ++row) {
                std::copy_n(backdrop_.data() + row * rowBytes, 3, column.data() + row * 3);
            }
            glTexImage2D(GL_TEXTURE_2D, 0, GL_RGB8, 1, viewHeight_, 0, GL_RGB, GL_UNSIGNED_BYTE,
                         column.data());
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
            skyStale_ = false;
        }
        glEnable(GL_TEXTURE_2D);
        glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
        glMatrixMode(GL_PROJECTION);
        glPushMatrix();
        glLoadIdentity();
        glMatrixMode(GL_MODELVIEW);
        glPushMatrix();
        glLoadIdentity();
        glBegin(GL_QUADS);
        glTexCoord2f(0.5f, 0.0f);
        glVertex2f(-1.0f, -1.0f);
        glTexCoord2f(0.5f, 0.0f);
        glVertex2f(1.0f, -1.0f);
        glTexCoord2f(0.5f, 1.0f);
        glVertex2f(1.0f, 1.0f);
        glTexCoord2f(0.5f, 1.0f);
        glVertex2f(-1.0f, 1.0f);
        glEnd();
        glPopMatrix();
        glMatrixMode(GL_PROJECTION);
        glPopMatrix();
        glMatrixMode(GL_MODELVIEW);
        glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, envMode);
        glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(bound));
        glTexCoord4fv(texCoord);
        if (!textured) {
            glDisable(GL_TEXTURE_2D);
        }
    }
    glDepthMask(GL_TRUE);
    if (textured) {
        glEnable(GL_TEXTURE_2D);
    }
}

void SceneView::buildCity(const Drawable& city) {
    batch_.release();
    cityStale_ = false;
    drawnCity_ = &city;
    batched_ = false;
    static bool toldNoBuffers = false;
    if (!CityBatch::supported()) {
        if (!toldNoBuffers) {
            toldNoBuffers = true;
            const auto* version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
            warningLog.line("OpenGL ", version ? version : "(unknown version)",
                            " has no vertex buffers: the preview draws the city in immediate mode");
        }
        return;
    }
    switch (batch_.build(city)) {
    case CityBatch::Built::yes:
        batched_ = true;
        ++cityBuilds_;
        break;
    case CityBatch::Built::notCollectable:
        break;
    case CityBatch::Built::outOfMemory:
        warningLog.line("Not enough OpenGL memory for the city's vertex buffers: the preview "
                        "draws it in immediate mode");
        break;
    }
}

void SceneView::prepareCity(const Drawable* city) {
    if (cityStale_) {
        batch_.release();
        cityStale_ = false;
    }
    if (city && renderer_ == CityRenderer::batched && city != drawnCity_) {
        buildCity(*city);
    }
}

void SceneView::drawCity(const Drawable& city) {
    if (renderer_ == CityRenderer::immediate) {
        city.render();
        return;
    }
    if (&city != drawnCity_) {
        buildCity(city);
    }
    if (batched_ && !batch_.draw(culling_)) {
        batched_ = false;
        warningLog.line("Not enough OpenGL memory for the city's vertex buffers: the preview "
                        "draws it in immediate mode");
    }
    if (!batched_) {
        city.render();
    }
}

void SceneView::drawGL(const Drawable* city, const CameraState& camera,
                       const SceneToggles& toggles) {
    if (cityStale_) {
        batch_.release();
        cityStale_ = false;
    }
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glLoadIdentity();

    if (toggles.skyBackdrop && viewWidth_ > 0 && viewHeight_ > 0) {
        drawBackdrop();
    }

    gluLookAt(0.0, 0.0, 0.0, 0.0, 20.0, 0.0, 0.0, 0.0, 1.0);
    applyCamera(camera);

    // Axes in world coordinates; x and y one unit above the ground.
    if (toggles.axes) {
        drawAxes();
    }

    if (city) {
        drawCity(*city);
    }
}

bool SceneView::drawFacePass(const Drawable& city, FacePass pass, const CameraState& camera,
                             std::string* why) {
    if (&city != facesCity_) {
        facesCity_ = &city;
        facesBuilt_ = faces_.build(city);
    }
    if (!facesBuilt_) {
        if (why) {
            *why = "the city cannot hand over its faces";
        }
        return false;
    }
    glLoadIdentity();
    gluLookAt(0.0, 0.0, 0.0, 0.0, 20.0, 0.0, 0.0, 0.0, 1.0);
    applyCamera(camera);
    return faces_.draw(pass, why);
}

void SceneView::drawAxes() {
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
}

} // namespace ombrel
