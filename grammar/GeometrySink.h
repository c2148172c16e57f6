#pragma once

#include "base/Vec.h"

#include <array>
#include <string_view>

namespace ombrel {

class Texture;

// One corner of a face as render sends it: the position, then the texture coordinate.
struct FaceVertex {
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;
    float s = 0.0f;
    float t = 0.0f;
};

// One primitive of a drawable's render: a quadrilateral (GL_QUADS) or a triangle
// (GL_TRIANGLES), with what render binds and sets for it.
struct Face {
    const Texture* texture = nullptr; // what render binds; none binds 0
    bool triangle = false;            // three corners instead of four
    bool white = false;               // noColor: glColor3f(1, 1, 1) instead of the colour word
    bool texCoords = false;           // render sets a texture coordinate for every corner
    Colour colour = 0;                // sent as three signed bytes (glColor3b) unless white
    std::array<FaceVertex, 4> corners{};
    // The surface class ("wall", "roof", "floor", "road", "crossing" or a name the construction
    // file gave) and the physical material's name (empty: none). They view the drawable's
    // storage and stay valid as long as it does.
    std::string_view surface;
    std::string_view material;

    int cornerCount() const { return triangle ? 3 : 4; }
};

// Receives a drawable's geometry face by face, in render's order (see Drawable::collect).
class GeometrySink {
public:
    virtual ~GeometrySink() = default;
    virtual void face(const Face& face) = 0;
};

} // namespace ombrel
