// The pieces the glTF and OBJ writers share: the material table, the triangle normal and the
// face reader.

#include "export/SceneFaces.h"

#include "tests/support/FaceSets.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace {

using namespace ombrel;

FaceMaterial material(std::string image, Vec3 colour, bool noColor = false) {
    FaceMaterial m;
    m.image = std::move(image);
    m.colour = colour;
    m.noColor = noColor;
    return m;
}

TEST(MaterialTable, NumbersMaterialsInTheOrderFirstMet) {
    MaterialTable table;
    EXPECT_EQ(table.add(material("", {0.5f, 0.5f, 0.5f})), std::make_pair(0u, true));
    EXPECT_EQ(table.add(material("wall.png", {0.5f, 0.5f, 0.5f})), std::make_pair(1u, true));
    EXPECT_EQ(table.add(material("", {0.5f, 0.5f, 0.5f})), std::make_pair(0u, false));
    EXPECT_EQ(table.add(material("wall.png", {0.5f, 0.5f, 0.5f})), std::make_pair(1u, false));
    EXPECT_EQ(table.size(), 2u);
    EXPECT_EQ(table[1].image, "wall.png");
}

TEST(MaterialTable, TellsMaterialsApartByEveryField) {
    const struct {
        const char* name;
        FaceMaterial other;
    } cases[] = {
        {"another image", material("roof.png", {1, 1, 1})},
        {"another colour", material("wall.png", {1, 1, 0.99f})},
        {"untinted", material("wall.png", {1, 1, 1}, true)},
        // The colours' bits are compared: a negative zero is a colour of its own.
        {"negative zero", material("wall.png", {-0.0f, 1, 1})},
    };
    for (const auto& c : cases) {
        MaterialTable table;
        table.add(material("wall.png", {0.0f, 1, 1}));
        table.add(material("wall.png", {1, 1, 1}));
        EXPECT_TRUE(table.add(c.other).second) << c.name;
        EXPECT_FALSE(table.add(c.other).second) << c.name;
    }
}

TEST(MaterialTable, KeepsItsNumbersAsItGrows) {
    // Colours with no low bits, as a construction file's 0.5 has, many of them.
    MaterialTable table;
    std::vector<FaceMaterial> all;
    for (int r = 0; r < 64; ++r)
        for (int g = 0; g < 64; ++g)
            all.push_back(material(r % 2 ? "a.png" : "", {r / 64.0f, g / 64.0f, 0.25f}));
    for (std::size_t i = 0; i < all.size(); ++i)
        ASSERT_EQ(table.add(all[i]), std::make_pair(std::uint32_t(i), true)) << i;
    for (std::size_t i = 0; i < all.size(); ++i)
        ASSERT_EQ(table.add(all[i]), std::make_pair(std::uint32_t(i), false)) << i;
}

// The normal as the general formula gives it, to compare the shortcut for axis planes with.
Vec3 generalNormal(Vec3 a, Vec3 b, Vec3 c) {
    const double ux = double(b.x) - a.x, uy = double(b.y) - a.y, uz = double(b.z) - a.z;
    const double vx = double(c.x) - a.x, vy = double(c.y) - a.y, vz = double(c.z) - a.z;
    const double nx = uy * vz - uz * vy, ny = uz * vx - ux * vz, nz = ux * vy - uy * vx;
    const double length = std::sqrt(nx * nx + ny * ny + nz * nz);
    return {float(nx / length), float(ny / length), float(nz / length)};
}

TEST(TriangleNormal, AxisPlanesGiveTheBitsOfTheGeneralFormula) {
    const struct {
        const char* name;
        Vec3 a, b, c;
    } cases[] = {
        {"floor", {0, 0, 0}, {10, 0, 0}, {10, 20, 0}},
        {"ceiling", {0, 0, 5}, {10, 20, 5}, {10, 0, 5}},
        {"wall facing -y", {0, 3, 0}, {10, 3, 0}, {10, 3, 7}},
        {"wall facing +x", {4, 0, 0}, {4, 10, 0}, {4, 10, 7}},
        {"wall facing -x", {-4, 10, 0}, {-4, 0, 0}, {-4, 0, 7}},
        {"tiny", {1e-20f, 0, 0}, {2e-20f, 0, 0}, {2e-20f, 1e-20f, 0}},
        {"sloped roof", {0, 0, 0}, {10, 0, 0}, {10, 5, 5}},
    };
    for (const auto& c : cases) {
        Vec3 normal;
        ASSERT_TRUE(triangleNormal(c.a, c.b, c.c, normal)) << c.name;
        const Vec3 expected = generalNormal(c.a, c.b, c.c);
        EXPECT_EQ(std::memcmp(&normal, &expected, sizeof normal), 0)
            << c.name << ": " << normal.x << ' ' << normal.y << ' ' << normal.z;
    }
    Vec3 none;
    EXPECT_FALSE(triangleNormal({1, 1, 1}, {2, 2, 2}, {3, 3, 3}, none)) << "no area";
}

