#include "vrml/Triangulate.h"

#include <algorithm>
#include <cmath>
#include <new>

namespace ombrel {

namespace {

struct Pt {
    float x, y;
};

// Result lists this long are handed to the node rather than copied (a copy is sized exactly,
// the work list keeps its spare capacity, which matters for many small face sets only).
constexpr std::size_t kHandOverEntries = std::size_t(1) << 16;

// The predicates work on the stored 32-bit coordinates and compare exactly against zero.
float area2(Pt a, Pt b, Pt c) {
    return (b.x - a.x) * (c.y - a.y) - (c.x - a.x) * (b.y - a.y);
}
bool left(Pt a, Pt b, Pt c) {
    return area2(a, b, c) > 0;
}
bool leftOn(Pt a, Pt b, Pt c) {
    return area2(a, b, c) >= 0;
}
bool collinear(Pt a, Pt b, Pt c) {
    return area2(a, b, c) == 0;
}
bool equal(Pt a, Pt b) {
    return a.x == b.x && a.y == b.y;
}

// c on the closed segment ab.
bool between(Pt a, Pt b, Pt c) {
    if (!collinear(a, b, c))
        return false;
    if (a.x != b.x)
        return (a.x <= c.x && c.x <= b.x) || (a.x >= c.x && c.x >= b.x);
    return (a.y <= c.y && c.y <= b.y) || (a.y >= c.y && c.y >= b.y);
}

bool properCross(Pt a, Pt b, Pt c, Pt d) {
    if (collinear(a, b, c) || collinear(a, b, d) || collinear(c, d, a) || collinear(c, d, b))
        return false;
    return (left(a, b, c) != left(a, b, d)) && (left(c, d, a) != left(c, d, b));
}

bool intersect(Pt a, Pt b, Pt c, Pt d) {
    return properCross(a, b, c, d) || between(a, b, c) || between(a, b, d) || between(c, d, a) ||
           between(c, d, b);
}

Vec3 sub(Vec3 a, Vec3 b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
Vec3 cross(Vec3 a, Vec3 b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

} // namespace

// The work polygons hold Pt values under the name P2 in the header.
static_assert(sizeof(Pt) == 2 * sizeof(float));

bool Triangulator::inside(P2 p, const std::vector<P2>& polygon) {
    const std::size_t n = polygon.size();
    std::size_t crossings = 0;
    for (std::size_t i = 0, previous = n - 1; i < n; previous = i++) {
        const P2 a = polygon[previous];
        const P2 b = polygon[i];
        const float ax = a.x - p.x, ay = a.y - p.y;
        const float bx = b.x - p.x, by = b.y - p.y;
        if ((by > 0 && ay <= 0) || (ay > 0 && by <= 0)) {
            const float x = (bx * ay - ax * by) / (ay - by);
            if (x > 0)
                ++crossings;
        }
    }
    return crossings % 2 == 1;
}

bool Triangulator::inCone(std::size_t i, std::size_t j) const {
    const std::size_t m = work_.size();
    const Pt a0{work_[(i + m - 1) % m].x, work_[(i + m - 1) % m].y};
    const Pt a{work_[i].x, work_[i].y};
    const Pt a1{work_[(i + 1) % m].x, work_[(i + 1) % m].y};
    const Pt b{work_[j].x, work_[j].y};
    if (leftOn(a0, a, a1))
        return leftOn(a, b, a0) && leftOn(b, a, a1);
    return !left(a, b, a1) || !left(b, a, a0);
}

bool Triangulator::diagonal(std::size_t i, std::size_t j) const {
    if (!inCone(i, j))
        return false;
    const std::size_t m = work_.size();
    const Pt a{work_[i].x, work_[i].y};
    const Pt b{work_[j].x, work_[j].y};
    for (std::size_t k = 0; k < m; ++k) {
        const std::size_t k1 = (k + 1) % m;
        if (k == i || k == j || k1 == i || k1 == j)
            continue;
        if (intersect(a, b, {work_[k].x, work_[k].y}, {work_[k1].x, work_[k1].y}))
            return false;
    }
    return true;
}

// Removes repeated points and points on the line through their neighbours, in passes until a
// pass removes nothing. A pass looks at vertices 1 to m - 1, each between the last vertex kept
// and the next one still to look at, then at vertex 0 between the last vertex and vertex 1.
void Triangulator::clean() {
    bool removed;
    do {
        removed = false;
        const std::size_t m = work_.size();
        std::size_t kept = 1; // work_[0, kept) stay
        for (std::size_t b = 1; b < m; ++b) {
            const P2 a = work_[kept - 1];
            const P2 c = b + 1 < m ? work_[b + 1] : work_[0];
            const P2 p = work_[b];
            if (equal({a.x, a.y}, {p.x, p.y}) || collinear({a.x, a.y}, {p.x, p.y}, {c.x, c.y})) {
                removed = true;
                continue;
            }
            work_[kept] = p;
            map_[kept] = map_[b];
            ++kept;
        }
        work_.resize(kept);
        map_.resize(kept);
        const std::size_t n = work_.size();
        const Pt a{work_[n - 1].x, work_[n - 1].y}, p{work_[0].x, work_[0].y},
            c{work_[n > 1 ? 1 : 0].x, work_[n > 1 ? 1 : 0].y};
        if (equal(a, p) || collinear(a, p, c)) {
            work_.erase(work_.begin());
            map_.erase(map_.begin());
            removed = true;
        }
    } while (removed && !work_.empty());
}

// Ear clipping, restarting from the first vertex after every ear. Triangles are recorded in the
// positions of the attempt's polygon.
bool Triangulator::clip() {
    while (true) {
        const std::size_t m = work_.size();
        if (m < 3)
            return false;
        if (m == 3) {
            triangles_.push_back({map_[0], map_[1], map_[2]});
            return true;
        }
        bool found = false;
        for (std::size_t i = 0; i < m; ++i) {
            const std::size_t b = (i + 1) % m, c = (i + 2) % m;
            const Pt pi{work_[i].x, work_[i].y}, pb{work_[b].x, work_[b].y},
                pc{work_[c].x, work_[c].y};
            if (equal(pi, pb) || collinear(pi, pb, pc) || diagonal(i, c)) {
                triangles_.push_back({map_[i], map_[b], map_[c]});
                work_.erase(work_.begin() + std::ptrdiff_t(b));
                map_.erase(map_.begin() + std::ptrdiff_t(b));
                found = true;
                break;
            }
        }
        if (!found)
            return false;
    }
}

// Drops degenerate triangles and those that reach outside the face.
void Triangulator::filter(const std::vector<P2>& polygon) {
    auto bad = [&](const Tri& t) {
        const P2 p1 = polygon[std::size_t(t.a)], p2 = polygon[std::size_t(t.b)],
                 p3 = polygon[std::size_t(t.c)];
        if (collinear({p1.x, p1.y}, {p2.x, p2.y}, {p3.x, p3.y}))
            return true;
        auto probe = [](P2 u, P2 v, P2 w) {
            return P2{float(0.1 * (double(u.x) + double(v.x)) + 0.8 * double(w.x)),
                      float(0.1 * (double(u.y) + double(v.y)) + 0.8 * double(w.y))};
        };
        return !inside(probe(p1, p2, p3), polygon) || !inside(probe(p1, p3, p2), polygon) ||
               !inside(probe(p2, p3, p1), polygon);
    };
    triangles_.erase(std::remove_if(triangles_.begin(), triangles_.end(), bad), triangles_.end());
}

bool Triangulator::attempt(const std::vector<P2>& polygon) {
    work_.assign(polygon.begin(), polygon.end());
    map_.resize(polygon.size());
    for (std::size_t k = 0; k < map_.size(); ++k)
        map_[k] = std::int32_t(k);
    triangles_.clear();
    clean();
    if (!clip()) {
        triangles_.clear();
        return false;
    }
    filter(polygon);
    return true;
}

const std::vector<FaceTriangle>&
Triangulator::triangulateFace(const Vec3* points, const std::int32_t* index, std::size_t n) {
    auto vertex = [&](std::size_t k) { return points[std::size_t(index[k])]; };
    // The face's plane.
    const Vec3 v0 = vertex(0);
    Vec3 normal{0, 0, 0};
    for (std::size_t i = 1; i + 1 < n; ++i) {
        const Vec3 c = cross(sub(vertex(i), v0), sub(vertex(i + 1), vertex(i)));
        normal = {normal.x + c.x, normal.y + c.y, normal.z + c.z};
    }
    const float length = std::sqrt(normal.x * normal.x + normal.y * normal.y + normal.z * normal.z);
    if (length > 0)
        normal = {normal.x / length, normal.y / length, normal.z / length};

    // Project into the plane and keep the two coordinates that vary most.
    const float ax = std::fabs(normal.x), ay = std::fabs(normal.y), az = std::fabs(normal.z);
    given_.resize(n);
    for (std::size_t k = 0; k < n; ++k) {
        const Vec3 v = vertex(k);
        const float d = normal.x * v.x + normal.y * v.y + normal.z * v.z;
        const Vec3 q{v.x - d * normal.x, v.y - d * normal.y, v.z - d * normal.z};
        if (ax <= ay && ay > az)
            given_[k] = {q.z, q.x};
        else if (ax > ay && ax > az)
            given_[k] = {q.y, q.z};
        else
            given_[k] = {q.x, q.y};
    }
    reversed_.assign(given_.rbegin(), given_.rend());

    const bool reversedOrder = attempt(reversed_);
    if (!reversedOrder && !attempt(given_))
        triangles_.clear();
    face_.clear();
    for (const Tri& t : triangles_) {
        std::int32_t p[3] = {t.a, t.b, t.c};
        if (reversedOrder)
            for (std::int32_t& q : p)
                q = std::int32_t(n) - 1 - q;
        std::sort(p, p + 3);
        face_.push_back({p[0], p[1], p[2]});
    }
    return face_;
}

int Triangulator::triangulate(VRIndexedFaceSet& faces) {
    const MFInt32& in = faces.coordIndex;
    if (in.empty())
        return 0;
    const bool hasTex = !faces.texCoordIndex.empty();
    const bool hasColor = !faces.colorIndex.empty();
    const bool hasNormal = !faces.normalIndex.empty();
    const bool hasLabels = !faces.labelIndex.empty();
    const std::vector<Vec3>* points = faces.coord ? &faces.coord->point : nullptr;

    try {
        if (coordIndex_.capacity() < 512) {
            coordIndex_.reserve(512);
            texCoordIndex_.reserve(512);
            colorIndex_.reserve(512);
            normalIndex_.reserve(512);
        }
        labelIndex_.clear();
        coordIndex_.clear();
        texCoordIndex_.clear();
        colorIndex_.clear();
        normalIndex_.clear();

        // A list that runs beside coordIndex: the entries of the face's positions, as far as the
        // list reaches, then the terminator.
        auto copyParallel = [&](const MFInt32& from, MFInt32& to, std::size_t s, std::size_t n) {
            for (std::size_t k = s; k < s + n && k < from.size(); ++k)
                to.push_back(from[k]);
            to.push_back(-1);
        };
        auto copyPerFace = [&](const MFInt32& from, MFInt32& to, std::size_t f) {
            if (f < from.size())
                to.push_back(from[f]);
        };
        auto at = [](const MFInt32& from, std::size_t k) { return k < from.size() ? from[k] : 0; };

        bool anyLarge = false;
        std::size_t f = 0;
        for (std::size_t s = 0; s < in.size(); ++f) {
            std::size_t e = s;
            while (e < in.size() && in[e] != -1)
                ++e;
            const std::size_t n = e - s;

            bool keep = n < 4 || n > kMaxFaceVertices || !points;
            if (n >= 4)
                anyLarge = true;
            for (std::size_t k = s; !keep && k < e; ++k)
                keep = in[k] < 0 || std::size_t(in[k]) >= points->size();

            if (keep) {
                copyParallel(in, coordIndex_, s, n);
                if (hasTex)
                    copyParallel(faces.texCoordIndex, texCoordIndex_, s, n);
                if (hasColor) {
                    if (faces.colorPerVertex)
                        copyParallel(faces.colorIndex, colorIndex_, s, n);
                    else
                        copyPerFace(faces.colorIndex, colorIndex_, f);
                }
                if (hasNormal) {
                    if (faces.normalPerVertex)
                        copyParallel(faces.normalIndex, normalIndex_, s, n);
                    else
                        copyPerFace(faces.normalIndex, normalIndex_, f);
                }
                if (hasLabels)
                    copyPerFace(faces.labelIndex, labelIndex_, f);
                s = e + 1;
                continue;
            }

            for (const Tri& t : triangulateFace(points->data(), &in[s], n)) {
                const std::int32_t p[3] = {t.a, t.b, t.c};
                for (std::int32_t q : p)
                    coordIndex_.push_back(in[s + std::size_t(q)]);
                coordIndex_.push_back(-1);
                if (hasTex) {
                    for (std::int32_t q : p)
                        texCoordIndex_.push_back(at(faces.texCoordIndex, s + std::size_t(q)));
                    texCoordIndex_.push_back(-1);
                }
                if (hasColor) {
                    if (faces.colorPerVertex) {
                        for (std::int32_t q : p)
                            colorIndex_.push_back(at(faces.colorIndex, s + std::size_t(q)));
                        colorIndex_.push_back(-1);
                    } else {
                        copyPerFace(faces.colorIndex, colorIndex_, f);
                    }
                }
                if (hasNormal) {
                    if (faces.normalPerVertex) {
                        for (std::int32_t q : p)
                            normalIndex_.push_back(at(faces.normalIndex, s + std::size_t(q)));
                        normalIndex_.push_back(-1);
                    } else {
                        copyPerFace(faces.normalIndex, normalIndex_, f);
                    }
                }
                if (hasLabels)
                    copyPerFace(faces.labelIndex, labelIndex_, f);
            }
            s = e + 1;
        }

        if (!anyLarge)
            return 0;
        // Copies first, so that running out of memory leaves the node as it was. A big list
        // (a whole collapsed model) is handed over instead of copied: a copy would be a third
        // list of that size at once.
        auto take = [](MFInt32& work, MFInt32& out) {
            if (work.size() >= kHandOverEntries)
                out.swap(work);
            else
                out = work;
        };
        MFInt32 coord, tex, color, normal, label;
        take(coordIndex_, coord);
        if (hasTex)
            take(texCoordIndex_, tex);
        if (hasColor)
            take(colorIndex_, color);
        if (hasNormal)
            take(normalIndex_, normal);
        if (hasLabels)
            take(labelIndex_, label);
        faces.coordIndex.swap(coord);
        if (hasTex)
            faces.texCoordIndex.swap(tex);
        if (hasColor)
            faces.colorIndex.swap(color);
        if (hasNormal)
            faces.normalIndex.swap(normal);
        if (hasLabels)
            faces.labelIndex.swap(label);
        return 0;
    } catch (const std::bad_alloc&) {
        return 1;
    }
}

void Triangulator::release() {
    MFInt32().swap(coordIndex_);
    MFInt32().swap(texCoordIndex_);
    MFInt32().swap(colorIndex_);
    MFInt32().swap(normalIndex_);
    MFInt32().swap(labelIndex_);
    std::vector<P2>().swap(given_);
    std::vector<P2>().swap(reversed_);
    std::vector<P2>().swap(work_);
    std::vector<std::int32_t>().swap(map_);
    std::vector<Tri>().swap(triangles_);
    std::vector<Tri>().swap(face_);
}

int triangulate(VRIndexedFaceSet& faces) {
    Triangulator triangulator;
    return triangulator.triangulate(faces);
}

void triangulateTree(VRNode* node, Triangulator& triangulator) {
    if (!node)
        return;
    switch (node->type) {
    case VR_GROUP:
    case VR_TRANSFORM:
        for (const VRRef<VRNode>& child : static_cast<VRGroup*>(node)->children)
            triangulateTree(child.get(), triangulator);
        break;
    case VR_SHAPE:
        triangulateTree(static_cast<VRShape*>(node)->geometry.get(), triangulator);
        break;
    case VR_INDEXED_FACE_SET:
        triangulator.triangulate(static_cast<VRIndexedFaceSet&>(*node));
        break;
    default:
        break;
    }
}

} // namespace ombrel
