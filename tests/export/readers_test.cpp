// Runs ombrel-export on the bundled examples and opens its glTF and OBJ files in other readers:
// the Khronos glTF validator (tools/, installed by scripts/setup), assimp, tinyobjloader and
// Blender.
#include "tests/support/Shell.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <sys/wait.h>
#include <vector>

namespace ombrel {
namespace {

namespace fs = std::filesystem;

const std::string kSource = OMBREL_SOURCE_DIR;
const std::string kTool = std::string(OMBREL_BIN_DIR) + "/ombrel-export";
const std::string kValidator = kSource + "/tools/validate-gltf.js";
const std::string kCount = "/usr/bin/python3 " + kSource + "/tools/count-triangles.py";

using Ran = testsupport::ShellResult;
using testsupport::shellQuote;

Ran run(const std::string& command, const fs::path& scratch) {
    return testsupport::runShell(command, kSource, scratch);
}

// The number after "key=" (or "key: ") in a reader's report; -1 when it is not there.
long number(const std::string& report, const std::string& key) {
    std::smatch m;
    if (!std::regex_search(report, m, std::regex(key + "[=:] *([0-9]+)")))
        return -1;
    return std::stol(m[1]);
}

std::string readText(const fs::path& path) {
    std::ifstream in(path);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

long count(const std::string& text, const std::string& part) {
    long n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

struct ReaderCase {
    const char* example;
    const char* mode;
};

void PrintTo(const ReaderCase& c, std::ostream* os) {
    *os << c.example << " " << c.mode;
}

class Readers : public testing::TestWithParam<ReaderCase> {
protected:
    void SetUp() override {
        const ReaderCase& c = GetParam();
        dir_ = fs::path(testing::TempDir()) / (std::string("readers_") + c.example + "_" + c.mode);
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        file_ = "examples/" + std::string(c.example) + "/" + c.example + ".xml";
    }
    void TearDown() override { fs::remove_all(dir_); }

    // Exports to dir_/leaf with the case's collapse mode; returns the path.
    std::string exportAs(const std::string& leaf, const std::string& extra = "") {
        const std::string out = (dir_ / leaf).string();
        const Ran r = run(shellQuote(kTool) + " -q -m " + GetParam().mode + " " + extra + " -o " +
                              shellQuote(out) + " " + shellQuote(file_),
                          dir_);
        EXPECT_EQ(r.status, 0) << leaf << ": " << r.out;
        return out;
    }

    fs::path dir_;
    std::string file_;
};

TEST_P(Readers, GltfIsValidWithTheTrianglesOfTheVrml) {
    const Ran wrl = run(kCount + " " + shellQuote(exportAs("city.wrl")), dir_);
    const long triangles = number(wrl.out, "triangles");
    ASSERT_GT(triangles, 0) << wrl.out;
    for (const std::string merge : {"", "--merge blocks"})
        for (const char* leaf : {"city.glb", "city.gltf"}) {
            const Ran report = run(
                "node " + shellQuote(kValidator) + " " + shellQuote(exportAs(leaf, merge)), dir_);
            ASSERT_NE(report.status, 2)
                << "the glTF validator did not run (run scripts/setup): " << report.out;
            EXPECT_EQ(report.status, 0) << leaf << merge << ": " << report.out;
            EXPECT_EQ(number(report.out, "errors"), 0) << leaf << merge << ": " << report.out;
            EXPECT_EQ(number(report.out, "warnings"), 0) << leaf << merge << ": " << report.out;
            EXPECT_EQ(number(report.out, "triangles"), triangles) << leaf << merge;
        }
}

TEST_P(Readers, ObjLoadsWithoutWarningsWithTheFacesOfTheVrml) {
    // The collapsed model is grey in its material; every other mode has colours per vertex.
    const bool coloured = std::string(GetParam().mode) != "model";
    for (const std::string extra : {"", "--no-triangulate", "--merge blocks"}) {
        const Ran wrl = run(kCount + " " + shellQuote(exportAs("city.wrl", extra)), dir_);
        const std::string obj = exportAs("city.obj", extra);
        const Ran tiny = run(kCount + " " + shellQuote(obj), dir_);
        ASSERT_NE(tiny.status, 2) << "tinyobjloader did not read the file: " << tiny.out;
        EXPECT_EQ(tiny.status, 0) << extra << ": " << tiny.out;
        EXPECT_EQ(number(tiny.out, "triangles"), number(wrl.out, "triangles")) << extra;
        EXPECT_EQ(number(tiny.out, "faces"), number(wrl.out, "faces")) << extra;
        if (coloured)
            EXPECT_GT(number(tiny.out, "colours"), 1) << extra << ": " << tiny.out;
        else
            EXPECT_LE(number(tiny.out, "colours"), 1) << extra << ": " << tiny.out;
        const Ran assimp = run("assimp info " + shellQuote(obj) + " -r", dir_);
        EXPECT_EQ(assimp.status, 0) << assimp.out;
        EXPECT_EQ(assimp.out.find("arn"), std::string::npos) << assimp.out;
        EXPECT_EQ(number(assimp.out, "Faces"), number(wrl.out, "faces")) << extra << assimp.out;
        // assimp's dump lists a colour set for every mesh that read colours.
        const std::string dump = (dir_ / "city.assxml").string();
        const Ran dumped = run("assimp dump " + shellQuote(obj) + " " + shellQuote(dump), dir_);
        EXPECT_EQ(dumped.status, 0) << dumped.out;
        const std::string xml = readText(dump);
        const long meshes = count(xml, "<Mesh ");
        EXPECT_GT(meshes, 0) << extra;
        EXPECT_EQ(count(xml, "<Colors "), coloured ? meshes : 0) << extra;
    }
}

struct BlenderCase {
    const char* example;
    const char* merge;
    const char* sample; // an object to look into
    long objects;       // every object: the buildings and five more (groups and cameras)
    long buildings;     // the children of "Buildings"
    const char* extras; // the sample's extras
};

void PrintTo(const BlenderCase& c, std::ostream* os) {
    *os << c.example << " " << c.merge;
}

// The distinct vertex colours of object `name` in an OBJ file ("v x y z r g b").
std::vector<std::array<double, 3>> objColours(const std::string& obj, const std::string& name) {
    std::vector<std::array<double, 3>> colours;
    std::istringstream lines(obj);
    bool in = false;
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("o ", 0) == 0)
            in = line == "o " + name;
        std::istringstream values(line);
        std::string v;
        double x, y, z;
        std::array<double, 3> c;
        if (in && values >> v && v == "v" && values >> x >> y >> z >> c[0] >> c[1] >> c[2] &&
            std::find(colours.begin(), colours.end(), c) == colours.end())
            colours.push_back(c);
    }
    return colours;
}

class Blender : public testing::TestWithParam<BlenderCase> {};

// Blender's glTF importer: every building an object named from its vrmlTag (or a block named
// after its place), with its extras, and its materials multiplying in the vertex colours, which
// are those of the OBJ export (Blender keeps them in bytes: to within 0.01).
TEST_P(Blender, ImportsTheExampleAsAnArtistExpects) {
    const BlenderCase& c = GetParam();
    const fs::path dir = fs::path(testing::TempDir()) /
                         (std::string("blender_") + c.example + (*c.merge ? "_merged" : ""));
    fs::remove_all(dir);
    fs::create_directories(dir);
    if (run("command -v blender", dir).status != 0)
        GTEST_SKIP() << "blender is not installed (scripts/setup installs it)";
    const std::string file = "examples/" + std::string(c.example) + "/" + c.example + ".xml";
    for (const char* leaf : {"city.glb", "city.obj"}) {
        const Ran r = run(shellQuote(kTool) + " -q " + c.merge + " -o " +
                              shellQuote((dir / leaf).string()) + " " + shellQuote(file),
                          dir);
        ASSERT_EQ(r.status, 0) << r.out;
    }
    const Ran b = run("blender -b --factory-startup --python " +
                          shellQuote(kSource + "/tools/blender-check.py") + " -- " +
                          shellQuote((dir / "city.glb").string()) + " " + c.sample,
                      dir);
    ASSERT_EQ(b.status, 0) << b.out;
    EXPECT_EQ(number(b.out, "objects"), c.objects) << b.out;
    EXPECT_EQ(number(b.out, "buildings"), c.buildings) << b.out;
    EXPECT_EQ(number(b.out, "tagged"), c.buildings) << b.out;
    EXPECT_EQ(number(b.out, "linked"), c.buildings) << b.out;
    EXPECT_NE(b.out.find("extras " + std::string(c.sample) + " " + c.extras + "\n"),
              std::string::npos)
        << b.out;
    std::vector<std::array<double, 3>> imported;
    const std::regex colour("colour " + std::string(c.sample) + " (\\S+) (\\S+) (\\S+)");
    for (auto it = std::sregex_iterator(b.out.begin(), b.out.end(), colour);
         it != std::sregex_iterator(); ++it)
        imported.push_back({std::stod((*it)[1]), std::stod((*it)[2]), std::stod((*it)[3])});
    const std::vector<std::array<double, 3>> exported =
        objColours(readText(dir / "city.obj"), c.sample);
    ASSERT_FALSE(exported.empty());
    EXPECT_EQ(imported.size(), exported.size()) << b.out;
    for (const auto& e : exported) {
        bool found = false;
        for (const auto& i : imported)
            found = found || (std::abs(i[0] - e[0]) < 0.01 && std::abs(i[1] - e[1]) < 0.01 &&
                              std::abs(i[2] - e[2]) < 0.01);
        EXPECT_TRUE(found) << e[0] << " " << e[1] << " " << e[2] << "\n" << b.out;
    }
    fs::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(
    Examples, Blender,
    testing::Values(BlenderCase{"town", "", "House_1_2", 54, 49,
                                "column=1 definition=examples/town/town.xml:34 "
                                "height=12.3764 row=2"},
                    BlenderCase{"downtown", "--merge blocks", "block_1_1", 25, 20,
                                "blockColumn=1 blockRow=1"}),
    [](const auto& info) {
        return std::string(info.param.example) + (*info.param.merge ? "_merged" : "");
    });

INSTANTIATE_TEST_SUITE_P(
    Examples, Readers,
    testing::Values(ReaderCase{"town", "normal"}, ReaderCase{"town", "building"},
                    ReaderCase{"town", "model"}, ReaderCase{"downtown", "normal"},
                    ReaderCase{"downtown", "building"}, ReaderCase{"downtown", "model"},
                    ReaderCase{"metropolis", "normal"}, ReaderCase{"metropolis", "building"},
                    ReaderCase{"metropolis", "model"}),
    [](const auto& info) { return std::string(info.param.example) + "_" + info.param.mode; });

} // namespace
} // namespace ombrel
