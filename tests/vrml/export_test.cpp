#include "config/CityFactory.h"
#include "vrml/Export.h"

#include "base/Log.h"
#include "grammar/Drawables.h"
#include "grammar/Texture.h"
#include "vrml/ReplacingFile.h"

#include "tests/support/Files.h"
#include "tests/support/PipeReader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace ombrel {
namespace {

using testsupport::PipeReader;

namespace fs = std::filesystem;

using testsupport::readFile;

using testsupport::entries;

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
    EXPECT_EQ(log_.text(), "Triangulating the entire model\r\nSaved as VRML to " + path.string() +
                               "\r\n(normal, textured, triangulated, with roads)\r\n");
    log_.clear();
    ExportOptions options;
    options.collapseMode = CollapseMode::building;
    options.triangulateEverything = false;
    options.saveRoads = false;
    ASSERT_TRUE(exportCity(*city_, path.string(), "x.xml", 1, options));
    EXPECT_EQ(log_.text(), "Saved as VRML to " + path.string() +
                               "\r\n(collapse to building, not triangulated, without roads)\r\n");
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

INSTANTIATE_TEST_SUITE_P(
    Export, ExportModes,
    testing::Values(ModeCase{"normal", {CollapseMode::normal, false, true}},
                    ModeCase{"normal_triangulated", {CollapseMode::normal, true, true}},
                    ModeCase{"building", {CollapseMode::building, false, true}},
                    ModeCase{"model_no_roads", {CollapseMode::model, true, false}}),
    [](const testing::TestParamInfo<ModeCase>& info) { return std::string(info.param.name); });

TEST_F(Export, CollapseModelIsOneGreyFaceSet) {
    const std::string text = save({CollapseMode::model, false, false});
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
    const auto l = lines(save({CollapseMode::normal, true, true}));
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
        const std::string text = save({static_cast<CollapseMode>(mode), true, true});
        EXPECT_NE(text.find("  Viewpoint {\r\n"), std::string::npos) << mode;
        EXPECT_EQ(text.substr(text.size() - 7), " ]\r\n}\r\n") << mode;
    }
    const auto l = lines(save({CollapseMode::model, true, true}));
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

TEST(ExportSetting, UnknownCollapseModeIsNormal) {
    StringLogSink log;
    ScopedLogSink scoped(log);
    const struct {
        int setting;
        CollapseMode mode;
        const char* warning;
    } cases[] = {
        {0, CollapseMode::normal, ""},
        {1, CollapseMode::building, ""},
        {2, CollapseMode::model, ""},
        {7, CollapseMode::normal, "Unknown collapse mode 7, exporting as Normal (textured)\r\n"},
        {-1, CollapseMode::normal, "Unknown collapse mode -1, exporting as Normal (textured)\r\n"},
    };
    for (const auto& c : cases) {
        log.clear();
        EXPECT_EQ(collapseModeFromSetting(c.setting), c.mode) << c.setting;
        EXPECT_EQ(log.text(), c.warning) << c.setting;
    }
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
    EXPECT_FALSE(
        exportCity(*city_, folder.string(), "x.xml", 1, {CollapseMode::normal, false, true}));
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
              "Saved as VRML to " + link.string() +
                  "\r\n(normal, textured, triangulated, with roads)\r\n");
}

