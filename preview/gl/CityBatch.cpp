#include "preview/gl/CityBatch.h"

#include "city/CityDrawable.h"
#include "grammar/GeometrySink.h"
#include "grammar/Texture.h"

#include <GL/gl.h>
#include <GL/glext.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>

namespace ombrel {

namespace {

// Layers past this one are merged into it; real cities stack two or three.
constexpr int kMostLayers = 63;

// The pieces that fall into blocks: a city's buildings and roads in drawing order, or the
// drawable itself.
std::vector<const Drawable*> piecesOf(const Drawable& city) {
    std::vector<const Drawable*> pieces;
    if (const auto* c = dynamic_cast<const CityDrawable*>(&city)) {
        pieces.reserve(c->buildingDrawables.size() + c->roadDrawables.size());
        for (const auto& d : c->buildingDrawables) {
            pieces.push_back(d.get());
        }
        for (const auto& d : c->roadDrawables) {
            pieces.push_back(d.get());
        }
    } else {
        pieces.push_back(&city);
    }
    return pieces;
}

// Bytes per vertex in a buffer: the position, the texture coordinate when textured, the colour
// unless white.
int strideOf(bool textured, bool white) {
    return 12 + (textured ? 8 : 0) + (white ? 0 : 4);
}
int strideOf(const Face& f) {
    return strideOf(f.texture != nullptr, f.white);
}

// The box around the faces handed over, and what render leaves bound and set after them.
class BoundsSink : public GeometrySink {
public:
    float min[3] = {std::numeric_limits<float>::max(), std::numeric_limits<float>::max(),
                    std::numeric_limits<float>::max()};
    float max[3] = {std::numeric_limits<float>::lowest(), std::numeric_limits<float>::lowest(),
                    std::numeric_limits<float>::lowest()};
    bool any = false;
    const Texture* lastTexture = nullptr;
    bool texCoordSet = false;
    float texCoord[2] = {0.0f, 0.0f};
    std::size_t bytes = 0; // of the faces' vertices in a buffer

