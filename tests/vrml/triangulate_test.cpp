#include "vrml/Triangulate.h"

#include "tests/support/FaceSets.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace ombrel {
namespace {

using testsupport::faceSet;

struct Case {
    const char* name;
    std::vector<Vec3> points;
    MFInt32 coordIndex;
    MFInt32 expected;
};

void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}

class Triangulation : public testing::TestWithParam<Case> {};

TEST_P(Triangulation, GivesTheExpectedTriangles) {
    const Case& c = GetParam();
    auto f = faceSet(c.points, c.coordIndex);
    EXPECT_EQ(triangulate(*f), 0);
    EXPECT_EQ(f->coordIndex, c.expected) << c.name;
}

// Face by face, triangulateFace gives the triangles that triangulate() writes into the lists.
TEST_P(Triangulation, FaceByFaceGivesTheSameTriangles) {
    const Case& c = GetParam();
    Triangulator triangulator;
    MFInt32 rebuilt;
    for (std::size_t s = 0; s <= c.coordIndex.size();) {
        std::size_t e = s;
        while (e < c.coordIndex.size() && c.coordIndex[e] >= 0)
            ++e;
        if (e == c.coordIndex.size() && s == e)
            break;
        bool named = true;
        for (std::size_t k = s; k < e; ++k)
            named = named && std::size_t(c.coordIndex[k]) < c.points.size();
        if (e - s < 4 || !named) {
            rebuilt.insert(rebuilt.end(), c.coordIndex.begin() + std::ptrdiff_t(s),
                           c.coordIndex.begin() + std::ptrdiff_t(e));
            if (e < c.coordIndex.size() || e - s >= 4)
                rebuilt.push_back(-1);
        } else {
            for (const FaceTriangle& t :
                 triangulator.triangulateFace(c.points.data(), &c.coordIndex[s], e - s))
                for (std::int32_t q : {t.a, t.b, t.c, -1})
                    rebuilt.push_back(q < 0 ? -1 : c.coordIndex[s + std::size_t(q)]);
        }
        s = e + 1;
    }
    EXPECT_EQ(rebuilt, c.expected) << c.name;
}

