#pragma once

// Polygon triangulation of face sets. Faces of four or more vertices are replaced by triangles
// found by ear clipping in the face's own plane (first in reversed winding, then in the given
// one), with degenerate triangles and triangles outside the face filtered out. The index lists
// that run beside coordIndex (texCoordIndex, colorIndex, normalIndex, per vertex or per face, and
// the faces' labelIndex) are rebuilt to match; points, texture coordinates, colours, normals
// and labels are not touched. The result depends only on the input, so exports are
// reproducible.

#include "vrml/VRNode.h"

#include <cstdint>
#include <vector>

namespace ombrel {

// A triangle of one face: three positions in the face's list of corners, ascending (which keeps
// the face's winding).
struct FaceTriangle {
    std::int32_t a, b, c;
};

// Work storage kept between calls, so that a whole model is triangulated with few
// allocations. Drop the object (or call release()) to give the storage back.
class Triangulator {
public:
    // Faces larger than this are left as they are.
    static constexpr std::size_t kMaxFaceVertices = 100000;

    // The triangles of one face of n >= 4 corners (at most kMaxFaceVertices), corner k at
    // points[index[k]] (every index names a point), in the order and with the corners that
    // triangulate() gives the face: valid until the next call. Empty when the face cannot be
    // triangulated. Throws std::bad_alloc when work storage cannot be had.
    const std::vector<FaceTriangle>& triangulateFace(const Vec3* points, const std::int32_t* index,
                                                     std::size_t n);

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
    using Tri = FaceTriangle;

    bool attempt(const std::vector<P2>& polygon);
    void clean();
    bool clip();
    void filter(const std::vector<P2>& polygon);
    bool diagonal(std::size_t i, std::size_t j) const;
    bool inCone(std::size_t i, std::size_t j) const;
    static bool inside(P2 p, const std::vector<P2>& polygon);

    MFInt32 coordIndex_, texCoordIndex_, colorIndex_, normalIndex_, labelIndex_;
    std::vector<P2> given_, reversed_;
    // The polygon being cleaned and clipped, with the position of each vertex in the polygon of
    // the current attempt.
    std::vector<P2> work_;
    std::vector<std::int32_t> map_;
    std::vector<Tri> triangles_;
    // The triangles of the face as triangulateFace gives them.
    std::vector<Tri> face_;
};

// Triangulates one face set with fresh work storage; see Triangulator::triangulate.
int triangulate(VRIndexedFaceSet& faces);

// Triangulates every face set of a tree: a Group or Transform passes the walk to its children,
// a Shape to its geometry; other kinds end it.
void triangulateTree(VRNode* node, Triangulator& triangulator);

} // namespace ombrel
