// Surface classes and materials from a construction file to the exported files: a hand-made file
// with each drawing element in a building and in the streets, with `surface`, `roofSurface` and
// `material` overriding and inherited, exported by ombrel-export. glTF names its materials after
// them and holds them in their extras (and passes the Khronos validator), OBJ names its materials
// the same (as assimp reads them), and the VRML is that of the same file without them. Each
// building names the place of its definition.
#include "tests/support/Shell.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace ombrel {
namespace {

namespace fs = std::filesystem;

const std::string kSource = OMBREL_SOURCE_DIR;
const std::string kTool = std::string(OMBREL_BIN_DIR) + "/ombrel-export";
const std::string kValidator = kSource + "/tools/validate-gltf.js";

using testsupport::readFile;
using testsupport::shellQuote;
using Names = std::set<std::string>;

// A 4 x 4 grid: four buildings, streets both ways and their crossings.
std::string constructionFile(const std::string& image) {
    return "<Ombrel numCellsX=\"4\" numCellsY=\"4\" cellSizeX=\"10\" cellSizeY=\"10\" "
           "streetEveryX=\"2\" streetEveryY=\"2\" randomSeed=\"1\">\n"
           "<TextureGroup name=\"facades\"><Texture imageURL=\"" +
           image +
           "\"/></TextureGroup>\n"
           "<Procedure name=\"deck\"><DrawFloor/></Procedure>\n"
           "<Building vrmlTag=\"B_%X_%Y\" material=\"concrete\"><DrawFloor/>\n"
           "<DrawBox height=\"5\" closed=\"yes\" useTextureGroup=\"facades\" "
           "roofSurface=\"terrace\"/>\n"
           "<DrawBox height=\"3\" closed=\"onlyTop\" surface=\"glass\" material=\"glass\"/>\n"
           "<DrawPyramid height=\"2\" material=\"metal\"/><Call name=\"deck\"/></Building>\n"
           "<Street type=\"horizontal\" material=\"asphalt\"><DrawFloor/><Call name=\"deck\"/>"
           "</Street>\n"
           "<Street type=\"vertical\"><DrawFloor surface=\"park\" material=\"medium dry ground\"/>"
           "</Street>\n"
           "<Street type=\"cross\"><DrawFloor/></Street>\n"
           "</Ombrel>\n";
}

// The file without the new attributes: what a construction file written before them says.
std::string withoutLabels(const std::string& text) {
    return std::regex_replace(text, std::regex(" (surface|roofSurface|material)=\"[^\"]*\""), "");
}

long count(const std::string& text, const std::string& part) {
    long n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

struct ModeCase {
    const char* mode;
    Names materials; // "name|surface|material" of each glTF material
};

void PrintTo(const ModeCase& c, std::ostream* os) {
    *os << c.mode;
}

// The roads keep their own labels in every mode.
const Names kRoads{"crossing|crossing|", "park/medium dry ground|park|medium dry ground",
                   "road/asphalt|road|asphalt"};

Names with(Names names, const Names& more) {
    names.insert(more.begin(), more.end());
    return names;
}

// Collapsed buildings lose their textures, never their faces' labels.
const Names kUntextured =
    with(kRoads,
         {"floor/concrete|floor|concrete", "wall/concrete|wall|concrete",
          "terrace/concrete|terrace|concrete", "glass/glass|glass|glass", "roof/metal|roof|metal"});

class Labels : public testing::TestWithParam<ModeCase> {
protected:
    void SetUp() override {
        dir_ = fs::path(testing::TempDir()) / (std::string("labels_") + GetParam().mode);
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        const std::string text = constructionFile(kSource + "/examples/textures/facade1.png");
        std::ofstream(dir_ / "labels.xml") << text;
        std::ofstream(dir_ / "plain.xml") << withoutLabels(text);
    }
    void TearDown() override {
        if (!HasFailure())
            fs::remove_all(dir_);
    }

    testsupport::ShellResult run(const std::string& command) {
        return testsupport::runShell(command, dir_, dir_);
    }
    // Exports `file` to `leaf` in the case's collapse mode; returns the output's path.
    std::string exportAs(const std::string& file, const std::string& leaf) {
        const std::string out = (dir_ / leaf).string();
        const auto r = run(shellQuote(kTool) + " -q -m " + GetParam().mode + " -o " +
                           shellQuote(out) + " " + shellQuote((dir_ / file).string()));
        EXPECT_EQ(r.status, 0) << leaf << ": " << r.out;
        return out;
    }

    // The building objects of the export: four, none in the collapsed model.
    long buildings() const { return std::string(GetParam().mode) == "model" ? 0 : 4; }

    fs::path dir_;
};

TEST_P(Labels, GltfNamesItsMaterialsAfterThemAndHoldsThemInExtras) {
    const std::string gltf = exportAs("labels.xml", "city.gltf");
    const auto listed = run("/usr/bin/python3 -c " +
                            shellQuote("import json, sys\n"
                                       "for m in json.load(open(sys.argv[1]))['materials']:\n"
                                       "    e = m.get('extras', {})\n"
                                       "    print(m.get('name'), e.get('surface', ''), "
                                       "e.get('material', ''), sep='|')\n") +
                            " " + shellQuote(gltf));
    ASSERT_EQ(listed.status, 0) << listed.out;
    std::istringstream lines(listed.out);
    Names materials;
    for (std::string line; std::getline(lines, line);)
        EXPECT_TRUE(materials.insert(line).second) << "twice: " << line;
    EXPECT_EQ(materials, GetParam().materials);
    // Each building node names the place of its Building element (the collapsed model has none).
    const std::string definition = "\"definition\":\"" + (dir_ / "labels.xml").string() + ":4\"";
    EXPECT_EQ(count(readFile(gltf), definition), buildings()) << definition;
    const std::string glb = exportAs("labels.xml", "city.glb");
    for (const std::string& file : {gltf, glb}) {
        const auto report = run("node " + shellQuote(kValidator) + " " + shellQuote(file));
        ASSERT_NE(report.status, 2) << "the glTF validator did not run (run scripts/setup)";
        EXPECT_EQ(report.status, 0) << file << ": " << report.out;
        EXPECT_NE(report.out.find("errors=0 warnings=0 "), std::string::npos) << report.out;
    }
}

// The glTF names with the white space of "medium dry ground" made "_".
Names objNames(const Names& gltf) {
    Names names;
    for (const std::string& m : gltf) {
        std::string name = m.substr(0, m.find('|'));
        std::replace(name.begin(), name.end(), ' ', '_');
        names.insert(name);
    }
    return names;
}

Names linesAfter(const std::string& text, const std::string& keyword) {
    Names found;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);)
        if (line.rfind(keyword, 0) == 0)
            found.insert(line.substr(keyword.size()));
    return found;
}

