#include "vrml/VRNode.h"

#include "tests/support/FaceSets.h"

#include <gtest/gtest.h>

#include <cmath>

namespace ombrel {
namespace {

VRRef<VRShape> faceShape(std::vector<Vec3> points, MFInt32 coordIndex) {
    auto shape = makeNode<VRShape>();
    auto faces = makeNode<VRIndexedFaceSet>();
    auto coord = makeNode<VRCoordinate>();
    coord->point = std::move(points);
    faces->setCoord(std::move(coord));
    faces->coordIndex = std::move(coordIndex);
    shape->setGeometry(std::move(faces));
    return shape;
}

const VRIndexedFaceSet& facesOf(const VRShape& shape) {
    return static_cast<const VRIndexedFaceSet&>(*shape.geometry);
}

TEST(VRNode, ConstructionValues) {
    auto faces = makeNode<VRIndexedFaceSet>();
    EXPECT_EQ(faces->type, VR_INDEXED_FACE_SET);
    EXPECT_EQ(faces->refCount, 1);
    EXPECT_FALSE(faces->hasName());
    EXPECT_EQ(faces->parent, nullptr);
    EXPECT_EQ(faces->creaseAngle, 1.0f);
    EXPECT_TRUE(faces->colorPerVertex && faces->normalPerVertex && faces->ccw && faces->solid &&
                faces->convex);
    auto transform = makeNode<VRTransform>();
    EXPECT_EQ(transform->type, VR_TRANSFORM);
    EXPECT_EQ(transform->rotation, (VRRotation{0, 0, 1, 0}));
    EXPECT_EQ(transform->scale, (Vec3{1, 1, 1}));
    auto material = makeNode<VRMaterial>();
    EXPECT_EQ(material->diffuseColor, (Vec3{0.8f, 0.8f, 0.8f}));
    EXPECT_EQ(material->shininess, 0.2f);
    auto viewpoint = makeNode<VRViewpoint>();
    EXPECT_EQ(viewpoint->fieldOfView, 0.785398f);
    EXPECT_EQ(viewpoint->position, (Vec3{0, 0, 0}));
}

TEST(VRNode, ChildrenHoldReferencesAndParentLinks) {
    auto group = makeNode<VRGroup>();
    auto shape = makeNode<VRShape>();
    VRShape* raw = shape.get();
    group->addChild(shape);
    EXPECT_EQ(raw->refCount, 2);
    EXPECT_EQ(raw->parent, group.get());
    shape.reset();
    EXPECT_EQ(raw->refCount, 1);
}

TEST(VRNode, MergeFourAndThreePoints) {
    std::vector<VRRef<VRShape>> shapes;
    shapes.push_back(faceShape({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}, {0, 1, 2, 3, -1}));
    shapes.push_back(faceShape({{5, 0, 0}, {6, 0, 0}, {6, 1, 0}}, {0, 1, 2}));
    auto target = makeNode<VRShape>();
    mergeShapes(shapes, *target);
    const auto& merged = facesOf(*target);
    EXPECT_EQ(merged.coordIndex, (MFInt32{0, 1, 2, 3, -1, 4, 5, 6, -1}));
    ASSERT_EQ(merged.coord->point.size(), 7u);
    EXPECT_EQ(merged.coord->point[4], (Vec3{5, 0, 0}));
    EXPECT_EQ(facesOf(*shapes[1]).coordIndex, (MFInt32{0, 1, 2}));
    EXPECT_FALSE(target->appearance);
}

VRRef<VRShape> labelledShape(std::vector<Vec3> points, MFInt32 coordIndex, MFFaceLabel labels,
                             MFInt32 labelIndex = {}) {
    VRRef<VRShape> shape = faceShape(std::move(points), std::move(coordIndex));
    auto& faces = static_cast<VRIndexedFaceSet&>(*shape->geometry);
    faces.labels = std::move(labels);
    faces.labelIndex = std::move(labelIndex);
    return shape;
}

// Every face of a merge (a collapse) keeps its label: the labels of all shapes in one table, each
// once, the faces of unlabelled shapes with an empty label. A clone keeps them too.
TEST(VRNode, MergedFacesKeepTheirLabels) {
    const std::vector<Vec3> square{{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
    const struct {
        const char* name;
        std::vector<VRRef<VRShape>> shapes;
        MFFaceLabel labels;
        MFInt32 labelIndex;
    } cases[] = {
        {"none labelled", {faceShape(square, {0, 1, 2, -1}), faceShape(square, {0, 1, 2})}, {}, {}},
        {"one label for all",
         {labelledShape(square, {0, 1, 2, -1, 1, 2, 3}, {{"roof", ""}}),
          labelledShape(square, {0, 1, 2, -1}, {{"roof", ""}})},
         {{"roof", ""}},
         {}},
        {"per face, shared and unlabelled",
         {faceShape(square, {0, 1, 2, -1}),
          labelledShape(square, {0, 1, 2, 3, -1, 0, 1, 2, -1, 1, 2, 3, -1},
                        {{"floor", ""}, {"wall", "brick"}}, {1, 0, 1}),
          faceShape(square, {0, 1, 2}),
          labelledShape(square, {0, 1, 2, -1, -1, 1, 2, 3}, {{"wall", "brick"}})},
         {{"", ""}, {"floor", ""}, {"wall", "brick"}},
         // The empty face between two -1s is a face too.
         {0, 2, 1, 2, 0, 2, 2, 2}},
    };
    for (const auto& c : cases) {
        auto target = makeNode<VRShape>();
        mergeShapes(c.shapes, *target);
        EXPECT_EQ(facesOf(*target).labels, c.labels) << c.name;
        EXPECT_EQ(facesOf(*target).labelIndex, c.labelIndex) << c.name;
        VRRef<VRShape> copy = cloneAs(target.get());
        EXPECT_EQ(facesOf(*copy).labels, c.labels) << c.name << ", cloned";
        EXPECT_EQ(facesOf(*copy).labelIndex, c.labelIndex) << c.name << ", cloned";
    }
}

TEST(VRNode, WorldShapesIgnoreRootTransformAndFoldInner) {
    auto root = makeNode<VRTransform>();
    root->translation = {100, 0, 0};
    auto inner = makeNode<VRTransform>();
    inner->translation = {1, 2, 3};
    inner->scale = {2, 2, 2};
    auto shape = faceShape({{1, 1, 1}}, {0});
    auto normal = makeNode<VRNormal>();
    normal->vector = {{0, 0, 1}};
    static_cast<VRIndexedFaceSet&>(*shape->geometry).setNormal(std::move(normal));
    inner->addChild(shape);
    root->addChild(inner);

    auto copied = collectWorldShapes(root.get(), true);
    ASSERT_EQ(copied.size(), 1u);
    EXPECT_NE(copied[0].get(), shape.get());
    EXPECT_EQ(facesOf(*copied[0]).coord->point[0], (Vec3{3, 4, 5}));
    EXPECT_EQ(inner->translation, (Vec3{1, 2, 3}));

    auto folded = collectWorldShapes(root.get(), false);
    ASSERT_EQ(folded.size(), 1u);
    EXPECT_EQ(folded[0].get(), shape.get());
    EXPECT_EQ(shape->refCount, 3); // our handle, the Transform's list, the result list
    EXPECT_EQ(facesOf(*shape).coord->point[0], (Vec3{3, 4, 5}));
    EXPECT_EQ(inner->translation, (Vec3{0, 0, 0}));
    EXPECT_EQ(inner->scale, (Vec3{1, 1, 1}));
    EXPECT_EQ(root->translation, (Vec3{100, 0, 0}));
    Vec3 n = facesOf(*shape).normal->vector[0];
    EXPECT_FLOAT_EQ(std::sqrt(n.x * n.x + n.y * n.y + n.z * n.z), 1.0f);
}

TEST(VRNode, LocalMatrixRotatesRightHanded) {
    auto t = makeNode<VRTransform>();
    t->rotation = {0, 0, 2, float(M_PI / 2)}; // the axis is normalised
    t->center = {1, 0, 0};
    Vec3 p = localMatrix(*t).transformPoint({2, 0, 0});
    EXPECT_NEAR(p.x, 1, 1e-6);
    EXPECT_NEAR(p.y, 1, 1e-6);
    EXPECT_NEAR(p.z, 0, 1e-6);
}

TEST(VRNode, CloneRouteAndTexture) {
    auto a = makeNode<VRTimeSensor>();
    auto route = makeNode<VRRoute>();
    route->fromNode = a.get();
    route->toNode = a.get();
    route->fromField = VR_FROM_FRACTION_CHANGED;
    route->setName("r");
    auto copy = cloneAs(route.get());
    EXPECT_EQ(copy->fromNode, nullptr);
    EXPECT_EQ(copy->toNode, nullptr);
    EXPECT_EQ(copy->fromField, VR_FROM_FRACTION_CHANGED);
    EXPECT_EQ(copy->name, std::optional<std::string>("r"));

    auto texture = makeNode<VRImageTexture>();
    texture->url = {"a.png", "b.png"};
    texture->repeatS = false;
    auto t2 = cloneAs(texture.get());
    EXPECT_EQ(t2->url, texture->url);
    EXPECT_FALSE(t2->repeatS);
    EXPECT_TRUE(t2->repeatT);
    EXPECT_EQ(clone(nullptr).get(), nullptr);
}

TEST(VRNode, CollapseSingleShapeKeepsItsAppearance) {
    auto group = makeNode<VRGroup>();
    auto shape = faceShape({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}}, {0, 1, 2, -1});
    auto appearance = makeNode<VRAppearance>();
    appearance->setTexture(makeNode<VRImageTexture>());
    shape->setAppearance(std::move(appearance));
    shape->setName("house");
    group->addChild(std::move(shape));
    auto result = collapseToShape(group.get());
    EXPECT_NE(result.get(), group->children[0].get());
    EXPECT_EQ(result->name, std::optional<std::string>("house"));
    ASSERT_TRUE(result->appearance);
    EXPECT_TRUE(result->appearance->texture);
    EXPECT_EQ(group->children[0]->refCount, 1);
}

TEST(VRNode, CollapseOfNothingIsAnEmptyFaceSet) {
    auto group = makeNode<VRGroup>();
    auto result = collapseToShape(group.get());
    EXPECT_FALSE(result->appearance);
    EXPECT_TRUE(facesOf(*result).coord->point.empty());
    EXPECT_TRUE(facesOf(*result).coordIndex.empty());
}

TEST(VRNode, CollectByTypeInTreeOrder) {
    auto group = makeNode<VRGroup>();
    auto a = faceShape({}, {});
    auto b = faceShape({}, {});
    auto appearance = makeNode<VRAppearance>();
    appearance->setMaterial(makeNode<VRMaterial>());
    b->setAppearance(std::move(appearance));
    group->addChild(a);
    group->addChild(b);
    EXPECT_EQ(collectByType(group.get(), VR_SHAPE), (std::vector<VRNode*>{a.get(), b.get()}));
    EXPECT_EQ(collectByType(group.get(), VR_COORDINATE).size(), 2u);
    EXPECT_EQ(collectByType(group.get(), VR_MATERIAL).size(), 1u);
}

} // namespace
} // namespace ombrel
