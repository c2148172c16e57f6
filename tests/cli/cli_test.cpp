// Runs the built ombrel-export as a user would and checks its files, messages and exit status.
#include "cli/Interrupts.h"
#include "preview/gl/SceneView.h"
#include "vrml/ReplacingFile.h"

#include "tests/support/Files.h"
#include "tests/support/PipeReader.h"
#include "tests/support/Shell.h"
#include "tests/support/ToolProcess.h"

#include <gtest/gtest.h>

#include <stb_image.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace ombrel {
namespace {

using testsupport::PipeReader;

namespace fs = std::filesystem;

const std::string kTool = std::string(OMBREL_BIN_DIR) + "/ombrel-export";
const std::string kCoin = std::string(OMBREL_BIN_DIR) + "/coin_read";
const std::string kSource = OMBREL_SOURCE_DIR;

using testsupport::readFile;

std::size_t entries(const fs::path& folder) {
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(folder))
        ++n;
    return n;
}

const std::string kPngSignature = "\x89PNG\r\n\x1a\n";

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

std::string quote(const std::string& s) {
    return testsupport::shellQuote(s);
}

class Cli : public testing::Test {
protected:
    void SetUp() override {
        dir_ =
            fs::path(testing::TempDir()) /
            ("cli_" + std::string(testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    // Runs a command line (already quoted) from the source folder, where the schema is.
    Outcome shell(const std::string& command) {
        const fs::path out = dir_ / "stdout.txt", err = dir_ / "stderr.txt";
        const std::string line = "cd " + quote(kSource) + " && " + command + " >" +
                                 quote(out.string()) + " 2>" + quote(err.string());
        const int raw = std::system(line.c_str());
        Outcome r;
        r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        r.out = readFile(out);
        r.err = readFile(err);
        fs::remove(out);
        fs::remove(err);
        return r;
    }
    Outcome tool(const std::vector<std::string>& args, const std::string& env = "") {
        std::string command = env + (env.empty() ? "" : " ") + quote(kTool);
        for (const std::string& a : args) {
            command += ' ';
            command += quote(a);
        }
        return shell(command);
    }
    std::string path(const std::string& leaf) const { return (dir_ / leaf).string(); }

    fs::path dir_;
};

struct UsageCase {
    const char* name;
    std::vector<std::string> args;
    std::string message;
};

void PrintTo(const UsageCase& c, std::ostream* os) {
    *os << c.name;
}

class CliUsage : public Cli, public testing::WithParamInterface<UsageCase> {};

TEST_P(CliUsage, ExitsTwoWithAHint) {
    const Outcome r = tool(GetParam().args);
    EXPECT_EQ(r.status, 2) << GetParam().name;
    EXPECT_EQ(r.err, "ombrel-export: " + GetParam().message + " (see ombrel-export --help)\n")
        << GetParam().name;
    EXPECT_EQ(r.out, "");
}

const std::string kTown = "examples/town/town.xml";
const std::string kMetropolis = "examples/metropolis/metropolis.xml";

INSTANTIATE_TEST_SUITE_P(
    Cli, CliUsage,
    testing::Values(
        UsageCase{"UnknownOption", {"--frobnicate", kTown}, "unknown option '--frobnicate'"},
        UsageCase{"NoFile", {"-o", "x.wrl"}, "no construction file given"},
        UsageCase{"NoOutput", {kTown}, "no output given (use --output PATH)"},
        UsageCase{"MissingValue", {kTown, "-o"}, "option '-o' needs a value"},
        UsageCase{"BadMode",
                  {"-m", "flat", "-o", "x.wrl", kTown},
                  "unknown collapse mode 'flat' (use normal, building or model)"},
        UsageCase{"BadMerge",
                  {"--merge", "streets", "-o", "x.glb", kTown},
                  "unknown merge 'streets' (use none or blocks)"},
        UsageCase{"BadCount",
                  {"-n", "2x", "-o", "x.wrl", kTown},
                  "bad number of generations '2x' (1 to 1000000)"},
        UsageCase{"ZeroCount",
                  {"--generations=0", "-o", "x.wrl", kTown},
                  "bad number of generations '0' (1 to 1000000)"},
        UsageCase{"BadSize",
                  {"--png", "x.png", "--size", "640by480", kTown},
                  "bad picture size '640by480' (WxH, 1 to 16384 each)"},
        UsageCase{"BadRenderer",
                  {"--png", "x.png", "--renderer", "fast", kTown},
                  "unknown renderer 'fast' (use batched or immediate)"},
        UsageCase{"BadView",
                  {"--png", "x.png", "--view=top", kTown},
                  "unknown view 'top' (use home or overview)"},
        UsageCase{"BadFrames",
                  {"--png", "x.png", "--frames", "0", kTown},
                  "bad number of frames '0' (1 to 1000000)"},
        UsageCase{"TwoFiles",
                  {"-o", "x.wrl", "a.xml", "b.xml"},
                  "more than one construction file given ('a.xml' and 'b.xml')"},
        UsageCase{"FlagWithValue",
                  {"--quiet=yes", "-o", "x.wrl", kTown},
                  "option '--quiet' takes no value"},
        // Told before the construction file is even looked for.
        UsageCase{"PictureFormat",
                  {"--png", "x.gif", "no/such/city.xml"},
                  "cannot tell the picture format of 'x.gif' (name it .png for PNG, .jpg or "
                  ".jpeg for JPEG)"},
        UsageCase{"PictureFormatOfTheLastPart",
                  {"--png", "x.png.bak", "no/such/city.xml"},
                  "cannot tell the picture format of 'x.png.bak' (name it .png for PNG, .jpg or "
                  ".jpeg for JPEG)"},
        UsageCase{"UnknownEnding",
                  {"-o", "city.x3d", "no/such/city.xml"},
                  "cannot tell the format of 'city.x3d' (name it .wrl, .glb, .gltf, .obj or "
                  ".xodr, or give --format)"},
        UsageCase{"UnknownFormat",
                  {"--format", "fbx", "-o", "city.x3d", kTown},
                  "unknown format 'fbx' (use wrl, glb, gltf, obj, xodr or 3dtiles)"},
        UsageCase{"BothToStandardOutput",
                  {"-o", "-", "--png", "-", "no/such/city.xml"},
                  "the VRML file and the picture cannot both go to standard output"}),
    [](const testing::TestParamInfo<UsageCase>& info) { return info.param.name; });

TEST_F(Cli, TheEndingOrFormatChoosesTheFile) {
    const struct {
        std::vector<std::string> args;
        std::string leaf;
        std::string start;
        std::string logged;
    } cases[] = {
        {{}, "city.glb", "glTF", "Saved as glTF to "},
        {{}, "city.GLTF", "{\"asset\":", "Saved as glTF to "},
        {{"--no-roads", "-m", "building"}, "city.obj", "# Ombrel", "Saved as OBJ to "},
        {{"--format", "glb"}, "city.wrl", "glTF", "Saved as glTF to "},
        {{"--format=wrl"}, "city.obj", "#VRML V2.0 utf8", "Saved as VRML to "},
        {{}, "city", "#VRML V2.0 utf8", "Saved as VRML to "},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = c.args;
        const std::string out = path(c.leaf);
        args.insert(args.end(), {"-o", out, kTown});
        const Outcome r = tool(args);
        ASSERT_EQ(r.status, 0) << c.leaf << r.err;
        EXPECT_EQ(readFile(out).substr(0, c.start.size()), c.start) << c.leaf;
        EXPECT_NE(r.err.find(c.logged + out + "\n"), std::string::npos) << r.err;
    }
    const Outcome obj = tool({"--no-roads", "-m", "building", "-o", path("b.obj"), kTown});
    EXPECT_NE(obj.err.find("Saved as OBJ to " + path("b.obj") +
                           "\n(collapse to building, triangulated, without roads)\n"),
              std::string::npos)
        << obj.err;
    EXPECT_TRUE(fs::exists(path("b.mtl")));
}

TEST_F(Cli, HelpAndVersion) {
    const Outcome help = tool({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("Usage: ombrel-export [OPTIONS] CONSTRUCTION_FILE\n", 0), 0u);
    EXPECT_NE(help.out.find("JPEG for .jpg or .jpeg"), std::string::npos) << help.out;
    const Outcome version = tool({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("ombrel-export ", 0), 0u);
}

TEST_F(Cli, ExportsAndLogsEachStep) {
    const std::string out = path("town.wrl");
    const Outcome r = tool({"-o", out, kTown});
    ASSERT_EQ(r.status, 0) << r.err;
    std::istringstream lines(r.err);
    std::vector<std::string> l;
    for (std::string line; std::getline(lines, line);)
        l.push_back(line);
    ASSERT_GE(l.size(), 5u) << r.err;
    EXPECT_EQ(l[0], "Parsing " + kTown + " ... ");
    EXPECT_EQ(l[l.size() - 4].rfind("Generated city [randomSeed=0x", 0), 0u);
    EXPECT_EQ(l[l.size() - 3], "Triangulating the entire model");
    EXPECT_EQ(l[l.size() - 2], "Saved as VRML to " + out);
    EXPECT_EQ(l.back(), "(normal, textured, triangulated, with roads)");
    const std::string text = readFile(out);
    EXPECT_EQ(text.substr(0, 17), "#VRML V2.0 utf8\r\n");
    EXPECT_NE(text.find("# \t" + kTown + "\r\n"), std::string::npos);

    const Outcome quiet = tool({"-q", "-o", out, kTown});
    EXPECT_EQ(quiet.status, 0);
    EXPECT_EQ(quiet.err, "");
    // Quiet still says why it failed.
    const Outcome failed = tool({"-q", "-o", path("missing/x.wrl"), kTown});
    EXPECT_EQ(failed.status, 3);
    EXPECT_EQ(failed.err, "ERROR  : Could not save VRML to " + path("missing/x.wrl") +
                              ": No such file or directory\n");
}

TEST_F(Cli, LongRunShowsNoProgressWhenStderrIsNotATerminal) {
    // Six hundred generations of a 100 x 100 city run past the two seconds after which a
    // terminal would get a progress line; a file must get the log lines alone. Under the
    // sanitizers a tenth of them takes as long.
#if defined(__SANITIZE_ADDRESS__)
    const std::size_t generations = 60;
#else
    const std::size_t generations = 600;
#endif
    const std::string out = path("metropolis.wrl");
    const std::string file = "examples/metropolis/metropolis.xml";
    const Outcome r = tool(
        {"-n", std::to_string(generations), "-m", "model", "--no-triangulate", "-o", out, file});
    ASSERT_EQ(r.status, 0) << r.err;
    std::istringstream lines(r.err);
    std::size_t generated = 0;
    std::string last;
    for (std::string line; std::getline(lines, line); last = line) {
        EXPECT_EQ(line.find_first_of("\r%"), std::string::npos) << line;
        generated += line.rfind("Generated city [randomSeed=0x", 0) == 0;
    }
    EXPECT_EQ(generated, generations);
    EXPECT_EQ(last, "(collapse model, not triangulated, with roads)");
}

TEST_F(Cli, TheOptionsLineNamesMergedBlocks) {
    struct Case {
        const char* leaf;
        const char* merge;
        const char* line;
    };
    const Case cases[] = {
        {"a.glb", "blocks", "(normal, textured, triangulated, with roads, blocks merged)"},
        {"a.obj", "blocks", "(normal, textured, triangulated, with roads, blocks merged)"},
        {"a.glb", "none", "(normal, textured, triangulated, with roads)"},
        // The VRML keeps its buildings: nothing is merged, and the line says so.
        {"a.wrl", "blocks", "(normal, textured, triangulated, with roads)"},
    };
    for (const Case& c : cases) {
        const Outcome r = tool({"--merge", c.merge, "-o", path(c.leaf), kTown});
        ASSERT_EQ(r.status, 0) << c.leaf << " " << c.merge << r.err;
        EXPECT_NE(r.err.find(std::string("\n") + c.line + "\n"), std::string::npos)
            << c.leaf << " " << c.merge << "\n"
            << r.err;
    }
}

TEST_F(Cli, MissingConstructionFileExitsOne) {
    const Outcome r = tool({"-o", path("x.wrl"), "no/such/city.xml"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "ERROR  : Specified configuration file doesn't exist: no/such/city.xml\n");
    EXPECT_FALSE(fs::exists(path("x.wrl")));
}

TEST_F(Cli, BrokenConstructionFileExitsOne) {
    std::ofstream(path("broken.xml")) << "<city><unclosed></city>";
    const Outcome r = tool({"-o", path("x.wrl"), path("broken.xml")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("ERROR  : "), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(path("x.wrl")));
}

TEST_F(Cli, UnwritableOutputExitsThreeAndKeepsTheOldFile) {
    const Outcome missing = tool({"-o", path("missing/x.wrl"), kTown});
    EXPECT_EQ(missing.status, 3);
    EXPECT_NE(missing.err.find("ERROR  : Could not save VRML to " + path("missing/x.wrl") +
                               ": No such file or directory\n"),
              std::string::npos)
        << missing.err;

    // Root can write almost anywhere; /proc takes no new files.
    const Outcome proc = tool({"-o", "/proc/ombrel.wrl", kTown});
    EXPECT_EQ(proc.status, 3);
    EXPECT_NE(proc.err.find("ERROR  : Could not save VRML to /proc/ombrel.wrl: "),
              std::string::npos)
        << proc.err;

    // A file used as a folder.
    std::ofstream(path("plain")) << "old";
    const Outcome notFolder = tool({"-o", path("plain/x.wrl"), kTown});
    EXPECT_EQ(notFolder.status, 3);
    EXPECT_NE(notFolder.err.find(": Not a directory\n"), std::string::npos) << notFolder.err;
    EXPECT_EQ(readFile(path("plain")), "old");

    // The target is a folder: it cannot be replaced and stays as it was.
    fs::create_directories(path("old.wrl"));
    std::ofstream(path("old.wrl/keep")) << "old";
    const Outcome folder = tool({"-o", path("old.wrl"), kTown});
    EXPECT_EQ(folder.status, 3);
    EXPECT_EQ(readFile(path("old.wrl/keep")), "old");
}

TEST_F(Cli, RoadNetworkByEndingOrFormat) {
    const std::string out = path("town.xodr");
    const Outcome r = tool({"-o", out, kTown});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("Saved as OpenDRIVE to " + out +
                         "\n(18 roads, 9 junctions, 74 connecting roads)\n"),
              std::string::npos)
        << r.err;
    const std::string text = readFile(out);
    EXPECT_EQ(text.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n", 0), 0u);
    EXPECT_NE(text.find("<road name=\"column 0\""), std::string::npos);
    // The same network again, whatever the seed: it follows the grid alone.
    ASSERT_EQ(tool({"-q", "--seed", "1234", "--format", "xodr", "-o", path("net"), kTown}).status,
              0);
    const std::string other = readFile(path("net"));
    EXPECT_EQ(text.substr(text.find("<OpenDRIVE>")), other.substr(other.find("<OpenDRIVE>")));
}

TEST_F(Cli, ACityWithoutStreetsHasNoNetworkAndExitsThree) {
    const std::string box = "docs/examples/box.xml";
    const Outcome r = tool({"-q", "-o", path("box.xodr"), box});
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.err, "ERROR  : Could not save OpenDRIVE to " + path("box.xodr") +
                         ": the city has no streets\n");
    EXPECT_EQ(entries(dir_), 0u);
}

TEST_F(Cli, SameSeedGivesTheSameBytes) {
    ASSERT_EQ(tool({"-q", "-o", path("a.wrl"), kTown}).status, 0);
    ASSERT_EQ(tool({"-q", "-o", path("b.wrl"), kTown}).status, 0);
    ASSERT_EQ(tool({"-q", "-n", "2", "-o", path("c.wrl"), kTown}).status, 0);
    const std::string a = readFile(path("a.wrl"));
    EXPECT_EQ(a, readFile(path("b.wrl")));
    EXPECT_NE(a, readFile(path("c.wrl")));
}

TEST_F(Cli, LocaleDoesNotChangeTheBytes) {
    ASSERT_EQ(tool({"-q", "-o", path("c.wrl"), kTown}, "LC_ALL=C").status, 0);
    ASSERT_EQ(tool({"-q", "-o", path("de.wrl"), kTown}, "LC_ALL=de_DE.UTF-8").status, 0);
    EXPECT_EQ(readFile(path("c.wrl")), readFile(path("de.wrl")));
}

// What a file holds by our own count: Shape nodes and faces (runs of coordIndex).
struct Counts {
    long shapes = 0;
    long faces = 0;
    long largestFace = 0;
};

Counts countWritten(const std::string& text) {
    Counts c;
    std::istringstream in(text);
    bool inIndex = false;
    long run = 0;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.ends_with("Shape {"))
            ++c.shapes;
        const auto at = line.find("coordIndex ");
        if (at != std::string::npos && (at == 0 || line[at - 1] == ' ')) {
            if (line.ends_with("[")) {
                inIndex = true;
                run = 0;
            } else {
                ++c.faces; // one index on one line
                c.largestFace = std::max(c.largestFace, 1L);
            }
            continue;
        }
        if (!inIndex)
            continue;
        std::istringstream values(line);
        for (std::string v; values >> v;) {
            if (v == "]") {
                inIndex = false;
                if (run > 0)
                    ++c.faces;
                break;
            }
            if (v == "-1") {
                ++c.faces;
                c.largestFace = std::max(c.largestFace, run);
                run = 0;
            } else {
                ++run;
            }
        }
    }
    return c;
}

struct ReaderCase {
    std::string example;
    std::string mode;
    bool triangulate;
};

void PrintTo(const ReaderCase& c, std::ostream* os) {
    *os << c.example << " " << c.mode << (c.triangulate ? "" : " --no-triangulate");
}

class CliReaders : public Cli, public testing::WithParamInterface<ReaderCase> {};

// Two independent VRML 2.0 readers take every export without complaint and see what we wrote.
TEST_P(CliReaders, ReadersAcceptTheExport) {
    const ReaderCase& c = GetParam();
    const std::string out = path("city.wrl");
    std::vector<std::string> args{"-q", "-m", c.mode, "-o", out};
    if (!c.triangulate)
        args.push_back("--no-triangulate");
    args.push_back("examples/" + c.example + "/" + c.example + ".xml");
    const Outcome r = tool(args);
    ASSERT_EQ(r.status, 0) << r.err;
    const Counts written = countWritten(readFile(out));
    EXPECT_GT(written.shapes, 0);
    if (c.triangulate) {
        EXPECT_LE(written.largestFace, 3);
    }
    if (c.mode == "model") {
        EXPECT_EQ(written.shapes, 1);
    }

    const Outcome castle = shell("tovrmlx3d " + quote(out));
    EXPECT_EQ(castle.status, 0);
    EXPECT_EQ(castle.err.find("Warning"), std::string::npos) << castle.err;
    EXPECT_EQ(castle.err.find("Error"), std::string::npos) << castle.err;
    long castleShapes = 0;
    for (std::size_t p = 0; (p = castle.out.find("Shape {", p)) != std::string::npos; ++p)
        ++castleShapes;
    EXPECT_EQ(castleShapes, written.shapes);

    if (!fs::exists(kCoin))
        GTEST_SKIP() << "Coin3D reader not built";
    const Outcome coin = shell(quote(kCoin) + " " + quote(out));
    EXPECT_EQ(coin.status, 0) << coin.err;
    EXPECT_EQ(coin.out, "shapes " + std::to_string(written.shapes) + " faces " +
                            std::to_string(written.faces) + "\n");
}

std::vector<ReaderCase> readerCases() {
    std::vector<ReaderCase> cases;
    for (const char* example : {"town", "downtown", "metropolis"})
        for (const char* mode : {"normal", "building", "model"})
            for (bool triangulate : {true, false}) {
#if defined(__SANITIZE_ADDRESS__)
                // The 100 x 100 city takes minutes per case under the sanitizers, mostly in the
                // outside readers; one case runs it through the sanitized exporter, the plain
                // build runs them all.
                if (example == std::string("metropolis") &&
                    (mode != std::string("normal") || !triangulate))
                    continue;
#endif
                cases.push_back({example, mode, triangulate});
            }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Cli, CliReaders, testing::ValuesIn(readerCases()),
                         [](const testing::TestParamInfo<ReaderCase>& info) {
                             return info.param.example + "_" + info.param.mode +
                                    (info.param.triangulate ? "_triangulated" : "_as_generated");
                         });

TEST_F(Cli, PictureShowsSkyAboveAndCityInTheMiddle) {
    const std::string png = path("town.png");
    const Outcome r = tool({"-q", "--png", png, "--size", "160x120", kTown});
    ASSERT_EQ(r.status, 0) << r.err;
    int w = 0, h = 0, n = 0;
    stbi_uc* pixels = stbi_load(png.c_str(), &w, &h, &n, 3);
    ASSERT_NE(pixels, nullptr);
    ASSERT_EQ(w, 160);
    ASSERT_EQ(h, 120);
    // The backdrop image is stored bottom row first; its last row is the top of the picture.
    const std::vector<std::uint8_t> sky = SceneView::backdropImage(w, h);
    for (int x = 0; x < w; x += 7)
        for (int k = 0; k < 3; ++k)
            EXPECT_EQ(pixels[3 * x + k], sky[std::size_t(3 * ((h - 1) * w + x) + k)]) << x;
    // Somewhere in the middle band something other than the backdrop is drawn.
    int cityPixels = 0;
    for (int y = h / 3; y < 2 * h / 3 + 10 && y < h; ++y)
        for (int x = w / 4; x < 3 * w / 4; ++x) {
            const std::size_t p = std::size_t(3 * (y * w + x));
            const std::size_t s = std::size_t(3 * ((h - 1 - y) * w + x));
            if (pixels[p] != sky[s] || pixels[p + 1] != sky[s + 1] || pixels[p + 2] != sky[s + 2])
                ++cityPixels;
        }
    stbi_image_free(pixels);
    EXPECT_GT(cityPixels, 100);
    EXPECT_FALSE(fs::exists(path("town.wrl")));
}

// The picture options: both renderers draw the same picture, the overview and the axes change
// it, and --frames tells how fast it was drawn.
TEST_F(Cli, PictureOptions) {
    auto picture = [&](const std::string& name, std::vector<std::string> options) {
        const std::string png = path(name + ".png");
        std::vector<std::string> args = {"-q", "--png", png, "--size", "160x120", kTown};
        args.insert(args.begin(), options.begin(), options.end());
        const Outcome r = tool(args);
        EXPECT_EQ(r.status, 0) << name << ": " << r.err;
        int w = 0, h = 0, n = 0;
        stbi_uc* pixels = stbi_load(png.c_str(), &w, &h, &n, 3);
        std::vector<std::uint8_t> result;
        if (pixels) {
            result.assign(pixels, pixels + std::size_t(w) * std::size_t(h) * 3);
            stbi_image_free(pixels);
        }
        return std::make_pair(result, r.err);
    };
    auto differing = [](const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) {
        int n = 0;
        for (std::size_t i = 0; i + 2 < std::min(a.size(), b.size()); i += 3)
            n += std::memcmp(&a[i], &b[i], 3) != 0;
        return a.size() == b.size() ? n : -1;
    };
    const auto batched = picture("batched", {});
    const auto immediate = picture("immediate", {"--renderer", "immediate"});
    const auto overview = picture("overview", {"--view", "overview"});
    const auto noAxes = picture("no-axes", {"--no-axes"});
    const auto timed = picture("timed", {"--frames", "3"});
    EXPECT_EQ(differing(batched.first, immediate.first), 0) << "renderers";
    EXPECT_GT(differing(batched.first, overview.first), 1000) << "overview";
    EXPECT_GT(differing(batched.first, noAxes.first), 0) << "axes";
    // Later frames draw the axes with the texture the frame before left bound, as the preview
    // does: only they change.
    EXPECT_LT(differing(batched.first, timed.first), differing(batched.first, noAxes.first) * 2)
        << "timed frames";
    EXPECT_EQ(batched.second, "");
    EXPECT_TRUE(std::regex_match(timed.second,
                                 std::regex("3 frames in [0-9]+\\.[0-9]{3} s \\([0-9]+\\.[0-9] "
                                            "frames per second\\)\n")))
        << timed.second;
}

// The largest and smallest city z of every Coordinate point in an export, read from its text.
std::pair<double, double> heightRange(const std::string& wrl) {
    double low = 1e30, high = -1e30;
    std::istringstream in(wrl);
    std::string line;
    bool inCoord = false, inPoints = false;
    while (std::getline(in, line)) {
        if (line.find("coord Coordinate {") != std::string::npos) {
            inCoord = true;
        } else if (inCoord && line.find("point [") != std::string::npos) {
            inPoints = true;
        } else if (inPoints && line.find(']') != std::string::npos) {
            inCoord = inPoints = false;
        } else if (inPoints) {
            double x = 0, y = 0, z = 0;
            if (std::istringstream(line) >> x >> y >> z) {
                low = std::min(low, z);
                high = std::max(high, z);
            }
        }
    }
    return {low, high};
}

// A reader that takes +Y as up sees the city standing on the ground: the turned root puts the
// ground at world Y = 0 and the top of the tallest building at the largest world Y.
TEST_F(Cli, ExportStandsUpInAReader) {
    if (!fs::exists(kCoin))
        GTEST_SKIP() << "Coin3D reader not built";
    for (const char* mode : {"normal", "model"}) {
        const std::string out = path(std::string(mode) + ".wrl");
        const Outcome r = tool({"-q", "-m", mode, "-o", out, "examples/downtown/downtown.xml"});
        ASSERT_EQ(r.status, 0) << r.err;
        const auto [low, high] = heightRange(readFile(out));
        ASSERT_GT(high, 10.0) << mode;
        const Outcome coin = shell(quote(kCoin) + " --bounds " + quote(out));
        ASSERT_EQ(coin.status, 0) << coin.err;
        double x0, y0, z0, x1, y1, z1;
        std::string word;
        std::istringstream(coin.out) >> word >> x0 >> y0 >> z0 >> x1 >> y1 >> z1;
        ASSERT_EQ(word, "bounds") << coin.out;
        // The rotation is written to six digits, which tilts a city a few hundred units deep by
        // about a millimetre.
        const double tolerance = 1e-5 * std::max(high, -z0);
        EXPECT_NEAR(y0, 0.0, tolerance) << mode << ": the ground is at Y = 0";
        EXPECT_NEAR(y1, high, tolerance) << mode << ": the tallest top is the highest Y";
        EXPECT_NEAR(low, 0.0, 1e-6) << mode;
        // The city's rows run along world -Z.
        EXPECT_LE(z1, tolerance) << mode;
        EXPECT_LT(z0, -10.0) << mode;
    }
}

// Every ImageTexture url of an export, as written.
std::vector<std::string> textureUrls(const std::string& wrl) {
    std::vector<std::string> urls;
    for (std::size_t p = 0; (p = wrl.find("url \"", p)) != std::string::npos;) {
        p += 5;
        const std::size_t end = wrl.find('"', p);
        urls.push_back(wrl.substr(p, end - p));
        p = end;
    }
    return urls;
}

// A reader resolves each url against the .wrl's own folder: an export written into a subfolder,
// into a folder beside the construction file's, or elsewhere finds every texture, those found
// through a pattern included.
TEST_F(Cli, TextureUrlsResolveFromTheWrittenFile) {
    const fs::path project = dir_ / "project";
    fs::create_directories(project / "city");
    fs::copy(kSource + "/examples/textures", project / "textures");
    std::string xml = readFile(kSource + "/examples/downtown/downtown.xml");
    const std::string plain = "imageURL=\"../textures/roof_copper.png\"";
    ASSERT_NE(xml.find(plain), std::string::npos);
    xml.replace(xml.find(plain), plain.size(), "imageURL=\"../textures/roof_c*.png\"");
    std::ofstream(project / "city" / "town.xml", std::ios::binary) << xml;
    fs::create_directories(project / "out" / "sub");
    fs::create_directories(project / "sibling");
    fs::create_directories(dir_ / "elsewhere");

    for (const std::string output :
         {"out/sub/city.wrl", "sibling/city.wrl", "city/city.wrl", "../elsewhere/city.wrl"}) {
        const Outcome r = shell("cd " + quote(project.string()) + " && " + quote(kTool) +
                                " -q -o " + quote(output) + " city/town.xml");
        ASSERT_EQ(r.status, 0) << output << ": " << r.err;
        const fs::path wrl = project / output;
        const std::vector<std::string> urls = textureUrls(readFile(wrl));
        ASSERT_FALSE(urls.empty()) << output;
        bool sawPatternMatch = false;
        for (const std::string& url : urls) {
            EXPECT_NE(url.front(), '/') << output << ": " << url;
            EXPECT_TRUE(fs::is_regular_file(wrl.parent_path() / url)) << output << ": " << url;
            sawPatternMatch = sawPatternMatch || url.find("roof_copper.png") != std::string::npos;
        }
        EXPECT_TRUE(sawPatternMatch) << output;
    }
    // A file beside its textures' folder names them plainly.
    const std::vector<std::string> urls = textureUrls(readFile(project / "sibling/city.wrl"));
    EXPECT_EQ(urls.front().rfind("../textures/", 0), 0u) << urls.front();
}

TEST_F(Cli, PictureFormatFollowsTheName) {
    const std::string jpeg = "\xFF\xD8\xFF";
    const std::vector<std::pair<std::string, std::string>> cases{{"town.jpg", jpeg},
                                                                 {"town.JPEG", jpeg},
                                                                 {"town.Png", kPngSignature},
                                                                 {"town", kPngSignature}};
    for (const auto& [leaf, signature] : cases) {
        const std::string picture = path(leaf);
        const Outcome r = tool({"-q", "--png", picture, "--size", "64x48", kTown});
        ASSERT_EQ(r.status, 0) << leaf << r.err;
        EXPECT_EQ(readFile(picture).substr(0, signature.size()), signature) << leaf;
        int w = 0, h = 0, n = 0;
        stbi_uc* pixels = stbi_load(picture.c_str(), &w, &h, &n, 3);
        ASSERT_NE(pixels, nullptr) << leaf;
        stbi_image_free(pixels);
        EXPECT_EQ(w, 64) << leaf;
        EXPECT_EQ(h, 48) << leaf;
    }
}

TEST_F(Cli, DevicesAndPipesAreWrittenNotReplaced) {
    ASSERT_EQ(tool({"-q", "-o", path("town.wrl"), kTown}).status, 0);
    const std::string expected = readFile(path("town.wrl"));
    fs::remove(path("town.wrl"));
    const fs::path fifo = dir_ / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0) << std::strerror(errno);
    {
        PipeReader reader(fifo);
        const Outcome r = tool({"-q", "-o", fifo.string(), kTown});
        EXPECT_EQ(r.status, 0) << r.err;
        const std::string& read = reader.finish();
        EXPECT_TRUE(read == expected)
            << read.size() << " bytes read, " << expected.size() << " expected";
    }
    {
        PipeReader reader(fifo);
        const Outcome r = tool({"-q", "--png", fifo.string(), "--size", "32x24", kTown});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(reader.finish().substr(0, 8), kPngSignature);
    }
    EXPECT_TRUE(fs::is_fifo(fifo));
    EXPECT_EQ(entries(dir_), 1u);
    fs::remove(fifo);

    // A null device of our own, never the machine's /dev/null.
    const fs::path device = dir_ / "null";
    if (::mknod(device.c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0)
        GTEST_SKIP() << "cannot make a device node here: " << std::strerror(errno);
    const Outcome r = tool({"-q", "-o", device.string(), "--png", device.string(), kTown});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(fs::is_character_file(device));
    EXPECT_EQ(entries(dir_), 1u);
}

TEST_F(Cli, DashWritesToStandardOutput) {
    // Texture urls of standard output are relative to the current directory, those of a file
    // to its folder: from the file's folder both name the images alike.
    const std::string town = quote(kSource + "/" + kTown);
    const std::string here = "cd " + quote(dir_.string()) + " && " + quote(kTool) + " -q ";
    ASSERT_EQ(shell(here + "-o town.wrl " + town).status, 0);
    const Outcome vrml = shell(here + "-o - " + town);
    EXPECT_EQ(vrml.status, 0) << vrml.err;
    EXPECT_EQ(vrml.err, "");
    EXPECT_TRUE(vrml.out == readFile(path("town.wrl"))) << vrml.out.size() << " bytes";
    // The log still goes to standard error.
    const Outcome logged = tool({"-o", "-", kTown});
    EXPECT_EQ(logged.status, 0);
    EXPECT_GT(logged.out.size(), 1000u);
    EXPECT_NE(logged.err.find("Saved as VRML to -\n(normal, textured, triangulated, with roads)\n"),
              std::string::npos)
        << logged.err;

    const Outcome picture = tool({"-q", "--png", "-", "--size", "32x24", kTown});
    EXPECT_EQ(picture.status, 0) << picture.err;
    EXPECT_EQ(picture.out.substr(0, 8), kPngSignature);
    // Nothing named "-" appears where the tool ran.
    EXPECT_FALSE(fs::exists(fs::path(kSource) / "-"));
    EXPECT_EQ(entries(dir_), 1u);
}

TEST_F(Cli, ReadOnlyFilesAreRefused) {
    const auto readOnly = fs::perms::owner_read | fs::perms::group_read;
    std::ofstream(path("town.wrl")) << "old";
    std::ofstream(path("town.png")) << "old";
    fs::permissions(path("town.wrl"), readOnly);
    fs::permissions(path("town.png"), readOnly);
    const Outcome r =
        tool({"-q", "-o", path("town.wrl"), "--png", path("town.png"), "--size", "32x24", kTown});
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.err, "ERROR  : Could not save VRML to " + path("town.wrl") +
                         ": the file is read-only\nERROR  : Could not save the picture " +
                         path("town.png") + ": the file is read-only\n");
    for (const char* leaf : {"town.wrl", "town.png"}) {
        EXPECT_EQ(readFile(path(leaf)), "old") << leaf;
        EXPECT_EQ(fs::status(path(leaf)).permissions(), readOnly) << leaf;
    }
    EXPECT_EQ(entries(dir_), 2u);
}

// The files of one export change together. A signal while the files are synced, a move that
// fails and a target that cannot be replaced leave every previous file of the export as it was
// and nothing beside them. strace puts the signal or the failure exactly where it matters.
struct TogetherCase {
    const char* name;
    const char* output;             // the export's main file
    std::vector<const char*> files; // what it writes, the main file last
    std::string strace;             // the injection, or "" for an immutable main file
    int status;
    const char* message; // the error line's reason, or "" for none
};

void PrintTo(const TogetherCase& c, std::ostream* os) {
    *os << c.name;
}

class CliTogether : public Cli, public testing::WithParamInterface<TogetherCase> {};

TEST_P(CliTogether, KeepsThePreviousFilesOfTheExport) {
    const TogetherCase& c = GetParam();
    if (!c.strace.empty() && std::system("strace -V >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "strace is not installed";
    const fs::path folder = dir_ / "out";
    fs::create_directories(folder);
    ASSERT_EQ(tool({"-q", "-o", (folder / c.output).string(), kTown}).status, 0);
    std::map<std::string, std::string> before;
    for (const char* leaf : c.files)
        before[leaf] = readFile(folder / leaf);
    const std::string main = (folder / c.output).string();
    Outcome r;
    if (c.strace.empty()) {
        if (std::system(("chattr +i " + quote(main) + " 2>/dev/null").c_str()) != 0)
            GTEST_SKIP() << "this file system keeps no immutable files";
        r = tool({"-q", "-o", main, kMetropolis});
        std::system(("chattr -i " + quote(main)).c_str());
    } else {
        // LeakSanitizer cannot run under ptrace: a sanitized build checks its leaks elsewhere.
        std::string command = "ASAN_OPTIONS=detect_leaks=0 strace -f -o /dev/null -e " + c.strace +
                              " " + quote(kTool) + " -q -o " + quote(main) + " " +
                              quote(kMetropolis);
        r = shell(command);
    }
    EXPECT_EQ(r.status, c.status) << r.err;
    const std::string message =
        *c.message == '\0' ? ""
                           : "ERROR  : Could not save " +
                                 std::string(std::strstr(c.output, ".obj") ? "OBJ" : "glTF") +
                                 " to " + main + ": " + c.message + "\n";
    EXPECT_EQ(r.err, message);
    for (const auto& [leaf, text] : before)
        EXPECT_TRUE(readFile(folder / leaf) == text) << leaf << " changed";
    EXPECT_EQ(entries(folder), c.files.size());
}

INSTANTIATE_TEST_SUITE_P(Cli, CliTogether,
                         testing::Values(TogetherCase{"gltf_SIGINT",
                                                      "city.gltf",
                                                      {"city.bin", "city.gltf"},
                                                      "inject=fsync:signal=SIGINT:when=2",
                                                      130,
                                                      ""},
                                         TogetherCase{"gltf_SIGTERM",
                                                      "city.gltf",
                                                      {"city.bin", "city.gltf"},
                                                      "inject=fsync:signal=SIGTERM:when=2",
                                                      143,
                                                      ""},
                                         TogetherCase{"obj_SIGHUP",
                                                      "city.obj",
                                                      {"city.mtl", "city.obj"},
                                                      "inject=fsync:signal=SIGHUP:when=2",
                                                      129,
                                                      ""},
                                         TogetherCase{"obj_SIGINT",
                                                      "city.obj",
                                                      {"city.mtl", "city.obj"},
                                                      "inject=fsync:signal=SIGINT:when=2",
                                                      130,
                                                      ""},
                                         TogetherCase{"gltf_second_move_fails",
                                                      "city.gltf",
                                                      {"city.bin", "city.gltf"},
                                                      "inject=renameat2:error=EPERM:when=2",
                                                      3,
                                                      "Operation not permitted"},
                                         TogetherCase{"obj_second_move_fails",
                                                      "city.obj",
                                                      {"city.mtl", "city.obj"},
                                                      "inject=renameat2:error=EIO:when=2",
                                                      3,
                                                      "Input/output error"},
                                         TogetherCase{"gltf_immutable",
                                                      "city.gltf",
                                                      {"city.bin", "city.gltf"},
                                                      "",
                                                      3,
                                                      "Operation not permitted"}),
                         [](const testing::TestParamInfo<TogetherCase>& info) {
                             return std::string(info.param.name);
                         });

// Every file of a tileset folder, by its path inside the folder.
std::map<std::string, std::string> folderFiles(const fs::path& folder) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        if (entry.is_regular_file())
            files[fs::relative(entry.path(), folder).string()] = readFile(entry.path());
    return files;
}

// A tileset is written while its city is generated and takes its folder's place only whole:
// a signal while its tiles are written or synced, a full disk and a failed swap leave the
// previous tileset byte for byte and nothing beside it. The disk fills where a tile is created,
// not at a write: the sanitizers' own writes would count among the process's.
struct TilesetCase {
    const char* name;
    std::string strace; // the injection
    int status;
    const char* reason; // how the error line ends, or "" for no error line
};

void PrintTo(const TilesetCase& c, std::ostream* os) {
    *os << c.name;
}

class CliTileset : public Cli, public testing::WithParamInterface<TilesetCase> {};

TEST_P(CliTileset, KeepsThePreviousTileset) {
    const TilesetCase& c = GetParam();
    if (std::system("strace -V >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "strace is not installed";
    const fs::path out = dir_ / "out";
    fs::create_directories(out);
    const std::string tileset = (out / "city" / "tileset.json").string();
    ASSERT_EQ(tool({"-q", "-o", tileset, kTown}).status, 0);
    const std::map<std::string, std::string> before = folderFiles(out / "city");
    ASSERT_GT(before.size(), 3u);
    const Outcome r =
        shell("ASAN_OPTIONS=detect_leaks=0 strace -f -o /dev/null -e " + c.strace + " " +
              quote(kTool) + " -q -o " + quote(tileset) + " " + quote(kMetropolis));
    EXPECT_EQ(r.status, c.status) << r.err;
    // The reason names the file that could not be written, which may be any tile.
    const std::string start = "ERROR  : Could not save 3D Tiles to " + tileset + ": ";
    const std::string end = std::string(c.reason) + "\n";
    if (*c.reason == '\0') {
        EXPECT_EQ(r.err, "");
    } else {
        EXPECT_EQ(r.err.substr(0, start.size()), start) << r.err;
        EXPECT_TRUE(r.err.size() >= end.size() &&
                    r.err.compare(r.err.size() - end.size(), end.size(), end) == 0)
            << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    }
    EXPECT_TRUE(folderFiles(out / "city") == before) << "the previous tileset changed";
    EXPECT_EQ(entries(out), 1u) << "something was left beside the tileset";
}

INSTANTIATE_TEST_SUITE_P(
    Cli, CliTileset,
    testing::Values(
        TilesetCase{"SIGINT_while_writing_tiles", "inject=openat:signal=SIGINT:when=100", 130, ""},
        TilesetCase{"SIGTERM_while_writing_tiles", "inject=openat:signal=SIGTERM:when=180", 143,
                    ""},
        TilesetCase{"SIGHUP_while_syncing", "inject=syncfs:signal=SIGHUP", 129, ""},
        TilesetCase{"full_disk", "inject=openat:error=ENOSPC:when=100", 3,
                    "No space left on device"},
        TilesetCase{"full_disk_at_the_sync", "inject=syncfs:error=ENOSPC", 3,
                    "No space left on device"},
        TilesetCase{"swap_fails", "inject=renameat2:error=EIO", 3, "Input/output error"}),
    [](const testing::TestParamInfo<TilesetCase>& info) { return std::string(info.param.name); });

// Streamed while generated or written from the city held (as with a picture, and as the window
// writes it), a tileset is the same; a folder of other things is refused and left alone.
TEST_F(Cli, ATilesetIsTheSameStreamedOrHeldAndOnlyReplacesATileset) {
    const std::string streamed = path("streamed/tileset.json");
    const std::string held = path("held/tileset.json");
    ASSERT_EQ(tool({"-q", "-n", "2", "-o", streamed, kTown}).status, 0);
    const Outcome r =
        tool({"-q", "-n", "2", "-o", held, "--png", path("town.png"), "--size", "32x24", kTown});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(folderFiles(dir_ / "streamed") == folderFiles(dir_ / "held"));

    fs::create_directories(dir_ / "notes");
    std::ofstream(dir_ / "notes" / "todo.txt") << "keep me";
    const Outcome refused = tool({"-q", "-o", path("notes/tileset.json"), kTown});
    EXPECT_EQ(refused.status, 3);
    EXPECT_EQ(refused.err, "ERROR  : Could not save 3D Tiles to " + path("notes/tileset.json") +
                               ": " + path("notes") + " is not a tileset folder\n");
    EXPECT_EQ(readFile(dir_ / "notes" / "todo.txt"), "keep me");
    EXPECT_EQ(entries(dir_ / "notes"), 1u);
}

// The export and the picture of one run change together: an export that fails keeps the
// previous picture too.
TEST_F(Cli, APictureIsNotReplacedWhenTheExportFails) {
    std::ofstream(path("town.wrl")) << "old";
    fs::permissions(path("town.wrl"), fs::perms::owner_read);
    std::ofstream(path("town.png")) << "old";
    const Outcome r =
        tool({"-q", "-o", path("town.wrl"), "--png", path("town.png"), "--size", "32x24", kTown});
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.err,
              "ERROR  : Could not save VRML to " + path("town.wrl") + ": the file is read-only\n");
    EXPECT_EQ(readFile(path("town.png")), "old");
    EXPECT_EQ(entries(dir_), 2u);
}

// The edges of writing files: each case's exit status and its one error line, exactly.
TEST_F(Cli, WritingFilesSaysWhatWentWrong) {
    ASSERT_EQ(::mkfifo(path("pipe.bin").c_str(), 0644), 0);
    ASSERT_EQ(::mkfifo(path("pipe.mtl").c_str(), 0644), 0);
    fs::create_directories(path("folder.gltf"));
    const std::string name250 = std::string(246, 'n') + ".wrl";
    const std::string name238 = std::string(238, 'g') + ".gltf";
    fs::create_symlink("linked/target.wrl", path("dangling.wrl"));
    fs::create_directories(path("linked"));
    const bool full = fs::exists("/dev/full");
    struct Case {
        std::string name;
        std::vector<std::string> args;
        int status;
        std::string err;
    };
    std::vector<Case> cases = {
        {"a .bin that is a pipe",
         {"-o", path("pipe.gltf")},
         3,
         "ERROR  : Could not save glTF to " + path("pipe.gltf") + ": " + path("pipe.bin") +
             " is not a regular file\n"},
        {"an .mtl that is a pipe",
         {"-o", path("pipe.obj")},
         3,
         "ERROR  : Could not save OBJ to " + path("pipe.obj") + ": " + path("pipe.mtl") +
             " is not a regular file\n"},
        {"a folder as .gltf",
         {"-o", path("folder.gltf")},
         3,
         "ERROR  : Could not save glTF to " + path("folder.gltf") + ": Is a directory\n"},
        {"a name of 250 bytes", {"-o", path(name250)}, 0, ""},
        {"a .gltf of 238 bytes", {"-o", path(name238)}, 0, ""},
        {"a dangling link", {"-o", path("dangling.wrl")}, 0, ""},
    };
    if (full) {
        cases.push_back({"a full disk",
                         {"-o", "/dev/full"},
                         3,
                         "ERROR  : Could not save VRML to /dev/full: No space left on device\n"});
        cases.push_back(
            {"a full disk for the picture",
             {"--png", "/dev/full"},
             3,
             "ERROR  : Could not save the picture /dev/full: No space left on device\n"});
    }
    for (Case& c : cases) {
        c.args.insert(c.args.begin(), "-q");
        c.args.push_back(kTown);
        // A pipe opened for writing would wait for a reader: the tool must not open it.
        const Outcome r = tool(c.args, "timeout 60");
        EXPECT_EQ(r.status, c.status) << c.name;
        EXPECT_EQ(r.err, c.err) << c.name;
    }
    EXPECT_TRUE(fs::is_fifo(path("pipe.bin")));
    EXPECT_TRUE(fs::is_fifo(path("pipe.mtl")));
    EXPECT_TRUE(fs::is_regular_file(path(name250)));
    EXPECT_TRUE(fs::is_regular_file(path(name238)));
    EXPECT_TRUE(fs::is_regular_file(path(std::string(238, 'g') + ".bin")));
    EXPECT_TRUE(fs::is_symlink(path("dangling.wrl")));
    EXPECT_EQ(readFile(path("linked/target.wrl")).substr(0, 15), "#VRML V2.0 utf8");
    // Nothing else was left behind.
    EXPECT_EQ(entries(dir_), 8u);
}

// The construction file of a city big enough that its export runs for a few seconds, made
// beside the test from the million-cell downtown at a quarter of its size.
fs::path writeBigCity(const fs::path& folder) {
    std::string text = readFile(kSource + "/examples/downtown/downtown-1024.xml");
    auto replaceAll = [&](const std::string& from, const std::string& to) {
        std::size_t count = 0;
        for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size()) {
            text.replace(at, from.size(), to);
            ++count;
        }
        return count;
    };
    EXPECT_EQ(
        replaceAll(R"(numCellsX="1024" numCellsY="1024")", R"(numCellsX="512" numCellsY="512")"),
        1u);
    EXPECT_GT(
        replaceAll(R"(imageURL="../textures/)", R"(imageURL=")" + kSource + "/examples/textures/"),
        0u);
    const fs::path city = folder / "downtown-512.xml";
    std::ofstream(city, std::ios::binary) << text;
    return city;
}

// Whether the process has a file open in the folder (its output, named or not).
bool writesInto(pid_t pid, const fs::path& folder) {
    std::error_code ec;
    const std::string prefix = folder.string() + "/";
    for (const auto& fd : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec)) {
        const fs::path target = fs::read_symlink(fd.path(), ec);
        if (!ec && target.string().rfind(prefix, 0) == 0)
            return true;
    }
    return false;
}

class CliInterrupt : public Cli, public testing::WithParamInterface<int> {};

// A signal in the middle of an export ends the tool with 128 + its number and leaves the folder as
// it was: the previous file byte for byte, nothing beside it.
TEST_P(CliInterrupt, LeavesThePreviousFileAndNothingElse) {
    const int signal = GetParam();
    const fs::path city = writeBigCity(dir_);
    const fs::path folder = dir_ / "out";
    fs::create_directories(folder);
    const fs::path target = folder / "downtown.wrl";
    std::ofstream(target, std::ios::binary) << "previous export\r\n";
    fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    const std::string err = path("stderr.txt");

    const pid_t pid =
        testsupport::startTool(kTool, {"-q", "-o", target.string(), city.string()}, err, kSource);
    ASSERT_GE(pid, 0) << std::strerror(errno);
    // Once the output is open the export has begun; a moment later it is well under way and,
    // even on a fast machine, seconds from its end.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    auto running = [pid] {
        siginfo_t info{};
        return ::waitid(P_PID, id_t(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
               info.si_pid == 0;
    };
    bool began = false;
    while (!(began = writesInto(pid, folder)) && running() &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (began)
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ::kill(pid, signal);
    int raw = 0;
    const auto killDeadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (::waitpid(pid, &raw, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > killDeadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &raw, 0);
            ADD_FAILURE() << "the tool did not end after the signal";
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(began) << "the export never began: " << readFile(err);
    EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 128 + signal)
        << (WIFSIGNALED(raw) ? "killed by signal " + std::to_string(WTERMSIG(raw))
                             : "exit status " + std::to_string(WEXITSTATUS(raw)));
    EXPECT_EQ(readFile(err), "");
    EXPECT_EQ(readFile(target), "previous export\r\n");
    EXPECT_EQ(fs::status(target).permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(entries(folder), 1u);
}

INSTANTIATE_TEST_SUITE_P(Cli, CliInterrupt, testing::Values(SIGINT, SIGTERM, SIGHUP),
                         [](const testing::TestParamInfo<int>& info) {
                             return std::string(sigabbrev_np(info.param));
                         });

// Where the filesystem has no unnamed files, the named temporary is removed by the handler.
TEST_F(Cli, InterruptRemovesNamedTemporaryFiles) {
    const fs::path target = dir_ / "city.wrl";
    std::ofstream(target) << "old";
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        for (auto temporary : {ReplacingFile::Temporary::named, ReplacingFile::Temporary::unnamed})
            EXPECT_EXIT(
                {
                    std::signal(signal, SIG_DFL);
                    installInterruptHandlers();
                    ReplacingFile file(target.string(), temporary);
                    std::fputs("new and unfinished", file.stream());
                    std::fflush(file.stream());
                    if (entries(dir_) == 2 || temporary == ReplacingFile::Temporary::unnamed)
                        std::raise(signal);
                    std::_Exit(1);
                },
                testing::ExitedWithCode(128 + signal), "")
                << signal;
        EXPECT_EQ(readFile(target), "old");
        EXPECT_EQ(entries(dir_), 1u);
    }
}

} // namespace
} // namespace ombrel