    void face(const Face& f) override {
        any = true;
        const int n = f.cornerCount();
        bytes += static_cast<std::size_t>(n) * static_cast<std::size_t>(strideOf(f));
        for (int i = 0; i < n; ++i) {
            const FaceVertex& v = f.corners[static_cast<std::size_t>(i)];
            const float p[3] = {v.x, v.y, v.z};
            for (int a = 0; a < 3; ++a) {
                min[a] = std::min(min[a], p[a]);
                max[a] = std::max(max[a], p[a]);
            }
        }
        lastTexture = f.texture;
        if (f.texCoords) {
            texCoordSet = true;
            texCoord[0] = f.corners[static_cast<std::size_t>(n - 1)].s;
            texCoord[1] = f.corners[static_cast<std::size_t>(n - 1)].t;
        }
    }
    void merge(const BoundsSink& other) {
        for (int a = 0; a < 3; ++a) {
            min[a] = std::min(min[a], other.min[a]);
            max[a] = std::max(max[a], other.max[a]);
        }
        any = any || other.any;
        bytes += other.bytes;
        if (other.any) {
            lastTexture = other.lastTexture;
        }
        if (other.texCoordSet) {
            texCoordSet = true;
            texCoord[0] = other.texCoord[0];
            texCoord[1] = other.texCoord[1];
        }
    }
};

class FaceList : public GeometrySink {
public:
    explicit FaceList(std::vector<Face>& faces) : faces_(faces) {}
    void face(const Face& f) override { faces_.push_back(f); }

private:
    std::vector<Face>& faces_;
};

// What glColor3b makes of a colour byte: Mesa maps the signed byte b to (2b + 1) / 255, which
// an unsigned normalised byte 2b + 1 gives exactly; negative bytes clamp to 0.
std::uint8_t colourByte(Colour colour, int shift) {
    const int b = static_cast<std::int8_t>(static_cast<std::uint8_t>((colour >> shift) & 0xFF));
    return b < 0 ? std::uint8_t{0} : static_cast<std::uint8_t>(2 * b + 1);
}

// A face's plane (unit normal n, n . x = d) and box, for finding faces at the same depth.
struct FacePlane {
    double n[3] = {0.0, 0.0, 0.0};
    double d = 0.0;
    float lo[3] = {0.0f, 0.0f, 0.0f};
    float hi[3] = {0.0f, 0.0f, 0.0f};
    bool valid = false;
};

FacePlane planeOf(const Face& f) {
    FacePlane p;
    const int k = f.cornerCount();
    double c[3] = {0.0, 0.0, 0.0};
    for (int a = 0; a < 3; ++a) {
        p.lo[a] = std::numeric_limits<float>::max();
        p.hi[a] = std::numeric_limits<float>::lowest();
    }
    for (int i = 0; i < k; ++i) {
        const FaceVertex& u = f.corners[static_cast<std::size_t>(i)];
        const FaceVertex& w = f.corners[static_cast<std::size_t>((i + 1) % k)];
        // Newell's normal: exact for planar polygons, an average for warped ones.
        p.n[0] += (double(u.y) - w.y) * (double(u.z) + w.z);
        p.n[1] += (double(u.z) - w.z) * (double(u.x) + w.x);
        p.n[2] += (double(u.x) - w.x) * (double(u.y) + w.y);
        const float v[3] = {u.x, u.y, u.z};
        for (int a = 0; a < 3; ++a) {
            c[a] += v[a];
            p.lo[a] = std::min(p.lo[a], v[a]);
            p.hi[a] = std::max(p.hi[a], v[a]);
        }
    }
    const double length = std::sqrt(p.n[0] * p.n[0] + p.n[1] * p.n[1] + p.n[2] * p.n[2]);
    if (!(length > 1e-9)) {
        return p; // no area: draws nothing
    }
    for (int a = 0; a < 3; ++a) {
        p.n[a] /= length;
    }
    p.d = (p.n[0] * c[0] + p.n[1] * c[1] + p.n[2] * c[2]) / k;
    p.valid = true;
    return p;
}

// Lengths this short count as none: 24 depth bits cannot tell faces this close apart a few
// hundred units away, so their order decides there too. `size` is the largest coordinate.
double slackFor(double size) {
    return 0.05 + 2e-5 * size;
}

// Whether two faces of one plane share area: their boxes overlap, by more than a touch along
// at least two axes (a face's box is flat along the third).
bool shareArea(const FacePlane& a, const FacePlane& b) {
    int overlapping = 0;
    for (int i = 0; i < 3; ++i) {
        const double o = double(std::min(a.hi[i], b.hi[i])) - std::max(a.lo[i], b.lo[i]);
        overlapping += o > 0.01;
    }
    return overlapping >= 2;
}

// How far the face's corners reach in front of the plane and behind it (0 when they do not).
void reach(const Face& f, const FacePlane& p, double& front, double& behind) {
    front = 0.0;
    behind = 0.0;
    for (int i = 0; i < f.cornerCount(); ++i) {
        const FaceVertex& v = f.corners[static_cast<std::size_t>(i)];
        const double h = p.n[0] * v.x + p.n[1] * v.y + p.n[2] * v.z - p.d;
        front = std::max(front, h);
        behind = std::max(behind, -h);
    }
}

// Whether two faces may both cover a pixel at the same depth, so that which is drawn first
// decides what it shows. Their boxes must meet. Then either they lie in one plane, facing the
// same way, and share area; or, not parallel, one reaches in front of the other's plane while
// the other goes on behind the first (a wall standing on a roof that goes on under it): next
// to where they meet, a view through the wall hits the roof just behind it. Faces that meet as
// the sides of a convex edge, or of a hollow one, are never seen one through the other.
bool mustKeepOrder(const Face& fa, const FacePlane& a, const Face& fb, const FacePlane& b,
                   double slack) {
    for (int i = 0; i < 3; ++i) {
        if (double(std::min(a.hi[i], b.hi[i])) - std::max(a.lo[i], b.lo[i]) < -slack) {
            return false;
        }
    }
    const double facing = a.n[0] * b.n[0] + a.n[1] * b.n[1] + a.n[2] * b.n[2];
    if (std::fabs(facing) >= 0.9999) {
        // Turned apart, at most one of them shows; facing the same way, only one plane counts.
        return facing > 0.0 && std::fabs(a.d - b.d) <= slack && shareArea(a, b);
    }
    double aFront = 0.0;
    double aBehind = 0.0;
    double bFront = 0.0;
    double bBehind = 0.0;
    reach(fa, b, aFront, aBehind);
    reach(fb, a, bFront, bBehind);
    return (aFront > slack && bBehind > slack) || (bFront > slack && aBehind > slack);
}

struct LayerScratch {
    std::vector<FacePlane> planes;
    std::vector<int> sorted;
    std::vector<std::pair<int, int>> pairs;
};

// Layers for one piece's faces, in their order: a face that may show at the same depth as an
// earlier face (see mustKeepOrder) is drawn after it, in a later layer when their groups differ.
void assignLayers(const Face* faces, const int* keys, int n, int* layers, LayerScratch& s) {
    std::fill(layers, layers + n, 0);
    bool oneKey = true;
    for (int i = 1; i < n && oneKey; ++i) {
        oneKey = keys[i] == keys[0];
    }
    if (oneKey) {
        return; // one group keeps the order by itself
    }
    s.planes.resize(static_cast<std::size_t>(n));
    s.sorted.clear();
    double size = 0.0;
    for (int i = 0; i < n; ++i) {
        const FacePlane& p = s.planes[static_cast<std::size_t>(i)] = planeOf(faces[i]);
        if (p.valid) {
            s.sorted.push_back(i);
            for (int a = 0; a < 3; ++a) {
                size = std::max({size, std::fabs(double(p.lo[a])), std::fabs(double(p.hi[a]))});
            }
        }
    }
    const double slack = slackFor(size);
    // Sweeping upwards finds the boxes that meet (a building's storeys meet only their
    // neighbours).
    std::sort(s.sorted.begin(), s.sorted.end(), [&](int a, int b) {
        return s.planes[static_cast<std::size_t>(a)].lo[2] <
               s.planes[static_cast<std::size_t>(b)].lo[2];
    });
    s.pairs.clear();
    for (std::size_t a = 0; a < s.sorted.size(); ++a) {
        const int i = s.sorted[a];
        const FacePlane& p = s.planes[static_cast<std::size_t>(i)];
        for (std::size_t b = a + 1; b < s.sorted.size(); ++b) {
            const int j = s.sorted[b];
            const FacePlane& q = s.planes[static_cast<std::size_t>(j)];
            if (double(q.lo[2]) - p.hi[2] > slack) {
                break;
            }
            if (mustKeepOrder(faces[i], p, faces[j], q, slack)) {
                s.pairs.emplace_back(std::min(i, j), std::max(i, j));
            }
        }
    }
    std::sort(s.pairs.begin(), s.pairs.end(),
              [](const auto& x, const auto& y) { return x.second < y.second; });
    for (const auto& [first, second] : s.pairs) {
        const int above = layers[first] + (keys[first] != keys[second] ? 1 : 0);
        layers[second] = std::min(kMostLayers, std::max(layers[second], above));
    }
}

// Which facing class a face falls into (see CityBatch): 0 up, 1 down, 2 to 9 the horizontal
// sectors counted from -180 degrees, 10 the rest. Up and down are faces at one height, the
// sectors faces standing upright (no area seen from above), by their normal's direction.
int facingOf(const Face& f) {
    const int k = f.cornerCount();
    bool level = true;
    double area = 0.0; // twice the area seen from above, positive counter-clockwise
    double nx = 0.0;
    double ny = 0.0;
    for (int i = 0; i < k; ++i) {
        const FaceVertex& u = f.corners[static_cast<std::size_t>(i)];
        const FaceVertex& w = f.corners[static_cast<std::size_t>((i + 1) % k)];
        level = level && u.z == f.corners[0].z;
        area += (double(u.x) - w.x) * (double(u.y) + w.y);
        nx += (double(u.y) - w.y) * (double(u.z) + w.z);
        ny += (double(u.z) - w.z) * (double(u.x) + w.x);
    }
    if (level) {
        return area > 0.0 ? 0 : area < 0.0 ? 1 : 10;
    }
    if (area == 0.0 && (nx != 0.0 || ny != 0.0)) {
        const double sector =
            (std::atan2(ny, nx) + 3.14159265358979323846) / (3.14159265358979323846 / 4);
        return 2 + std::clamp(static_cast<int>(sector), 0, 7);
    }
    return 10;
}

void appendVertex(std::vector<std::uint8_t>& out, const FaceVertex& v, bool textured,
                  const std::uint8_t* rgba) {
    std::uint8_t bytes[24];
    std::size_t n = 0;
    const float position[3] = {v.x, v.y, v.z};
    std::memcpy(bytes, position, sizeof position);
    n += sizeof position;
    if (textured) {
        const float st[2] = {v.s, v.t};
        std::memcpy(bytes + n, st, sizeof st);
        n += sizeof st;
    }
    if (rgba) {
        std::memcpy(bytes + n, rgba, 4);
        n += 4;
    }
    out.insert(out.end(), bytes, bytes + n);
}

} // namespace

bool geometryBounds(const Drawable& drawable, Vec3& minCorner, Vec3& maxCorner) {
    BoundsSink sink;
    if (!drawable.collect(sink) || !sink.any) {
        return false;
    }
    minCorner = {sink.min[0], sink.min[1], sink.min[2]};
    maxCorner = {sink.max[0], sink.max[1], sink.max[2]};
    return true;
}

bool CityBatch::supported() {
    const auto* version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
    int major = 0;
    int minor = 0;
    if (!version || std::sscanf(version, "%d.%d", &major, &minor) != 2) {
        return false;
    }
    return major > 1 || (major == 1 && minor >= 5);
}

void CityBatch::clear() {
    pieces_.clear();
    blocks_.clear();
    groups_.clear();
    groupAt_.clear();
    keys_.clear();
    order_.clear();
    perGroup_.clear();
    layers_ = 0;
    builtBytes_ = 0;
    cityBytes_ = 0;
    budget_ = 0;
    blocksBuilt_ = 0;
    hasBounds_ = false;
    lastTexture_ = nullptr;
    lastTexCoordSet_ = false;
    blocksDrawn_ = 0;
    blocksPending_ = 0;
    drawCalls_ = 0;
}

void CityBatch::setLimits(std::size_t budgetBytes, double buildSeconds) {
    budgetLimit_ = budgetBytes;
    buildSeconds_ = buildSeconds;
}

void CityBatch::release() {
    for (Block& b : blocks_) {
        dropBlock(b);
    }
    clear();
}

void CityBatch::forget() {
    clear();
}

void CityBatch::dropBlock(Block& block) {
    if (block.buffer != 0) {
        glDeleteBuffers(1, &block.buffer);
        block.buffer = 0;
        builtBytes_ -= block.bytes;
        --blocksBuilt_;
    }
    block.ranges.clear();
    block.ranges.shrink_to_fit();
}

int CityBatch::groupFor(int layer, const Texture* texture, bool triangles, bool white) {
    std::size_t key = 0;
    while (key < keys_.size() &&
           !(keys_[key].texture == texture && keys_[key].triangles == triangles &&
             keys_[key].white == white)) {
        ++key;
    }
    if (key == keys_.size()) {
        keys_.push_back(Key{texture, triangles, white});
    }
    const auto l = static_cast<std::size_t>(layer);
    if (groupAt_.size() <= l) {
        groupAt_.resize(l + 1);
    }
    if (groupAt_[l].size() <= key) {
        groupAt_[l].resize(key + 1, -1);
    }
    if (groupAt_[l][key] < 0) {
        Group g;
        g.texture = texture;
        g.triangles = triangles;
        g.white = white;
        g.layer = layer;
        g.stride = strideOf(texture != nullptr, white);
        groupAt_[l][key] = static_cast<int>(groups_.size());
        groups_.push_back(g);
        layers_ = std::max(layers_, l + 1);
        order_.push_back(static_cast<std::uint32_t>(groups_.size() - 1));
        std::stable_sort(order_.begin(), order_.end(), [&](std::uint32_t a, std::uint32_t b) {
            return groups_[a].layer < groups_[b].layer;
        });
    }
    return groupAt_[l][key];
}

CityBatch::Built CityBatch::build(const Drawable& city) {
    release();
    std::vector<const Drawable*> pieces = piecesOf(city);

    // Where each piece lies, and the city's box.
    BoundsSink whole;
    std::vector<float> centres(pieces.size() * 2, 0.0f);
    std::vector<std::size_t> bytes(pieces.size(), 0);
    std::vector<std::array<float, 6>> boxes(pieces.size());
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        BoundsSink piece;
        if (!pieces[i]->collect(piece)) {
            clear();
            return Built::notCollectable;
        }
        bytes[i] = piece.bytes;
        boxes[i] = {piece.min[0], piece.min[1], piece.min[2],
                    piece.max[0], piece.max[1], piece.max[2]};
        if (piece.any) {
            centres[i * 2] = (piece.min[0] + piece.max[0]) * 0.5f;
            centres[i * 2 + 1] = (piece.min[1] + piece.max[1]) * 0.5f;
            whole.merge(piece);
        }
    }
    if (!whole.any) {
        return Built::yes;
    }
    hasBounds_ = true;
    min_ = {whole.min[0], whole.min[1], whole.min[2]};
    max_ = {whole.max[0], whole.max[1], whole.max[2]};
    lastTexture_ = whole.lastTexture;
    lastTexCoordSet_ = whole.texCoordSet;
    lastTexCoord_[0] = whole.texCoord[0];
    lastTexCoord_[1] = whole.texCoord[1];
    cityBytes_ = whole.bytes;
    budget_ =
        budgetLimit_ > 0 ? budgetLimit_ : std::max(kLeastBudget, kBudgetPerCell * pieces.size());

