// Runs ombrel-export on the bundled examples and opens its glTF and OBJ files in other readers:
// the Khronos glTF validator (tools/, installed by scripts/setup), assimp and tinyobjloader.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <sys/wait.h>

namespace ombrel {
namespace {

namespace fs = std::filesystem;

const std::string kSource = OMBREL_SOURCE_DIR;
const std::string kTool = std::string(OMBREL_BIN_DIR) + "/ombrel-export";
const std::string kValidator = kSource + "/tools/validate-gltf.js";
const std::string kCount = "/usr/bin/python3 " + kSource + "/tools/count-triangles.py";

std::string quote(const std::string& s) {
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

struct Ran {
    int status = -1;
    std::string out; // standard output and error
};

Ran run(const std::string& command, const fs::path& scratch) {
    const fs::path out = scratch / "output.txt";
    const std::string line =
        "cd " + quote(kSource) + " && " + command + " >" + quote(out.string()) + " 2>&1";
    const int raw = std::system(line.c_str());
    Ran r;
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    std::ifstream in(out);
    std::ostringstream s;
    s << in.rdbuf();
    r.out = s.str();
    fs::remove(out);
    return r;
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
        const Ran r = run(quote(kTool) + " -q -m " + GetParam().mode + " " + extra + " -o " +
                              quote(out) + " " + quote(file_),
                          dir_);
        EXPECT_EQ(r.status, 0) << leaf << ": " << r.out;
        return out;
    }

    fs::path dir_;
    std::string file_;
};

TEST_P(Readers, GltfIsValidWithTheTrianglesOfTheVrml) {
    const Ran wrl = run(kCount + " " + quote(exportAs("city.wrl")), dir_);
    const long triangles = number(wrl.out, "triangles");
    ASSERT_GT(triangles, 0) << wrl.out;
    for (const std::string merge : {"", "--merge blocks"})
        for (const char* leaf : {"city.glb", "city.gltf"}) {
            const Ran report =
                run("node " + quote(kValidator) + " " + quote(exportAs(leaf, merge)), dir_);
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
        const Ran wrl = run(kCount + " " + quote(exportAs("city.wrl", extra)), dir_);
        const std::string obj = exportAs("city.obj", extra);
        const Ran tiny = run(kCount + " " + quote(obj), dir_);
        ASSERT_NE(tiny.status, 2) << "tinyobjloader did not read the file: " << tiny.out;
        EXPECT_EQ(tiny.status, 0) << extra << ": " << tiny.out;
        EXPECT_EQ(number(tiny.out, "triangles"), number(wrl.out, "triangles")) << extra;
        EXPECT_EQ(number(tiny.out, "faces"), number(wrl.out, "faces")) << extra;
        if (coloured)
            EXPECT_GT(number(tiny.out, "colours"), 1) << extra << ": " << tiny.out;
        else
            EXPECT_LE(number(tiny.out, "colours"), 1) << extra << ": " << tiny.out;
        const Ran assimp = run("assimp info " + quote(obj) + " -r", dir_);
        EXPECT_EQ(assimp.status, 0) << assimp.out;
        EXPECT_EQ(assimp.out.find("arn"), std::string::npos) << assimp.out;
        EXPECT_EQ(number(assimp.out, "Faces"), number(wrl.out, "faces")) << extra << assimp.out;
        // assimp's dump lists a colour set for every mesh that read colours.
        const std::string dump = (dir_ / "city.assxml").string();
        const Ran dumped = run("assimp dump " + quote(obj) + " " + quote(dump), dir_);
        EXPECT_EQ(dumped.status, 0) << dumped.out;
        const std::string xml = readText(dump);
        const long meshes = count(xml, "<Mesh ");
        EXPECT_GT(meshes, 0) << extra;
        EXPECT_EQ(count(xml, "<Colors "), coloured ? meshes : 0) << extra;
    }
}

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
