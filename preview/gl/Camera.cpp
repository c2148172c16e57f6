#include "preview/gl/Camera.h"

#include <GL/gl.h>

#include <algorithm>
#include <cmath>
#include <limits>

namespace ombrel {

namespace {

// Degrees to radians with single-precision pi over 180, applied in double precision.
constexpr double kDegreesToRadians = 0.017453293;

Mat3 multiply(const Mat3& a, const Mat3& b) {
    Mat3 r{};
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            float sum = 0.0f;
            for (int k = 0; k < 3; ++k) {
                sum += a[i * 3 + k] * b[k * 3 + j];
            }
            r[i * 3 + j] = sum;
        }
    }
    return r;
}

// Rotation about the camera's own right axis (pitch), viewing axis (roll) or up axis (yaw).
Mat3 pitch(double a) {
    const float c = static_cast<float>(std::cos(a));
    const float s = static_cast<float>(std::sin(a));
    return {1, 0, 0, 0, c, -s, 0, s, c};
}
Mat3 yaw(double a) {
    const float c = static_cast<float>(std::cos(a));
    const float s = static_cast<float>(std::sin(a));
    return {c, -s, 0, s, c, 0, 0, 0, 1};
}
Mat3 roll(double a) {
    const float c = static_cast<float>(std::cos(a));
    const float s = static_cast<float>(std::sin(a));
    return {c, 0, s, 0, 1, 0, -s, 0, c};
}

Vec3 row(const Mat3& m, int i) {
    return {m[i * 3], m[i * 3 + 1], m[i * 3 + 2]};
}
Vec3 negate(Vec3 v) {
    return {-v.x, -v.y, -v.z};
}

bool validCode(int code) {
    return code >= 0 && code < 256;
}

} // namespace

CameraState cameraFacingCity(Vec3 cityMin, Vec3 cityMax) {
    return CameraState{{(cityMin.x + cityMax.x) / 2.0f, -400.0f, cityMax.z}, identityMat3()};
}

CameraState framedCamera(const CameraState& view, Vec3 boxMin, Vec3 boxMax, double aspect) {
    const Mat3& r = view.orientation;
    const double centre[3] = {(double(boxMin.x) + boxMax.x) / 2.0,
                              (double(boxMin.y) + boxMax.y) / 2.0,
                              (double(boxMin.z) + boxMax.z) / 2.0};
    const double tanV = std::tan(kFieldOfViewDegrees / 2.0 * 3.14159265358979323846 / 180.0);
    const double tanH = tanV * (aspect > 0.0 ? aspect : 1.0);
    double distance = 0.0;
    for (int k = 0; k < 8; ++k) {
        const double q[3] = {(k & 1 ? double(boxMax.x) : boxMin.x) - centre[0],
                             (k & 2 ? double(boxMax.y) : boxMin.y) - centre[1],
                             (k & 4 ? double(boxMax.z) : boxMin.z) - centre[2]};
        double local[3];
        for (int i = 0; i < 3; ++i) {
            local[i] = r[i * 3] * q[0] + r[i * 3 + 1] * q[1] + r[i * 3 + 2] * q[2];
        }
        // The corner's depth, local[1] + distance, must see it within both half-angles and
        // beyond the near plane.
        distance = std::max({distance, std::fabs(local[0]) / tanH - local[1],
                             std::fabs(local[2]) / tanV - local[1], kNearPlane - local[1]});
    }
    // The viewing direction is row 1, taken as a unit vector.
    const double fx = r[3], fy = r[4], fz = r[5];
    const double length = std::sqrt(fx * fx + fy * fy + fz * fz);
    const double back = length > 0.0 ? distance / length : distance;
    CameraState framed = view;
    framed.position = {static_cast<float>(centre[0] - fx * back),
                       static_cast<float>(centre[1] - fy * back),
                       static_cast<float>(centre[2] - fz * back)};
    return framed;
}

DepthRange depthRangeFor(const CameraState& camera, Vec3 boxMin, Vec3 boxMax) {
    const Mat3& r = camera.orientation;
    const double length =
        std::sqrt(double(r[3]) * r[3] + double(r[4]) * r[4] + double(r[5]) * r[5]);
    if (!(length > 0.0)) {
        return DepthRange{};
    }
    double nearest = std::numeric_limits<double>::max();
    double farthest = std::numeric_limits<double>::lowest();
    for (int k = 0; k < 8; ++k) {
        const double q[3] = {(k & 1 ? double(boxMax.x) : boxMin.x) - camera.position.x,
                             (k & 2 ? double(boxMax.y) : boxMin.y) - camera.position.y,
                             (k & 4 ? double(boxMax.z) : boxMin.z) - camera.position.z};
        const double depth = (r[3] * q[0] + r[4] * q[1] + r[5] * q[2]) / length;
        nearest = std::min(nearest, depth);
        farthest = std::max(farthest, depth);
    }
    if (!(farthest > kFarPlane)) {
        return DepthRange{};
    }
    DepthRange range;
    range.farPlane = farthest * 1.01 + 1.0;
    // As far out as the box allows: the depth buffer's steps grow with far / near.
    range.nearPlane = std::max(kNearPlane, nearest * 0.5);
    return range;
}

CameraState overviewCamera(Vec3 boxMin, Vec3 boxMax, double aspect) {
    CameraState view;
    view.orientation = pitch(45.0 * kDegreesToRadians);
    return framedCamera(view, boxMin, boxMax, aspect);
}