    // Blocks of about kBlockCells x kBlockCells pieces' cells, by the pieces' centres.
    const double width = double(whole.max[0]) - whole.min[0];
    const double depth = double(whole.max[1]) - whole.min[1];
    const double cell = width > 0.0 && depth > 0.0
                            ? std::sqrt(width * depth / static_cast<double>(pieces.size()))
                            : 0.0;
    const double side = cell * kBlockCells;
    auto blocksAlong = [&](double extent) {
        return side > 0.0 ? std::clamp(static_cast<int>(std::ceil(extent / side)), 1, 4096) : 1;
    };
    const int nx = blocksAlong(width);
    const int ny = blocksAlong(depth);
    auto index = [&](float at, float from, int n) {
        const int k = side > 0.0 ? static_cast<int>((double(at) - from) / side) : 0;
        return std::clamp(k, 0, n - 1);
    };
    std::vector<std::uint32_t> blockOf(pieces.size(), 0);
    std::vector<std::uint32_t> starts(static_cast<std::size_t>(nx) * ny + 1, 0);
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        if (bytes[i] == 0) {
            continue;
        }
        const int bx = index(centres[i * 2], whole.min[0], nx);
        const int by = index(centres[i * 2 + 1], whole.min[1], ny);
        blockOf[i] = static_cast<std::uint32_t>(by * nx + bx);
        ++starts[blockOf[i] + 1];
    }
    std::vector<float>().swap(centres);
    for (std::size_t b = 1; b < starts.size(); ++b) {
        starts[b] += starts[b - 1];
    }
    pieces_.resize(starts.back());
    std::vector<Block> all(starts.size() - 1);
    for (Block& block : all) {
        for (int a = 0; a < 3; ++a) {
            block.min[a] = std::numeric_limits<float>::max();
            block.max[a] = std::numeric_limits<float>::lowest();
        }
    }
    {
        std::vector<std::uint32_t> next(starts.begin(), starts.end() - 1);
        for (std::size_t i = 0; i < pieces.size(); ++i) {
            if (bytes[i] == 0) {
                continue;
            }
            Block& block = all[blockOf[i]];
            pieces_[next[blockOf[i]]++] = pieces[i];
            block.bytes += bytes[i];
            for (int a = 0; a < 3; ++a) {
                block.min[a] = std::min(block.min[a], boxes[i][static_cast<std::size_t>(a)]);
                block.max[a] = std::max(block.max[a], boxes[i][static_cast<std::size_t>(a) + 3]);
            }
        }
    }
    std::vector<std::array<float, 6>>().swap(boxes);
    for (std::size_t b = 0; b + 1 < starts.size(); ++b) {
        if (starts[b] != starts[b + 1]) {
            all[b].column = static_cast<std::uint32_t>(static_cast<int>(b) % nx);
            all[b].row = static_cast<std::uint32_t>(static_cast<int>(b) / nx);
            all[b].firstPiece = starts[b];
            all[b].pieceCount = starts[b + 1] - starts[b];
            blocks_.push_back(std::move(all[b]));
        }
    }
    // A city within the budget is built whole now; a bigger one as it comes into view.
    if (cityBytes_ <= budget_) {
        for (Block& b : blocks_) {
            if (!buildBlock(b)) {
                release();
                return Built::outOfMemory;
            }
        }
    }
    return Built::yes;
}

