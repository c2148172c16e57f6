#include "vrml/VRNode.h"

#include <cmath>

namespace ombrel {

namespace {

template <class T> void place(VRRef<T>& field, VRRef<T> node, VRNode* owner) {
    if (node)
        node->parent = owner;
    field = std::move(node);
}

void growBox(Vec3 p, Vec3& min, Vec3& max) {
    min = {std::fmin(min.x, p.x), std::fmin(min.y, p.y), std::fmin(min.z, p.z)};
    max = {std::fmax(max.x, p.x), std::fmax(max.y, p.y), std::fmax(max.z, p.z)};
}

bool cubeBox(float half, Vec3& min, Vec3& max) {
    min = {-half, -half, -half};
    max = {half, half, half};
    return true;
}

} // namespace

void VRGroup::addChild(VRRef<VRNode> child) {
    if (!child)
        return;
    child->parent = this;
    children.push_back(std::move(child));
}

void VRAppearance::setMaterial(VRRef<VRMaterial> node) {
    place(material, std::move(node), this);
}
void VRAppearance::setTexture(VRRef<VRTexture> node) {
    place(texture, std::move(node), this);
}
void VRAppearance::setTextureTransform(VRRef<VRTextureTransform> node) {
    place(textureTransform, std::move(node), this);
}

void VRShape::setAppearance(VRRef<VRAppearance> node) {
    place(appearance, std::move(node), this);
}
void VRShape::setGeometry(VRRef<VRGeometry> node) {
    place(geometry, std::move(node), this);
}

void VRIndexedFaceSet::setCoord(VRRef<VRCoordinate> node) {
    place(coord, std::move(node), this);
}
void VRIndexedFaceSet::setTexCoord(VRRef<VRTextureCoordinate> node) {
    place(texCoord, std::move(node), this);
}
void VRIndexedFaceSet::setColor(VRRef<VRColor> node) {
    place(color, std::move(node), this);
}
void VRIndexedFaceSet::setNormal(VRRef<VRNormal> node) {
    place(normal, std::move(node), this);
}

bool VRIndexedFaceSet::boundingBox(Vec3& min, Vec3& max) const {
    if (!coord || coord->point.empty())
        return false;
    min = max = coord->point.front();
    for (const Vec3& p : coord->point)
        growBox(p, min, max);
    return true;
}

void VRIndexedFaceSet::applyTextureTransform(const VRTextureTransform& t) {
    if (!texCoord)
        return;
    // Texture coordinates are translated, then rotated and scaled about the centre.
    const float c = std::cos(t.rotation), s = std::sin(t.rotation);
    for (Vec2& p : texCoord->point) {
        Vec2 q = p + t.translation + t.center;
        q = {c * q.x - s * q.y, s * q.x + c * q.y};
        q = {q.x * t.scale.x, q.y * t.scale.y};
        p = q - t.center;
    }
}

bool VRBox::boundingBox(Vec3& min, Vec3& max) const {
    min = {-size.x / 2, -size.y / 2, -size.z / 2};
    max = {size.x / 2, size.y / 2, size.z / 2};
    return true;
}

bool VRCone::boundingBox(Vec3& min, Vec3& max) const {
    min = {-bottomRadius, -height / 2, -bottomRadius};
    max = {bottomRadius, height / 2, bottomRadius};
    return true;
}

bool VRCylinder::boundingBox(Vec3& min, Vec3& max) const {
    min = {-radius, -height / 2, -radius};
    max = {radius, height / 2, radius};
    return true;
}

bool VRSphere::boundingBox(Vec3& min, Vec3& max) const {
    return cubeBox(radius, min, max);
}

bool VRExtrusion::boundingBox(Vec3& min, Vec3& max) const {
    if (spine.empty())
        return false;
    min = max = spine.front();
    for (const Vec3& p : spine)
        growBox(p, min, max);
    return true;
}

bool VRElevationGrid::boundingBox(Vec3& min, Vec3& max) const {
    if (xDimension <= 0 || zDimension <= 0 || height.empty())
        return false;
    float lo = height.front(), hi = height.front();
    for (float h : height) {
        lo = std::fmin(lo, h);
        hi = std::fmax(hi, h);
    }
    min = {0, lo, 0};
    max = {xSpacing * float(xDimension - 1), hi, zSpacing * float(zDimension - 1)};
    return true;
}

bool VRUnitGeometry::boundingBox(Vec3& min, Vec3& max) const {
    return cubeBox(1.0f, min, max);
}

// --- clone ----------------------------------------------------------------------------------

namespace {

template <class T> VRRef<T> fresh(const VRNode& source) {
    VRRef<T> copy = makeNode<T>();
    copy->parent = source.parent;
    copy->name = source.name;
    copy->type = source.type;
    return copy;
}

// A clone of a held node, linked to its new holder.
template <class T> VRRef<T> cloneField(const VRRef<T>& field, VRNode* owner) {
    if (!field)
        return nullptr;
    VRRef<T> copy = cloneAs(field.get());
    if (copy)
        copy->parent = owner;
    return copy;
}

void cloneChildren(const VRGroup& from, VRGroup& to) {
    to.children.reserve(from.children.size());
    for (const VRRef<VRNode>& child : from.children)
        to.children.push_back(cloneField(child, &to));
}

void copyIndexedFaceSet(const VRIndexedFaceSet& s, VRIndexedFaceSet& c) {
    c.coord = cloneField(s.coord, &c);
    c.coordIndex = s.coordIndex;
    c.texCoord = cloneField(s.texCoord, &c);
    c.texCoordIndex = s.texCoordIndex;
    c.color = cloneField(s.color, &c);
    c.colorIndex = s.colorIndex;
    c.colorPerVertex = s.colorPerVertex;
    c.normal = cloneField(s.normal, &c);
    c.normalIndex = s.normalIndex;
    c.normalPerVertex = s.normalPerVertex;
    c.ccw = s.ccw;
    c.solid = s.solid;
    c.convex = s.convex;
    c.creaseAngle = s.creaseAngle;
    c.labels = s.labels;
    c.labelIndex = s.labelIndex;
}

#define OMBREL_CLONE_AS(Kind, ...)                                                                 \
    {                                                                                              \
        const auto& s = static_cast<const Kind&>(*node);                                           \
        VRRef<Kind> c = fresh<Kind>(s);                                                            \
        __VA_ARGS__;                                                                               \
        return c;                                                                                  \
    }

} // namespace

VRRef<VRNode> clone(const VRNode* node) {
    if (!node)
        return nullptr;
    switch (node->type) {
    case VR_NODE:
    case VR_GEOMETRY:
        return fresh<VRNode>(*node);
    case VR_GROUP:
        OMBREL_CLONE_AS(VRGroup, cloneChildren(s, *c))
    case VR_TRANSFORM:
        OMBREL_CLONE_AS(VRTransform, cloneChildren(s, *c); c->translation = s.translation;
                        c->rotation = s.rotation; c->scale = s.scale;
                        c->scaleOrientation = s.scaleOrientation; c->center = s.center)
    case VR_LOD:
        OMBREL_CLONE_AS(VRLOD, cloneChildren(s, *c); c->center = s.center; c->range = s.range)
    case VR_SHAPE:
        OMBREL_CLONE_AS(VRShape, c->appearance = cloneField(s.appearance, c.get());
                        // Only the geometry kinds that can be copied are kept.
                        if (s.geometry &&
                            (s.geometry->type == VR_INDEXED_FACE_SET ||
                             (s.geometry->type >= VR_BOX && s.geometry->type <= VR_ELEVATION_GRID)))
                            c->geometry = cloneField(s.geometry, c.get()))
    case VR_APPEARANCE:
        OMBREL_CLONE_AS(
            VRAppearance, c->material = cloneField(s.material, c.get()); if (s.texture) {
                if (s.texture->type == VR_IMAGE_TEXTURE) {
                    c->texture = cloneField(s.texture, c.get());
                } else {
                    VRRef<VRImageTexture> t = fresh<VRImageTexture>(*s.texture);
                    t->type = VR_IMAGE_TEXTURE;
                    t->repeatS = s.texture->repeatS;
                    t->repeatT = s.texture->repeatT;
                    t->parent = c.get();
                    c->texture = std::move(t);
                }
            } c->textureTransform = cloneField(s.textureTransform, c.get()))
    case VR_MATERIAL:
        OMBREL_CLONE_AS(VRMaterial, c->diffuseColor = s.diffuseColor;
                        c->ambientIntensity = s.ambientIntensity;
                        c->specularColor = s.specularColor; c->emissiveColor = s.emissiveColor;
                        c->shininess = s.shininess; c->transparency = s.transparency)
    case VR_IMAGE_TEXTURE:
        OMBREL_CLONE_AS(VRImageTexture, c->repeatS = s.repeatS; c->repeatT = s.repeatT;
                        c->url = s.url)
    case VR_TEXTURE_TRANSFORM:
        OMBREL_CLONE_AS(VRTextureTransform, c->translation = s.translation;
                        c->rotation = s.rotation; c->scale = s.scale; c->center = s.center)
    case VR_INDEXED_FACE_SET:
        OMBREL_CLONE_AS(VRIndexedFaceSet, copyIndexedFaceSet(s, *c))
    case VR_COORDINATE:
        OMBREL_CLONE_AS(VRCoordinate, c->point = s.point)
    case VR_TEXTURE_COORDINATE:
        OMBREL_CLONE_AS(VRTextureCoordinate, c->point = s.point)
    case VR_COLOR:
        OMBREL_CLONE_AS(VRColor, c->color = s.color)
    case VR_NORMAL:
        OMBREL_CLONE_AS(VRNormal, c->vector = s.vector)
    case VR_VIEWPOINT:
        OMBREL_CLONE_AS(VRViewpoint, c->position = s.position; c->orientation = s.orientation;
                        c->fieldOfView = s.fieldOfView; c->description = s.description)
    case VR_COORDINATE_INTERPOLATOR:
        OMBREL_CLONE_AS(VRCoordinateInterpolator, c->key = s.key; c->rows = s.rows;
                        c->valuesPerRow = s.valuesPerRow; c->keyValue = s.keyValue;
                        c->keyIndex = s.keyIndex)
    case VR_ORIENTATION_INTERPOLATOR:
        OMBREL_CLONE_AS(VROrientationInterpolator, c->key = s.key; c->keyValue = s.keyValue)
    case VR_POSITION_INTERPOLATOR:
        OMBREL_CLONE_AS(VRPositionInterpolator, c->key = s.key; c->keyValue = s.keyValue)
    case VR_TIME_SENSOR:
        OMBREL_CLONE_AS(VRTimeSensor, c->enabled = s.enabled; c->cycleInterval = s.cycleInterval;
                        c->loop = s.loop; c->startTime = s.startTime; c->stopTime = s.stopTime)
    case VR_ROUTE:
        // The copy is not wired: its nodes would be those of the source tree.
        OMBREL_CLONE_AS(VRRoute, c->fromField = s.fromField; c->toField = s.toField)
    case VR_BOX:
        OMBREL_CLONE_AS(VRBox, c->size = s.size)
    case VR_CONE:
        OMBREL_CLONE_AS(VRCone, c->bottomRadius = s.bottomRadius; c->height = s.height;
                        c->side = s.side; c->bottom = s.bottom)
    case VR_CYLINDER:
        OMBREL_CLONE_AS(VRCylinder, c->radius = s.radius; c->height = s.height;
                        c->bottom = s.bottom; c->side = s.side; c->top = s.top)
    case VR_SPHERE:
        OMBREL_CLONE_AS(VRSphere, c->radius = s.radius)
    case VR_EXTRUSION:
        OMBREL_CLONE_AS(VRExtrusion, c->beginCap = s.beginCap; c->ccw = s.ccw; c->convex = s.convex;
                        c->creaseAngle = s.creaseAngle; c->crossSection = s.crossSection;
                        c->endCap = s.endCap; c->orientation = s.orientation; c->scale = s.scale;
                        c->solid = s.solid; c->spine = s.spine)
    case VR_ELEVATION_GRID:
        OMBREL_CLONE_AS(VRElevationGrid, c->height = s.height; c->xDimension = s.xDimension;
                        c->xSpacing = s.xSpacing; c->zDimension = s.zDimension;
                        c->zSpacing = s.zSpacing; c->ccw = s.ccw; c->solid = s.solid;
                        c->creaseAngle = s.creaseAngle)
    case VR_GEOMETRY_30:
    case VR_GEOMETRY_31:
        return fresh<VRUnitGeometry>(*node);
    case VR_PROTO_INSTANCE:
        OMBREL_CLONE_AS(VRProtoInstance, c->fields = s.fields)
    default: {
        // A kind without a copy rule is shared rather than copied.
        VRNode* self = const_cast<VRNode*>(node);
        self->addRef();
        return VRRef<VRNode>::adopt(self);
    }
    }
}

#undef OMBREL_CLONE_AS

// --- collectByType ----------------------------------------------------------------------------

namespace {

void collect(VRNode* node, std::int32_t type, std::vector<VRNode*>& out) {
    if (!node)
        return;
    if (node->type == type)
        out.push_back(node);
    switch (node->type) {
    case VR_GROUP:
    case VR_TRANSFORM:
    case VR_LOD:
        for (const VRRef<VRNode>& child : static_cast<VRGroup*>(node)->children)
            collect(child.get(), type, out);
        break;
    case VR_SHAPE: {
        auto* shape = static_cast<VRShape*>(node);
        collect(shape->appearance.get(), type, out);
        collect(shape->geometry.get(), type, out);
        break;
    }
    case VR_APPEARANCE: {
        auto* a = static_cast<VRAppearance*>(node);
        collect(a->material.get(), type, out);
        collect(a->texture.get(), type, out);
        collect(a->textureTransform.get(), type, out);
        break;
    }
    case VR_INDEXED_FACE_SET: {
        auto* f = static_cast<VRIndexedFaceSet*>(node);
        collect(f->color.get(), type, out);
        collect(f->coord.get(), type, out);
        collect(f->normal.get(), type, out);
        collect(f->texCoord.get(), type, out);
        break;
    }
    default:
        break;
    }
}

} // namespace

std::vector<VRNode*> collectByType(VRNode* root, std::int32_t type) {
    std::vector<VRNode*> out;
    collect(root, type, out);
    return out;
}

// --- matrices ---------------------------------------------------------------------------------

VRMatrix operator*(const VRMatrix& a, const VRMatrix& b) {
    VRMatrix r;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) {
            float sum = 0.0f;
            for (int k = 0; k < 4; ++k)
                sum += a.m[i][k] * b.m[k][j];
            r.m[i][j] = sum;
        }
    return r;
}

