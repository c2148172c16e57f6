#pragma once

#include <cstdint>

namespace ombrel {

// A point or direction on the ground plane. Every operation stores 32-bit floats, so a city
// comes out the same on every machine that rounds floats the IEEE way.
struct Vec2 {
    float x = 0.0f;
    float y = 0.0f;

    friend Vec2 operator+(Vec2 a, Vec2 b) { return {a.x + b.x, a.y + b.y}; }
    friend Vec2 operator-(Vec2 a, Vec2 b) { return {a.x - b.x, a.y - b.y}; }
    friend Vec2 operator*(Vec2 a, float s) { return {a.x * s, a.y * s}; }
    friend bool operator==(Vec2 a, Vec2 b) = default;
};

// Three floats; the unnormalised normals of box sides.
struct Vec3 {
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;
    friend bool operator==(Vec3 a, Vec3 b) = default;
};

// Colour word: red in bits 0-7, green 8-15, blue 16-23, top byte zero.
using Colour = std::uint32_t;

} // namespace ombrel