const std::vector<Vec3> kSquare{{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};

INSTANTIATE_TEST_SUITE_P(
    Triangulate, Triangulation,
    testing::Values(
        // Counter-clockwise seen from +z: the reversed attempt fails, the given order clips.
        Case{"SquareCounterClockwise", kSquare, {0, 1, 2, 3, -1}, {0, 1, 2, -1, 0, 2, 3, -1}},
        // Clockwise: the reversed attempt succeeds.
        Case{"SquareClockwise",
             {{0, 0, 0}, {0, 1, 0}, {1, 1, 0}, {1, 0, 0}},
             {0, 1, 2, 3, -1},
             {1, 2, 3, -1, 0, 1, 3, -1}},
        Case{"TriangleAndEmptyFacePassThrough",
             kSquare,
             {0, 1, 2, -1, -1, 0, 1, 2, 3, -1},
             {0, 1, 2, -1, -1, 0, 1, 2, -1, 0, 2, 3, -1}},
        Case{"MissingTerminatorIsAdded", kSquare, {0, 1, 2, 3}, {0, 1, 2, -1, 0, 2, 3, -1}},
        Case{"TrianglesOnlyAreLeftAlone", kSquare, {0, 1, 2}, {0, 1, 2}},
        Case{"RepeatedPointIsCleaned",
             {{0, 0, 0}, {1, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}},
             {0, 1, 2, 3, 4, -1},
             {0, 2, 3, -1, 0, 3, 4, -1}},
        Case{"CollinearFaceIsDropped",
             {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {3, 0, 0}},
             {0, 1, 2, 3, -1, 0, 1, 2, -1},
             {0, 1, 2, -1}},
        Case{"SquareInAWallUsesTheOtherAxes",
             {{0, 0, 0}, {0, 1, 0}, {0, 1, 1}, {0, 0, 1}},
             {0, 1, 2, 3, -1},
             {0, 1, 2, -1, 0, 2, 3, -1}},
        Case{"UnknownPointsKeepTheFace", kSquare, {0, 1, 2, 7, -1}, {0, 1, 2, 7, -1}}),
    [](const testing::TestParamInfo<Case>& info) { return info.param.name; });

// The centroid of every triangle must lie inside the L.
TEST(Triangulate, LShapeGivesFourTrianglesInside) {
    const std::vector<Vec3> l{{0, 0, 0}, {2, 0, 0}, {2, 1, 0}, {1, 1, 0}, {1, 2, 0}, {0, 2, 0}};
    auto f = faceSet(l, {0, 1, 2, 3, 4, 5, -1});
    ASSERT_EQ(triangulate(*f), 0);
    ASSERT_EQ(f->coordIndex.size(), 16u);
    double area = 0;
    for (std::size_t t = 0; t < 4; ++t) {
        const Vec3 a = l[std::size_t(f->coordIndex[4 * t])],
                   b = l[std::size_t(f->coordIndex[4 * t + 1])],
                   c = l[std::size_t(f->coordIndex[4 * t + 2])];
        EXPECT_EQ(f->coordIndex[4 * t + 3], -1);
        const float cx = (a.x + b.x + c.x) / 3, cy = (a.y + b.y + c.y) / 3;
        EXPECT_FALSE(cx > 1 && cy > 1) << "triangle " << t << " lies in the notch";
        area += std::fabs((b.x - a.x) * (c.y - a.y) - (c.x - a.x) * (b.y - a.y)) / 2;
    }
    EXPECT_DOUBLE_EQ(area, 3.0);
}

TEST(Triangulate, ParallelListsFollowTheTriangles) {
    auto f = faceSet(kSquare, {0, 1, 2, 3, -1, 0, 1, 2, -1});
    f->texCoordIndex = {10, 11, 12, 13, -1, 20, 21, 22, -1};
    f->normalIndex = {30, 31, 32}; // shorter than coordIndex: missing entries become 0
    f->colorIndex = {5, 6};
    f->colorPerVertex = false;
    ASSERT_EQ(triangulate(*f), 0);
    EXPECT_EQ(f->coordIndex, (MFInt32{0, 1, 2, -1, 0, 2, 3, -1, 0, 1, 2, -1}));
    EXPECT_EQ(f->texCoordIndex, (MFInt32{10, 11, 12, -1, 10, 12, 13, -1, 20, 21, 22, -1}));
    EXPECT_EQ(f->normalIndex, (MFInt32{30, 31, 32, -1, 30, 32, 0, -1, -1}));
    EXPECT_EQ(f->colorIndex, (MFInt32{5, 5, 6}));
}

// Each triangle keeps the label of the face it came from; faces left as they are keep theirs.
TEST(Triangulate, FaceLabelsFollowTheTriangles) {
    auto f = faceSet(kSquare, {0, 1, 2, -1, 0, 1, 2, 3, -1, 0, 1, -1});
    f->labels = {{"wall", ""}, {"roof", "slate"}};
    f->labelIndex = {0, 1, 0};
    ASSERT_EQ(triangulate(*f), 0);
    EXPECT_EQ(f->coordIndex, (MFInt32{0, 1, 2, -1, 0, 1, 2, -1, 0, 2, 3, -1, 0, 1, -1}));
    EXPECT_EQ(f->labelIndex, (MFInt32{0, 1, 1, 0}));
    EXPECT_EQ(f->labels, (MFFaceLabel{{"wall", ""}, {"roof", "slate"}}));
    // One label for all faces needs no list, before or after.
    auto g = faceSet(kSquare, {0, 1, 2, 3, -1});
    g->labels = {{"floor", ""}};
    ASSERT_EQ(triangulate(*g), 0);
    EXPECT_TRUE(g->labelIndex.empty());
    EXPECT_EQ(g->labels.size(), 1u);
}

TEST(Triangulate, NonFiniteCoordinatesNeverHang) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const std::vector<std::vector<Vec3>> inputs{
        {{nan, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {0, nan, 0}},
        {{inf, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {0, -inf, 0}},
        {{nan, nan, nan}, {nan, nan, nan}, {nan, nan, nan}, {nan, nan, nan}, {nan, nan, nan}},
        {{3e38f, 0, 0}, {-3e38f, 0, 0}, {3e38f, 3e38f, 0}, {0, -3e38f, 3e38f}, {1, 1, 1}}};
    for (const auto& points : inputs) {
        auto f = faceSet(points, {0, 1, 2, 3, 4, -1});
        EXPECT_EQ(triangulate(*f), 0);
        for (std::int32_t i : f->coordIndex)
            EXPECT_TRUE(i >= -1 && i < 5);
    }
}

TEST(Triangulate, LargeFacesAreHandledOrKept) {
    // A long face on a line is cleaned away in a few passes and dropped.
    std::vector<Vec3> line;
    MFInt32 index;
    for (int i = 0; i < 20000; ++i) {
        line.push_back({float(i % 100), 0, 0});
        index.push_back(i);
    }
    auto f = faceSet(line, index);
    ASSERT_EQ(triangulate(*f), 0);
    EXPECT_TRUE(f->coordIndex.empty());

    // Faces above the limit are left as they are.
    MFInt32 huge(Triangulator::kMaxFaceVertices + 1, 0);
    huge[1] = 1;
    huge[2] = 2;
    auto g = faceSet(kSquare, huge);
    ASSERT_EQ(triangulate(*g), 0);
    huge.push_back(-1);
    EXPECT_EQ(g->coordIndex, huge);
}

TEST(Triangulate, WorkStorageIsReused) {
    Triangulator t;
    for (int i = 0; i < 3; ++i) {
        auto f = faceSet(kSquare, {0, 1, 2, 3, -1});
        ASSERT_EQ(t.triangulate(*f), 0);
        EXPECT_EQ(f->coordIndex, (MFInt32{0, 1, 2, -1, 0, 2, 3, -1}));
    }
    t.release();
    auto f = faceSet(kSquare, {3, 2, 1, 0});
    EXPECT_EQ(t.triangulate(*f), 0);
    EXPECT_EQ(f->coordIndex.size(), 8u);
}

} // namespace
} // namespace ombrel