Vec3 VRMatrix::transformVector(Vec3 v) const {
    return {v.x * m[0][0] + v.y * m[1][0] + v.z * m[2][0],
            v.x * m[0][1] + v.y * m[1][1] + v.z * m[2][1],
            v.x * m[0][2] + v.y * m[1][2] + v.z * m[2][2]};
}

namespace {

// Divides by the length unless the squared length is exactly 0 or 1.
Vec3 normalised(Vec3 v) {
    const float sq = v.x * v.x + v.y * v.y + v.z * v.z;
    if (sq == 0.0f || sq == 1.0f)
        return v;
    const float len = std::sqrt(sq);
    return {v.x / len, v.y / len, v.z / len};
}

VRMatrix translation(Vec3 t) {
    VRMatrix r;
    r.m[3][0] = t.x;
    r.m[3][1] = t.y;
    r.m[3][2] = t.z;
    return r;
}

VRMatrix scaling(Vec3 s) {
    VRMatrix r;
    r.m[0][0] = s.x;
    r.m[1][1] = s.y;
    r.m[2][2] = s.z;
    return r;
}

// Right-handed rotation about the normalised axis, laid out for row vectors.
VRMatrix rotation(float x, float y, float z, float angle) {
    const Vec3 a = normalised({x, y, z});
    const float c = std::cos(angle), s = std::sin(angle), t = 1.0f - c;
    VRMatrix r;
    r.m[0][0] = t * a.x * a.x + c;
    r.m[0][1] = t * a.x * a.y + s * a.z;
    r.m[0][2] = t * a.x * a.z - s * a.y;
    r.m[1][0] = t * a.x * a.y - s * a.z;
    r.m[1][1] = t * a.y * a.y + c;
    r.m[1][2] = t * a.y * a.z + s * a.x;
    r.m[2][0] = t * a.x * a.z + s * a.y;
    r.m[2][1] = t * a.y * a.z - s * a.x;
    r.m[2][2] = t * a.z * a.z + c;
    return r;
}

VRMatrix rotation(const VRRotation& r) {
    return rotation(r.x, r.y, r.z, r.angle);
}

} // namespace

