#pragma once

#include "base/Vec.h"

#include <array>
#include <cstdint>

namespace ombrel {

// Key codes that index the camera's key table. They are the desktop's classic virtual-key
// numbers; the window layer maps its own key events onto them.
namespace keys {
constexpr int End = 0x23;
constexpr int Home = 0x24;
constexpr int Left = 0x25;
constexpr int Up = 0x26;
constexpr int Right = 0x27;
constexpr int Down = 0x28;
constexpr int R = 0x52;
constexpr int NumpadAdd = 0x6B;
constexpr int NumpadSubtract = 0x6D;
constexpr int LeftShift = 0xA0;
constexpr int RightShift = 0xA1;
} // namespace keys

// 3 x 3 row-major: row 0 is the camera's right axis, row 1 its viewing direction, row 2 its up
// axis, all in world coordinates (z up).
using Mat3 = std::array<float, 9>;

constexpr Mat3 identityMat3() {
    return {1, 0, 0, 0, 1, 0, 0, 0, 1};
}

// Where the camera stands and how it is turned; all that drawing a frame needs of it.
struct CameraState {
    Vec3 position;
    Mat3 orientation = identityMat3();

    friend bool operator==(const CameraState&, const CameraState&) = default;
};

// The camera that "Generate" puts in front of a new city: at the middle of the bounding box's x
// extent, 400 units before the y = 0 edge, at the height of the box's top, looking along +y.
CameraState cameraFacingCity(Vec3 cityMin, Vec3 cityMax);

// The projection every frame uses: a vertical field of view of 45 degrees, near plane 5, far
// plane 7000.
constexpr double kFieldOfViewDegrees = 45.0;
constexpr double kNearPlane = 5.0;
constexpr double kFarPlane = 7000.0;

// The near and far planes of a perspective.
struct DepthRange {
    double nearPlane = kNearPlane;
    double farPlane = kFarPlane;
};

// The planes that keep all of the box within a picture seen by `camera`: the usual ones when
// the box lies nearer than the far plane, else a far plane just beyond its farthest corner and
// a near plane at half the depth of its nearest corner (no nearer than usual), which keeps the
// depth buffer's steps small. For batch pictures; the preview keeps 5 and 7000.
DepthRange depthRangeFor(const CameraState& camera, Vec3 boxMin, Vec3 boxMax);

// The camera turned as `view` is, moved so that the box's centre lies straight ahead and backed
// off along the view just far enough that all of the box lies in a 45-degree view of the given
// aspect ratio (width over height) and beyond the near plane. A box larger than the far plane
// allows is framed all the same, and shows cut off unless drawn with depthRangeFor's planes.
CameraState framedCamera(const CameraState& view, Vec3 boxMin, Vec3 boxMax, double aspect);

// The whole box seen from above at 45 degrees, looking along +y and down, framed.
CameraState overviewCamera(Vec3 boxMin, Vec3 boxMax, double aspect);

// The model-view factor for a camera, column-major for glMultMatrixf: a world point v is taken
// to R (v - p), with R the orientation and p the position.
std::array<float, 16> cameraMatrix(const CameraState& camera);

// Multiplies the current OpenGL matrix by cameraMatrix(camera). Needs a current context.
void applyCamera(const CameraState& camera);

// The keyboard-flown camera: the table of held keys, the digit toggles, speed and step, and the
// per-tick arithmetic. Knows nothing of windows or timers; the window feeds it key events and
// calls tick() every 10 ms, and reads the left Shift key's state for both.
class Camera {
public:
    std::array<std::uint8_t, 256> keyDown{};
    std::array<std::uint8_t, 10> toggles{};
    float moveSpeed = 15.0f; // distance per tick
    float rotateStep = 1.0f; // degrees per tick
    Vec3 position;
    Vec3 homePosition;
    Mat3 orientation = identityMat3();

    // A key went down (auto-repeat included): marks it held, then adjusts the speed (or, with
    // left Shift, the step) while numeric-keypad + or - is held. Codes outside 0..255 are ignored.
    // A key pressed and released again before the next tick still counts as held at that tick.
    void keyPressed(int code, bool leftShift);
    // A key went up; codes outside 0..255 are ignored.
    void keyReleased(int code);
    // A character was typed: a digit flips its toggle and returns true; anything else, false.
    bool characterTyped(char32_t c);
    // Forgets every held key, as when the window loses the keyboard and will not see the
    // releases.
    void releaseAllKeys() {
        keyDown.fill(0);
        pressedSinceTick_.fill(0);
    }

    // One tick: turns (with left Shift) or moves by the held keys, and by those pressed since
    // the last tick; R sends the camera home. Returns true when the camera changed and the
    // frame needs redrawing.
    bool tick(bool leftShift);

    // Mouse navigation. Turns by yaw degrees about the world's up axis (positive turns left)
    // and then by pitch degrees about the camera's right axis (positive looks up).
    void turn(float yawDegrees, float pitchDegrees);
    // Moves along the camera's right and up axes.
    void pan(float right, float up);
    // Moves along the viewing direction by `steps` times the move speed (negative: back).
    void advance(float steps);
    // Frames the box (see framedCamera); the orientation stays. The move speed becomes one
    // that crosses the box's longer side on the ground in kFramedCrossingTicks ticks (about five
    // seconds), at least 1, so that a held key flies through a framed city of any size at a
    // pace one can follow.
    void frame(Vec3 boxMin, Vec3 boxMax, double aspect);
    static constexpr float kFramedCrossingTicks = 500.0f;

    // Places the camera and its home at a new spot, facing along identity.
    void setHome(const CameraState& home);

    CameraState state() const { return CameraState{position, orientation}; }

    bool held(int code) const { return keyDown[static_cast<std::size_t>(code)] != 0; }

private:
    // Held now, or pressed since the last tick.
    bool active(int code) const {
        return held(code) || pressedSinceTick_[static_cast<std::size_t>(code)] != 0;
    }
    std::array<std::uint8_t, 256> pressedSinceTick_{};
};

} // namespace ombrel