std::array<float, 16> cameraMatrix(const CameraState& camera) {
    const Mat3& r = camera.orientation;
    const Vec3 p = camera.position;
    std::array<float, 16> m{};
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            m[j * 4 + i] = r[i * 3 + j];
        }
        m[12 + i] = -(r[i * 3] * p.x + r[i * 3 + 1] * p.y + r[i * 3 + 2] * p.z);
    }
    m[15] = 1.0f;
    return m;
}

void applyCamera(const CameraState& camera) {
    const std::array<float, 16> m = cameraMatrix(camera);
    glMultMatrixf(m.data());
}

void Camera::keyPressed(int code, bool leftShift) {
    if (!validCode(code)) {
        return;
    }
    keyDown[static_cast<std::size_t>(code)] = 1;
    pressedSinceTick_[static_cast<std::size_t>(code)] = 1;
    // The adjustment looks at the table, not at the key just pressed: any key-down while + or -
    // is held adjusts again. Neither value drops below its start (step 1, speed 5).
    if (leftShift) {
        if (held(keys::NumpadAdd)) {
            rotateStep += 5.0f;
        }
        if (held(keys::NumpadSubtract) && rotateStep > 1.0f) {
            rotateStep -= 5.0f;
        }
    } else {
        if (held(keys::NumpadAdd)) {
            moveSpeed += 10.0f;
        }
        if (held(keys::NumpadSubtract) && moveSpeed > 10.0f) {
            moveSpeed -= 10.0f;
        }
    }
}

void Camera::keyReleased(int code) {
    if (validCode(code)) {
        keyDown[static_cast<std::size_t>(code)] = 0;
    }
}

bool Camera::characterTyped(char32_t c) {
    if (c < U'0' || c > U'9') {
        return false;
    }
    std::uint8_t& t = toggles[static_cast<std::size_t>(c - U'0')];
    t = t ? 0 : 1;
    return true;
}

bool Camera::tick(bool leftShift) {
    bool changed = false;
    if (leftShift) {
        // Each held key replaces the pending turn, so the last in this order wins.
        const double a = static_cast<double>(rotateStep) * kDegreesToRadians;
        const Mat3* turn = nullptr;
        Mat3 d{};
        if (active(keys::Up)) {
            d = pitch(a);
            turn = &d;
        }
        if (active(keys::Down)) {
            d = pitch(-a);
            turn = &d;
        }
        if (active(keys::Right)) {
            d = yaw(a);
            turn = &d;
        }
        if (active(keys::Left)) {
            d = yaw(-a);
            turn = &d;
        }
        if (active(keys::Home)) {
            d = roll(a);
            turn = &d;
        }
        if (active(keys::End)) {
            d = roll(-a);
            turn = &d;
        }
        if (turn) {
            // Turning about the camera's own axes; not re-orthonormalised.
            orientation = multiply(*turn, orientation);
            changed = true;
        }
    } else {
        const Vec3* dir = nullptr;
        Vec3 d;
        if (active(keys::Up)) {
            d = row(orientation, 1);
            dir = &d;
        }
        if (active(keys::Down)) {
            d = negate(row(orientation, 1));
            dir = &d;
        }
        if (active(keys::Right)) {
            d = row(orientation, 0);
            dir = &d;
        }
        if (active(keys::Left)) {
            d = negate(row(orientation, 0));
            dir = &d;
        }
        if (active(keys::Home)) {
            d = row(orientation, 2);
            dir = &d;
        }
        if (active(keys::End)) {
            d = negate(row(orientation, 2));
            dir = &d;
        }
        if (dir) {
            position.x += moveSpeed * dir->x;
            position.y += moveSpeed * dir->y;
            position.z += moveSpeed * dir->z;
            changed = true;
        }
    }
    if (active(keys::R)) {
        orientation = identityMat3();
        position = homePosition;
        changed = true;
    }
    pressedSinceTick_.fill(0);
    return changed;
}

void Camera::turn(float yawDegrees, float pitchDegrees) {
    // Yaw turns every axis about the world's z; pitch turns the view and up axes about the
    // (new) right axis.
    const double a = static_cast<double>(yawDegrees) * kDegreesToRadians;
    const float c = static_cast<float>(std::cos(a));
    const float s = static_cast<float>(std::sin(a));
    Mat3& m = orientation;
    for (int i = 0; i < 3; ++i) {
        const float x = m[i * 3];
        const float y = m[i * 3 + 1];
        m[i * 3] = c * x - s * y;
        m[i * 3 + 1] = s * x + c * y;
    }
    orientation = multiply(pitch(-static_cast<double>(pitchDegrees) * kDegreesToRadians), m);
}

void Camera::pan(float right, float up) {
    const Vec3 r = row(orientation, 0);
    const Vec3 u = row(orientation, 2);
    position.x += right * r.x + up * u.x;
    position.y += right * r.y + up * u.y;
    position.z += right * r.z + up * u.z;
}

void Camera::advance(float steps) {
    const Vec3 f = row(orientation, 1);
    const float d = steps * moveSpeed;
    position.x += d * f.x;
    position.y += d * f.y;
    position.z += d * f.z;
}

void Camera::frame(Vec3 boxMin, Vec3 boxMax, double aspect) {
    position = framedCamera(state(), boxMin, boxMax, aspect).position;
    const float side = std::max(boxMax.x - boxMin.x, boxMax.y - boxMin.y);
    if (std::isfinite(side)) {
        moveSpeed = std::max(1.0f, side / kFramedCrossingTicks);
    }
}

void Camera::setHome(const CameraState& home) {
    homePosition = home.position;
    position = home.position;
    orientation = home.orientation;
}

} // namespace ombrel
