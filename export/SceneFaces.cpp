#include "export/SceneFaces.h"

#include "vrml/Triangulate.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace ombrel {

namespace {

float clampUnit(float v) {
    return std::clamp(v, 0.0f, 1.0f);
}

FaceMaterial materialOf(const VRShape& shape) {
    FaceMaterial m;
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
    return m;
}

} // namespace

FaceMaterial greyMaterial() {
    FaceMaterial m;
    m.colour = {0.5f, 0.5f, 0.5f};
    return m;
}

bool triangleNormal(Vec3 a, Vec3 b, Vec3 c, Vec3& normal) {
    const double ux = double(b.x) - a.x, uy = double(b.y) - a.y, uz = double(b.z) - a.z;
    const double vx = double(c.x) - a.x, vy = double(c.y) - a.y, vz = double(c.z) - a.z;
    const double nx = uy * vz - uz * vy, ny = uz * vx - ux * vz, nz = ux * vy - uy * vx;
    const double length = std::sqrt(nx * nx + ny * ny + nz * nz);
    if (!(length > 0.0) || !std::isfinite(length))
        return false;
    normal = {float(nx / length), float(ny / length), float(nz / length)};
    return true;
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
    for (const VRRef<VRShape>& shape : collectWorldShapes(holder.get(), false)) {
        if (!shape->geometry || shape->geometry->type != VR_INDEXED_FACE_SET)
            continue;
        const auto& faces = static_cast<const VRIndexedFaceSet&>(*shape->geometry);
        if (!faces.coord)
            continue;
        const FaceMaterial material = only ? *only : materialOf(*shape);
        const MFVec3f& coords = faces.coord->point;
        const bool textured = !material.image.empty();
        const MFVec2f* tex = textured && faces.texCoord ? &faces.texCoord->point : nullptr;
        // Without its own index list the texture coordinates follow coordIndex.
        const MFInt32& texIndex =
            faces.texCoordIndex.empty() ? faces.coordIndex : faces.texCoordIndex;
        const MFInt32& index = faces.coordIndex;
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
                if (!std::isfinite(point.x) || !std::isfinite(point.y) || !std::isfinite(point.z)) {
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