TEST_F(Export, WritesADeviceInPlace) {
    const fs::path device = dir_ / "null";
    if (::mknod(device.c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0)
        GTEST_SKIP() << "cannot make a device node here: " << std::strerror(errno);
    ASSERT_TRUE(exportCity(*city_, device.string(), "x.xml", 1, {}));
    EXPECT_TRUE(fs::is_character_file(device));
    EXPECT_EQ(entries(dir_), std::vector<std::string>{"null"});
    EXPECT_EQ(log_.text().substr(log_.text().rfind("Saved")),
              "Saved as VRML to " + device.string() +
                  "\r\n(normal, textured, triangulated, with roads)\r\n");
}

TEST_F(Export, WritesANamedPipeInPlace) {
    const std::string expected = save({});
    fs::remove(dir_ / "city.wrl");
    const fs::path fifo = dir_ / "fifo.wrl";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0) << std::strerror(errno);
    PipeReader reader(fifo);
    ASSERT_TRUE(reader.opened());
    EXPECT_TRUE(exportCity(*city_, fifo.string(), "examples/town.xml", 255, {}));
    EXPECT_EQ(reader.finish(), expected);
    EXPECT_TRUE(fs::is_fifo(fifo));
    EXPECT_EQ(entries(dir_), std::vector<std::string>{"fifo.wrl"});
}

TEST_F(Export, ASocketIsNotReplaced) {
    const fs::path socket = dir_ / "socket.wrl";
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    // A socket's address holds about a hundred characters, less than a scratch path may take:
    // it is bound through a descriptor of the folder.
    const int folder = ::open(dir_.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(folder, 0) << std::strerror(errno);
    const std::string shortPath = "/proc/self/fd/" + std::to_string(folder) + "/socket.wrl";
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, shortPath.c_str());
    const int bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::close(folder);
    ASSERT_EQ(bound, 0) << std::strerror(errno);
    EXPECT_FALSE(
        exportCity(*city_, socket.string(), "x.xml", 1, {CollapseMode::normal, false, true}));
    ::close(fd);
    EXPECT_EQ(log_.text(),
              "Could not save VRML to " + socket.string() + ": No such device or address\r\n");
    EXPECT_TRUE(fs::is_socket(socket));
    EXPECT_EQ(entries(dir_), std::vector<std::string>{"socket.wrl"});
}

