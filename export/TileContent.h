#pragma once

// The content of one tile of a tileset: a small binary glTF built in memory from the faces of
// the tile's buildings and roads (as the glTF export has them: the same triangles, one vertex
// per face corner with the face's flat normal, texture coordinates turned for glTF, colours
// per vertex) or from the boxes and strips of a coarse level. Every building is a feature: its
// vertices carry its row of the tile's property table (EXT_mesh_features,
// EXT_structural_metadata).

#include "base/Vec.h"
#include "export/BuildingFeatures.h"
#include "export/SceneFaces.h"

#include <cstdint>
#include <cstdio>
#include <functional>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

namespace ombrel {

// An axis-aligned box of the city's axes (x east, y north, z up); empty until a point is added.
struct CityBox {
    Vec3 lo{1, 1, 1};
    Vec3 hi{0, 0, 0};
    bool empty() const { return lo.x > hi.x; }
    void add(Vec3 p);
    void add(const CityBox& other);
};

class TileContent : public FaceSink {
public:
    // Names an image for the tile's JSON (a URI relative to the tile); empty when the image
    // cannot be placed, and its faces are then untextured.
    using ImageNamer = std::function<std::string(const std::string& image)>;

    // `colours`: colours per vertex with materials told apart by image alone, as the glTF export
    // has them in every mode but the collapsed model.
    TileContent(ImageNamer images, bool colours);

    // The faces that follow, up to the next call, belong to this building (a new row of the
    // property table) or to no building (roads).
    void building(const BuildingFeature& feature);
    void noBuilding();

    // A box of the coarse levels, top and sides, in one colour, untextured, with the feature of
    // the building named last.
    void box(Vec3 lo, Vec3 hi, Vec3 colour);
    // A flat rectangle at height z (a road strip of the coarse levels), facing up.
    void strip(float x0, float y0, float x1, float y1, float z, Vec3 colour);

    void material(const FaceMaterial& material) override;
    void face(const Vec3* points, const Vec2* uv, std::size_t n,
              std::span<const FaceTriangle> triangles) override;

    bool empty() const { return primitives_.empty(); }
    // The box of every vertex, in the city's axes.
    const CityBox& bounds() const { return bounds_; }
    std::size_t triangles() const { return triangles_; }

    // Writes the .glb file; false when a write failed.
    bool writeGlb(std::FILE* out) const;

private:
    struct Primitive {
        std::uint32_t material = 0;
        bool textured = false;
        bool features = false;
        bool normals = true;
        std::vector<float> vertices; // interleaved: position, normal, uv, colour, feature
        std::vector<std::uint32_t> indices;
        std::uint32_t featureCount = 0;
        std::int64_t lastFeature = -1;
        std::size_t stride() const;
    };

    std::uint32_t materialIndex(const FaceMaterial& key);
    Primitive& primitive(std::uint32_t material, bool textured, bool normals);

    ImageNamer images_;
    bool colours_;
    std::int64_t feature_ = -1; // the row of the faces coming; -1: no building
    BuildingFeatureTable features_;
    std::vector<Primitive> primitives_;
    std::unordered_map<std::uint64_t, std::size_t> primitiveLookup_;
    std::size_t current_ = 0; // the primitive of the faces coming
    float colour_;            // the colour of the vertices coming, packed as COLOR_0 holds it
    MaterialTable materials_;
    std::vector<std::string> materialJson_;
    std::vector<std::int32_t> textures_; // each material's texture, -1: none
    std::unordered_map<std::string, std::int32_t> imageLookup_;
    std::vector<std::string> imageUris_;
    std::vector<FaceTriangle> fan_;
    CityBox bounds_;
    std::size_t triangles_ = 0;
};

} // namespace ombrel
