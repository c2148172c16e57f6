#include "tests/support/Files.h"
#include "vrml/VRWriter.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

namespace ombrel {
namespace {

using testsupport::readFile;

std::string golden(const std::string& name) {
    return readFile(std::string(OMBREL_TEST_DATA_DIR) + "/golden/" + name);
}

// Compares with a golden file; OMBREL_UPDATE_GOLDEN=1 rewrites the file instead (review the
// difference before committing it).
void expectGolden(const std::string& text, const std::string& name) {
    const std::string path = std::string(OMBREL_TEST_DATA_DIR) + "/golden/" + name;
    if (std::getenv("OMBREL_UPDATE_GOLDEN")) {
        std::ofstream(path, std::ios::binary) << text;
        return;
    }
    EXPECT_EQ(text, readFile(path)) << name;
}

// Joins lines with CR LF, as the writer ends them.
std::string crlf(std::initializer_list<std::string_view> lines) {
    std::string s;
    for (std::string_view l : lines) {
        s += l;
        s += "\r\n";
    }
    return s;
}

// The text after the first line.
std::string body(const VRNode* root) {
    return vrmlText(root).substr(kVrmlFirstLine.size());
}

VRRef<VRTransform> layoutExample() {
    auto root = makeNode<VRTransform>();
    root->rotation = {1, 0, 0, 1.5708f};
    auto shape = makeNode<VRShape>();
    auto appearance = makeNode<VRAppearance>();
    auto material = makeNode<VRMaterial>();
    material->diffuseColor = {0.5f, 0.5f, 0.5f};
    appearance->setMaterial(std::move(material));
    shape->setAppearance(std::move(appearance));
    auto faces = makeNode<VRIndexedFaceSet>();
    auto coord = makeNode<VRCoordinate>();
    coord->point = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}};
    faces->setCoord(std::move(coord));
    faces->coordIndex = {0, 1, 2, -1};
    shape->setGeometry(std::move(faces));
    root->addChild(std::move(shape));
    return root;
}

TEST(VRWriter, LayoutExampleMatchesGoldenFile) {
    auto root = layoutExample();
    expectGolden(vrmlText(root.get()), "layout.wrl");
}

// Face labels are for the other formats: VRML has no field for them.
TEST(VRWriter, FaceLabelsAreNotWritten) {
    auto root = layoutExample();
    auto& faces =
        static_cast<VRIndexedFaceSet&>(*static_cast<VRShape&>(*root->children.front()).geometry);
    faces.labels = {{"wall", "concrete"}, {"roof", ""}};
    faces.labelIndex = {1};
    expectGolden(vrmlText(root.get()), "layout.wrl");
}

TEST(VRWriter, FileMatchesText) {
    auto root = layoutExample();
    const std::string path = testing::TempDir() + "/layout_test.wrl";
    ASSERT_TRUE(writeVrmlFile(root.get(), path));
    EXPECT_EQ(readFile(path), golden("layout.wrl"));
    std::filesystem::remove(path);
}

TEST(VRWriter, FailuresAreReported) {
    auto root = layoutExample();
    EXPECT_FALSE(writeVrmlFile(root.get(), "/nonexistent-folder/x.wrl"));
    // A full disk is not a written file.
    if (std::filesystem::exists("/dev/full")) {
        EXPECT_FALSE(writeVrmlFile(root.get(), "/dev/full"));
    }
}