TEST_F(Export, DashIsStandardOutput) {
    const fs::path captured = dir_ / "stdout.wrl";
    std::fflush(stdout);
    const int saved = ::dup(STDOUT_FILENO);
    const int file = ::open(captured.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(saved, 0);
    ASSERT_GE(file, 0);
    ::dup2(file, STDOUT_FILENO);
    ::close(file);
    // Texture urls of standard output are relative to the current directory: run from the
    // folder the file export below goes into, so that both name the image alike.
    const fs::path previous = fs::current_path();
    fs::current_path(dir_);
    const bool exported = exportCity(*city_, "-", "examples/town.xml", 255, {});
    fs::current_path(previous);
    // Standard output stays open after the export.
    const bool stillOpen = ::write(STDOUT_FILENO, "|", 1) == 1;
    ::dup2(saved, STDOUT_FILENO);
    ::close(saved);
    EXPECT_TRUE(exported);
    EXPECT_TRUE(stillOpen);
    const std::string written = readFile(captured);
    fs::remove(captured);
    EXPECT_EQ(written, save({}) + "|");
    EXPECT_EQ(entries(dir_), std::vector<std::string>{"city.wrl"});
}

TEST_F(Export, RefusesAReadOnlyFile) {
    const fs::path path = dir_ / "city.wrl";
    std::ofstream(path) << "old";
    fs::permissions(path, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    EXPECT_FALSE(
        exportCity(*city_, path.string(), "x.xml", 1, {CollapseMode::normal, false, true}));
    EXPECT_EQ(log_.text(),
              "Could not save VRML to " + path.string() + ": the file is read-only\r\n");
    EXPECT_EQ(readFile(path), "old");
    EXPECT_EQ(fs::status(path).permissions(),
              fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    EXPECT_EQ(entries(dir_), std::vector<std::string>{"city.wrl"});

    // Through a link, the file it names is what counts.
    fs::create_symlink("city.wrl", dir_ / "latest.wrl");
    ReplacingFile file((dir_ / "latest.wrl").string());
    EXPECT_EQ(file.stream(), nullptr);
    EXPECT_TRUE(file.readOnly());
    EXPECT_EQ(file.error(), EACCES);
    EXPECT_EQ(file.reason(), "the file is read-only");
    EXPECT_EQ(readFile(path), "old");

    // Any write permission bit makes it writable again.
    fs::permissions(path, fs::perms::others_write, fs::perm_options::add);
    EXPECT_TRUE(exportCity(*city_, path.string(), "x.xml", 1, {}));
    EXPECT_EQ(readFile(path).substr(0, 17), "#VRML V2.0 utf8\r\n");
}

TEST_F(Export, TemporaryFileHasNoNameWhileItIsWritten) {
    const fs::path path = dir_ / "city.wrl";
    std::ofstream(path) << "old";
    ReplacingFile file(path.string());
    ASSERT_NE(file.stream(), nullptr) << file.reason();
    EXPECT_EQ(std::fputs("new", file.stream()), 1);
    EXPECT_EQ(std::fflush(file.stream()), 0);
    // Nothing beside the target that a killed process could leave behind.
    EXPECT_EQ(entries(dir_), std::vector<std::string>{"city.wrl"});
    EXPECT_EQ(readFile(path), "old");
    ASSERT_TRUE(file.commit()) << file.reason();
    EXPECT_EQ(readFile(path), "new");
    EXPECT_EQ(entries(dir_), std::vector<std::string>{"city.wrl"});
}

TEST_F(Export, NamedTemporaryFileReplacesKeepingPermissions) {
    const fs::path path = dir_ / "city.wrl";
    std::ofstream(path) << "old";
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write);
    ReplacingFile file(path.string(), ReplacingFile::Temporary::named);
    ASSERT_NE(file.stream(), nullptr) << file.reason();
    std::fputs("new", file.stream());
    EXPECT_EQ(entries(dir_),
              (std::vector<std::string>{".city.wrl.part-" + std::to_string(::getpid()) + "-0",
                                        "city.wrl"}));
    ASSERT_TRUE(file.commit()) << file.reason();
    EXPECT_EQ(readFile(path), "new");
    EXPECT_EQ(fs::status(path).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(entries(dir_), std::vector<std::string>{"city.wrl"});

    // Discarded, it leaves nothing either.
    ReplacingFile discarded(path.string(), ReplacingFile::Temporary::named);
    std::fputs("newer", discarded.stream());
    discarded.discard();
    EXPECT_EQ(readFile(path), "new");
    EXPECT_EQ(entries(dir_), std::vector<std::string>{"city.wrl"});
}

TEST_F(Export, RemoveTemporariesLeavesThePreviousFiles) {
    const fs::path a = dir_ / "a.wrl", b = dir_ / "b.wrl";
    std::ofstream(a) << "old a";
    ReplacingFile named(a.string(), ReplacingFile::Temporary::named);
    ReplacingFile unnamed(b.string());
    ASSERT_NE(named.stream(), nullptr);
    ASSERT_NE(unnamed.stream(), nullptr);
    std::fputs("new a", named.stream());
    std::fputs("new b", unnamed.stream());
    ASSERT_EQ(entries(dir_).size(), 2u);
    ReplacingFile::removeTemporaries();
    EXPECT_EQ(entries(dir_), std::vector<std::string>{"a.wrl"});
    // The removed temporary cannot be committed; the unnamed one, not yet linked, still can.
    EXPECT_FALSE(named.commit());
    EXPECT_EQ(named.error(), ENOENT);
    EXPECT_EQ(readFile(a), "old a");
    EXPECT_TRUE(unnamed.commit()) << unnamed.reason();
    EXPECT_EQ(readFile(b), "new b");
    EXPECT_EQ(entries(dir_), (std::vector<std::string>{"a.wrl", "b.wrl"}));
    // Nothing is registered any more: a second call removes nothing.
    ReplacingFile::removeTemporaries();
    EXPECT_EQ(entries(dir_), (std::vector<std::string>{"a.wrl", "b.wrl"}));
}

} // namespace
} // namespace ombrel
