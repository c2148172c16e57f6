#pragma once

// What the glTF and OBJ writers share: the faces of one piece of a city's VRML scene, each with
// the material it is drawn in, in the +Y-up axes of both formats.

#include "base/Vec.h"
#include "vrml/Triangulate.h"
#include "vrml/VRNode.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace ombrel {

// A material as the new formats share it: one per distinct image, colour, noColor, surface class
// and material name.
struct FaceMaterial {
    std::string image;             // the texture's path as the scene names it; empty: none
    Vec3 colour{1.0f, 1.0f, 1.0f}; // clamped to 0..1; white for untinted faces
    bool noColor = false;
    std::string surface;      // the faces' surface class; empty: unlabelled
    std::string materialName; // the faces' physical material; empty: none named
    friend bool operator==(const FaceMaterial&, const FaceMaterial&) = default;
};

// The name glTF and OBJ give a material: its surface class, its material name and the file
// name of its image without folders and ending, joined by "/" ("wall/concrete/facade1"). A part
// that is not there is "-" when a later one is, and left out at the end ("roof", "wall/brick",
// "floor/-/pavement"). Empty for a material of unlabelled faces (neither a class nor a material
// name), which the writers name as they always have.
std::string materialName(const FaceMaterial& material);

// The glTF material object of `material`: named `name` unless that is empty, its colour (white
// for noColor), its image as texture `texture` (none when negative), and its labels in extras.
// One text for every file that writes glTF materials.
std::string gltfMaterialJson(const FaceMaterial& material, const std::string& name,
                             std::int32_t texture);

// Gives the materials of one export distinct names: a name met again (the same labels and image
// in another colour or without colour) gets "~2", "~3", ... after it.
class UniqueNames {
public:
    std::string add(const std::string& name);

private:
    std::unordered_map<std::string, std::uint32_t> uses_;
};

// The distinct materials of an export, numbered in the order they are first met. Two materials
// are the same when their image names, colour bits, noColor, surface classes and material names
// are.
class MaterialTable {
public:
    // The number of `material`, and whether it was met for the first time.
    std::pair<std::uint32_t, bool> add(const FaceMaterial& material);
    const FaceMaterial& operator[](std::uint32_t index) const { return materials_[index]; }
    std::size_t size() const { return materials_.size(); }

private:
    // Open addressing over the materials' numbers (-1: free), a power of two long.
    std::vector<std::int32_t> slots_;
    std::vector<FaceMaterial> materials_;
    std::vector<std::uint64_t> hashes_;
    std::size_t last_ = std::size_t(-1); // the material added or found last
};

// The grey of the collapsed model, as the VRML export paints it.
FaceMaterial greyMaterial();

// Turns a point of the city (z up, y into the city) into the +Y-up axes of glTF and OBJ: x stays,
// z becomes Y and y becomes -Z.
inline Vec3 toYUp(Vec3 p) {
    return {p.x, p.z, -p.y};
}

// The unit normal of a triangle in its winding (right-handed), or none when it has no area.
// Inline: it is called for every triangle of an export.
inline bool triangleNormal(Vec3 a, Vec3 b, Vec3 c, Vec3& normal) {
    const double ux = double(b.x) - a.x, uy = double(b.y) - a.y, uz = double(b.z) - a.z;
    const double vx = double(c.x) - a.x, vy = double(c.y) - a.y, vz = double(c.z) - a.z;
    const double nx = uy * vz - uz * vy, ny = uz * vx - ux * vz, nz = ux * vy - uy * vx;
    // Most faces of a city lie in an axis plane: two components are zero and the normal is the
    // axis, its zeros keeping their signs as the division below would leave them.
    if ((nx == 0.0) + (ny == 0.0) + (nz == 0.0) == 2 && std::isfinite(nx + ny + nz)) {
        auto unit = [](double v) { return v > 0.0 ? 1.0f : v < 0.0 ? -1.0f : float(v); };
        normal = {unit(nx), unit(ny), unit(nz)};
        return true;
    }
    const double length = std::sqrt(nx * nx + ny * ny + nz * nz);
    if (!(length > 0.0) || !std::isfinite(length))
        return false;
    normal = {float(nx / length), float(ny / length), float(nz / length)};
    return true;
}

class FaceSink {
public:
    virtual ~FaceSink() = default;
    // The material of the faces that follow, up to the next call: told before the first face of
    // every Shape, and again within it before a face whose label differs from the last one's.
    virtual void material(const FaceMaterial& material) = 0;
    // One face of n >= 3 corners, in the +Y-up axes (toYUp). uv is null when the material has no
    // image; otherwise n VRML texture coordinates (origin at the image's bottom left). `triangles`
    // are the face's triangles from the triangulation, over its corners (a corner the
    // triangulation dropped, on a line with its neighbours, is in none); empty when the face is
    // to be taken as it is.
    virtual void face(const Vec3* points, const Vec2* uv, std::size_t n,
                      std::span<const FaceTriangle> triangles) = 0;
};

// Hands every face of a piece of the scene to a sink, in the piece's order, in world coordinates
// turned into the +Y-up axes (the piece itself is left as it is). With a triangulator, faces of
// four or more corners come with the triangles the triangulated VRML export gives them, found in
// the coordinates of their own Shape; a face that cannot be triangulated is left out. Faces of
// fewer than three corners or naming points that are not there are left out, and so are the
// triangles (the faces, when not triangulated) with a point that is not finite; a texture
// coordinate that is not there is (0, 0). Holds its work storage from piece to piece.
class FaceReader {
public:
    explicit FaceReader(Triangulator* triangulator) : triangulator_(triangulator) {}
    // With `only` set every face gets that material and no texture coordinates; the faces keep
    // their labels (surface class and material name) either way.
    void read(VRRef<VRNode> piece, FaceSink& sink, const FaceMaterial* only = nullptr);

private:
    void node(const VRNode& node, const VRMatrix& m);
    void shape(const VRShape& shape, const VRMatrix& m);

    // Sets the material's surface class and material name to those of `label` (none: empty).
    void setLabel(const VRFaceLabel* label);

    Triangulator* triangulator_;
    FaceSink* sink_ = nullptr;
    const FaceMaterial* only_ = nullptr;
    FaceMaterial material_;
    std::vector<Vec3> world_;
    std::vector<Vec2> uvs_;
};

} // namespace ombrel