TEST(VRWriter, EveryKindMatchesGoldenFile) {
    auto root = makeNode<VRGroup>();
    root->setName("dropped");
    auto lod = makeNode<VRLOD>();
    lod->setName("");
    lod->range = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13};
    lod->center = {1, 2, 3};
    auto t = makeNode<VRTransform>();
    t->translation = {1.5f, -2, 1e7f};
    t->scale = {2, 2, 2};
    t->scaleOrientation = {1, 0, 0, 0.5f};
    t->center = {0.1f, 0.2f, 0.3f};
    auto shape = makeNode<VRShape>();
    shape->setName("house_1");
    auto appearance = makeNode<VRAppearance>();
    auto material = makeNode<VRMaterial>();
    material->ambientIntensity = 0.5f;
    material->specularColor = {1, 1, 1};
    material->emissiveColor = {0.25f, 0, 0};
    material->shininess = 0.75f;
    material->transparency = 1e-5f;
    appearance->setMaterial(std::move(material));
    auto texture = makeNode<VRImageTexture>();
    texture->url = {"a.png", "b c.png"};
    texture->repeatS = false;
    texture->repeatT = false;
    appearance->setTexture(std::move(texture));
    auto tt = makeNode<VRTextureTransform>();
    tt->translation = {0.5f, 0.5f};
    tt->rotation = 1;
    tt->scale = {2, 3};
    tt->center = {0.5f, 0};
    appearance->setTextureTransform(std::move(tt));
    shape->setAppearance(std::move(appearance));
    auto faces = makeNode<VRIndexedFaceSet>();
    auto coord = makeNode<VRCoordinate>();
    coord->point = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
    faces->setCoord(std::move(coord));
    faces->coordIndex = {0, 1, 2, 3, -1, 0, 2, 3};
    auto tc = makeNode<VRTextureCoordinate>();
    tc->point = {{0, 0}, {1, 0}, {1, 1}};
    faces->setTexCoord(std::move(tc));
    faces->texCoordIndex = {0, 1, 2, 2, -1};
    auto color = makeNode<VRColor>();
    color->color = {{1, 0, 0}};
    faces->setColor(std::move(color));
    faces->colorIndex = {0, 0, 0, 0, 0, 0, 0};
    faces->colorPerVertex = false;
    auto normal = makeNode<VRNormal>();
    normal->vector = {{0, 0, 1}, {0, 0, -1}};
    faces->setNormal(std::move(normal));
    faces->normalIndex = {1};
    faces->normalPerVertex = false;
    faces->ccw = false;
    faces->solid = false;
    faces->convex = false;
    faces->creaseAngle = 0;
    shape->setGeometry(std::move(faces));
    t->addChild(std::move(shape));
    lod->addChild(std::move(t));
    root->addChild(std::move(lod));

    auto viewpoint = makeNode<VRViewpoint>();
    viewpoint->orientation = {1, 0, 0, 1.5707964f};
    viewpoint->fieldOfView = 1.0471976f;
    viewpoint->description = "Origin";
    root->addChild(viewpoint);

    auto timer = makeNode<VRTimeSensor>();
    timer->setName("Clock");
    timer->cycleInterval = 2.5e-7;
    timer->enabled = false;
    timer->loop = true;
    timer->startTime = 1e20;
    timer->stopTime = 3;
    root->addChild(timer);
    auto mover = makeNode<VRPositionInterpolator>();
    mover->setName("Mover");
    mover->key = {0, 1};
    mover->keyValue = {{0, 0, 0}, {0, 5, 0}};
    root->addChild(mover);
    auto turner = makeNode<VROrientationInterpolator>();
    turner->setName("Turner");
    turner->key = {0.5f};
    turner->keyValue = {{0, 1, 0, 3.14159f}};
    root->addChild(turner);
    auto morph = makeNode<VRCoordinateInterpolator>();
    morph->key = {0, 0.5f, 1};
    morph->rows = 2;
    morph->valuesPerRow = 2;
    morph->keyValue = {{1, 1, 1}, {2, 2, 2}, {3, 3, 3}, {4, 4, 4}};
    morph->keyIndex = {1, 0, 1};
    root->addChild(morph);
    root->addChild(makeNode<VRBox>());
    root->addChild(makeNode<VRNode>());
    root->addChild(makeNode<VRMaterial>());
    auto route = makeNode<VRRoute>();
    route->fromNode = timer.get();
    route->fromField = VR_FROM_FRACTION_CHANGED;
    route->toNode = mover.get();
    route->toField = VR_TO_SET_FRACTION;
    root->addChild(route);
    auto unknownField = makeNode<VRRoute>();
    unknownField->fromNode = mover.get();
    unknownField->fromField = VR_FROM_VALUE_CHANGED;
    unknownField->toNode = timer.get();
    unknownField->toField = 42;
    root->addChild(unknownField);

    expectGolden(vrmlText(root.get()), "every_kind.wrl");
}

struct ArrayCase {
    const char* name;
    std::function<VRRef<VRNode>()> build;
    std::string expected;
};

VRRef<VRNode> faceSet(MFInt32 coordIndex, MFInt32 colorIndex = {}, bool perVertex = true) {
    auto f = makeNode<VRIndexedFaceSet>();
    f->coordIndex = std::move(coordIndex);
    f->colorIndex = std::move(colorIndex);
    f->colorPerVertex = perVertex;
    f->creaseAngle = 0;
    return f;
}

void PrintTo(const ArrayCase& c, std::ostream* os) {
    *os << c.name;
}

class ArrayForms : public testing::TestWithParam<ArrayCase> {};

