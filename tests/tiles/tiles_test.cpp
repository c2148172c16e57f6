// Tilesets as their readers see them. The bundled examples are written as 3D Tiles by
// ombrel-export, then checked against the tileset rules (tools/tiles/check-tileset.js), every
// tile through the Khronos glTF validator, and opened in CesiumJS and in three.js's
// 3d-tiles-renderer in headless Chromium (tests/tiles/read-tiles.js): no failed tile, no request
// leaving 127.0.0.1, and picking known buildings near and far returns their column and row.
// The rule checker itself is tried on a hand-made tileset (tests/tiles/make-fixture.js), whole
// and spoilt one rule at a time. All of these readers are installed by scripts/setup; a test
// that misses one skips, saying which.
#include "tests/support/Shell.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>

namespace ombrel {
namespace {

namespace fs = std::filesystem;

const std::string kSource = OMBREL_SOURCE_DIR;
const std::string kTool = std::string(OMBREL_BIN_DIR) + "/ombrel-export";
const std::string kHere = OMBREL_TEST_DATA_DIR;
const std::string kChecker = kSource + "/tools/tiles/check-tileset.js";
const std::string kValidator = kSource + "/tools/tiles/validate-tiles.js";
const std::string kFixture = kHere + "/make-fixture.js";
const std::string kDriver = kHere + "/read-tiles.js";

using Ran = testsupport::ShellResult;
using testsupport::shellQuote;

Ran run(const std::string& command, const fs::path& scratch) {
    return testsupport::runShell(command, kSource, scratch);
}

// The number after "key=" in a tool's summary line; -1 when it is not there.
long number(const std::string& report, const std::string& key) {
    std::smatch m;
    if (!std::regex_search(report, m, std::regex(key + "=([0-9]+)")))
        return -1;
    return std::stol(m[1]);
}

// Why the readers cannot run here (empty when they can): node, the npm packages in tools/ and,
// when `browser`, Chromium.
std::string missingReaders(bool browser) {
    if (run("command -v node", testing::TempDir()).status != 0)
        return "node is not installed (scripts/setup installs it)";
    for (const char* package :
         {"gltf-validator", "puppeteer-core", "cesium", "3d-tiles-renderer", "three"})
        if (!fs::exists(kSource + "/tools/node_modules/" + package + "/package.json"))
            return std::string(package) + " is not installed in tools/ (scripts/setup installs it)";
    if (browser) {
        const char* chromium = std::getenv("CHROMIUM");
        if (!(chromium && fs::exists(chromium)) && !fs::exists("/usr/bin/chromium") &&
            !fs::exists("/usr/bin/chromium-browser"))
            return "chromium is not installed (scripts/setup installs it)";
    }
    return "";
}

// The hand-made tileset, whole or with one rule broken, in a folder of the test's scratch.
fs::path handMade(const std::string& spoil) {
    const fs::path dir = fs::path(testing::TempDir()) / ("hand-made" + spoil);
    const Ran made = run("node " + shellQuote(kFixture) + " " + shellQuote(dir.string()) + " " +
                             shellQuote(spoil),
                         testing::TempDir());
    EXPECT_EQ(made.status, 0) << made.out;
    return dir;
}

TEST(RuleChecker, AcceptsTheHandMadeTileset) {
    if (const std::string why = missingReaders(false); !why.empty())
        GTEST_SKIP() << why;
    const fs::path dir = handMade("");
    const Ran checked = run("node " + shellQuote(kChecker) + " " + shellQuote(dir.string()), dir);
    EXPECT_EQ(checked.status, 0) << checked.out;
    EXPECT_EQ(checked.out, "tiles=5 contents=5 subtrees=1 levels=2 problems=0\n");
    const Ran valid = run("node " + shellQuote(kValidator) + " " + shellQuote(dir.string()), dir);
    EXPECT_EQ(valid.status, 0) << valid.out;
    EXPECT_EQ(valid.out, "files=5 errors=0 warnings=0\n");
    // The leaves of the hand-made tileset keep the halved error of implicit tiling.
    const Ran strict =
        run("node " + shellQuote(kChecker) + " --leaf-error-zero " + shellQuote(dir.string()), dir);
    EXPECT_EQ(strict.status, 1) << strict.out;
    EXPECT_NE(strict.out.find("tile 1.1.1: a leaf's geometric error is 20, not 0\n"),
              std::string::npos)
        << strict.out;
}

struct SpoilCase {
    const char* spoil;
    const char* line; // the first problem the checker reports
};

void PrintTo(const SpoilCase& c, std::ostream* os) {
    *os << c.spoil;
}

class RuleCheckerRefuses : public testing::TestWithParam<SpoilCase> {};

TEST_P(RuleCheckerRefuses, ATilesetThatBreaksARule) {
    if (const std::string why = missingReaders(false); !why.empty())
        GTEST_SKIP() << why;
    const fs::path dir = handMade(GetParam().spoil);
    const Ran checked = run("node " + shellQuote(kChecker) + " " + shellQuote(dir.string()), dir);
    EXPECT_EQ(checked.status, 1) << checked.out;
    EXPECT_EQ(checked.out.substr(0, checked.out.find('\n') + 1),
              std::string(GetParam().line) + "\n")
        << checked.out;
}

INSTANTIATE_TEST_SUITE_P(
    HandMade, RuleCheckerRefuses,
    testing::Values(
        SpoilCase{"no-refine",
                  "tileset.json root: refine is missing; the root must give REPLACE or ADD"},
        SpoilCase{"error-grows",
                  "tileset.json root: geometric error 250 is above the tileset's 200"},
        SpoilCase{"subtree-magic", "subtrees/0.0.0.subtree: magic is \"sbut\", not \"subt\""},
        SpoilCase{"subtree-length",
                  "subtrees/0.0.0.subtree: header says 224 bytes of JSON and 16 of binary, the "
                  "file holds 232 after the header"},
        SpoilCase{"availability", "subtrees/0.0.0.subtree: its root tile is unavailable: a "
                                  "subtree exists only under an available tile"},
        SpoilCase{"outside-box", "tile 0.0.0: a vertex of tiles/0/0/0.glb lies 13.7500 outside "
                                 "its tile box (4.000, 4.000, 0.000)"}),
    [](const testing::TestParamInfo<SpoilCase>& info) {
        std::string name = info.param.spoil;
        for (char& ch : name)
            if (ch == '-')
                ch = '_';
        return name;
    });

// Writes the example's tileset with ombrel-export into the test's scratch; returns its folder.
fs::path exportTileset(const std::string& example) {
    const fs::path dir = fs::path(testing::TempDir()) / example;
    const Ran r = run(shellQuote(kTool) + " -q -o " + shellQuote((dir / "tileset.json").string()) +
                          " " + shellQuote("examples/" + example + "/" + example + ".xml"),
                      testing::TempDir());
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(fs::exists(dir / "tileset.json")) << r.out;
    return dir;
}

class TilesetRules : public testing::TestWithParam<const char*> {};

// tileset.json and every subtree follow the rules (geometric errors 0 at the leaves), every
// vertex lies in its tile's box, and the validator finds neither error nor warning in any tile.
TEST_P(TilesetRules, AreFollowedByTheExample) {
    if (const std::string why = missingReaders(false); !why.empty())
        GTEST_SKIP() << why;
    const fs::path dir = exportTileset(GetParam());
    ASSERT_FALSE(HasFailure());
    const Ran checked =
        run("node " + shellQuote(kChecker) + " --leaf-error-zero " + shellQuote(dir.string()), dir);
    EXPECT_EQ(checked.status, 0) << checked.out;
    EXPECT_EQ(number(checked.out, "problems"), 0) << checked.out;
    EXPECT_GE(number(checked.out, "levels"), 2) << checked.out;
    const Ran valid = run("node " + shellQuote(kValidator) + " " + shellQuote(dir.string()), dir);
    EXPECT_EQ(valid.status, 0) << valid.out;
    EXPECT_GT(number(valid.out, "files"), 0) << valid.out;
    EXPECT_EQ(number(valid.out, "files"), number(checked.out, "contents")) << valid.out;
    EXPECT_EQ(number(valid.out, "errors"), 0) << valid.out;
    EXPECT_EQ(number(valid.out, "warnings"), 0) << valid.out;
}

INSTANTIATE_TEST_SUITE_P(Examples, TilesetRules, testing::Values("town", "downtown", "metropolis"),
                         [](const testing::TestParamInfo<const char*>& info) {
                             return std::string(info.param);
                         });

struct ReaderCase {
    const char* reader; // read-tiles.js's name for it
    const char* example;
};

void PrintTo(const ReaderCase& c, std::ostream* os) {
    *os << c.reader << " " << c.example;
}

class TilesInReaders : public testing::TestWithParam<ReaderCase> {};

// The example's tileset loads in the reader with no failed tile and no request outside
// 127.0.0.1, and picks of known buildings return their column and row near and far.
TEST_P(TilesInReaders, LoadAndPickTheExample) {
    if (const std::string why = missingReaders(true); !why.empty())
        GTEST_SKIP() << why;
    const fs::path dir = exportTileset(GetParam().example);
    ASSERT_FALSE(HasFailure());
    const Ran read = run("node " + shellQuote(kDriver) + " " + GetParam().reader + " " +
                             shellQuote(dir.string()),
                         dir);
    EXPECT_EQ(read.status, 0) << read.out;
    EXPECT_EQ(read.out.find("FAIL"), std::string::npos) << read.out;
    EXPECT_NE(read.out.find("0 failed tiles, 0 requests outside 127.0.0.1"), std::string::npos)
        << read.out;
}

INSTANTIATE_TEST_SUITE_P(
    Examples, TilesInReaders,
    testing::Values(ReaderCase{"cesium", "town"}, ReaderCase{"cesium", "downtown"},
                    ReaderCase{"cesium", "metropolis"}, ReaderCase{"three", "town"},
                    ReaderCase{"three", "downtown"}, ReaderCase{"three", "metropolis"}),
    [](const testing::TestParamInfo<ReaderCase>& info) {
        return std::string(info.param.reader) + "_" + info.param.example;
    });

// A reader that misses a tile says so: the drivers do see failures.
TEST(TilesInReadersOfHandMade, CesiumReportsAMissingTile) {
    if (const std::string why = missingReaders(true); !why.empty())
        GTEST_SKIP() << why;
    const fs::path dir = handMade("");
    fs::remove(dir / "tiles/0/0/0.glb");
    const Ran read =
        run("node " + shellQuote(kDriver) + " cesium " + shellQuote(dir.string()), dir);
    EXPECT_EQ(read.status, 1) << read.out;
    EXPECT_NE(read.out.find("FAIL failed tile "), std::string::npos) << read.out;
}

} // namespace
} // namespace ombrel