bool CityBatch::buildBlock(Block& block) {
    std::vector<Face> faces;
    std::vector<std::size_t> pieceStarts;
    FaceList list(faces);
    for (std::uint32_t k = 0; k < block.pieceCount; ++k) {
        pieceStarts.push_back(faces.size());
        pieces_[block.firstPiece + k]->collect(list);
    }
    pieceStarts.push_back(faces.size());

    // Each face's group (with its layer) and facing class.
    std::vector<int> keys(faces.size());
    {
        std::vector<Key> local;
        for (std::size_t f = 0; f < faces.size(); ++f) {
            const Face& face = faces[f];
            auto same = [&](const Key& k) {
                return k.texture == face.texture && k.triangles == face.triangle &&
                       k.white == face.white;
            };
            const auto found = std::find_if(local.begin(), local.end(), same);
            keys[f] = static_cast<int>(found - local.begin());
            if (found == local.end()) {
                local.push_back(Key{face.texture, face.triangle, face.white});
            }
        }
    }
    std::vector<int> layers(faces.size());
    LayerScratch scratch;
    for (std::size_t p = 0; p + 1 < pieceStarts.size(); ++p) {
        const std::size_t from = pieceStarts[p];
        assignLayers(faces.data() + from, keys.data() + from,
                     static_cast<int>(pieceStarts[p + 1] - from), layers.data() + from, scratch);
    }
    struct Entry {
        std::uint32_t group;
        std::uint32_t facing;
        std::uint32_t face;
    };
    std::vector<Entry> entries(faces.size());
    int lastGroup = -1;
    for (std::size_t f = 0; f < faces.size(); ++f) {
        const Face& face = faces[f];
        const bool sameAsBefore =
            f > 0 && layers[f] == layers[f - 1] && face.texture == faces[f - 1].texture &&
            face.triangle == faces[f - 1].triangle && face.white == faces[f - 1].white;
        if (!sameAsBefore) {
            lastGroup = groupFor(layers[f], face.texture, face.triangle, face.white);
        }
        entries[f] =
            Entry{static_cast<std::uint32_t>(lastGroup), static_cast<std::uint32_t>(facingOf(face)),
                  static_cast<std::uint32_t>(f)};
    }
    // Group by group, each by facing class, in the city's order within.
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
        if (a.group != b.group) {
            return a.group < b.group;
        }
        if (a.facing != b.facing) {
            return a.facing < b.facing;
        }
        return a.face < b.face;
    });
    staging_.clear();
    staging_.reserve(block.bytes);
    block.ranges.clear();
    std::uint32_t vertices = 0;
    for (std::size_t e = 0; e < entries.size(); ++e) {
        const Entry& entry = entries[e];
        const Group& g = groups_[entry.group];
        if (block.ranges.empty() || block.ranges.back().group != entry.group) {
            Range r;
            r.group = entry.group;
            r.offset = static_cast<std::uint32_t>(staging_.size());
            std::fill(std::begin(r.starts), std::end(r.starts), 0u);
            block.ranges.push_back(r);
            vertices = 0;
        }
        Range& r = block.ranges.back();
        const Face& face = faces[entry.face];
        std::uint8_t rgba[4] = {255, 255, 255, 255};
        if (!g.white) {
            rgba[0] = colourByte(face.colour, 0);
            rgba[1] = colourByte(face.colour, 8);
            rgba[2] = colourByte(face.colour, 16);
        }
        const int n = face.cornerCount();
        for (int c = 0; c < n; ++c) {
            appendVertex(staging_, face.corners[static_cast<std::size_t>(c)], g.texture != nullptr,
                         g.white ? nullptr : rgba);
        }
        vertices += static_cast<std::uint32_t>(n);
        // starts[k + 1] ends up as the end of class k.
        for (int k = static_cast<int>(entry.facing) + 1; k <= kFacings; ++k) {
            r.starts[k] = vertices;
        }
    }
    glGenBuffers(1, &block.buffer);
    glBindBuffer(GL_ARRAY_BUFFER, block.buffer);
    glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(staging_.size()), staging_.data(),
                 GL_STATIC_DRAW);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    block.bytes = staging_.size();
    if (block.buffer == 0 || glGetError() == GL_OUT_OF_MEMORY) {
        if (block.buffer != 0) {
            glDeleteBuffers(1, &block.buffer);
            block.buffer = 0;
        }
        return false;
    }
    builtBytes_ += block.bytes;
    ++blocksBuilt_;
    if (staging_.capacity() > (std::size_t{8} << 20)) {
        std::vector<std::uint8_t>().swap(staging_);
    }
    return true;
}

