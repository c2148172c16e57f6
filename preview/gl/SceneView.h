#pragma once

#include "preview/gl/Camera.h"

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
class SceneView {
public:
    // One-time OpenGL state: depth test, normalisation, nicest perspective hint, smooth shading,
    // 2-D texturing, black clear colour, byte-aligned unpacking, back-face culling.
    void initGL();

    // Viewport and a 45-degree perspective (near 5, far 7000) for a client area of w x h pixels.
    // A zero height (a minimised window) is taken as one pixel for the aspect ratio; negative
    // sizes count as 0.
    void resizeGL(int w, int h);

    // One frame: clear, sky backdrop, the look-at that puts +y into the screen and +z up, the
    // camera, the three axes and the city (when not null).
    void drawGL(const Drawable* city, const CameraState& camera,
                const SceneToggles& toggles = SceneToggles{}) const;

    int viewWidth() const { return viewWidth_; }
    int viewHeight() const { return viewHeight_; }

    // The backdrop image for a w x h window: RGB bytes, rows bottom-up. The top half shades
    // from sky blue to white row by row, the bottom half is white. Empty for a zero size.
    static std::vector<std::uint8_t> backdropImage(int w, int h);

private:
    int viewWidth_ = 0;
    int viewHeight_ = 0;
};

} // namespace ombrel
