#include "grammar/Drawables.h"

#include "grammar/Texture.h"

// The faces here are those of render in Drawables.cpp, corner for corner: a change to one is a
// change to the other.

namespace ombrel {

bool Drawable::collect(GeometrySink&) const {
    return false;
}

Face DrawableBase::beginFace(bool triangle, std::string_view surface) const {
    Face face;
    face.surface = surface;
    if (labels) {
        if (!labels->surface.empty()) {
            face.surface = labels->surface;
        }
        face.material = labels->material;
    }
    face.texture = texture.get();
    face.triangle = triangle;
    face.white = noColor;
    face.colour = colour;
    return face;
}

namespace {

// The four side faces of boxes and pyramids run over these corner pairs (a, e).
constexpr int kSideA[4] = {1, 2, 3, 0};
constexpr int kSideE[4] = {0, 1, 2, 3};

FaceVertex corner(const Vec2& c, float z, float s, float t) {
    return FaceVertex{c.x, c.y, z, s, t};
}

} // namespace

bool DrawFloor::collect(GeometrySink& sink) const {
    Face face = beginFace(false, kFloorSurface);
    face.texCoords = texture != nullptr;
    const float s = texture ? texture->scalex : 0.0f;
    const float r = texture ? texture->scaley : 0.0f;
    const float tex[4][2] = {{0.0f, 0.0f}, {0.0f, r}, {s, r}, {s, 0.0f}};
    for (int i = 0; i < 4; ++i) {
        face.corners[i] = corner(corners[3 - i], baseHeight, tex[i][0], tex[i][1]);
    }
    sink.face(face);
    return true;
}

bool DrawBox::collect(GeometrySink& sink) const {
    Face face = beginFace(false, kFloorSurface);
    const std::string_view wall =
        labels && !labels->surface.empty() ? std::string_view(labels->surface) : kWallSurface;
    std::string_view roof = labels && !labels->surface.empty() ? wall : kRoofSurface;
    if (labels && !labels->roofSurface.empty()) {
        roof = labels->roofSurface;
    }
    const float s = texture ? texture->scalex : 0.0f;
    const float r = texture ? texture->scaley : 0.0f;
    const float capTex[4][2] = {{0.0f, 0.0f}, {0.0f, r}, {s, r}, {s, 0.0f}};
    const float b = baseHeight;
    const float t = topHeight;
    face.texCoords = texture != nullptr;
    if (hasBottom(closed)) {
        for (int i = 0; i < 4; ++i) {
            face.corners[i] = corner(corners[i], b, capTex[i][0], capTex[i][1]);
        }
        sink.face(face);
    }
    // The sides set texture coordinates, textured or not.
    face.texCoords = true;
    face.surface = wall;
    for (int k = 0; k < 4; ++k) {
        const Vec2& a = corners[kSideA[k]];
        const Vec2& e = corners[kSideE[k]];
        face.corners[0] = corner(a, b, 0.0f, 0.0f);
        face.corners[1] = corner(e, b, repeatS, 0.0f);
        face.corners[2] = corner(e, t, repeatS, repeatT);
        face.corners[3] = corner(a, t, 0.0f, repeatT);
        sink.face(face);
    }
    if (hasTop(closed)) {
        face.texCoords = texture != nullptr;
        face.surface = roof;
        for (int i = 0; i < 4; ++i) {
            face.corners[i] = corner(corners[3 - i], t, capTex[i][0], capTex[i][1]);
        }
        sink.face(face);
    }
    return true;
}

bool DrawPyramid::collect(GeometrySink& sink) const {
    Face face = beginFace(true, kRoofSurface);
    face.texCoords = true;
    const float b = baseHeight;
    for (int k = 0; k < 4; ++k) {
        face.corners[0] = corner(corners[kSideA[k]], b, 0.0f, 0.0f);
        face.corners[1] = corner(corners[kSideE[k]], b, 1.0f, 0.0f);
        face.corners[2] = FaceVertex{apex.x, apex.y, apex.z, 0.5f, 1.0f};
        sink.face(face);
    }
    return true;
}

bool CompoundDrawable::collect(GeometrySink& sink) const {
    for (const auto& child : children) {
        if (!child->collect(sink)) {
            return false;
        }
    }
    return true;
}

} // namespace ombrel
