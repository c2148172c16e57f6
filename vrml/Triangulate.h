#pragma once

// Polygon triangulation of face sets. Faces of four or more vertices are replaced by triangles
// found by ear clipping in the face's own plane (first in reversed winding, then in the given
// one), with degenerate triangles and triangles outside the face filtered out. The index lists
// that run beside coordIndex (texCoordIndex, colorIndex, normalIndex, per vertex or per face)
// are rebuilt to match; points, texture coordinates, colours and normals are not touched. The
// result depends only on the input, so exports are reproducible.

#include "vrml/VRNode.h"

#include <cstdint>
#include <vector>

namespace ombrel {

// Work storage kept between calls, so that a whole model is triangulated with few
// allocations. Drop the object (or call release()) to give the storage back.
class Triangulator {
public:
    // Faces larger than this are left as they are.
    static constexpr std::size_t kMaxFaceVertices = 100000;

    // Triangulates every face of four or more vertices. Returns 0, or 1 when work storage could
    // not be obtained, in which case the node is left exactly as it was. A face that cannot be
    // triangulated in either winding (all its points on a line, say) is dropped; a face that
    // names points the Coordinate does not have, or has more than kMaxFaceVertices vertices,
    // is kept unchanged. Never fails on NaN or infinite coordinates.
    int triangulate(VRIndexedFaceSet& faces);

    void release();

private:
    struct P2 {
        float x, y;
    };
    struct Tri {
        std::int32_t a, b, c;
    };

    bool attempt(const std::vector<P2>& polygon);
    void clean();
    bool clip();
    void filter(const std::vector<P2>& polygon);
    bool diagonal(std::size_t i, std::size_t j) const;
    bool inCone(std::size_t i, std::size_t j) const;
    static bool inside(P2 p, const std::vector<P2>& polygon);

    MFInt32 coordIndex_, texCoordIndex_, colorIndex_, normalIndex_;
    std::vector<P2> given_, reversed_;
    // The polygon being cleaned and clipped, with the position of each vertex in the polygon of
    // the current attempt.
    std::vector<P2> work_;
    std::vector<std::int32_t> map_;
    std::vector<Tri> triangles_;
};

// Triangulates one face set with fresh work storage; see Triangulator::triangulate.
int triangulate(VRIndexedFaceSet& faces);

// Triangulates every face set of a tree: a Group or Transform passes the walk to its children,
// a Shape to its geometry; other kinds end it.
void triangulateTree(VRNode* node, Triangulator& triangulator);

} // namespace ombrel