bool CityBatch::draw(bool cull) {
    blocksDrawn_ = 0;
    blocksPending_ = 0;
    drawCalls_ = 0;
    if (blocks_.empty()) {
        return true;
    }
    ++frame_;
    // The clip matrix's rows give the view's six planes (left, right, bottom, top, near, far).
    GLfloat projection[16];
    GLfloat modelview[16];
    glGetFloatv(GL_PROJECTION_MATRIX, projection);
    glGetFloatv(GL_MODELVIEW_MATRIX, modelview);
    double rows[4][4];
    for (int col = 0; col < 4; ++col) {
        for (int row = 0; row < 4; ++row) {
            double sum = 0.0;
            for (int k = 0; k < 4; ++k) {
                sum += double(projection[k * 4 + row]) * modelview[col * 4 + k];
            }
            rows[row][col] = sum;
        }
    }
    double planes[6][4];
    for (int i = 0; i < 3; ++i) {
        for (int c = 0; c < 4; ++c) {
            planes[i * 2][c] = rows[3][c] + rows[i][c];
            planes[i * 2 + 1][c] = rows[3][c] - rows[i][c];
        }
    }
    for (auto& p : planes) {
        const double length = std::sqrt(p[0] * p[0] + p[1] * p[1] + p[2] * p[2]);
        if (length > 0.0) {
            for (double& v : p) {
                v /= length;
            }
        }
    }
    // The eye in world coordinates: where the model-view matrix puts the origin.
    double eye[3] = {0.0, 0.0, 0.0};
    {
        const double a[3][3] = {{modelview[0], modelview[4], modelview[8]},
                                {modelview[1], modelview[5], modelview[9]},
                                {modelview[2], modelview[6], modelview[10]}};
        const double t[3] = {modelview[12], modelview[13], modelview[14]};
        const double det = a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1]) -
                           a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0]) +
                           a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0]);
        if (det != 0.0) {
            // eye = -A^-1 t, by Cramer's rule.
            for (int i = 0; i < 3; ++i) {
                double m[3][3];
                for (int r = 0; r < 3; ++r) {
                    for (int c = 0; c < 3; ++c) {
                        m[r][c] = c == i ? -t[r] : a[r][c];
                    }
                }
                eye[i] = (m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
                          m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
                          m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0])) /
                         det;
            }
        } else {
            cull = false;
        }
    }
    // A block is left out only when it lies wholly beyond one plane by more than a unit, far
    // more than the rounding of the matrices.
    constexpr double kMargin = 1.0;
    visible_.clear();
    for (std::size_t b = 0; b < blocks_.size(); ++b) {
        const Block& block = blocks_[b];
        bool inside = true;
        if (cull) {
            for (const auto& p : planes) {
                const double x = p[0] >= 0.0 ? block.max[0] : block.min[0];
                const double y = p[1] >= 0.0 ? block.max[1] : block.min[1];
                const double z = p[2] >= 0.0 ? block.max[2] : block.min[2];
                if (p[0] * x + p[1] * y + p[2] * z + p[3] < -kMargin) {
                    inside = false;
                    break;
                }
            }
        }
        if (inside) {
            // Nearest first: the distance of the block's centre along the view.
            const double cx = (double(block.min[0]) + block.max[0]) * 0.5;
            const double cy = (double(block.min[1]) + block.max[1]) * 0.5;
            const double cz = (double(block.min[2]) + block.max[2]) * 0.5;
            const double w = rows[3][0] * cx + rows[3][1] * cy + rows[3][2] * cz + rows[3][3];
            visible_.emplace_back(static_cast<float>(w), static_cast<std::uint32_t>(b));
        }
    }
    // Blocks as far away as each other go in the city's order (column by column), which draws
    // first, and so wins the depth ties between their pieces' touching faces, what immediate
    // mode draws first.
    std::sort(visible_.begin(), visible_.end(), [&](const auto& x, const auto& y) {
        if (x.first != y.first) {
            return x.first < y.first;
        }
        const Block& a = blocks_[x.second];
        const Block& c = blocks_[y.second];
        return a.column != c.column ? a.column < c.column : a.row < c.row;
    });
    blocksDrawn_ = visible_.size();
    // Nearest first, as long as the time for building lasts; blocks not built have no ranges
    // and draw nothing.
    using Clock = std::chrono::steady_clock;
    const bool timed = buildSeconds_ >= 0.0;
    const Clock::time_point stop =
        timed ? Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                   std::chrono::duration<double>(buildSeconds_))
              : Clock::time_point::max();
    bool built = false;
    for (const auto& [distance, b] : visible_) {
        Block& block = blocks_[b];
        block.lastDrawn = frame_;
        if (block.buffer != 0) {
            continue;
        }
        if (built && timed && Clock::now() >= stop) {
            ++blocksPending_;
            continue;
        }
        if (!buildBlock(block)) {
            release();
            return false;
        }
        built = true;
    }
    // Over budget: let go of the blocks out of view longest.
    if (builtBytes_ > budget_) {
        std::vector<std::pair<std::uint64_t, std::uint32_t>> idle;
        for (std::size_t b = 0; b < blocks_.size(); ++b) {
            if (blocks_[b].buffer != 0 && blocks_[b].lastDrawn != frame_) {
                idle.emplace_back(blocks_[b].lastDrawn, static_cast<std::uint32_t>(b));
            }
        }
        std::sort(idle.begin(), idle.end());
        for (std::size_t i = 0; i < idle.size() && builtBytes_ > budget_; ++i) {
            dropBlock(blocks_[idle[i].second]);
        }
    }

    // Facing classes turned away over a whole block, as bits.
    auto awayClasses = [&](const Block& block) {
        unsigned mask = 0;
        if (!cull) {
            return mask;
        }
        const double cx = (double(block.min[0]) + block.max[0]) * 0.5 - eye[0];
        const double cy = (double(block.min[1]) + block.max[1]) * 0.5 - eye[1];
        const double cz = (double(block.min[2]) + block.max[2]) * 0.5 - eye[2];
        const double margin = 1.0 + 1e-4 * std::sqrt(cx * cx + cy * cy + cz * cz);
        if (eye[2] < double(block.min[2]) - margin) {
            mask |= 1u << 0; // every upward face lies above the eye
        }
        if (eye[2] > double(block.max[2]) + margin) {
            mask |= 1u << 1;
        }
        // An upright face is turned away when the eye lies behind its plane; for a sector of
        // normals (under half a turn) that holds for all of them when it holds for its two
        // bounding directions, at every corner of the block.
        for (int k = 0; k < 8; ++k) {
            bool away = true;
            for (int end = 0; end < 2 && away; ++end) {
                const double angle =
                    -3.14159265358979323846 + (k + end) * (3.14159265358979323846 / 4);
                const double nx = std::cos(angle);
                const double ny = std::sin(angle);
                for (int c = 0; c < 4 && away; ++c) {
                    const double x = c & 1 ? block.max[0] : block.min[0];
                    const double y = c & 2 ? block.max[1] : block.min[1];
                    away = nx * (eye[0] - x) + ny * (eye[1] - y) < -margin;
                }
            }
            if (away) {
                mask |= 1u << (2 + k);
            }
        }
        return mask;
    };

    perGroup_.resize(groups_.size());
    std::vector<unsigned> masks(visible_.size());
    for (std::size_t v = 0; v < visible_.size(); ++v) {
        const Block& block = blocks_[visible_[v].second];
        masks[v] = awayClasses(block);
        for (std::size_t r = 0; r < block.ranges.size(); ++r) {
            perGroup_[block.ranges[r].group].emplace_back(static_cast<std::uint32_t>(v),
                                                          static_cast<std::uint32_t>(r));
        }
    }

    glEnableClientState(GL_VERTEX_ARRAY);
    GLint firsts[kFacings];
    GLsizei counts[kFacings];
    for (std::uint32_t gi : order_) {
        auto& list = perGroup_[gi];
        if (list.empty()) {
            continue;
        }
        const Group& g = groups_[gi];
        bindTexture(g.texture);
        const bool textured = g.texture != nullptr;
        if (textured) {
            glEnableClientState(GL_TEXTURE_COORD_ARRAY);
        } else {
            glDisableClientState(GL_TEXTURE_COORD_ARRAY);
        }
        if (g.white) {
            glDisableClientState(GL_COLOR_ARRAY);
            glColor3f(1.0f, 1.0f, 1.0f);
        } else {
            glEnableClientState(GL_COLOR_ARRAY);
        }
        const GLenum mode = g.triangles ? GL_TRIANGLES : GL_QUADS;
        for (const auto& [v, r] : list) {
            const Block& block = blocks_[visible_[v].second];
            const Range& range = block.ranges[r];
            // The classes drawn, runs of neighbours joined.
            int runs = 0;
            for (int k = 0; k < kFacings; ++k) {
                const auto from = static_cast<GLint>(range.starts[k]);
                const auto count = static_cast<GLsizei>(range.starts[k + 1] - range.starts[k]);
                if (count == 0 || (masks[v] >> k & 1u) != 0) {
                    continue;
                }
                if (runs > 0 && firsts[runs - 1] + counts[runs - 1] == from) {
                    counts[runs - 1] += count;
                } else {
                    firsts[runs] = from;
                    counts[runs] = count;
                    ++runs;
                }
            }
            if (runs == 0) {
                continue;
            }
            glBindBuffer(GL_ARRAY_BUFFER, block.buffer);
            const auto* base = reinterpret_cast<const std::uint8_t*>(std::uintptr_t{range.offset});
            glVertexPointer(3, GL_FLOAT, g.stride, base);
            if (textured) {
                glTexCoordPointer(2, GL_FLOAT, g.stride, base + 12);
            }
            if (!g.white) {
                glColorPointer(4, GL_UNSIGNED_BYTE, g.stride, base + (textured ? 20 : 12));
            }
            if (runs == 1) {
                glDrawArrays(mode, firsts[0], counts[0]);
            } else {
                glMultiDrawArrays(mode, firsts, counts, runs);
            }
            ++drawCalls_;
        }
        list.clear();
    }
    glDisableClientState(GL_COLOR_ARRAY);
    glDisableClientState(GL_TEXTURE_COORD_ARRAY);
    glDisableClientState(GL_VERTEX_ARRAY);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    // What the next drawing (the axes of the next frame) would find after render.
    bindTexture(lastTexture_);
    if (lastTexCoordSet_) {
        glTexCoord2f(lastTexCoord_[0], lastTexCoord_[1]);
    }
    return true;
}

} // namespace ombrel
