#pragma once

// The in-memory VRML 2.0 scene graph. Scenes are built in code (never parsed), optionally
// collapsed and triangulated, and handed to the writer (vrml/VRWriter.h).
//
// Nodes are reference counted. A new node holds one reference, which its creator owns; take it
// over with VRRef<T>::adopt(new T) or makeNode<T>(). Node fields and children lists are VRRef
// handles, so a node owns one reference to every node it holds. release() drops one reference
// and deletes the node (and so releases everything it holds) when the last one is gone; there is
// no separate destroy step to call.
//
// `parent` is a plain back link for orientation; nothing relies on it for ownership. The helpers
// that place a node into a field or a children list (addChild, setAppearance, ...) set it.

#include "base/Vec.h"
#include "vrml/VRRef.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ombrel {

// The kind code of every node; the writer prints it for kinds it cannot express.
enum VRNodeType : std::int32_t {
    VR_NODE = 0,
    VR_GROUP = 1,
    VR_TRANSFORM = 2,
    VR_LOD = 3,
    VR_SHAPE = 4,
    VR_APPEARANCE = 5,
    VR_MATERIAL = 6,
    VR_TEXTURE = 7,
    VR_IMAGE_TEXTURE = 8,
    VR_TEXTURE_TRANSFORM = 9,
    VR_GEOMETRY = 10,
    VR_INDEXED_FACE_SET = 11,
    VR_COORDINATE = 12,
    VR_TEXTURE_COORDINATE = 13,
    VR_COLOR = 14,
    VR_NORMAL = 15,
    VR_VIEWPOINT = 16,
    VR_INTERPOLATOR = 17,
    VR_COORDINATE_INTERPOLATOR = 18,
    VR_ORIENTATION_INTERPOLATOR = 19,
    VR_POSITION_INTERPOLATOR = 20,
    VR_SENSOR = 21,
    VR_TIME_SENSOR = 22,
    VR_ROUTE = 23,
    VR_BOX = 24,
    VR_CONE = 25,
    VR_CYLINDER = 26,
    VR_SPHERE = 27,
    VR_EXTRUSION = 28,
    VR_ELEVATION_GRID = 29,
    VR_GEOMETRY_30 = 30,
    VR_GEOMETRY_31 = 31,
    VR_PROTO_INSTANCE = 32,
};

// An axis (x, y, z) and an angle in radians.
struct VRRotation {
    float x = 0.0f;
    float y = 0.0f;
    float z = 1.0f;
    float angle = 0.0f;
    friend bool operator==(const VRRotation&, const VRRotation&) = default;
};

class VRNode;

using MFInt32 = std::vector<std::int32_t>;
using MFFloat = std::vector<float>;
using MFVec2f = std::vector<Vec2>;
using MFVec3f = std::vector<Vec3>;
using MFColor = std::vector<Vec3>;
using MFRotation = std::vector<VRRotation>;
using MFString = std::vector<std::string>;
using MFNode = std::vector<VRRef<VRNode>>;

// What a face is, for the exports that keep it (glTF, OBJ; VRML has no field for it): the class
// of its surface ("wall", "roof", ...) and the name of its physical material; empty when not
// known.
struct VRFaceLabel {
    std::string surface;
    std::string material;
    friend bool operator==(const VRFaceLabel&, const VRFaceLabel&) = default;
};
using MFFaceLabel = std::vector<VRFaceLabel>;

class VRNode {
public:
    VRNode() = default;
    VRNode(const VRNode&) = delete;
    VRNode& operator=(const VRNode&) = delete;
    virtual ~VRNode() = default;

    void addRef() { ++refCount; }
    // Drops one reference; at zero the node is deleted with everything it owns.
    void release() {
        if (--refCount == 0)
            delete this;
    }

    void setName(std::string text) { name = std::move(text); }
    bool hasName() const { return name.has_value(); }