VRMatrix localMatrix(const VRTransform& t) {
    const VRRotation& so = t.scaleOrientation;
    return translation({-t.center.x, -t.center.y, -t.center.z}) *
           rotation(so.x, so.y, so.z, -so.angle) * scaling(t.scale) * rotation(so) *
           rotation(t.rotation) * translation(t.center) * translation(t.translation);
}

// --- collapsing -------------------------------------------------------------------------------

namespace {

bool isGroupKind(const VRNode* node) {
    return node->type == VR_GROUP || node->type == VR_TRANSFORM || node->type == VR_LOD;
}

VRRef<VRShape> holdShape(VRShape* shape, bool copy) {
    if (copy)
        return cloneAs(shape);
    shape->addRef();
    return VRRef<VRShape>::adopt(shape);
}

void transformShape(VRShape& shape, const VRMatrix& m) {
    if (!shape.geometry || shape.geometry->type != VR_INDEXED_FACE_SET)
        return;
    auto& faces = static_cast<VRIndexedFaceSet&>(*shape.geometry);
    if (!faces.coord)
        return;
    for (Vec3& p : faces.coord->point)
        p = m.transformPoint(p);
    if (faces.normal)
        for (Vec3& v : faces.normal->vector)
            v = normalised(m.transformVector(v));
}

void visitGroup(VRGroup& group, const VRMatrix& accumulated, bool copy,
                std::vector<VRRef<VRShape>>& out) {
    for (const VRRef<VRNode>& entry : group.children) {
        if (!entry)
            break;
        if (isGroupKind(entry.get())) {
            VRMatrix m = accumulated;
            if (entry->type == VR_TRANSFORM) {
                auto& t = static_cast<VRTransform&>(*entry);
                m = localMatrix(t) * accumulated;
                if (!copy) {
                    // Folded into the geometry below it.
                    t.translation = {0, 0, 0};
                    t.rotation = {};
                    t.scale = {1, 1, 1};
                    t.scaleOrientation = {};
                    t.center = {0, 0, 0};
                }
            }
            visitGroup(static_cast<VRGroup&>(*entry), m, copy, out);
        } else if (entry->type == VR_SHAPE) {
            VRRef<VRShape> shape = holdShape(static_cast<VRShape*>(entry.get()), copy);
            transformShape(*shape, accumulated);
            out.push_back(std::move(shape));
        }
    }
}

} // namespace

