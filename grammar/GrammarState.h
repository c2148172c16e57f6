#pragma once

#include "base/Vec.h"

namespace ombrel {

struct SurfaceDefaults;

// What every grammar element works on. Elements change it in place; the change is seen by the
// elements after it in the same sequence and by its caller.
struct GrammarState {
    Vec2 v0, v1, v2, v3;
    float height = 0.0f;
    Colour colour = 0;
    // What the definition being run gives its drawing elements; none outside a definition.
    const SurfaceDefaults* surfaces = nullptr;

    // The state at the start of a cell rectangle: corners clockwise seen from above,
    // v0->v1 along +y and v1->v2 along +x, height 0.
    static GrammarState forRect(float x0, float y0, float x1, float y1, Colour colour) {
        return GrammarState{{x0, y0}, {x0, y1}, {x1, y1}, {x1, y0}, 0.0f, colour};
    }
};

} // namespace ombrel
