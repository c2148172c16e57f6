#include "preview/gl/Camera.h"

#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>
#include <string>
#include <vector>

namespace ombrel {
namespace {

constexpr float kTol = 1e-5f;

void expectVec(Vec3 expected, Vec3 actual, const std::string& what) {
    EXPECT_NEAR(expected.x, actual.x, kTol) << what;
    EXPECT_NEAR(expected.y, actual.y, kTol) << what;
    EXPECT_NEAR(expected.z, actual.z, kTol) << what;
}

void expectMat(const Mat3& expected, const Mat3& actual, const std::string& what) {
    for (int i = 0; i < 9; ++i) {
        EXPECT_NEAR(expected[i], actual[i], kTol) << what << " element " << i;
    }
}

struct MoveCase {
    const char* name;
    std::vector<int> held;
    Vec3 expected; // position after one tick from the origin at speed 15, identity orientation
};

TEST(CameraTick, MovesAlongTheLastHeldKeyInOrder) {
    const std::vector<MoveCase> cases = {
        {"up moves forward", {keys::Up}, {0, 15, 0}},
        {"down moves back", {keys::Down}, {0, -15, 0}},
        {"right moves right", {keys::Right}, {15, 0, 0}},
        {"left moves left", {keys::Left}, {-15, 0, 0}},
        {"home moves up", {keys::Home}, {0, 0, 15}},
        {"end moves down", {keys::End}, {0, 0, -15}},
        {"up and right moves only right", {keys::Up, keys::Right}, {15, 0, 0}},
        {"right and end moves only down", {keys::Right, keys::End}, {0, 0, -15}},
        {"up and down moves back", {keys::Down, keys::Up}, {0, -15, 0}},
    };
    for (const MoveCase& c : cases) {
        Camera cam;
        for (int k : c.held) {
            cam.keyPressed(k, false);
        }
        EXPECT_TRUE(cam.tick(false)) << c.name;
        expectVec(c.expected, cam.position, c.name);
        expectMat(identityMat3(), cam.orientation, c.name);
    }
}

TEST(CameraTick, MovesAlongTheCameraAxesNotTheWorld) {
    Camera cam;
    // A camera turned a quarter to the right: looking along +x, its right axis along -y.
    cam.orientation = {0, -1, 0, 1, 0, 0, 0, 0, 1};
    cam.keyPressed(keys::Up, false);
    cam.tick(false);
    expectVec({15, 0, 0}, cam.position, "forward after a quarter turn");
}

struct TurnCase {
    const char* name;
    int key;
    Mat3 expected; // after one tick with rotateStep 90
};

TEST(CameraTick, ShiftTurnsAboutTheCameraAxes) {
    const std::vector<TurnCase> cases = {
        {"up pitches the view down", keys::Up, {1, 0, 0, 0, 0, -1, 0, 1, 0}},
        {"down pitches the view up", keys::Down, {1, 0, 0, 0, 0, 1, 0, -1, 0}},
        {"right yaws towards the right axis", keys::Right, {0, -1, 0, 1, 0, 0, 0, 0, 1}},
        {"left yaws towards the left", keys::Left, {0, 1, 0, -1, 0, 0, 0, 0, 1}},
        {"home rolls the right axis up", keys::Home, {0, 0, 1, 0, 1, 0, -1, 0, 0}},
        {"end rolls the right axis down", keys::End, {0, 0, -1, 0, 1, 0, 1, 0, 0}},
    };
    for (const TurnCase& c : cases) {
        Camera cam;
        cam.rotateStep = 90.0f;
        cam.keyPressed(c.key, true);
        EXPECT_TRUE(cam.tick(true)) << c.name;
        expectMat(c.expected, cam.orientation, c.name);
        EXPECT_EQ((Vec3{0, 0, 0}), cam.position) << c.name << " moved";
    }
}

TEST(CameraTick, ShiftWithUpAndRightOnlyYaws) {
    Camera cam;
    cam.rotateStep = 90.0f;
    cam.keyPressed(keys::Up, true);
    cam.keyPressed(keys::Right, true);
    cam.tick(true);
    expectMat({0, -1, 0, 1, 0, 0, 0, 0, 1}, cam.orientation, "only the right turn");
}

TEST(CameraTick, TurnsComposeOnTheLeft) {
    Camera cam;
    cam.rotateStep = 90.0f;
    cam.keyPressed(keys::Right, true);
    cam.tick(true); // now looking along +x
    cam.keyReleased(keys::Right);
    cam.keyPressed(keys::Up, true);
    cam.tick(true); // pitch about the camera's own right axis (world -y)
    // Viewing direction turned towards the camera's down axis: world -z.
    EXPECT_NEAR(cam.orientation[3], 0.0f, kTol);
    EXPECT_NEAR(cam.orientation[4], 0.0f, kTol);
    EXPECT_NEAR(cam.orientation[5], -1.0f, kTol);
}

TEST(CameraTick, OneDegreeStepUsesTheDefaultStep) {
    Camera cam;
    cam.keyPressed(keys::Right, true);
    cam.tick(true);
    const double a = 0.017453293;
    EXPECT_NEAR(cam.orientation[0], static_cast<float>(std::cos(a)), 1e-7);
    EXPECT_NEAR(cam.orientation[1], -static_cast<float>(std::sin(a)), 1e-7);
}

TEST(CameraTick, RightShiftDoesNotTurn) {
    // The window passes only the left Shift's state; right Shift is an ordinary key.
    Camera cam;
    cam.keyPressed(keys::RightShift, false);
    cam.keyPressed(keys::Right, false);
    cam.tick(false);
    expectVec({15, 0, 0}, cam.position, "right shift moves");
    expectMat(identityMat3(), cam.orientation, "right shift does not turn");
}

TEST(CameraTick, RGoesHomeWhateverElseIsHeld) {
    for (bool shift : {false, true}) {
        Camera cam;
        cam.setHome(CameraState{{5, -400, 30}, identityMat3()});
        cam.position = {100, 100, 100};
        cam.orientation = {0, -1, 0, 1, 0, 0, 0, 0, 1};
        cam.keyPressed(keys::Up, shift);
        cam.keyPressed(keys::Left, shift);
        cam.keyPressed(keys::R, shift);
        for (int tick = 0; tick < 3; ++tick) {
            EXPECT_TRUE(cam.tick(shift));
            const std::string name =
                std::string(shift ? "with" : "without") + " shift, tick " + std::to_string(tick);
            expectVec({5, -400, 30}, cam.position, name);
            expectMat(identityMat3(), cam.orientation, name);
        }
    }
}

TEST(CameraTick, NothingHeldChangesNothing) {
    Camera cam;
    cam.keyPressed('A', false);
    EXPECT_FALSE(cam.tick(false));
    EXPECT_FALSE(cam.tick(true));
    expectVec({0, 0, 0}, cam.position, "idle");
}

TEST(CameraTick, ReleasedKeysStopTheCamera) {
    Camera cam;
    cam.keyPressed(keys::Up, false);
    cam.keyReleased(keys::Up);
    EXPECT_TRUE(cam.tick(false)) << "a key tapped between two ticks moves one tick";
    EXPECT_EQ(15.0f, cam.position.y);
    EXPECT_FALSE(cam.tick(false)) << "and no more";
    cam.keyPressed(keys::Up, false);
    cam.releaseAllKeys();
    EXPECT_FALSE(cam.tick(false)) << "releaseAllKeys forgets held keys";
}

struct AdjustCase {
    const char* name;
    bool shift;
    std::vector<int> presses; // each key pressed and released in turn
    float speed;
    float step;
};

TEST(CameraSpeed, AdjustsByTheHeldKeypadKeys) {
    const std::vector<AdjustCase> cases = {
        {"minus from 15 gives 5", false, {keys::NumpadSubtract}, 5, 1},
        {"minus twice stays at 5", false, {keys::NumpadSubtract, keys::NumpadSubtract}, 5, 1},
        {"plus gives 25", false, {keys::NumpadAdd}, 25, 1},
        {"5 then plus gives 15", false, {keys::NumpadSubtract, keys::NumpadAdd}, 15, 1},
        {"shift minus leaves step 1", true, {keys::NumpadSubtract}, 15, 1},
        {"shift plus gives step 6", true, {keys::NumpadAdd}, 15, 6},
        {"shift plus twice gives 11", true, {keys::NumpadAdd, keys::NumpadAdd}, 15, 11},
        {"shift plus then minus gives 1", true, {keys::NumpadAdd, keys::NumpadSubtract}, 15, 1},
        {"other keys adjust nothing", false, {keys::Up, 'X'}, 15, 1},
    };
    for (const AdjustCase& c : cases) {
        Camera cam;
        for (int k : c.presses) {
            cam.keyPressed(k, c.shift);
            cam.keyReleased(k);
        }
        EXPECT_FLOAT_EQ(c.speed, cam.moveSpeed) << c.name;
        EXPECT_FLOAT_EQ(c.step, cam.rotateStep) << c.name;
    }
}

TEST(CameraSpeed, AnyKeyDownWhilePlusIsHeldAdjustsAgain) {
    Camera cam;
    cam.keyPressed(keys::NumpadAdd, false);
    cam.keyPressed(keys::Up, false);
    cam.keyPressed(keys::NumpadAdd, false); // auto-repeat
    EXPECT_FLOAT_EQ(45.0f, cam.moveSpeed);
}

// Framing sets a speed that crosses the framed city's longer side in about five seconds of
// held key (500 ticks), whatever the city's size; a tiny city still moves.
TEST(CameraSpeed, FramingSetsASpeedForTheCity) {
    const struct {
        Vec3 min, max;
        float speed;
    } cases[] = {
        {{0, 0, 0}, {1000, 600, 40}, 2.0f},
        {{0, 0, 0}, {200, 6000, 40}, 12.0f},
        {{-50000, 0, 0}, {50000, 10, 40}, 200.0f},
        {{0, 0, 0}, {30, 30, 5}, 1.0f},
    };
    for (const auto& c : cases) {
        Camera cam;
        cam.frame(c.min, c.max, 1.0);
        EXPECT_FLOAT_EQ(cam.moveSpeed, c.speed) << c.max.x << " x " << c.max.y;
    }
}

TEST(CameraKeys, CodesOutsideTheTableAreIgnored) {
    Camera cam;
    cam.keyPressed(-1, false);
    cam.keyPressed(256, false);
    cam.keyReleased(1000);
    EXPECT_FALSE(cam.tick(false));
}

TEST(CameraToggles, DigitsFlipTheirToggleOnly) {
    Camera cam;
    EXPECT_TRUE(cam.characterTyped(U'1'));
    EXPECT_EQ(1, cam.toggles[1]);
    EXPECT_TRUE(cam.characterTyped(U'1'));
    EXPECT_EQ(0, cam.toggles[1]);
    EXPECT_TRUE(cam.characterTyped(U'9'));
    EXPECT_EQ(1, cam.toggles[9]);
    for (char32_t c : {U'a', U'R', U'/', U':', U' '}) {
        EXPECT_FALSE(cam.characterTyped(c)) << static_cast<unsigned>(c);
    }
}

TEST(CameraPlacement, FacesTheCityFromItsFrontEdge) {
    const CameraState s = cameraFacingCity({0, 0, 0}, {500, 800, 120});
    expectVec({250, -400, 120}, s.position, "home");
    expectMat(identityMat3(), s.orientation, "home orientation");
    Camera cam;
    cam.moveSpeed = 25;
    cam.position = {1, 2, 3};
    cam.orientation = {0, -1, 0, 1, 0, 0, 0, 0, 1};
    cam.setHome(s);
    expectVec(s.position, cam.position, "position");
    expectVec(s.position, cam.homePosition, "homePosition");
    expectMat(identityMat3(), cam.orientation, "orientation");
    EXPECT_FLOAT_EQ(25.0f, cam.moveSpeed) << "speed is kept";
}

// Applies a column-major 4x4 to a point.
Vec3 transform(const std::array<float, 16>& m, Vec3 v) {
    return {m[0] * v.x + m[4] * v.y + m[8] * v.z + m[12],
            m[1] * v.x + m[5] * v.y + m[9] * v.z + m[13],
            m[2] * v.x + m[6] * v.y + m[10] * v.z + m[14]};
}

TEST(CameraMatrix, TakesWorldPointsIntoCameraSpace) {
    struct Case {
        const char* name;
        CameraState cam;
        Vec3 world;
        Vec3 expected;
    };
    const Mat3 quarterRight = {0, -1, 0, 1, 0, 0, 0, 0, 1};
    const std::vector<Case> cases = {
        {"identity at origin", {{0, 0, 0}, identityMat3()}, {1, 2, 3}, {1, 2, 3}},
        {"translated", {{10, -400, 50}, identityMat3()}, {10, 0, 50}, {0, 400, 0}},
        {"turned", {{0, 0, 0}, quarterRight}, {1, 0, 0}, {0, 1, 0}},
        {"turned and moved", {{5, 5, 0}, quarterRight}, {5, 6, 0}, {-1, 0, 0}},
    };
    for (const Case& c : cases) {
        const std::array<float, 16> m = cameraMatrix(c.cam);
        expectVec(c.expected, transform(m, c.world), c.name);
        EXPECT_EQ(0.0f, m[3]) << c.name;
        EXPECT_EQ(0.0f, m[7]) << c.name;
        EXPECT_EQ(0.0f, m[11]) << c.name;
        EXPECT_EQ(1.0f, m[15]) << c.name;
    }
}

} // namespace
} // namespace ombrel