    VRNode* parent = nullptr;
    // The DEF name; none means the node is written without DEF (an empty name still gets one).
    std::optional<std::string> name;
    std::int32_t refCount = 1;
    std::int32_t type = VR_NODE;

protected:
    explicit VRNode(std::int32_t kind) : type(kind) {}
    // Copies the header for clone(): same parent link, own copy of the name, one reference.
    VRNode(const VRNode& other, int) : parent(other.parent), name(other.name), type(other.type) {}
};

// A new node of kind T, holding its one reference.
template <class T> VRRef<T> makeNode() {
    return VRRef<T>::adopt(new T);
}

class VRGroup : public VRNode {
public:
    VRGroup() : VRNode(VR_GROUP) {}
    // Appends a child and makes this node its parent. A null child is ignored.
    void addChild(VRRef<VRNode> child);

    MFNode children;

protected:
    explicit VRGroup(std::int32_t kind) : VRNode(kind) {}
};

class VRTransform : public VRGroup {
public:
    VRTransform() : VRGroup(VR_TRANSFORM) {}
    Vec3 translation{0, 0, 0};
    VRRotation rotation;
    Vec3 scale{1, 1, 1};
    VRRotation scaleOrientation;
    Vec3 center{0, 0, 0};
};

// Its `children` list is written as `level`.
class VRLOD : public VRGroup {
public:
    VRLOD() : VRGroup(VR_LOD) {}
    Vec3 center{0, 0, 0};
    MFFloat range;
};

class VRMaterial : public VRNode {
public:
    VRMaterial() : VRNode(VR_MATERIAL) {}
    Vec3 diffuseColor{0.8f, 0.8f, 0.8f};
    float ambientIntensity = 0.2f;
    Vec3 specularColor{0, 0, 0};
    Vec3 emissiveColor{0, 0, 0};
    float shininess = 0.2f;
    float transparency = 0.0f;
};

class VRTexture : public VRNode {
public:
    bool repeatS = true;
    bool repeatT = true;

protected:
    explicit VRTexture(std::int32_t kind) : VRNode(kind) {}
};

class VRImageTexture : public VRTexture {
public:
    VRImageTexture() : VRTexture(VR_IMAGE_TEXTURE) {}
    MFString url;
};

class VRTextureTransform : public VRNode {
public:
    VRTextureTransform() : VRNode(VR_TEXTURE_TRANSFORM) {}
    Vec2 translation{0, 0};
    float rotation = 0.0f;
    Vec2 scale{1, 1};
    Vec2 center{0, 0};
};

class VRAppearance : public VRNode {
public:
    VRAppearance() : VRNode(VR_APPEARANCE) {}
    void setMaterial(VRRef<VRMaterial> node);
    void setTexture(VRRef<VRTexture> node);
    void setTextureTransform(VRRef<VRTextureTransform> node);

    VRRef<VRMaterial> material;
    VRRef<VRTexture> texture;
    VRRef<VRTextureTransform> textureTransform;
};

class VRCoordinate : public VRNode {
public:
    VRCoordinate() : VRNode(VR_COORDINATE) {}
    MFVec3f point;
};

class VRTextureCoordinate : public VRNode {
public:
    VRTextureCoordinate() : VRNode(VR_TEXTURE_COORDINATE) {}
    MFVec2f point;
};

class VRColor : public VRNode {
public:
    VRColor() : VRNode(VR_COLOR) {}
    MFColor color;
};

class VRNormal : public VRNode {
public:
    VRNormal() : VRNode(VR_NORMAL) {}
    MFVec3f vector;
};

// Base of the geometry kinds.
class VRGeometry : public VRNode {
public:
    // Sets the corners of the axis-aligned box around the geometry; false when there is
    // nothing to measure.
    virtual bool boundingBox(Vec3& min, Vec3& max) const = 0;
    // Moves the texture coordinates by a texture transform; only face sets have any.
    virtual void applyTextureTransform(const VRTextureTransform&) {}

protected:
    explicit VRGeometry(std::int32_t kind) : VRNode(kind) {}
};

