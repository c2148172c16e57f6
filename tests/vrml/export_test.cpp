#include "config/CityFactory.h"
#include "vrml/Export.h"

#include "base/Log.h"
#include "grammar/Drawables.h"
#include "grammar/Texture.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace ombrel {
namespace {

namespace fs = std::filesystem;

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        out.push_back(text.substr(start, end - start));
    return out;
}

std::unique_ptr<DrawBox> box(float x, float y, float h, Colour colour,
                             std::shared_ptr<Texture> texture = nullptr) {
    auto b = std::make_unique<DrawBox>();
    b->corners = {Vec2{x, y}, Vec2{x, y + 10}, Vec2{x + 10, y + 10}, Vec2{x + 10, y}};
    b->topHeight = h;
    b->colour = colour;
    b->texture = std::move(texture);
    b->repeatS = 1;
    b->repeatT = 2;
    return b;
}

// Two buildings of two boxes each (one textured with the image at `wallPath`) and one road.
std::unique_ptr<CityFactory::CityDrawable> smallCity(const std::string& wallPath) {
    auto city = std::make_unique<CityFactory::CityDrawable>();
    auto wall = std::make_shared<Texture>(wallPath, 1.0f, 1.0f, false, false);
    for (int i = 0; i < 2; ++i) {
        auto building = std::make_unique<CompoundDrawable>();
        building->vrmlName = "Building_" + std::to_string(i);
        building->children.push_back(box(20.0f * float(i), 0, 30, 0x102030, wall));
        building->children.push_back(box(20.0f * float(i) + 2, 2, 45.5f, 0x7F0000));
        city->buildingDrawables.push_back(std::move(building));
        city->buildingColours.push_back(0x00407F);
    }
    auto road = std::make_unique<DrawFloor>();
    road->corners = {Vec2{0, -5}, Vec2{0, 0}, Vec2{40, 0}, Vec2{40, -5}};
    road->colour = 0x404040;
    city->roadDrawables.push_back(std::move(road));
    return city;
}

