#include "export/TileContent.h"

#include "base/Version.h"
#include "export/Output.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <list>

namespace ombrel {

namespace {

static_assert(std::endian::native == std::endian::little, "the binary data is written as held");

void appendUint(std::string& out, std::uint64_t value) {
    char text[24];
    out.append(text, std::to_chars(text, text + sizeof text, value).ptr);
}

// The binary chunk as the pieces it is made of, each starting 8-aligned (as property tables
// ask): the vertices are written from where they lie, without a copy; what is made for the
// file alone (short indices, the table's columns) is kept here.
class Binary {
public:
    std::uint64_t add(const void* data, std::size_t n) {
        size_ = (size_ + 7) / 8 * 8;
        const std::uint64_t at = size_;
        pieces_.push_back({at, static_cast<const char*>(data), n});
        size_ += n;
        return at;
    }
    std::uint64_t keep(std::vector<char> bytes) {
        kept_.push_back(std::move(bytes));
        return add(kept_.back().data(), kept_.back().size());
    }
    // The chunk's length, padded to 4 bytes as a GLB chunk is.
    std::uint64_t size() const { return (size_ + 3) / 4 * 4; }
    bool write(std::FILE* out) const {
        static constexpr char kZeros[8] = {};
        std::uint64_t at = 0;
        for (const Piece& p : pieces_) {
            if (p.at > at && std::fwrite(kZeros, 1, p.at - at, out) != p.at - at)
                return false;
            if (p.n > 0 && std::fwrite(p.data, 1, p.n, out) != p.n)
                return false;
            at = p.at + p.n;
        }
        return size() == at || std::fwrite(kZeros, 1, size() - at, out) == size() - at;
    }

private:
    struct Piece {
        std::uint64_t at;
        const char* data;
        std::size_t n;
    };
    std::vector<Piece> pieces_;
    std::list<std::vector<char>> kept_; // stays where it is as more is added
    std::uint64_t size_ = 0;
};

// A colour as four bytes (red, green, blue, opaque alpha) in the place of one float of a vertex:
// an 8-bit COLOR_0, a quarter of the bytes of three floats, and the same colour to the eye.
float packed(Vec3 colour) {
    auto byte = [](float v) {
        return std::uint32_t(std::lround(std::clamp(v, 0.0f, 1.0f) * 255.0f));
    };
    const std::uint32_t word =
        byte(colour.x) | (byte(colour.y) << 8) | (byte(colour.z) << 16) | (0xFFu << 24);
    float f;
    std::memcpy(&f, &word, sizeof f);
    return f;
}

} // namespace

void CityBox::add(Vec3 p) {
    if (empty()) {
        lo = hi = p;
        return;
    }
    lo = {std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z)};
    hi = {std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z)};
}

void CityBox::add(const CityBox& other) {
    if (other.empty())
        return;
    add(other.lo);
    add(other.hi);
}

std::size_t TileContent::Primitive::stride() const {
    return 3 + (normals ? 3 : 0) + (textured ? 2 : 0) + 1 + (features ? 1 : 0);
}

TileContent::TileContent(ImageNamer images, bool colours)
    : images_(std::move(images)), colours_(colours), colour_(packed({1, 1, 1})) {}

void TileContent::building(const BuildingFeature& feature) {
    feature_ = features_.add(feature);
}

void TileContent::noBuilding() {
    feature_ = -1;
}

std::uint32_t TileContent::materialIndex(const FaceMaterial& key) {
    const auto [index, added] = materials_.add(key);
    if (!added)
        return index;
    std::int32_t texture = -1;
    if (!key.image.empty()) {
        const auto [it, fresh] = imageLookup_.try_emplace(key.image, -1);
        if (fresh) {
            const std::string uri = images_ ? images_(key.image) : std::string();
            if (!uri.empty()) {
                it->second = std::int32_t(imageUris_.size());
                imageUris_.push_back(uri);
            }
        }
        texture = it->second;
    }
    // Named after the faces' labels, as the glTF export names it, which its extras hold too.
    const std::string name = materialName(key);
    std::string json =
        gltfMaterialJson(key, name.empty() ? name : materialNames_.add(name), texture);
    materialJson_.push_back(std::move(json));
    textures_.push_back(texture);
    return index;
}