TEST_P(ArrayForms, WritesExactly) {
    const ArrayCase& c = GetParam();
    auto node = c.build();
    EXPECT_EQ(body(node.get()), c.expected) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    VRWriter, ArrayForms,
    testing::Values(
        ArrayCase{"UnterminatedFaceKeepsBracketOnLastLine",
                  [] {
                      return faceSet({0, 1, 2});
                  },
                  crlf({"geometry IndexedFaceSet {", " coordIndex [", "0 1 2  ]", "}"})},
        ArrayCase{"SingleIndexOnOneLine", [] { return faceSet({7}); },
                  crlf({"geometry IndexedFaceSet {", " coordIndex 7", "}"})},
        ArrayCase{"SinglePerFaceIndexKeepsBrackets", [] { return faceSet({}, {3}, false); },
                  crlf({"geometry IndexedFaceSet {", " colorIndex [", "3 ", " ]",
                        " colorPerVertex FALSE", "}"})},
        ArrayCase{"PerFaceFiveToALine",
                  [] {
                      return faceSet({}, {1, 2, 3, 4, 5}, false);
                  },
                  crlf({"geometry IndexedFaceSet {", " colorIndex [", "1 2 3 4 5", " ]",
                        " colorPerVertex FALSE", "}"})},
        ArrayCase{"PerFaceSixValues",
                  [] {
                      return faceSet({}, {1, 2, 3, 4, 5, 6}, false);
                  },
                  crlf({"geometry IndexedFaceSet {", " colorIndex [", "1 2 3 4 5", "6 ", " ]",
                        " colorPerVertex FALSE", "}"})},
        ArrayCase{"ThirteenRangeValues",
                  [] {
                      auto lod = makeNode<VRLOD>();
                      for (int i = 0; i < 13; ++i)
                          lod->range.push_back(float(i));
                      return VRRef<VRNode>(std::move(lod));
                  },
                  crlf({"LOD {", " range [", "  0,  1,  2,  3,  4,  5,",
                        "  6,  7,  8,  9,  10,  11,", "  12 ]", "}"})},
        ArrayCase{"SingleRangeValue",
                  [] {
                      auto lod = makeNode<VRLOD>();
                      lod->range = {2.5f};
                      return VRRef<VRNode>(std::move(lod));
                  },
                  crlf({"LOD {", " range 2.5", "}"})},
        ArrayCase{"ImageTextureUrlThenEmptyLine",
                  [] {
                      auto t = makeNode<VRImageTexture>();
                      t->url = {"wall.png"};
                      return VRRef<VRNode>(std::move(t));
                  },
                  crlf({"texture ImageTexture {", " url \"wall.png\"", "", "}"})},
        ArrayCase{"ImageTextureWithoutUrl",
                  [] { return VRRef<VRNode>(makeNode<VRImageTexture>()); },
                  crlf({"texture ImageTexture {", "", "}"})},
        ArrayCase{"ViewpointAtOriginWritesPosition",
                  [] { return VRRef<VRNode>(makeNode<VRViewpoint>()); },
                  crlf({"Viewpoint {", " position 0 0 0 ", "}"})},
        ArrayCase{"ViewpointAtDefaultOmitsPosition",
                  [] {
                      auto v = makeNode<VRViewpoint>();
                      v->position = {0, 0, 10};
                      v->description = "";
                      return VRRef<VRNode>(std::move(v));
                  },
                  crlf({"Viewpoint {", "}"})},
        ArrayCase{"SinglePointOnOneLine",
                  [] {
                      auto s = makeNode<VRShape>();
                      auto f = makeNode<VRIndexedFaceSet>();
                      auto c = makeNode<VRCoordinate>();
                      c->point = {{1.25f, -3, 1e-5f}};
                      f->setCoord(std::move(c));
                      f->creaseAngle = 0;
                      s->setGeometry(std::move(f));
                      return VRRef<VRNode>(std::move(s));
                  },
                  crlf({"Shape {", " geometry IndexedFaceSet {", "  coord Coordinate {",
                        "    point 1.25 -3 1e-05", "  }", " }", "}"})},
        ArrayCase{"MaterialInChildrenListGetsPrefix",
                  [] {
                      auto t = makeNode<VRTransform>();
                      t->addChild(makeNode<VRMaterial>());
                      return VRRef<VRNode>(std::move(t));
                  },
                  crlf({"Transform {", " children [", "  material Material {", "  }", " ]", "}"})},
        ArrayCase{"DefaultsAreComparedAsFloats",
                  [] {
                      auto m = makeNode<VRMaterial>();
                      m->diffuseColor = {0.8f, 0.8f, 0.8f};
                      m->ambientIntensity = float(0.2);
                      m->shininess = 0.2000001f;
                      return VRRef<VRNode>(std::move(m));
                  },
                  crlf({"material Material {", " shininess 0.2", "}"})},
        ArrayCase{"AbstractKindsAreComments",
                  [] {
                      auto g = makeNode<VRGroup>();
                      auto n = makeNode<VRNode>();
                      n->type = VR_GEOMETRY;
                      g->addChild(n);
                      auto u = makeNode<VRNode>();
                      u->type = 99;
                      g->addChild(u);
                      auto t = makeNode<VRTransform>();
                      t->addChild(g);
                      return VRRef<VRNode>(std::move(t));
                  },
                  crlf({"Transform {", " children [", "  Group {", "   children [",
                        "### Geometry is not an IndexedFaceSet",
                        "    ### Unrecognized node type (99)", "   ]", "  }", " ]", "}"})}),
    [](const testing::TestParamInfo<ArrayCase>& info) { return info.param.name; });