std::vector<VRRef<VRShape>> collectWorldShapes(VRNode* root, bool copy) {
    std::vector<VRRef<VRShape>> out;
    if (!root)
        return out;
    if (root->type == VR_SHAPE)
        out.push_back(holdShape(static_cast<VRShape*>(root), copy));
    else if (isGroupKind(root))
        visitGroup(static_cast<VRGroup&>(*root), VRMatrix::identity(), copy, out);
    return out;
}

namespace {

const VRIndexedFaceSet* mergeableFaces(const VRShape& shape) {
    if (!shape.geometry || shape.geometry->type != VR_INDEXED_FACE_SET)
        return nullptr;
    const auto* f = static_cast<const VRIndexedFaceSet*>(shape.geometry.get());
    return f->coord ? f : nullptr;
}

} // namespace

void FaceSetMerger::reserve(std::size_t points, std::size_t indices) {
    points_.reserve(points);
    coordIndex_.reserve(indices);
}

std::int32_t FaceSetMerger::labelNumber(const VRFaceLabel& label) {
    // A merged building has a handful of labels, a merged city a few dozen: a search will do.
    for (std::size_t i = 0; i < labels_.size(); ++i)
        if (labels_[i] == label)
            return std::int32_t(i);
    labels_.push_back(label);
    return std::int32_t(labels_.size() - 1);
}

