#include "export/SceneFaces.h"

#include "export/Output.h"
#include "vrml/Triangulate.h"

#include <charconv>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <new>
#include <string_view>
#include <vector>

namespace ombrel {

namespace {

float clampUnit(float v) {
    return std::clamp(v, 0.0f, 1.0f);
}

// Sets m to the material of the shape; m's storage is used again.
void materialOf(const VRShape& shape, FaceMaterial& m) {
    m.colour = {1.0f, 1.0f, 1.0f};
    m.noColor = false;
    m.image.clear();
    const VRAppearance* appearance = shape.appearance.get();
    if (!appearance || !appearance->material) {
        m.noColor = true;
    } else {
        const Vec3 c = appearance->material->diffuseColor;
        m.colour = {clampUnit(c.x), clampUnit(c.y), clampUnit(c.z)};
    }
    if (appearance && appearance->texture && appearance->texture->type == VR_IMAGE_TEXTURE) {
        const auto& urls = static_cast<const VRImageTexture&>(*appearance->texture).url;
        if (!urls.empty())
            m.image = urls.front();
    }
}

std::uint64_t hashOf(const FaceMaterial& m) {
    std::uint32_t bits[3];
    std::memcpy(bits, &m.colour, sizeof bits);
    std::uint64_t h = std::hash<std::string_view>()(m.image) ^ (m.noColor ? 1 : 0);
    h = (h ^ std::hash<std::string_view>()(m.surface)) * 0x9E3779B97F4A7C15ull;
    h = (h ^ std::hash<std::string_view>()(m.materialName)) * 0x9E3779B97F4A7C15ull;
    for (std::uint32_t b : bits)
        h = (h ^ b) * 0x9E3779B97F4A7C15ull;
    // Colours such as 0.5 have no low bits: the high bits are mixed down, as the slots are
    // chosen by the low ones.
    h ^= h >> 33;
    h *= 0xFF51AFD7ED558CCDull;
    return h ^ (h >> 33);
}

bool sameMaterial(const FaceMaterial& a, const FaceMaterial& b) {
    return a.noColor == b.noColor && std::memcmp(&a.colour, &b.colour, sizeof a.colour) == 0 &&
           a.image == b.image && a.surface == b.surface && a.materialName == b.materialName;
}

// The file name of an image path without its folders and its ending.
std::string_view imageStem(std::string_view path) {
    const std::size_t slash = path.find_last_of("/\\");
    if (slash != std::string_view::npos)
        path.remove_prefix(slash + 1);
    const std::size_t dot = path.rfind('.');
    if (dot != std::string_view::npos && dot > 0)
        path = path.substr(0, dot);
    return path;
}

} // namespace

std::pair<std::uint32_t, bool> MaterialTable::add(const FaceMaterial& material) {
    // Shapes in a row often share their material: the last one is compared first.
    if (last_ < materials_.size() && sameMaterial(materials_[last_], material))
        return {std::uint32_t(last_), false};
    const std::uint64_t hash = hashOf(material);
    if (slots_.empty())
        slots_.assign(256, -1);
    std::size_t mask = slots_.size() - 1;
    std::size_t at = std::size_t(hash) & mask;
    for (; slots_[at] >= 0; at = (at + 1) & mask) {
        const auto index = std::size_t(slots_[at]);
        if (hashes_[index] == hash && sameMaterial(materials_[index], material)) {
            last_ = index;
            return {std::uint32_t(index), false};
        }
    }
    const auto index = std::uint32_t(materials_.size());
    last_ = index;
    materials_.push_back(material);
    hashes_.push_back(hash);
    slots_[at] = std::int32_t(index);
    // Kept at most half full: when it passes, twice as many slots and every material placed anew.
    if (materials_.size() * 2 > slots_.size()) {
        slots_.assign(slots_.size() * 2, -1);
        mask = slots_.size() - 1;
        for (std::size_t i = 0; i < materials_.size(); ++i) {
            std::size_t free = std::size_t(hashes_[i]) & mask;
            while (slots_[free] >= 0)
                free = (free + 1) & mask;
            slots_[free] = std::int32_t(i);
        }
    }
    return {index, true};
}

std::string materialName(const FaceMaterial& material) {
    if (material.surface.empty() && material.materialName.empty())
        return {};
    const std::string_view parts[3] = {material.surface, material.materialName,
                                       imageStem(material.image)};
    std::size_t count = 3;
    while (parts[count - 1].empty())
        --count;
    std::string name;
    for (std::size_t i = 0; i < count; ++i) {
        if (i > 0)
            name += '/';
        name += parts[i].empty() ? std::string_view("-") : parts[i];
    }
    return name;
}

std::string UniqueNames::add(const std::string& name) {
    std::uint32_t& uses = uses_[name];
    if (++uses == 1)
        return name;
    // "wall~2" could itself be a name met before (a class of that name): counted on until free.
    for (;;) {
        std::string numbered = name + "~" + std::to_string(uses);
        if (uses_.try_emplace(numbered, 1).second)
            return numbered;
        ++uses;
    }
}

FaceMaterial greyMaterial() {
    FaceMaterial m;
    m.colour = {0.5f, 0.5f, 0.5f};
    return m;
}

namespace {

constexpr float kLargest = std::numeric_limits<float>::max();

// False for infinity and NaN; without branches, as it is asked at every corner.
bool finite(Vec3 p) {
    return (std::fabs(p.x) <= kLargest) & (std::fabs(p.y) <= kLargest) &
           (std::fabs(p.z) <= kLargest);
}

} // namespace

void FaceReader::read(VRRef<VRNode> piece, FaceSink& sink, const FaceMaterial* only) {
    if (!piece)
        return;
    sink_ = &sink;
    only_ = only;
    // The piece's own transformation is applied, as to a child of the scene's root.
    node(*piece, VRMatrix::identity());
}

void FaceReader::node(const VRNode& node, const VRMatrix& m) {
    if (node.type == VR_GROUP || node.type == VR_TRANSFORM || node.type == VR_LOD) {
        const VRMatrix inner =
            node.type == VR_TRANSFORM ? localMatrix(static_cast<const VRTransform&>(node)) * m : m;
        for (const VRRef<VRNode>& child : static_cast<const VRGroup&>(node).children) {
            if (!child)
                break;
            this->node(*child, inner);
        }
    } else if (node.type == VR_SHAPE) {
        shape(static_cast<const VRShape&>(node), m);
    }
}

void FaceReader::setLabel(const VRFaceLabel* label) {
    if (label) {
        material_.surface = label->surface;
        material_.materialName = label->material;
    } else {
        material_.surface.clear();
        material_.materialName.clear();
    }
}

void FaceReader::shape(const VRShape& shape, const VRMatrix& m) {
    if (!shape.geometry || shape.geometry->type != VR_INDEXED_FACE_SET)
        return;
    const auto& faces = static_cast<const VRIndexedFaceSet&>(*shape.geometry);
    if (!faces.coord)
        return;
    if (only_)
        material_ = *only_;
    else
        materialOf(shape, material_);
    // The first face's label, then each change of it, goes with the material.
    const VRFaceLabel* label = faces.labelOf(0);
    setLabel(label);
    std::size_t face = 0;
    const MFVec3f& coords = faces.coord->point;
    const bool textured = !material_.image.empty();
    const MFVec2f* tex = textured && faces.texCoord ? &faces.texCoord->point : nullptr;
    // Without its own index list the texture coordinates follow coordIndex.
    const MFInt32& texIndex = faces.texCoordIndex.empty() ? faces.coordIndex : faces.texCoordIndex;
    const MFInt32& index = faces.coordIndex;
    // Most Shapes lie in the world's coordinates already.
    const VRMatrix none = VRMatrix::identity();
    const bool identity = std::memcmp(m.m, none.m, sizeof m.m) == 0;
    // The sink hears of the material with the Shape's first face, and again with a face of
    // another label than the one it heard of last.
    bool told = false;
    const VRFaceLabel* toldLabel = nullptr;
    auto tell = [&] {
        if (!told || label != toldLabel)
            sink_->material(material_);
        told = true;
        toldLabel = label;
    };
    std::size_t start = 0;
    for (std::size_t i = 0; i <= index.size(); ++i) {
        if (i < index.size() && index[i] >= 0)
            continue;
        const std::size_t s = start;
        start = i + 1;
        const std::size_t n = i - s;
        if (const VRFaceLabel* own = faces.labelOf(face++); own != label) {
            label = own;
            setLabel(label);
        }
        if (n < 3)
            continue;
        world_.resize(n);
        if (textured)
            uvs_.resize(n);
        bool allFinite = true;
        bool named = true;
        for (std::size_t k = 0; k < n; ++k) {
            const std::size_t p = std::size_t(index[s + k]);
            named = p < coords.size();
            if (!named)
                break;
            const Vec3 q = coords[p];
            // Adding +0 is what the identity does to a finite point: -0 becomes +0.
            const Vec3 w =
                toYUp(identity ? Vec3{q.x + 0.0f, q.y + 0.0f, q.z + 0.0f} : m.transformPoint(q));
            world_[k] = w;
            allFinite &= finite(w);
            if (textured) {
                Vec2 uv{0, 0};
                const std::size_t t = s + k;
                if (tex && t < texIndex.size() && texIndex[t] >= 0 &&
                    std::size_t(texIndex[t]) < tex->size())
                    uv = (*tex)[std::size_t(texIndex[t])];
                uvs_[k] = uv;
            }
        }
        if (!named)
            continue;
        std::span<const FaceTriangle> triangles;
        if (triangulator_ && n >= 4 && n <= Triangulator::kMaxFaceVertices) {
            try {
                triangles = triangulator_->triangulateFace(coords.data(), &index[s], n);
                if (triangles.empty())
                    continue;
            } catch (const std::bad_alloc&) {
                // Without work storage the face stays as it is, as the VRML export keeps it.
                triangles = {};
            }
        }
        const Vec2* uv = textured ? uvs_.data() : nullptr;
        if (allFinite) {
            tell();
            sink_->face(world_.data(), uv, n, triangles);
        } else if (!triangles.empty()) {
            // Only the triangles whose points are all finite, one by one.
            for (const FaceTriangle& t : triangles) {
                const std::int32_t c[3] = {t.a, t.b, t.c};
                Vec3 points[3];
                Vec2 uvs[3];
                bool ok = true;
                for (int k = 0; k < 3; ++k) {
                    points[k] = world_[std::size_t(c[k])];
                    ok = ok && finite(points[k]);
                    if (uv)
                        uvs[k] = uv[c[k]];
                }
                if (ok) {
                    tell();
                    sink_->face(points, uv ? uvs : nullptr, 3, {});
                }
            }
        }
    }
}

std::string gltfMaterialJson(const FaceMaterial& material, const std::string& name,
                             std::int32_t texture) {
    const Vec3 colour = material.noColor ? Vec3{1, 1, 1} : material.colour;
    std::string json = "{";
    if (!name.empty()) {
        json += "\"name\":";
        appendJsonString(json, name);
        json += ',';
    }
    json += "\"pbrMetallicRoughness\":{\"baseColorFactor\":[";
    appendShortFloat(json, colour.x);
    json += ',';
    appendShortFloat(json, colour.y);
    json += ',';
    appendShortFloat(json, colour.z);
    json += ",1]";
    if (texture >= 0) {
        char digits[16];
        json += ",\"baseColorTexture\":{\"index\":";
        json.append(digits, std::to_chars(digits, digits + sizeof digits, texture).ptr);
        json += '}';
    }
    json += ",\"metallicFactor\":0,\"roughnessFactor\":1}";
    if (!material.surface.empty() || !material.materialName.empty()) {
        json += ",\"extras\":{";
        if (!material.surface.empty()) {
            json += "\"surface\":";
            appendJsonString(json, material.surface);
        }
        if (!material.materialName.empty()) {
            if (!material.surface.empty())
                json += ',';
            json += "\"material\":";
            appendJsonString(json, material.materialName);
        }
        json += '}';
    }
    json += '}';
    return json;
}

} // namespace ombrel