class VRIndexedFaceSet : public VRGeometry {
public:
    VRIndexedFaceSet() : VRGeometry(VR_INDEXED_FACE_SET) {}
    bool boundingBox(Vec3& min, Vec3& max) const override;
    void applyTextureTransform(const VRTextureTransform& transform) override;

    void setCoord(VRRef<VRCoordinate> node);
    void setTexCoord(VRRef<VRTextureCoordinate> node);
    void setColor(VRRef<VRColor> node);
    void setNormal(VRRef<VRNormal> node);

    VRRef<VRCoordinate> coord;
    MFInt32 coordIndex;
    VRRef<VRTextureCoordinate> texCoord;
    MFInt32 texCoordIndex;
    VRRef<VRColor> color;
    MFInt32 colorIndex;
    bool colorPerVertex = true;
    VRRef<VRNormal> normal;
    MFInt32 normalIndex;
    bool normalPerVertex = true;
    bool ccw = true;
    bool solid = true;
    bool convex = true;
    // One radian: the faces of a box side are meant to look smooth, its edges sharp.
    float creaseAngle = 1.0f;

    // The labels of its faces, which the VRML writer leaves out. A face is each run of
    // coordIndex that a -1 ends, and a last run without one. labelIndex holds one entry of
    // `labels` per face, as a colorIndex does per face; with labelIndex empty every face has
    // labels[0]; with no labels the faces are unlabelled. Cloning, merging and triangulation
    // carry them with the faces.
    MFFaceLabel labels;
    MFInt32 labelIndex;

    // The label of face `face`; none when the faces are unlabelled or the index names no label.
    const VRFaceLabel* labelOf(std::size_t face) const {
        if (labelIndex.empty())
            return labels.empty() ? nullptr : &labels.front();
        if (face >= labelIndex.size() || labelIndex[face] < 0 ||
            std::size_t(labelIndex[face]) >= labels.size())
            return nullptr;
        return &labels[std::size_t(labelIndex[face])];
    }
};

class VRBox : public VRGeometry {
public:
    VRBox() : VRGeometry(VR_BOX) {}
    bool boundingBox(Vec3& min, Vec3& max) const override;
    Vec3 size{2, 2, 2};
};

class VRCone : public VRGeometry {
public:
    VRCone() : VRGeometry(VR_CONE) {}
    bool boundingBox(Vec3& min, Vec3& max) const override;
    float bottomRadius = 1.0f;
    float height = 2.0f;
    bool side = true;
    bool bottom = true;
};

class VRCylinder : public VRGeometry {
public:
    VRCylinder() : VRGeometry(VR_CYLINDER) {}
    bool boundingBox(Vec3& min, Vec3& max) const override;
    float radius = 1.0f;
    float height = 2.0f;
    bool bottom = true;
    bool side = true;
    bool top = true;
};

class VRSphere : public VRGeometry {
public:
    VRSphere() : VRGeometry(VR_SPHERE) {}
    bool boundingBox(Vec3& min, Vec3& max) const override;
    float radius = 1.0f;
};

class VRExtrusion : public VRGeometry {
public:
    VRExtrusion() : VRGeometry(VR_EXTRUSION) {}
    bool boundingBox(Vec3& min, Vec3& max) const override;
    bool beginCap = true;
    bool ccw = true;
    bool convex = true;
    float creaseAngle = 0.0f;
    MFVec2f crossSection{{1, 1}, {1, -1}, {-1, -1}, {-1, 1}, {1, 1}};
    bool endCap = true;
    MFRotation orientation{VRRotation{}};
    MFVec2f scale{{1, 1}};
    bool solid = true;
    MFVec3f spine{{0, 0, 0}, {0, 1, 0}};
};

