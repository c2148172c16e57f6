// Feeds arbitrary face sets to the triangulation and the writer: up to 200 points of any float
// value (NaN and infinity included), any index lists, per-vertex or per-face parallel lists.
// Nothing may crash, hang or read out of bounds, and every index written must come from the
// input.
#include "vrml/Triangulate.h"
#include "vrml/VRWriter.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <set>

namespace {

struct Reader {
    const std::uint8_t* data;
    std::size_t size;
    template <class T> bool take(T& value) {
        if (size < sizeof(T))
            return false;
        std::memcpy(&value, data, sizeof(T));
        data += sizeof(T);
        size -= sizeof(T);
        return true;
    }
};

constexpr int kMaxPoints = 200;
// Indices run a little past the points so that faces naming missing points turn up too.
constexpr int kIndexSpan = kMaxPoints + 16;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace ombrel;
    Reader in{data, size};
    std::uint8_t flags = 0, points = 0;
    if (!in.take(flags) || !in.take(points))
        return 0;
    auto faces = makeNode<VRIndexedFaceSet>();
    auto coord = makeNode<VRCoordinate>();
    for (int i = 0; i < points % (kMaxPoints + 1); ++i) {
        Vec3 p;
        if (!in.take(p))
            break;
        coord->point.push_back(p);
    }
    faces->setCoord(std::move(coord));
    faces->colorPerVertex = flags & 1;
    faces->normalPerVertex = flags & 2;
    std::int16_t raw;
    // The rest: indices (negative ends a face); every few go to the parallel lists too.
    for (std::size_t k = 0; in.take(raw) && k < 4096; ++k) {
        const std::int32_t index = raw < 0 ? -1 : raw % kIndexSpan;
        faces->coordIndex.push_back(index);
        if (flags & 4)
            faces->texCoordIndex.push_back(flags & 32 ? raw : index);
        if ((flags & 8) && k % 3 == 0)
            faces->colorIndex.push_back(index);
        if ((flags & 16) && k % 2 == 0)
            faces->normalIndex.push_back(index);
    }
    const std::set<std::int32_t> before(faces->coordIndex.begin(), faces->coordIndex.end());
    if (triangulate(*faces) != 0)
        std::abort();
    for (std::int32_t i : faces->coordIndex)
        if (i != -1 && !before.count(i))
            std::abort();
    (void)vrmlText(faces.get());
    return 0;
}
