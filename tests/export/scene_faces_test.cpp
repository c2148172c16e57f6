// The pieces the glTF and OBJ writers share: the material table and the triangle normal.

#include "export/SceneFaces.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
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

} // namespace
