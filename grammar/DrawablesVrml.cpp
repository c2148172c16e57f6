#include "grammar/Drawables.h"

#include "grammar/Texture.h"
#include "vrml/VRNode.h"

namespace ombrel {

namespace {

// The 32-bit float nearest 1/127: colour bytes run from 0 to 127.
constexpr float kByteToUnit = 0.007874016f;

VRRef<VRShape> makeShape(VRRef<VRAppearance> appearance, VRRef<VRIndexedFaceSet> faces) {
    // The nodes inside a Shape carry no parent links and no DEF names.
    auto shape = makeNode<VRShape>();
    shape->appearance = std::move(appearance);
    shape->geometry = std::move(faces);
    return shape;
}

VRRef<VRIndexedFaceSet> makeFaces(MFVec3f points, MFInt32 coordIndex) {
    auto faces = makeNode<VRIndexedFaceSet>();
    auto coord = makeNode<VRCoordinate>();
    coord->point = std::move(points);
    faces->coord = std::move(coord);
    faces->coordIndex = std::move(coordIndex);
    return faces;
}

// Labels a face set's faces as collect() labels the drawable's faces: both go through them in
// the same order (a box's bottom, its sides, its top).
class FaceLabeller : public GeometrySink {
public:
    explicit FaceLabeller(VRIndexedFaceSet& faces) : faces_(faces) {}
    void face(const Face& face) override {
        std::int32_t number = 0;
        MFFaceLabel& labels = faces_.labels;
        while (std::size_t(number) < labels.size() &&
               (labels[std::size_t(number)].surface != face.surface ||
                labels[std::size_t(number)].material != face.material))
            ++number;
        if (std::size_t(number) == labels.size())
            labels.push_back({std::string(face.surface), std::string(face.material)});
        faces_.labelIndex.push_back(number);
    }

private:
    VRIndexedFaceSet& faces_;
};

void setTexCoords(VRIndexedFaceSet& faces, MFVec2f points, MFInt32 index) {
    auto texCoord = makeNode<VRTextureCoordinate>();
    texCoord->point = std::move(points);
    faces.texCoord = std::move(texCoord);
    faces.texCoordIndex = std::move(index);
}

} // namespace

Vec3 colourToDiffuse(Colour colour) {
    return Vec3{static_cast<float>(colour & 0xFF) * kByteToUnit,
                static_cast<float>((colour >> 8) & 0xFF) * kByteToUnit,
                static_cast<float>((colour >> 16) & 0xFF) * kByteToUnit};
}

VRRef<VRAppearance> DrawableBase::makeAppearance() const {
    auto appearance = makeNode<VRAppearance>();
    if (!noColor) {
        auto material = makeNode<VRMaterial>();
        material->diffuseColor = colourToDiffuse(colour);
        appearance->material = std::move(material);
    }
    if (texture) {
        auto image = makeNode<VRImageTexture>();
        image->url.push_back(texture->path);
        appearance->texture = std::move(image);
    }
    return appearance;
}

void DrawableBase::labelFaces(VRIndexedFaceSet& faces) const {
    FaceLabeller labeller(faces);
    collect(labeller);
    if (faces.labels.size() <= 1)
        faces.labelIndex.clear();
}

VRRef<VRNode> DrawFloor::toVrml() const {
    const float b = baseHeight;
    const Vec2* c = corners.data();
    auto faces = makeFaces(
        {{c[3].x, c[3].y, b}, {c[2].x, c[2].y, b}, {c[1].x, c[1].y, b}, {c[0].x, c[0].y, b}},
        {0, 1, 2, 3, -1});
    if (texture) {
        const float s = texture->scalex;
        const float r = texture->scaley;
        setTexCoords(*faces, {{0, 0}, {0, r}, {s, r}, {s, 0}}, {0, 1, 2, 3, -1});
    }
    labelFaces(*faces);
    return makeShape(makeAppearance(), std::move(faces));
}

VRRef<VRNode> DrawBox::toVrml() const {
    const float b = baseHeight;
    const float t = topHeight;
    const Vec2* c = corners.data();
    MFVec3f points{{c[3].x, c[3].y, b}, {c[2].x, c[2].y, b}, {c[1].x, c[1].y, b},
                   {c[0].x, c[0].y, b}, {c[3].x, c[3].y, t}, {c[2].x, c[2].y, t},
                   {c[1].x, c[1].y, t}, {c[0].x, c[0].y, t}};
    const bool bottom = hasBottom(closed);
    const bool top = hasTop(closed);
    MFInt32 index;
    index.reserve(30);
    if (bottom) {
        index.insert(index.end(), {3, 2, 1, 0, -1});
    }
    for (int k = 0; k < 4; ++k) {
        const int k1 = (k + 1) % 4;
        index.insert(index.end(), {k, k1, k1 + 4, k + 4, -1});
    }
    if (top) {
        index.insert(index.end(), {4, 5, 6, 7, -1});
    }
    auto faces = makeFaces(std::move(points), std::move(index));
    if (texture) {
        const float s = texture->scalex;
        const float r = texture->scaley;
        MFVec2f tex{{0, 0}, {repeatS, 0}, {repeatS, repeatT}, {0, repeatT}};
        if (bottom || top) {
            tex.insert(tex.end(), {{s, 0}, {s, r}, {0, r}});
        }
        MFInt32 texIndex;
        texIndex.reserve(30);
        if (bottom) {
            texIndex.insert(texIndex.end(), {0, 4, 5, 6, -1});
        }
        for (int k = 0; k < 4; ++k) {
            texIndex.insert(texIndex.end(), {0, 1, 2, 3, -1});
        }
        if (top) {
            texIndex.insert(texIndex.end(), {0, 4, 5, 6, -1});
        }
        setTexCoords(*faces, std::move(tex), std::move(texIndex));
    }
    labelFaces(*faces);
    return makeShape(makeAppearance(), std::move(faces));
}

VRRef<VRNode> DrawPyramid::toVrml() const {
    const float b = baseHeight;
    const Vec2* c = corners.data();
    auto faces = makeFaces({{c[0].x, c[0].y, b},
                            {c[1].x, c[1].y, b},
                            {c[2].x, c[2].y, b},
                            {c[3].x, c[3].y, b},
                            {apex.x, apex.y, apex.z}},
                           {1, 0, 4, -1, 2, 1, 4, -1, 3, 2, 4, -1, 0, 3, 4, -1});
    if (texture) {
        setTexCoords(*faces, {{0, 0}, {1, 0}, {0.5f, 1}},
                     {0, 1, 2, -1, 0, 1, 2, -1, 0, 1, 2, -1, 0, 1, 2, -1});
    }
    labelFaces(*faces);
    return makeShape(makeAppearance(), std::move(faces));
}

VRRef<VRNode> CompoundDrawable::toVrml() const {
    return drawablesToVrml(children, vrmlName);
}

VRRef<VRNode> drawablesToVrml(std::span<const std::unique_ptr<Drawable>> drawables,
                              const std::string& name) {
    if (drawables.size() == 1) {
        return drawables.front()->toVrml();
    }
    auto group = makeNode<VRGroup>();
    if (!name.empty()) {
        group->setName(name);
    }
    group->children.reserve(drawables.size());
    for (const auto& drawable : drawables) {
        group->addChild(drawable->toVrml());
    }
    return group;
}

} // namespace ombrel