TileContent::Primitive& TileContent::primitive(std::uint32_t material, bool textured,
                                               bool normals) {
    const bool features = feature_ >= 0;
    const std::uint64_t key = (std::uint64_t(material) << 3) | (textured ? 4 : 0) |
                              (features ? 2 : 0) | (normals ? 1 : 0);
    const auto [it, added] = primitiveLookup_.try_emplace(key, primitives_.size());
    if (added) {
        primitives_.emplace_back();
        Primitive& p = primitives_.back();
        p.material = material;
        p.textured = textured;
        p.features = features;
        p.normals = normals;
    }
    Primitive& p = primitives_[it->second];
    if (features && p.lastFeature != feature_) {
        p.lastFeature = feature_;
        ++p.featureCount;
    }
    current_ = it->second;
    return p;
}

void TileContent::material(const FaceMaterial& material) {
    std::uint32_t m = 0;
    if (colours_) {
        colour_ = packed(material.noColor ? Vec3{1, 1, 1} : material.colour);
        FaceMaterial key = material;
        key.colour = {1, 1, 1};
        m = materialIndex(key);
    } else {
        m = materialIndex(material);
    }
    primitive(m, !material.image.empty() && textures_[m] >= 0, true);
}

void TileContent::face(const Vec3* points, const Vec2* uv, std::size_t n,
                       std::span<const FaceTriangle> triangles) {
    Primitive& p = primitives_[current_];
    fan_.clear();
    if (triangles.empty()) {
        for (std::size_t t = 1; t + 1 < n; ++t)
            fan_.push_back({0, std::int32_t(t), std::int32_t(t + 1)});
        triangles = fan_;
    }
    Vec3 normal{0, 1, 0};
    for (const FaceTriangle& t : triangles)
        if (triangleNormal(points[std::size_t(t.a)], points[std::size_t(t.b)],
                           points[std::size_t(t.c)], normal))
            break;
    const std::size_t stride = p.stride();
    const auto base = std::uint32_t(p.vertices.size() / stride);
    p.vertices.resize(p.vertices.size() + n * stride);
    float* v = p.vertices.data() + std::size_t(base) * stride;
    for (std::size_t k = 0; k < n; ++k) {
        const Vec3 q = points[k];
        bounds_.add(Vec3{q.x, -q.z, q.y});
        *v++ = q.x;
        *v++ = q.y;
        *v++ = q.z;
        *v++ = normal.x;
        *v++ = normal.y;
        *v++ = normal.z;
        if (p.textured) {
            // glTF's images start at the top left, VRML's at the bottom left.
            *v++ = uv[k].x;
            *v++ = 1.0f - uv[k].y;
        }
        *v++ = colour_;
        if (p.features)
            *v++ = float(feature_);
    }
    for (const FaceTriangle& t : triangles) {
        p.indices.push_back(base + std::uint32_t(t.a));
        p.indices.push_back(base + std::uint32_t(t.b));
        p.indices.push_back(base + std::uint32_t(t.c));
    }
    triangles_ += triangles.size();
}

void TileContent::box(Vec3 lo, Vec3 hi, Vec3 colour) {
    FaceMaterial plain;
    plain.colour = colour;
    // Without normals: the eight corners are shared by the sides, and readers give every
    // triangle its flat normal.
    std::uint32_t m = 0;
    if (colours_) {
        colour_ = packed(colour);
        plain.colour = {1, 1, 1};
    }
    m = materialIndex(plain);
    Primitive& p = primitive(m, false, false);
    const std::size_t stride = p.stride();
    const auto base = std::uint32_t(p.vertices.size() / stride);
    for (int k = 0; k < 8; ++k) {
        // Corner k: bit 0 picks x, bit 1 the city's y, bit 2 z; in glTF's axes.
        const Vec3 c{(k & 1) ? hi.x : lo.x, (k & 2) ? hi.y : lo.y, (k & 4) ? hi.z : lo.z};
        bounds_.add(c);
        const Vec3 q = toYUp(c);
        p.vertices.insert(p.vertices.end(), {q.x, q.y, q.z, colour_});
        if (p.features)
            p.vertices.push_back(float(feature_));
    }
    // Top and the four sides, counter-clockwise seen from outside (city axes, z up).
    static constexpr std::uint32_t kQuads[5][4] = {
        {4, 5, 7, 6}, {0, 1, 5, 4}, {1, 3, 7, 5}, {3, 2, 6, 7}, {2, 0, 4, 6}};
    for (const auto& q : kQuads) {
        p.indices.insert(p.indices.end(), {base + q[0], base + q[1], base + q[2], base + q[0],
                                           base + q[2], base + q[3]});
    }
    triangles_ += 10;
}

