#pragma once

// What the glTF and OBJ writers share: the faces of one piece of a city's VRML scene, each with
// the material it is drawn in, in the city's coordinates (z up).

#include "base/Vec.h"
#include "vrml/VRNode.h"

#include <cstddef>
#include <string>

namespace ombrel {

class Triangulator;

// A material as the new formats share it: one per distinct image, colour and noColor.
struct FaceMaterial {
    std::string image;             // the texture's path as the scene names it; empty: none
    Vec3 colour{1.0f, 1.0f, 1.0f}; // clamped to 0..1; white for untinted faces
    bool noColor = false;
    friend bool operator==(const FaceMaterial&, const FaceMaterial&) = default;
};

// The grey of the collapsed model, as the VRML export paints it.
FaceMaterial greyMaterial();

// Turns a point of the city (z up, y into the city) into the +Y-up axes of glTF and OBJ: x stays,
// z becomes Y and y becomes -Z.
inline Vec3 toYUp(Vec3 p) {
    return {p.x, p.z, -p.y};
}

// The unit normal of a triangle in its winding (right-handed), or none when it has no area.
bool triangleNormal(Vec3 a, Vec3 b, Vec3 c, Vec3& normal);

class FaceSink {
public:
    virtual ~FaceSink() = default;
    // One face of n >= 3 corners. uv is null when the material has no image; otherwise n VRML
    // texture coordinates (origin at the image's bottom left).
    virtual void face(const FaceMaterial& material, const Vec3* points, const Vec2* uv,
                      std::size_t n) = 0;
};

// Hands every face of a piece of the scene to sink, in the piece's order: the piece's Shapes
// moved into world coordinates (the piece is changed), each face set triangulated first when a
// triangulator is given (so the faces are those of the triangulated VRML export). Faces of fewer
// than three corners, naming points that are not there or with a point that is not finite are
// left out; a texture coordinate that is not there is (0, 0). With `only` set every face gets
// that material and no texture coordinates.
void forEachFace(VRRef<VRNode> piece, Triangulator* triangulator, FaceSink& sink,
                 const FaceMaterial* only = nullptr);

} // namespace ombrel