void FaceSetMerger::add(const VRShape& shape) {
    const VRIndexedFaceSet* f = mergeableFaces(shape);
    if (!f)
        return;
    const auto offset = static_cast<std::int32_t>(points_.size());
    points_.insert(points_.end(), f->coord->point.begin(), f->coord->point.end());
    for (std::int32_t index : f->coordIndex)
        coordIndex_.push_back(index == -1 ? -1 : index + offset);
    if (!f->coordIndex.empty() && f->coordIndex.back() != -1)
        coordIndex_.push_back(-1);
    // Its faces: every -1 ends one, and so does the end of a list without a last -1.
    std::size_t faces = 0;
    for (std::int32_t index : f->coordIndex)
        faces += index == -1;
    if (!f->coordIndex.empty() && f->coordIndex.back() != -1)
        ++faces;
    if (!f->labels.empty() && !labelled_) {
        // The first labelled shape: the faces before it are unlabelled.
        labelled_ = true;
        if (faces_ > 0)
            labelIndex_.assign(faces_, labelNumber(VRFaceLabel{}));
    }
    if (labelled_) {
        const std::int32_t none = f->labels.empty() ? labelNumber(VRFaceLabel{}) : -1;
        // The shape's own numbers for its labels, turned into the merged ones once.
        std::vector<std::int32_t> numbers;
        numbers.reserve(f->labels.size());
        for (const VRFaceLabel& label : f->labels)
            numbers.push_back(labelNumber(label));
        for (std::size_t i = 0; i < faces; ++i) {
            std::int32_t number = none;
            if (none < 0) {
                const VRFaceLabel* label = f->labelOf(i);
                number = label ? numbers[std::size_t(label - f->labels.data())]
                               : labelNumber(VRFaceLabel{});
            }
            labelIndex_.push_back(number);
        }
    }
    faces_ += faces;
}

