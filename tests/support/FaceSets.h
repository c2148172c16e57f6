#pragma once

// Face sets built in the tests of the triangulation and of the writers' face reader.

#include "vrml/VRNode.h"

#include <ostream>
#include <utility>
#include <vector>

namespace ombrel::testsupport {

// An IndexedFaceSet of the points and faces, with nothing else.
inline VRRef<VRIndexedFaceSet> faceSet(std::vector<Vec3> points, MFInt32 coordIndex) {
    auto faces = makeNode<VRIndexedFaceSet>();
    auto coord = makeNode<VRCoordinate>();
    coord->point = std::move(points);
    faces->setCoord(std::move(coord));
    faces->coordIndex = std::move(coordIndex);
    return faces;
}

} // namespace ombrel::testsupport

namespace ombrel {

// A face label as tests print it: "surface/material".
inline void PrintTo(const VRFaceLabel& label, std::ostream* out) {
    *out << '"' << label.surface << '/' << label.material << '"';
}

} // namespace ombrel
