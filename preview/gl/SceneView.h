#pragma once

#include "preview/gl/Camera.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace ombrel {

class Drawable;

// What a frame shows besides the city.
struct SceneToggles {
    bool skyBackdrop = true; // digit 1 in the preview; off leaves the black clear colour
};

// The picture of the city preview, in plain OpenGL 1.1 + GLU, so the preview window and the
// headless batch pictures draw exactly the same frame. Every call needs a current compatibility
// context; none of them swaps buffers (the caller presents the frame).
//
// To keep a big city smooth, the city's drawing is recorded in a display list the second time
// the same city is drawn (a one-off picture never pays for it) and replayed from then on; the
// list is recorded afresh when the city changes or when any texture object is uploaded, deleted
// or forgotten (its name may then be stale or reused). A generated city of more than 512 x 512
// cells is never recorded (the recording would take some 1.7 KB per cell). The backdrop image
// is built again only when the size changes. The frames are those of drawing everything afresh,
// except where the driver cuts recorded quadrilaterals into triangles along the other diagonal
// than in immediate mode (Mesa does): a few pixels then differ by a colour level.
class SceneView {
public:
    SceneView() = default;
    // Touches no OpenGL: the display list goes with its context (see releaseGL).
    ~SceneView() = default;
    SceneView(const SceneView&) = delete;
    SceneView& operator=(const SceneView&) = delete;

    // One-time OpenGL state: depth test, normalisation, nicest perspective hint, smooth shading,
    // 2-D texturing, black clear colour, byte-aligned unpacking, back-face culling. Called for
    // each new context: a display list of an earlier context is forgotten (it went with it),
    // and the viewport and projection of the last size are set again.
    void initGL();

    // Viewport and a 45-degree perspective (near 5, far 7000) for a client area of w x h pixels.
    // A zero height (a minimised window) is taken as one pixel for the aspect ratio; negative
    // sizes count as 0.
    void resizeGL(int w, int h);

    // One frame: clear, sky backdrop, the look-at that puts +y into the screen and +z up, the
    // camera, the three axes and the city (when not null). The city must stay alive, unchanged,
    // until the next drawGL with another city or forgetCity: a city freed and another made at
    // its address would otherwise replay the old recording. `cityCells` is the number of the
    // city's cells (0 when not known); a city of more than kMaxRecordedCells is never recorded.
    void drawGL(const Drawable* city, const CameraState& camera,
                const SceneToggles& toggles = SceneToggles{}, std::size_t cityCells = 0);

    // The recording takes about 1.7 KB of driver memory per cell of the bundled cities; past
    // this many cells (512 x 512) it would cost more memory than the little time it saves is
    // worth.
    static constexpr std::size_t kMaxRecordedCells = 512 * 512;

    // The city last drawn may be gone or replaced: the next frame draws the city afresh.
    void forgetCity();
    // Deletes the city's display list; this view's context must be current. Safe to repeat.
    void releaseGL();

    int viewWidth() const { return viewWidth_; }
    int viewHeight() const { return viewHeight_; }

    // How often the backdrop image and the city's display list were built: the first follows
    // size changes only, the second city and texture changes only.
    std::uint64_t backdropBuilds() const { return backdropBuilds_; }
    std::uint64_t cityListBuilds() const { return cityListBuilds_; }

    // The backdrop image for a w x h window: RGB bytes, rows bottom-up. The top half shades
    // from sky blue to white row by row, the bottom half is white. Empty for a zero size.
    static std::vector<std::uint8_t> backdropImage(int w, int h);

private:
    void drawBackdrop();
    void drawCity(const Drawable& city, std::size_t cityCells);

    int viewWidth_ = 0;
    int viewHeight_ = 0;

    std::vector<std::uint8_t> backdrop_;
    int backdropWidth_ = 0;
    int backdropHeight_ = 0;
    std::uint64_t backdropBuilds_ = 0;

    // The city drawn last and the texture-change count right after: seeing both again means
    // every texture it binds is uploaded, so it can be recorded.
    const Drawable* drawnCity_ = nullptr;
    std::uint64_t drawnTextures_ = 0;
    unsigned int cityList_ = 0; // display list name in this view's context, 0 for none
    bool listReady_ = false;    // cityList_ holds drawnCity_ as of drawnTextures_
    bool listRefused_ = false;  // drawnCity_ is too big to record, or the driver had no memory
    std::uint64_t cityListBuilds_ = 0;
};

} // namespace ombrel