void FaceSetMerger::finishInto(VRShape& target) {
    VRRef<VRIndexedFaceSet> faces = makeNode<VRIndexedFaceSet>();
    VRRef<VRCoordinate> coord = makeNode<VRCoordinate>();
    coord->point = std::move(points_);
    faces->coordIndex = std::move(coordIndex_);
    points_.clear();
    coordIndex_.clear();
    if (!labels_.empty()) {
        faces->labels = std::move(labels_);
        // One label for every face needs no list.
        if (faces->labels.size() > 1)
            faces->labelIndex = std::move(labelIndex_);
    }
    labels_.clear();
    labelIndex_.clear();
    labelled_ = false;
    faces_ = 0;
    faces->setCoord(std::move(coord));
    target.setGeometry(std::move(faces));
}

void mergeShapes(const std::vector<VRRef<VRShape>>& shapes, VRShape& target) {
    if (!shapes.empty() && shapes.front() && shapes.front()->appearance) {
        VRRef<VRAppearance> appearance = makeNode<VRAppearance>();
        if (const VRMaterial* m = shapes.front()->appearance->material.get())
            appearance->setMaterial(cloneAs(m));
        target.setAppearance(std::move(appearance));
    }
    std::size_t points = 0, indices = 0;
    for (const VRRef<VRShape>& shape : shapes) {
        if (const VRIndexedFaceSet* f = shape ? mergeableFaces(*shape) : nullptr) {
            points += f->coord->point.size();
            indices += f->coordIndex.size() + 1;
        }
    }
    FaceSetMerger merger;
    merger.reserve(points, indices);
    for (const VRRef<VRShape>& shape : shapes) {
        if (shape)
            merger.add(*shape);
    }
    merger.finishInto(target);
}

VRRef<VRShape> collapseToShape(VRNode* root) {
    std::vector<VRRef<VRShape>> shapes = collectWorldShapes(root, false);
    if (shapes.size() == 1)
        return cloneAs(shapes.front().get());
    VRRef<VRShape> result = makeNode<VRShape>();
    mergeShapes(shapes, *result);
    return result;
}

} // namespace ombrel