// What a sink was handed: each face's corners and its triangles (empty: the face as it is).
struct Seen {
    std::vector<Vec3> points;
    std::vector<FaceTriangle> triangles;
};

class RecordingSink : public FaceSink {
public:
    void material(const FaceMaterial&) override {}
    void face(const Vec3* points, const Vec2*, std::size_t n,
              std::span<const FaceTriangle> triangles) override {
        faces.push_back({{points, points + n}, {triangles.begin(), triangles.end()}});
    }
    std::vector<Seen> faces;
};

// A Shape of the given faces under a Transform that moves it 10 along x. The reader gives its
// points in the +Y-up axes: (x, y, z) becomes (x, z, -y).
VRRef<VRTransform> movedShape(std::vector<Vec3> points, MFInt32 coordIndex) {
    auto shape = makeNode<VRShape>();
    shape->setGeometry(testsupport::faceSet(std::move(points), std::move(coordIndex)));
    auto transform = makeNode<VRTransform>();
    transform->translation = {10, 0, 0};
    transform->addChild(std::move(shape));
    return transform;
}

TEST(FaceReader, HandsOverWorldFacesWithTheirTrianglesAndLeavesThePieceAlone) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const std::vector<Vec3> points{{0, 0, 0},   {1, 0, 0}, {1, 1, 0}, {0, 1, 0},
                                   {nan, 0, 0}, {2, 0, 0}, {3, 0, 0}};
    const struct {
        const char* name;
        MFInt32 coordIndex;
        std::vector<Seen> expected;
    } cases[] = {
        {"square",
         {0, 1, 2, 3, -1},
         {{{{10, 0, 0}, {11, 0, 0}, {11, 0, -1}, {10, 0, -1}}, {{0, 1, 2}, {0, 2, 3}}}}},
        {"triangle as it is", {0, 1, 2}, {{{{10, 0, 0}, {11, 0, 0}, {11, 0, -1}}, {}}}},
        {"too few corners", {0, 1, -1}, {}},
        {"a point that is not there", {0, 1, 2, 9, -1}, {}},
        {"all on a line", {0, 1, 5, 6, -1}, {}},
        {"a point that is not finite", {0, 1, 4, -1}, {}},
    };
    Triangulator triangulator;
    FaceReader reader(&triangulator);
    for (const auto& c : cases) {
        RecordingSink sink;
        const VRRef<VRTransform> piece = movedShape(points, c.coordIndex);
        reader.read(piece, sink);
        ASSERT_EQ(sink.faces.size(), c.expected.size()) << c.name;
        for (std::size_t i = 0; i < c.expected.size(); ++i) {
            const Seen& seen = sink.faces[i];
            const Seen& expected = c.expected[i];
            ASSERT_EQ(seen.points.size(), expected.points.size()) << c.name;
            for (std::size_t k = 0; k < seen.points.size(); ++k) {
                const Vec3 p = seen.points[k], q = expected.points[k];
                EXPECT_TRUE(p.x == q.x && p.y == q.y && p.z == q.z) << c.name << ", corner " << k;
            }
            ASSERT_EQ(seen.triangles.size(), expected.triangles.size()) << c.name;
            for (std::size_t t = 0; t < seen.triangles.size(); ++t) {
                const FaceTriangle u = seen.triangles[t], v = expected.triangles[t];
                EXPECT_TRUE(u.a == v.a && u.b == v.b && u.c == v.c) << c.name << ", triangle " << t;
            }
        }
        EXPECT_EQ(piece->translation.x, 10.0f) << c.name << ": the piece was changed";
    }
}

