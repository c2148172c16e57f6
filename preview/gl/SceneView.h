#pragma once

#include "preview/gl/Camera.h"
#include "preview/gl/CityBatch.h"
#include "preview/gl/FacePictures.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ombrel {

class Drawable;

// What a frame shows besides the city.
struct SceneToggles {
    bool skyBackdrop = true; // digit 1 in the preview; off leaves the black clear colour
    bool axes = true;        // the three coordinate axes
};

// How the city is drawn. Both give the same picture, to a colour level on a few pixels.
enum class CityRenderer {
    batched,  // from vertex buffers built once per city (see CityBatch)
    immediate // the drawables' own render, every frame
};

// The picture of the city preview, in plain OpenGL + GLU, so the preview window and the
// headless batch pictures draw exactly the same frame. Every call needs a current compatibility
// context; none of them swaps buffers (the caller presents the frame).
//
// A city is drawn from vertex buffers, built the first time the city is drawn or prepared and
// kept until another city comes or the city is forgotten. Where the context has no vertex
// buffers (OpenGL before 1.5; said once in the warning log), or a drawable cannot hand over its
// faces, or the driver has no memory for them, the city is drawn in immediate mode instead.
// The backdrop image is built again only when the size changes; it is drawn as a texture over
// the window (glDrawPixels before OpenGL 2.0).
class SceneView {
public:
    SceneView() = default;
    // Touches no OpenGL: the buffers go with their context (see releaseGL).
    ~SceneView() = default;
    SceneView(const SceneView&) = delete;
    SceneView& operator=(const SceneView&) = delete;

    // One-time OpenGL state: depth test, normalisation, nicest perspective hint, smooth shading,
    // 2-D texturing, black clear colour, byte-aligned unpacking, back-face culling. Called for
    // each new context: buffers of an earlier context are forgotten (they went with it), and
    // the viewport and projection of the last size are set again.
    void initGL();

    // Viewport and a 45-degree perspective (near 5, far 7000 unless setDepthRange said
    // otherwise) for a client area of w x h pixels. A zero height (a minimised window) is taken
    // as one pixel for the aspect ratio; negative sizes count as 0.
    void resizeGL(int w, int h);
    // The perspective's near and far planes from now on (for batch pictures of cities deeper
    // than the far plane); sets the projection again. The culling follows the same planes.
    void setDepthRange(const DepthRange& range);

    // One frame: clear, sky backdrop, the look-at that puts +y into the screen and +z up, the
    // camera, the three axes and the city (when not null). The city must stay alive, unchanged,
    // until the next drawGL with another city or forgetCity: a city freed and another made at
    // its address would otherwise be drawn from the old buffers.
    void drawGL(const Drawable* city, const CameraState& camera,
                const SceneToggles& toggles = SceneToggles{});

    // One frame of a dataset picture of the city (see FacePass), from the camera and with the
    // projection drawGL uses, so that it is pixel-aligned with drawGL's frame: no backdrop, no
    // axes. The city's faces are collected on first use and kept like the buffers (the same
    // lifetime rule). False, after logging nothing, when the city cannot hand over its faces or
    // the pass cannot be drawn; *why then says why.
    bool drawFacePass(const Drawable& city, FacePass pass, const CameraState& camera,
                      std::string* why = nullptr);
    // The faces of the city drawFacePass last drew, for picking and legends.
    const FacePictures& facePictures() const { return faces_; }

    // Builds the city's buffers now (when batched) rather than in the next frame, for callers
    // that show a busy cursor meanwhile. The same lifetime rule as for drawGL applies.
    void prepareCity(const Drawable* city);

    // The city last drawn may be gone or replaced: the next frame draws it anew. Touches no
    // OpenGL; the old buffers are deleted by the next call that does.
    void forgetCity();
    // Deletes the city's buffers and the backdrop's texture; this view's context must be
    // current. Safe to repeat.
    void releaseGL();

    void setRenderer(CityRenderer renderer);
    CityRenderer renderer() const { return renderer_; }
    // Off draws every block of the batch, in view or not (for checking the culling).
    void setCulling(bool on) { culling_ = on; }
    // See CityBatch::setLimits; the window gives its frames a time for building blocks so that
    // it never freezes, batch pictures build all that is in view.
    void setBatchLimits(std::size_t budgetBytes, double buildSeconds) {
        batch_.setLimits(budgetBytes, buildSeconds);
    }
    // Whether the last frame left blocks in view to build: the next frames build them.
    bool cityPending() const { return batched_ && batch_.blocksPending() > 0; }

    int viewWidth() const { return viewWidth_; }
    int viewHeight() const { return viewHeight_; }

    // How often the backdrop image and the city's buffers were built: the first follows size
    // changes only, the second city changes and new contexts only.
    std::uint64_t backdropBuilds() const { return backdropBuilds_; }
    std::uint64_t cityBuilds() const { return cityBuilds_; }
    // Whether the last frame drew the city from buffers, and those buffers.
    bool drewBatched() const { return batched_; }
    const CityBatch& batch() const { return batch_; }

    // The backdrop image for a w x h window: RGB bytes, rows bottom-up. The top half shades
    // from sky blue to white row by row, the bottom half is white. Empty for a zero size.
    static std::vector<std::uint8_t> backdropImage(int w, int h);

private:
    void drawBackdrop();
    void drawAxes();
    void drawCity(const Drawable& city);
    void buildCity(const Drawable& city);

    DepthRange depthRange_;
    int viewWidth_ = 0;
    int viewHeight_ = 0;

    std::vector<std::uint8_t> backdrop_;
    int backdropWidth_ = 0;
    int backdropHeight_ = 0;
    std::uint64_t backdropBuilds_ = 0;
    unsigned int skyTexture_ = 0; // the backdrop's rows, 0 while not made in this context
    bool skyStale_ = true;        // skyTexture_ holds an older size
    int skyQuad_ = -1;            // whether the context can draw it (-1: not asked yet)

    CityRenderer renderer_ = CityRenderer::batched;
    bool culling_ = true;
    const Drawable* drawnCity_ = nullptr; // the city the batch is of
    bool cityStale_ = false;              // the batch's buffers wait to be deleted
    bool batched_ = false;                // drawnCity_ is drawn from batch_
    CityBatch batch_;
    FacePictures faces_;
    const Drawable* facesCity_ = nullptr; // the city faces_ holds
    bool facesBuilt_ = false;
    std::uint64_t cityBuilds_ = 0;
};

} // namespace ombrel