void TileContent::strip(float x0, float y0, float x1, float y1, float z, Vec3 colour) {
    FaceMaterial plain;
    plain.colour = colour;
    material(plain);
    const Vec3 corners[4] = {toYUp({x0, y0, z}), toYUp({x1, y0, z}), toYUp({x1, y1, z}),
                             toYUp({x0, y1, z})};
    face(corners, nullptr, 4, {});
}

bool TileContent::writeGlb(std::FILE* out) const {
    Binary bin;
    std::string views, accessors, meshes;
    std::uint32_t viewCount = 0, accessorCount = 0;
    auto addView = [&](std::uint64_t offset, std::uint64_t length, std::size_t stride, int target) {
        if (viewCount++ > 0)
            views += ',';
        views += "{\"buffer\":0,\"byteOffset\":";
        appendUint(views, offset);
        views += ",\"byteLength\":";
        appendUint(views, std::max<std::uint64_t>(length, 1));
        if (stride) {
            views += ",\"byteStride\":";
            appendUint(views, stride);
        }
        if (target) {
            views += ",\"target\":";
            appendUint(views, std::uint64_t(target));
        }
        views += '}';
        return viewCount - 1;
    };
    auto addAccessor = [&](const std::string& json) {
        if (accessorCount++ > 0)
            accessors += ',';
        accessors += json;
        return accessorCount - 1;
    };
    std::string primitives;
    for (const Primitive& p : primitives_) {
        const std::size_t stride = p.stride();
        const std::size_t count = p.vertices.size() / stride;
        const std::uint64_t at = bin.add(p.vertices.data(), p.vertices.size() * sizeof(float));
        const std::uint32_t view =
            addView(at, p.vertices.size() * sizeof(float), stride * 4, 34962);
        float lo[3], hi[3];
        for (int k = 0; k < 3; ++k)
            lo[k] = hi[k] = p.vertices[std::size_t(k)];
        for (std::size_t v = 0; v < count; ++v)
            for (int k = 0; k < 3; ++k) {
                lo[k] = std::min(lo[k], p.vertices[v * stride + std::size_t(k)]);
                hi[k] = std::max(hi[k], p.vertices[v * stride + std::size_t(k)]);
            }
        auto accessor = [&](std::size_t offset, const char* type, bool bounds,
                            int component = 5126) {
            std::string json = "{\"bufferView\":";
            appendUint(json, view);
            if (offset) {
                json += ",\"byteOffset\":";
                appendUint(json, offset);
            }
            json += ",\"componentType\":";
            appendUint(json, std::uint64_t(component));
            if (component != 5126)
                json += ",\"normalized\":true";
            json += ",\"count\":";
            appendUint(json, count);
            json += ",\"type\":\"";
            json += type;
            json += '"';
            if (bounds) {
                json += ",\"min\":[";
                for (int k = 0; k < 3; ++k) {
                    appendExactFloat(json, lo[k]);
                    json += k < 2 ? "," : "],\"max\":[";
                }
                for (int k = 0; k < 3; ++k) {
                    appendExactFloat(json, hi[k]);
                    json += k < 2 ? ',' : ']';
                }
            }
            return addAccessor(json + "}");
        };
        std::string a = "{\"POSITION\":";
        appendUint(a, accessor(0, "VEC3", true));
        std::size_t offset = 12;
        if (p.normals) {
            a += ",\"NORMAL\":";
            appendUint(a, accessor(offset, "VEC3", false));
            offset += 12;
        }
        if (p.textured) {
            a += ",\"TEXCOORD_0\":";
            appendUint(a, accessor(offset, "VEC2", false));
            offset += 8;
        }
        a += ",\"COLOR_0\":";
        appendUint(a, accessor(offset, "VEC4", false, 5121));
        offset += 4;
        if (p.features) {
            a += ",\"_FEATURE_ID_0\":";
            appendUint(a, accessor(offset, "SCALAR", false));
        }
        a += '}';
        // Indices: 16 bits where they fit (65535 is the restart value).
        const bool small = count < 65535;
        std::uint64_t indexAt = 0;
        if (small) {
            std::vector<char> shorts(p.indices.size() * 2);
            for (std::size_t i = 0; i < p.indices.size(); ++i) {
                const auto index = std::uint16_t(p.indices[i]);
                std::memcpy(shorts.data() + 2 * i, &index, 2);
            }
            indexAt = bin.keep(std::move(shorts));
        } else {
            indexAt = bin.add(p.indices.data(), p.indices.size() * 4);
        }
        const std::uint32_t indexView =
            addView(indexAt, p.indices.size() * (small ? 2 : 4), 0, 34963);
        std::string indices = "{\"bufferView\":";
        appendUint(indices, indexView);
        indices += small ? ",\"componentType\":5123,\"count\":"
                         : ",\"componentType\":5125,"
                           "\"count\":";
        appendUint(indices, p.indices.size());
        indices += ",\"type\":\"SCALAR\"}";
        if (!primitives.empty())
            primitives += ',';
        primitives += "{\"attributes\":" + a + ",\"indices\":";
        appendUint(primitives, addAccessor(indices));
        primitives += ",\"material\":";
        appendUint(primitives, p.material);
        if (p.features && p.featureCount > 0) {
            primitives += ",\"extensions\":{";
            primitives += primitiveFeaturesJson(p.featureCount, 0, 0);
            primitives += '}';
        }
        primitives += '}';
    }
    std::string json = "{\"asset\":{\"version\":\"2.0\",\"generator\":\"Ombrel ";
    json += kVersion;
    json += "\"}";
    if (features_.size() > 0) {
        std::array<std::uint32_t, BuildingFeatureTable::kColumns> columns{};
        for (std::size_t i = 0; i < columns.size(); ++i) {
            std::vector<char> bytes = features_.column(i);
            const std::size_t length = bytes.size();
            // A view may not be empty: an empty column (no names) gets a byte of its own.
            if (bytes.empty())
                bytes.push_back(0);
            columns[i] = addView(bin.keep(std::move(bytes)), length, 0, 0);
        }
        json += ",\"extensionsUsed\":[";
        json += kFeatureExtensionsUsed;
        json += "],\"extensions\":{";
        json += features_.metadataJson(columns);
        json += '}';
    }
    json += ",\"scene\":0,\"scenes\":[{\"nodes\":[0]}],\"nodes\":[{";
    if (!primitives_.empty())
        json += "\"mesh\":0";
    json += "}]";
    if (!primitives_.empty())
        json += ",\"meshes\":[{\"primitives\":[" + primitives + "]}]";
    if (!materialJson_.empty()) {
        json += ",\"materials\":[";
        for (std::size_t i = 0; i < materialJson_.size(); ++i) {
            if (i > 0)
                json += ',';
            json += materialJson_[i];
        }
        json += ']';
    }
    if (!imageUris_.empty()) {
        json += ",\"samplers\":[{\"magFilter\":9729,\"minFilter\":9987,\"wrapS\":10497,"
                "\"wrapT\":10497}],\"textures\":[";
        for (std::size_t i = 0; i < imageUris_.size(); ++i) {
            if (i > 0)
                json += ',';
            json += "{\"sampler\":0,\"source\":";
            appendUint(json, i);
            json += '}';
        }
        json += "],\"images\":[";
        for (std::size_t i = 0; i < imageUris_.size(); ++i) {
            if (i > 0)
                json += ',';
            json += "{\"uri\":";
            appendJsonString(json, uriEncode(imageUris_[i]));
            json += '}';
        }
        json += ']';
    }
    const std::uint64_t dataSize = bin.size();
    if (accessorCount > 0)
        json += ",\"accessors\":[" + accessors + "]";
    if (viewCount > 0)
        json += ",\"bufferViews\":[" + views + "]";
    if (dataSize > 0) {
        json += ",\"buffers\":[{\"byteLength\":";
        appendUint(json, dataSize);
        json += "}]";
    }
    json += '}';
    while (json.size() % 4 != 0)
        json += ' ';

    const std::uint32_t total =
        std::uint32_t(12 + 8 + json.size() + (dataSize == 0 ? 0 : 8 + dataSize));
    const std::uint32_t head[5] = {0x46546C67, 2, total, std::uint32_t(json.size()), 0x4E4F534A};
    const std::uint32_t binHead[2] = {std::uint32_t(dataSize), 0x004E4942};
    return std::fwrite(head, 1, sizeof head, out) == sizeof head &&
           std::fwrite(json.data(), 1, json.size(), out) == json.size() &&
           (dataSize == 0 ||
            (std::fwrite(binHead, 1, sizeof binHead, out) == sizeof binHead && bin.write(out)));
}

} // namespace ombrel