TEST_P(Labels, ObjUsesTheSameNamesAndAssimpReadsThem) {
    const std::string obj = exportAs("labels.xml", "city.obj");
    const Names expected = objNames(GetParam().materials);
    EXPECT_EQ(linesAfter(readFile(obj), "usemtl "), expected);
    EXPECT_EQ(count(readFile(obj), "# definition " + (dir_ / "labels.xml").string() + ":4\no B_"),
              buildings());
    const std::string mtl = readFile(dir_ / "city.mtl");
    EXPECT_EQ(linesAfter(mtl, "newmtl "), expected);
    EXPECT_NE(mtl.find("# material medium dry ground\nnewmtl park/medium_dry_ground\n"),
              std::string::npos)
        << mtl;
    const auto assimp = run("assimp info " + shellQuote(obj) + " -r");
    ASSERT_EQ(assimp.status, 0) << assimp.out;
    Names read;
    const std::regex named("\n    '([^']*)' \\(prop\\)");
    for (auto it = std::sregex_iterator(assimp.out.begin(), assimp.out.end(), named);
         it != std::sregex_iterator(); ++it)
        read.insert((*it)[1]);
    for (const std::string& name : expected)
        EXPECT_TRUE(read.count(name)) << name << "\n" << assimp.out;
}

// What the labels change is names: the VRML is the same bytes, the OBJ the same vertices and the
// same faces of every object.
TEST_P(Labels, OnlyNamesChange) {
    // The header names the construction file: the rest is the same bytes.
    const std::string labelled = std::regex_replace(
        readFile(exportAs("labels.xml", "labelled.wrl")), std::regex("labels\\.xml"), "plain.xml");
    const std::string plain = readFile(exportAs("plain.xml", "plain.wrl"));
    EXPECT_GT(plain.size(), 1000u);
    EXPECT_TRUE(labelled == plain) << "the VRML files differ";
    auto geometry = [](const std::string& text) {
        std::vector<std::string> vertices;
        std::multiset<std::string> faces;
        std::istringstream lines(text);
        std::string object;
        for (std::string line; std::getline(lines, line);) {
            if (line.rfind("o ", 0) == 0)
                object = line;
            else if (line.rfind("v", 0) == 0)
                vertices.push_back(line);
            else if (line.rfind("f ", 0) == 0)
                faces.insert(object + ": " + line);
        }
        return std::make_pair(vertices, faces);
    };
    const auto labelledObj = geometry(readFile(exportAs("labels.xml", "labelled.obj")));
    const auto plainObj = geometry(readFile(exportAs("plain.xml", "plain.obj")));
    EXPECT_FALSE(plainObj.second.empty());
    EXPECT_TRUE(labelledObj.first == plainObj.first) << "the OBJ vertices differ";
    EXPECT_TRUE(labelledObj.second == plainObj.second) << "the OBJ faces differ";
}

INSTANTIATE_TEST_SUITE_P(
    Modes, Labels,
    testing::Values(ModeCase{"normal",
                             with(kRoads, {"floor/concrete|floor|concrete",
                                           "floor/concrete/facade1|floor|concrete",
                                           "wall/concrete/facade1|wall|concrete",
                                           "terrace/concrete/facade1|terrace|concrete",
                                           "glass/glass|glass|glass", "roof/metal|roof|metal"})},
                    ModeCase{"building", kUntextured}, ModeCase{"model", kUntextured}),
    [](const auto& info) { return std::string(info.param.mode); });

} // namespace
} // namespace ombrel