class VRElevationGrid : public VRGeometry {
public:
    VRElevationGrid() : VRGeometry(VR_ELEVATION_GRID) {}
    bool boundingBox(Vec3& min, Vec3& max) const override;
    MFFloat height;
    std::int32_t xDimension = 0;
    float xSpacing = 1.0f;
    std::int32_t zDimension = 0;
    float zSpacing = 1.0f;
    bool ccw = true;
    bool solid = true;
    float creaseAngle = 0.0f;
};

// Geometry kinds 30 and 31: no fields; they occupy the cube from -1 to 1.
class VRUnitGeometry : public VRGeometry {
public:
    explicit VRUnitGeometry(std::int32_t kind = VR_GEOMETRY_30) : VRGeometry(kind) {}
    bool boundingBox(Vec3& min, Vec3& max) const override;
};

class VRShape : public VRNode {
public:
    VRShape() : VRNode(VR_SHAPE) {}
    void setAppearance(VRRef<VRAppearance> node);
    void setGeometry(VRRef<VRGeometry> node);

    VRRef<VRAppearance> appearance;
    VRRef<VRGeometry> geometry;
};

class VRViewpoint : public VRNode {
public:
    VRViewpoint() : VRNode(VR_VIEWPOINT) {}
    Vec3 position{0, 0, 0};
    VRRotation orientation;
    float fieldOfView = 0.785398f;
    std::optional<std::string> description;
};

class VRInterpolator : public VRNode {
public:
    MFFloat key;

protected:
    explicit VRInterpolator(std::int32_t kind) : VRNode(kind) {}
};

class VRCoordinateInterpolator : public VRInterpolator {
public:
    VRCoordinateInterpolator() : VRInterpolator(VR_COORDINATE_INTERPOLATOR) {}
    // keyValue as a table of rows x valuesPerRow vectors.
    std::uint32_t rows = 0;
    std::uint32_t valuesPerRow = 0;
    MFVec3f keyValue;
    // When not empty, entry i names the table row that belongs to key i.
    MFInt32 keyIndex;
};

class VROrientationInterpolator : public VRInterpolator {
public:
    VROrientationInterpolator() : VRInterpolator(VR_ORIENTATION_INTERPOLATOR) {}
    MFRotation keyValue;
};

class VRPositionInterpolator : public VRInterpolator {
public:
    VRPositionInterpolator() : VRInterpolator(VR_POSITION_INTERPOLATOR) {}
    MFVec3f keyValue;
};

class VRSensor : public VRNode {
public:
    bool enabled = true;

protected:
    explicit VRSensor(std::int32_t kind) : VRNode(kind) {}
};

class VRTimeSensor : public VRSensor {
public:
    VRTimeSensor() : VRSensor(VR_TIME_SENSOR) {}
    double cycleInterval = 1.0;
    bool loop = false;
    double startTime = 0.0;
    double stopTime = 0.0;
};

// Source field codes of a route; any other value means none.
enum VRRouteFrom : std::int32_t { VR_FROM_FRACTION_CHANGED = 1, VR_FROM_VALUE_CHANGED = 2 };
// Destination field codes of a route; any other value means none.
enum VRRouteTo : std::int32_t {
    VR_TO_SET_FRACTION = 1,
    VR_TO_TRANSLATION = 2,
    VR_TO_SCALE = 3,
    VR_TO_CENTER = 4,
    VR_TO_ROTATION = 5,
    VR_TO_SCALE_ORIENTATION = 6,
    VR_TO_POINT = 7,
    VR_TO_POSITION = 8,
    VR_TO_ORIENTATION = 9,
};

// One ROUTE statement. The node links are not owned; the nodes must outlive the route.
class VRRoute : public VRNode {
public:
    VRRoute() : VRNode(VR_ROUTE) {}
    VRNode* fromNode = nullptr;
    VRNode* toNode = nullptr;
    std::int32_t fromField = 0;
    std::int32_t toField = 0;
};