TEST(VRWriter, NamesAreWrittenSoReadersAcceptThem) {
    const std::pair<std::string, std::string> cases[] = {{"Building_3_7", "Building_3_7"},
                                                         {"100%", "_100%"},
                                                         {"my house", "my_house"},
                                                         {"a.b,c#d", "a_b_c_d"},
                                                         {"", "_"},
                                                         {"TRUE", "_TRUE"},
                                                         {"-x", "_-x"},
                                                         {"x-1+2", "x-1+2"},
                                                         {"q\"{}[]\\'", "q_______"},
                                                         {"caf\xc3\xa9", "caf\xc3\xa9"},
                                                         {"line\r\nbreak", "line__break"}};
    for (const auto& [name, written] : cases) {
        EXPECT_EQ(vrmlName(name), written) << name;
        auto t = makeNode<VRTransform>();
        t->setName(name);
        EXPECT_EQ(body(t.get()), crlf({"DEF " + written + " Transform {", "}"})) << name;
    }
}

TEST(VRWriter, QuotesAndBackslashesInStringsAreEscaped) {
    auto t = makeNode<VRImageTexture>();
    t->url = {"say \"hi\".png", "c:\\walls\\a.png"};
    EXPECT_EQ(body(t.get()), crlf({"texture ImageTexture {", " url [", "  \"say \\\"hi\\\".png\",",
                                   "  \"c:\\\\walls\\\\a.png\" ]", "", "}"}));
    auto v = makeNode<VRViewpoint>();
    v->position = {0, 0, 10};
    v->description = "the \"main\" view";
    EXPECT_EQ(body(v.get()), crlf({"Viewpoint {", " description \"the \\\"main\\\" view\" ", "}"}));
}

TEST(VRWriter, RootGroupIsUnwrapped) {
    auto root = makeNode<VRGroup>();
    root->setName("City");
    root->addChild(makeNode<VRShape>());
    root->addChild(makeNode<VRShape>());
    EXPECT_EQ(body(root.get()), crlf({"Shape {", "}", "Shape {", "}"}));
    auto t = makeNode<VRTransform>();
    t->setName("T");
    EXPECT_EQ(body(t.get()), crlf({"DEF T Transform {", "}"}));
}

TEST(VRWriter, NumbersIgnoreTheCLocale) {
    auto root = layoutExample();
    const std::string before = vrmlText(root.get());
    const char* previous = std::setlocale(LC_ALL, nullptr);
    const std::string saved = previous ? previous : "C";
    if (!std::setlocale(LC_ALL, "de_DE.UTF-8"))
        GTEST_SKIP() << "de_DE.UTF-8 is not installed";
    const std::string after = vrmlText(root.get());
    std::setlocale(LC_ALL, saved.c_str());
    EXPECT_EQ(before, after);
}

struct NumberCase {
    float value;
    const char* text;
};

TEST(VRWriter, NumbersFormatLikePrintfG) {
    const NumberCase cases[] = {{0.0f, "0"},
                                {1.0f, "1"},
                                {-2.5f, "-2.5"},
                                {1.5707964f, "1.5708"},
                                {0.007874016f, "0.00787402"},
                                {123456.0f, "123456"},
                                {1234567.0f, "1.23457e+06"},
                                {1e-5f, "1e-05"},
                                {0.0001f, "0.0001"},
                                {-0.0f, "-0"},
                                {INFINITY, "inf"},
                                {NAN, "nan"}};
    for (const NumberCase& c : cases) {
        auto lod = makeNode<VRLOD>();
        lod->range = {c.value};
        EXPECT_EQ(body(lod.get()), crlf({"LOD {", std::string(" range ") + c.text, "}"})) << c.text;
    }
}

} // namespace
} // namespace ombrel