class Export : public testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::path(testing::TempDir()) /
               ("export_" +
                std::string(testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        // The wall image lies beside the export, whose url then reads "textures/wall.png".
        city_ = smallCity((dir_ / "textures" / "wall.png").string());
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string save(const ExportOptions& options, const std::string& cfg = "examples/town.xml",
                     std::uint32_t seed = 255) {
        const fs::path path = dir_ / "city.wrl";
        EXPECT_TRUE(exportCity(*city_, path.string(), cfg, seed, options));
        return readFile(path);
    }

    fs::path dir_;
    std::unique_ptr<CityFactory::CityDrawable> city_;
    StringLogSink log_;
    ScopedLogSink scoped_{log_};
};

TEST_F(Export, HeaderLines) {
    const auto l = lines(save({}, "cities/my town.xml", 255));
    ASSERT_GE(l.size(), 10u);
    const std::vector<std::string> expected{"#VRML V2.0 utf8",
                                            "#",
                                            "# Ombrel V0.8 randomly generated urban model",
                                            "#[see https://ombrel.example.org/]",
                                            "# Configuration:",
                                            "# \tcities/my town.xml",
                                            "# \t[randomSeed=0x000000FF]",
                                            "#",
                                            "Transform {",
                                            " rotation 1 0 0 -1.5708"};
    EXPECT_EQ(std::vector<std::string>(l.begin(), l.begin() + 10), expected);
    EXPECT_EQ(l[10], " children [");
    EXPECT_EQ(std::vector<std::string>(l.begin() + 11, l.begin() + 17),
              (std::vector<std::string>{"  Viewpoint {", "   position 0 0 0 ",
                                        "   orientation 1 0 0 1.5708", "   description \"Origin\" ",
                                        "   fieldOfView 1.047198", "  }"}));
    EXPECT_EQ(exportHeader("a", 0xDEADBEEF).find("[randomSeed=0xDEADBEEF]") != std::string::npos,
              true);
}

TEST_F(Export, LogLines) {
    const fs::path path = dir_ / "city.wrl";
    ASSERT_TRUE(exportCity(*city_, path.string(), "x.xml", 1, {}));
    EXPECT_EQ(log_.text(),
              "Triangulating the entire model\r\nSaved as VRML to " + path.string() + "\r\n");
    log_.clear();
    ASSERT_TRUE(exportCity(*city_, path.string(), "x.xml", 1, {0, false, true}));
    EXPECT_EQ(log_.text(), "Saved as VRML to " + path.string() + "\r\n");
}

struct ModeCase {
    const char* name;
    ExportOptions options;
};

void PrintTo(const ModeCase& c, std::ostream* os) {
    *os << c.name;
}

class ExportModes : public Export, public testing::WithParamInterface<ModeCase> {};

// Whole files, byte for byte; OMBREL_UPDATE_GOLDEN=1 rewrites them.
TEST_P(ExportModes, MatchesGoldenFile) {
    const std::string text = save(GetParam().options);
    const std::string golden =
        std::string(OMBREL_TEST_DATA_DIR) + "/golden/export_" + GetParam().name + ".wrl";
    if (std::getenv("OMBREL_UPDATE_GOLDEN"))
        std::ofstream(golden, std::ios::binary) << text;
    else
        EXPECT_EQ(text, readFile(golden)) << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(Export, ExportModes,
                         testing::Values(ModeCase{"normal", {0, false, true}},
                                         ModeCase{"normal_triangulated", {0, true, true}},
                                         ModeCase{"building", {1, false, true}},
                                         ModeCase{"model_no_roads", {2, true, false}}),
                         [](const testing::TestParamInfo<ModeCase>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(Export, CollapseModelIsOneGreyFaceSet) {
    const std::string text = save({2, false, false});
    auto count = [&](const std::string& what) {
        std::size_t n = 0;
        for (std::size_t p = 0; (p = text.find(what, p)) != std::string::npos; ++p)
            ++n;
        return n;
    };
    EXPECT_EQ(count("IndexedFaceSet {"), 1u);
    EXPECT_EQ(count("texCoord"), 0u);
    EXPECT_EQ(count("ImageTexture"), 0u);
    EXPECT_EQ(count("diffuseColor 0.5 0.5 0.5\r\n"), 1u);
    EXPECT_EQ(count("diffuseColor"), 1u);
}

TEST_F(Export, TriangulatedFacesHaveThreeIndices) {
    const auto l = lines(save({0, true, true}));
    bool inIndex = false;
    int faces = 0;
    for (const std::string& line : l) {
        if (line.find("coordIndex [") != std::string::npos ||
            line.find("texCoordIndex [") != std::string::npos) {
            inIndex = true;
            continue;
        }
        if (inIndex && line.find(']') != std::string::npos) {
            inIndex = false;
            continue;
        }
        if (inIndex) {
            EXPECT_EQ(std::count(line.begin(), line.end(), ' '), 3) << line;
            ++faces;
        }
    }
    EXPECT_GT(faces, 0);
}

TEST_F(Export, EmptyCityInEveryMode) {
    city_ = std::make_unique<CityFactory::CityDrawable>();
    for (int mode = 0; mode < 3; ++mode) {
        const std::string text = save({mode, true, true});
        EXPECT_NE(text.find("  Viewpoint {\r\n"), std::string::npos) << mode;
        EXPECT_EQ(text.substr(text.size() - 7), " ]\r\n}\r\n") << mode;
    }
    const auto l = lines(save({2, true, true}));
    const std::vector<std::string> tail(l.end() - 14, l.end());
    EXPECT_EQ(tail, (std::vector<std::string>{
                        "  Shape {", "   appearance Appearance {", "    material Material {",
                        "     diffuseColor 0.5 0.5 0.5", "    }", "   }",
                        "   geometry IndexedFaceSet {", "    coord Coordinate {", "    }",
                        "    creaseAngle 1", "   }", "  }", " ]", "}"}));
}

TEST_F(Export, LongPathLengthensTheHeader) {
    const std::string cfg = "/" + std::string(600, 'd') + "/city.xml";
    const auto text = save({}, cfg, 7);
    const auto l = lines(text);
    EXPECT_EQ(l[5], "# \t" + cfg);
    EXPECT_EQ(l[8], "Transform {");
    EXPECT_EQ(text.find("DEF 1"), std::string::npos);
}

TEST_F(Export, LineBreaksInThePathStayInTheComment) {
    const auto l = lines(save({}, "a\r\nTransform {\nb.xml"));
    EXPECT_EQ(l[5], "# \ta  Transform { b.xml");
    EXPECT_EQ(l[8], "Transform {");
}

TEST_F(Export, UnknownCollapseModeIsNormal) {
    const std::string normal = save({0, true, true});
    log_.clear();
    EXPECT_EQ(save({7, true, true}), normal);
    EXPECT_EQ(log_.text().substr(0, log_.text().find("\r\n") + 2),
              "Unknown collapse mode 7, exporting as Normal (textured)\r\n");
}

TEST_F(Export, FailureKeepsThePreviousFile) {
    const fs::path missing = dir_ / "no such folder" / "city.wrl";
    EXPECT_FALSE(exportCity(*city_, missing.string(), "x.xml", 1, {}));
    EXPECT_EQ(log_.text(), "Triangulating the entire model\r\nCould not save VRML to " +
                               missing.string() + ": No such file or directory\r\n");

    // A target that is a folder cannot be replaced; the folder and its content stay.
    const fs::path folder = dir_ / "taken.wrl";
    fs::create_directories(folder);
    std::ofstream(folder / "keep.txt") << "old";
    log_.clear();
    EXPECT_FALSE(exportCity(*city_, folder.string(), "x.xml", 1, {0, false, true}));
    EXPECT_EQ(log_.text(), "Could not save VRML to " + folder.string() + ": Is a directory\r\n");
    EXPECT_EQ(readFile(folder / "keep.txt"), "old");
    // No half-written file is left behind.
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir_))
        ++entries;
    EXPECT_EQ(entries, 1u);
}

TEST_F(Export, ReplacesAnOlderFileKeepingItsPermissions) {
    const fs::path path = dir_ / "city.wrl";
    std::ofstream(path) << "old";
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    ASSERT_TRUE(exportCity(*city_, path.string(), "x.xml", 1, {}));
    EXPECT_EQ(readFile(path).substr(0, 17), "#VRML V2.0 utf8\r\n");
    EXPECT_EQ(fs::status(path).permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

TEST_F(Export, WritesThroughALink) {
    fs::create_directories(dir_ / "models");
    const fs::path real = dir_ / "models" / "city.wrl";
    std::ofstream(real) << "old";
    const fs::path link = dir_ / "latest.wrl";
    fs::create_symlink("models/city.wrl", link);
    ASSERT_TRUE(exportCity(*city_, link.string(), "x.xml", 1, {}));
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(readFile(real).substr(0, 17), "#VRML V2.0 utf8\r\n");
    EXPECT_EQ(log_.text().substr(log_.text().rfind("Saved")),
              "Saved as VRML to " + link.string() + "\r\n");
}

} // namespace
} // namespace ombrel