// An instance of a prototype: a list of typed field values. Nothing in the system builds one;
// the writer reports it as a kind it cannot express.
class VRProtoInstance : public VRNode {
public:
    VRProtoInstance() : VRNode(VR_PROTO_INSTANCE) {}
    struct Field {
        std::int32_t typeCode = 0;
        std::string name;
        std::vector<float> values;
    };
    std::vector<Field> fields;
};

// --- Operations on trees -------------------------------------------------------------------

// A deep copy of a node of any kind (and of every node it holds); none for none. Kinds 0 and 10
// are copied as plain nodes; a route copy has no source or destination node.
VRRef<VRNode> clone(const VRNode* node);
template <class T> VRRef<T> cloneAs(const T* node) {
    return VRRef<T>::adopt(static_cast<T*>(clone(node).detach()));
}

// Every node of the kind in the subtree, in tree order: the node itself, then for groups their
// children, for a Shape its appearance subtree and geometry, for an Appearance material, texture
// and textureTransform, for an IndexedFaceSet color, coord, normal and texCoord.
std::vector<VRNode*> collectByType(VRNode* root, std::int32_t type);

// A 4x4 matrix for row vectors: a point p becomes p x M, the translation is in row 3.
struct VRMatrix {
    float m[4][4] = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}};
    static VRMatrix identity() { return {}; }
    friend VRMatrix operator*(const VRMatrix& a, const VRMatrix& b);
    // Inline: an export moves every corner of a city through it.
    Vec3 transformPoint(Vec3 p) const {
        return {p.x * m[0][0] + p.y * m[1][0] + p.z * m[2][0] + m[3][0],
                p.x * m[0][1] + p.y * m[1][1] + p.z * m[2][1] + m[3][1],
                p.x * m[0][2] + p.y * m[1][2] + p.z * m[2][2] + m[3][2]};
    }
    // Multiplies by the upper-left 3x3 part only.
    Vec3 transformVector(Vec3 v) const;
};

// The VRML Transform rule: -center, inverse scaleOrientation, scale, scaleOrientation,
// rotation, +center, translation.
VRMatrix localMatrix(const VRTransform& transform);

// Every Shape under root with its geometry moved into root's coordinate system (the root's own
// transformation is never applied). With copy set the Shapes are clones and the tree is left
// as it was; without it the Shapes themselves are changed and every Transform below the root
// is reset to its construction values.
std::vector<VRRef<VRShape>> collectWorldShapes(VRNode* root, bool copy);

// Gathers the faces of shapes handed over one at a time into one IndexedFaceSet: their points
// concatenated, their face lists shifted and terminated, each face keeping its label (a face of
// an unlabelled shape among labelled ones gets an empty label). Shapes without a face set or
// coordinates contribute nothing.
class FaceSetMerger {
public:
    void reserve(std::size_t points, std::size_t indices);
    void add(const VRShape& shape);
    // Gives target the merged face set; the merger is empty afterwards.
    void finishInto(VRShape& target);

private:
    // The number of `label` in labels_, added when it is new.
    std::int32_t labelNumber(const VRFaceLabel& label);

    MFVec3f points_;
    MFInt32 coordIndex_;
    // The labels of the faces so far, kept once a shape brings labels (faces before it are then
    // unlabelled: an empty label).
    MFFaceLabel labels_;
    MFInt32 labelIndex_;
    bool labelled_ = false;
    std::size_t faces_ = 0;
};

// Fills target with one IndexedFaceSet holding all faces of the shapes (their points
// concatenated, their face lists shifted and terminated) and, when the first shape has one, an
// Appearance with a copy of its Material. The shapes are not changed. Shapes without a face set
// or coordinates contribute nothing.
void mergeShapes(const std::vector<VRRef<VRShape>>& shapes, VRShape& target);

// One new Shape that stands for the whole subtree: a copy of its only Shape, or the merge of all
// of them. The subtree is changed in place (geometry in root coordinates, Transforms reset).
VRRef<VRShape> collapseToShape(VRNode* root);

} // namespace ombrel