// Of a face with a point that is not finite, the triangles without it come one by one.
TEST(FaceReader, KeepsTheFiniteTrianglesOfAFaceWithAPointThatIsNot) {
    // A pentagon with a spike that is finite in its own coordinates and not in the world's.
    auto piece = movedShape({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0.5f, 1e38f, 0}, {0, 1, 0}},
                            {0, 1, 2, 3, 4, -1});
    Triangulator triangulator;
    RecordingSink local;
    FaceReader(&triangulator).read(piece, local);
    ASSERT_EQ(local.faces.size(), 1u);
    const std::size_t triangles = local.faces.front().triangles.size();
    piece->scale = {1, 10, 1};
    RecordingSink world;
    FaceReader(&triangulator).read(piece, world);
    ASSERT_FALSE(world.faces.empty());
    EXPECT_LT(world.faces.size(), triangles);
    for (const Seen& seen : world.faces) {
        EXPECT_EQ(seen.points.size(), 3u);
        EXPECT_TRUE(seen.triangles.empty());
        for (const Vec3& p : seen.points)
            EXPECT_TRUE(std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z));
    }
}

} // namespace

namespace {

FaceMaterial labelled(std::string surface, std::string name, std::string image = "") {
    FaceMaterial m;
    m.surface = std::move(surface);
    m.materialName = std::move(name);
    m.image = std::move(image);
    return m;
}

TEST(MaterialName, JoinsClassMaterialAndImageLeavingOutWhatIsNotThere) {
    const struct {
        FaceMaterial material;
        const char* name;
    } cases[] = {
        {labelled("wall", "concrete", "textures/facade1.png"), "wall/concrete/facade1"},
        {labelled("wall", "concrete"), "wall/concrete"},
        {labelled("roof", ""), "roof"},
        {labelled("floor", "", "../pave.ment.jpg"), "floor/-/pave.ment"},
        {labelled("glass", "", "C:\\city\\glass"), "glass/-/glass"},
        {labelled("", "brick"), "-/brick"},
        {labelled("road", "very dry ground"), "road/very dry ground"},
        // Unlabelled faces: the writers' own names.
        {labelled("", "", "wall.png"), ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(materialName(c.material), c.name) << c.name;
}

TEST(UniqueNames, NumbersANameMetAgain) {
    UniqueNames names;
    EXPECT_EQ(names.add("wall"), "wall");
    EXPECT_EQ(names.add("roof"), "roof");
    EXPECT_EQ(names.add("wall"), "wall~2");
    EXPECT_EQ(names.add("wall~3"), "wall~3");
    EXPECT_EQ(names.add("wall"), "wall~4");
}

// Each material the reader tells, as "surface/material", and how many faces followed it.
class LabelSink : public FaceSink {
public:
    void material(const FaceMaterial& m) override {
        told.push_back(m.surface + "/" + m.materialName + (m.colour.x == 0.5f ? " grey" : ""));
        faces.push_back(0);
    }
    void face(const Vec3*, const Vec2*, std::size_t, std::span<const FaceTriangle>) override {
        ++faces.back();
    }
    std::vector<std::string> told;
    std::vector<int> faces;
};

TEST(FaceReader, TellsTheMaterialAgainWhereTheLabelChanges) {
    // Five faces: the third has too few corners and the fourth is labelled as the second.
    const std::vector<Vec3> points{{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
    const MFInt32 index{0, 1, 2, -1, 0, 2, 3, -1, 0, 1, -1, 1, 2, 3, -1, 0, 1, 3};
    const struct {
        const char* name;
        MFFaceLabel labels;
        MFInt32 labelIndex;
        bool grey;
        std::vector<std::string> told;
        std::vector<int> faces;
    } cases[] = {
        {"unlabelled", {}, {}, false, {"/"}, {4}},
        {"one label for all", {{"roof", "slate"}}, {}, false, {"roof/slate"}, {4}},
        {"per face",
         {{"wall", ""}, {"roof", "metal"}},
         {0, 1, 0, 1, 1},
         false,
         {"wall/", "roof/metal"},
         {1, 3}},
        {"the grey model keeps the labels",
         {{"wall", ""}, {"roof", "metal"}},
         {0, 0, 0, 0, 1},
         true,
         {"wall/ grey", "roof/metal grey"},
         {3, 1}},
        {"a list too short leaves faces unlabelled",
         {{"wall", ""}, {"roof", ""}},
         {1},
         false,
         {"roof/", "/"},
         {1, 3}},
    };
    FaceReader reader(nullptr);
    for (const auto& c : cases) {
        auto faces = testsupport::faceSet(points, index);
        faces->labels = c.labels;
        faces->labelIndex = c.labelIndex;
        auto shape = makeNode<VRShape>();
        shape->setGeometry(std::move(faces));
        LabelSink sink;
        const FaceMaterial grey = greyMaterial();
        reader.read(shape, sink, c.grey ? &grey : nullptr);
        EXPECT_EQ(sink.told, c.told) << c.name;
        EXPECT_EQ(sink.faces, c.faces) << c.name;
    }
}

} // namespace
