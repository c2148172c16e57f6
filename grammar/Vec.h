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

// What every grammar element works on. Elements change it in place; the change is seen by the
// elements after it in the same sequence and by its caller.
struct GrammarState {
    Vec2 v0, v1, v2, v3;
    float height = 0.0f;
    Colour colour = 0;

    // The state at the start of a cell rectangle: corners clockwise seen from above,
    // v0->v1 along +y and v1->v2 along +x, height 0.
    static GrammarState forRect(float x0, float y0, float x1, float y1, Colour colour) {
        return GrammarState{{x0, y0}, {x0, y1}, {x1, y1}, {x1, y0}, 0.0f, colour};
    }
};

} // namespace ombrel
