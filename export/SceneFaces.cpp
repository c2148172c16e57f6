#include "export/SceneFaces.h"

#include "vrml/Triangulate.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
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
           a.image == b.image;
}

} // namespace

std::pair<std::uint32_t, bool> MaterialTable::add(const FaceMaterial& material) {
    const std::uint64_t hash = hashOf(material);
    if (slots_.empty())
        slots_.assign(256, -1);
    std::size_t mask = slots_.size() - 1;
    std::size_t at = std::size_t(hash) & mask;
    for (; slots_[at] >= 0; at = (at + 1) & mask) {
        const auto index = std::size_t(slots_[at]);
        if (hashes_[index] == hash && sameMaterial(materials_[index], material))
            return {std::uint32_t(index), false};
    }
    const auto index = std::uint32_t(materials_.size());
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

FaceMaterial greyMaterial() {
    FaceMaterial m;
    m.colour = {0.5f, 0.5f, 0.5f};
    return m;
}

void forEachFace(VRRef<VRNode> piece, Triangulator* triangulator, FaceSink& sink,
                 const FaceMaterial* only) {
    if (!piece)
        return;
    if (triangulator)
        triangulateTree(piece.get(), *triangulator);
    // Held by a plain group, the piece is visited with its own transformation applied.
    auto holder = makeNode<VRGroup>();
    holder->addChild(std::move(piece));
    std::vector<Vec3> points;
    std::vector<Vec2> uvs;
    FaceMaterial material;
    for (const VRRef<VRShape>& shape : collectWorldShapes(holder.get(), false)) {
        if (!shape->geometry || shape->geometry->type != VR_INDEXED_FACE_SET)
            continue;
        const auto& faces = static_cast<const VRIndexedFaceSet&>(*shape->geometry);
        if (!faces.coord)
            continue;
        if (only)
            material = *only;
        else
            materialOf(*shape, material);
        const MFVec3f& coords = faces.coord->point;
        const bool textured = !material.image.empty();
        const MFVec2f* tex = textured && faces.texCoord ? &faces.texCoord->point : nullptr;
        // Without its own index list the texture coordinates follow coordIndex.
        const MFInt32& texIndex =
            faces.texCoordIndex.empty() ? faces.coordIndex : faces.texCoordIndex;
        const MFInt32& index = faces.coordIndex;
        // Points are checked one by one only when some point of the set is not finite.
        const bool allFinite = std::all_of(coords.begin(), coords.end(), [](const Vec3& p) {
            return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z);
        });
        std::size_t start = 0;
        for (std::size_t i = 0; i <= index.size(); ++i) {
            if (i < index.size() && index[i] >= 0)
                continue;
            const std::size_t n = i - start;
            bool ok = n >= 3;
            points.clear();
            uvs.clear();
            for (std::size_t k = start; ok && k < i; ++k) {
                const std::int32_t p = index[k];
                if (std::size_t(p) >= coords.size()) {
                    ok = false;
                    break;
                }
                const Vec3 point = coords[std::size_t(p)];
                if (!allFinite && (!std::isfinite(point.x) || !std::isfinite(point.y) ||
                                   !std::isfinite(point.z))) {
                    ok = false;
                    break;
                }
                points.push_back(point);
                if (textured) {
                    Vec2 uv{0, 0};
                    if (tex && k < texIndex.size() && texIndex[k] >= 0 &&
                        std::size_t(texIndex[k]) < tex->size())
                        uv = (*tex)[std::size_t(texIndex[k])];
                    uvs.push_back(uv);
                }
            }
            if (ok)
                sink.face(material, points.data(), textured ? uvs.data() : nullptr, n);
            start = i + 1;
        }
    }
}

} // namespace ombrel
