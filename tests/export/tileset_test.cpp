// The 3D Tiles export: the tileset of each bundled example read back (tileset.json, every
// subtree, every tile), its leaves against the .glb export of the same city, the glTF validator
// on every tile, the frame on the globe, and the batch tool's options.
#include "base/Log.h"
#include "base/Version.h"
#include "config/CitySession.h"
#include "export/CityExport.h"
#include "export/TilesetWriter.h"

#include "tests/support/FreshContext.h"
#include "tests/support/Json.h"
#include "tests/support/Shell.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <tuple>

namespace ombrel {
namespace {

namespace fs = std::filesystem;
using testsupport::Json;
using testsupport::readFile;

const std::string kSource = OMBREL_SOURCE_DIR;
const std::string kTool = std::string(OMBREL_BIN_DIR) + "/ombrel-export";

template <class T> T at(const std::string& bytes, std::size_t offset) {
    T value{};
    if (offset + sizeof(T) <= bytes.size())
        std::memcpy(&value, bytes.data() + offset, sizeof(T));
    return value;
}

// A binary glTF: its JSON and its binary chunk.
struct Glb {
    Json json;
    std::string bin;
};

Glb readGlb(const fs::path& path) {
    const std::string bytes = readFile(path);
    Glb glb;
    if (bytes.size() < 20 || at<std::uint32_t>(bytes, 0) != 0x46546C67)
        return glb;
    const auto jsonLength = at<std::uint32_t>(bytes, 12);
    glb.json = Json::parse(std::string_view(bytes).substr(20, jsonLength));
    if (20 + jsonLength + 8 <= bytes.size())
        glb.bin = bytes.substr(20 + jsonLength + 8, at<std::uint32_t>(bytes, 20 + jsonLength));
    return glb;
}

// Element `i` of an accessor, as floats (positions) or as an index.
struct Accessors {
    const Glb& glb;
    std::size_t start(const Json& accessor, std::size_t i, std::size_t size) const {
        const Json& view = glb.json["bufferViews"][accessor["bufferView"].count()];
        const std::size_t stride = view.has("byteStride") ? view["byteStride"].count() : size;
        return view["byteOffset"].count() + accessor["byteOffset"].count() + i * stride;
    }
    Vec3 point(const Json& accessor, std::size_t i) const {
        const std::size_t s = start(accessor, i, 12);
        return {at<float>(glb.bin, s), at<float>(glb.bin, s + 4), at<float>(glb.bin, s + 8)};
    }
    float scalar(const Json& accessor, std::size_t i) const {
        return at<float>(glb.bin, start(accessor, i, 4));
    }
    std::uint32_t index(const Json& accessor, std::size_t i) const {
        const bool shorts = accessor["componentType"].count() == 5123;
        const std::size_t s = start(accessor, i, shorts ? 2 : 4);
        return shorts ? at<std::uint16_t>(glb.bin, s) : at<std::uint32_t>(glb.bin, s);
    }
};

using Triangle = std::array<float, 9>;

// Every triangle of every primitive, corner positions as the file holds them.
std::multiset<Triangle> trianglesOf(const Glb& glb) {
    std::multiset<Triangle> out;
    const Accessors a{glb};
    for (const Json& mesh : glb.json["meshes"].items())
        for (const Json& p : mesh["primitives"].items()) {
            const Json& position = glb.json["accessors"][p["attributes"]["POSITION"].count()];
            const Json& indices = glb.json["accessors"][p["indices"].count()];
            for (std::size_t i = 0; i + 2 < indices["count"].count(); i += 3) {
                Triangle t{};
                for (std::size_t k = 0; k < 3; ++k) {
                    const Vec3 v = a.point(position, a.index(indices, i + k));
                    t[3 * k] = v.x;
                    t[3 * k + 1] = v.y;
                    t[3 * k + 2] = v.z;
                }
                out.insert(t);
            }
        }
    return out;
}

// One tile as the subtrees tell it.
struct TileFacts {
    std::array<double, 12> box{};
    double error = 0.0;
    bool content = false;
};
using TileKey = std::array<std::uint32_t, 3>; // level, x, y

std::uint64_t morton(std::uint32_t x, std::uint32_t y) {
    std::uint64_t m = 0;
    for (int b = 0; b < 16; ++b)
        m |= (std::uint64_t((x >> b) & 1u) << (2 * b)) |
             (std::uint64_t((y >> b) & 1u) << (2 * b + 1));
    return m;
}

// Reads the subtree at (level, x, y) and those below it into `tiles`; failures are the test's.
void readSubtrees(const fs::path& dir, std::uint32_t levels, std::uint32_t subtreeLevels,
                  std::uint32_t level, std::uint32_t x, std::uint32_t y,
                  std::map<TileKey, TileFacts>& tiles) {
    const std::string name =
        std::to_string(level) + "." + std::to_string(x) + "." + std::to_string(y) + ".subtree";
    const std::string bytes = readFile(dir / "subtrees" / name);
    ASSERT_GE(bytes.size(), 24u) << name;
    EXPECT_EQ(bytes.substr(0, 4), "subt") << name;
    EXPECT_EQ(at<std::uint32_t>(bytes, 4), 1u) << name;
    const auto jsonLength = at<std::uint64_t>(bytes, 8);
    const auto binLength = at<std::uint64_t>(bytes, 16);
    ASSERT_EQ(bytes.size(), 24 + jsonLength + binLength) << name;
    EXPECT_EQ(jsonLength % 8, 0u) << name;
    const Json json = Json::parse(std::string_view(bytes).substr(24, jsonLength));
    ASSERT_TRUE(json.ok()) << name;
    const std::string bin = bytes.substr(24 + jsonLength);
    if (binLength > 0) {
        EXPECT_EQ(json["buffers"][0]["byteLength"].count(), binLength) << name;
    }
    auto bit = [&](const Json& availability, std::uint64_t i) {
        if (availability.has("constant"))
            return availability["constant"].count() == 1;
        const Json& view = json["bufferViews"][availability["bitstream"].count()];
        return ((std::uint8_t(bin[view["byteOffset"].count() + i / 8]) >> (i % 8)) & 1) == 1;
    };
    auto ones = [&](const Json& availability, std::uint64_t total) {
        std::uint64_t n = 0;
        for (std::uint64_t i = 0; i < total; ++i)
            n += bit(availability, i);
        return n;
    };
    const Json& table = json["propertyTables"][json["tileMetadata"].count()];
    const Json& boxView = json["bufferViews"][table["properties"]["boundingBox"]["values"].count()];
    const Json& errorView =
        json["bufferViews"][table["properties"]["geometricError"]["values"].count()];
    std::uint64_t row = 0, levelStart = 0;
    for (std::uint32_t d = 0; d < subtreeLevels; ++d) {
        const std::uint32_t side = 1u << d;
        std::vector<std::pair<std::uint64_t, std::array<std::uint32_t, 2>>> order;
        for (std::uint32_t ty = 0; ty < side; ++ty)
            for (std::uint32_t tx = 0; tx < side; ++tx)
                order.push_back({morton(tx, ty), {tx, ty}});
        std::sort(order.begin(), order.end());
        for (const auto& [m, xy] : order) {
            if (!bit(json["tileAvailability"], levelStart + m))
                continue;
            EXPECT_LT(level + d, levels) << name << ": a tile below the leaves";
            TileFacts facts;
            for (std::size_t k = 0; k < 12; ++k)
                facts.box[k] = at<double>(bin, boxView["byteOffset"].count() + (row * 12 + k) * 8);
            facts.error = at<double>(bin, errorView["byteOffset"].count() + row * 8);
            facts.content = bit(json["contentAvailability"][0], levelStart + m);
            tiles[{level + d, (x << d) + xy[0], (y << d) + xy[1]}] = facts;
            ++row;
        }
        levelStart += std::uint64_t(side) * side;
    }
    EXPECT_EQ(table["count"].count(), row) << name;
    for (const char* field : {"tileAvailability", "childSubtreeAvailability"})
        if (json[field].has("availableCount")) {
            EXPECT_EQ(json[field]["availableCount"].count(),
                      ones(json[field], field[0] == 't' ? levelStart : 1ull << (2 * subtreeLevels)))
                << name << " " << field;
        }
    const std::uint32_t side = 1u << subtreeLevels;
    for (std::uint32_t ty = 0; ty < side; ++ty)
        for (std::uint32_t tx = 0; tx < side; ++tx)
            if (bit(json["childSubtreeAvailability"], morton(tx, ty)))
                readSubtrees(dir, levels, subtreeLevels, level + subtreeLevels,
                             (x << subtreeLevels) + tx, (y << subtreeLevels) + ty, tiles);
}

// What every tileset must hold, whatever the city.
struct TilesetCase {
    const char* example;
    CollapseMode mode;
    std::uint32_t leafCells;     // 0: the default
    std::uint32_t subtreeLevels; // 0: the default
    bool roads;
};

void PrintTo(const TilesetCase& c, std::ostream* os) {
    *os << c.example << " mode " << int(c.mode) << " leaf " << c.leafCells << " subtree "
        << c.subtreeLevels << (c.roads ? " roads" : " no roads");
}

class Tileset : public testing::TestWithParam<TilesetCase> {
protected:
    void SetUp() override {
        testsupport::useFreshGenerationContext();
        previous_ = fs::current_path();
        fs::current_path(kSource);
        dir_ = fs::path(testing::TempDir()) / "tileset";
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        const TilesetCase& c = GetParam();
        const std::string file = std::string("examples/") + c.example + "/" + c.example + ".xml";
        ASSERT_EQ(session_.load(file, 2048), CitySession::LoadResult::loaded) << log_.text();
        ASSERT_TRUE(session_.generate()) << log_.text();
        record_.constructionFile = file;
        record_.seed = session_.seed();
        record_.minCorner = session_.minCorner();
        record_.maxCorner = session_.maxCorner();
        record_.streets = session_.factory().streetGrid();
        options_.exportOptions.collapseMode = c.mode;
        options_.exportOptions.saveRoads = c.roads;
        options_.leafCells = c.leafCells;
        options_.subtreeLevels = c.subtreeLevels;
    }
    void TearDown() override {
        fs::current_path(previous_);
        fs::remove_all(dir_);
    }

    // Writes the tileset and reads back tileset.json and every subtree.
    void writeAndRead() {
        log_.clear();
        ASSERT_TRUE(exportCityTiles(*session_.city(), (dir_ / "t" / "tileset.json").string(),
                                    record_, options_))
            << log_.text();
        json_ = Json::parse(readFile(dir_ / "t" / "tileset.json"));
        ASSERT_TRUE(json_.ok());
        const Json& tiling = json_["root"]["implicitTiling"];
        levels_ = std::uint32_t(tiling["availableLevels"].count());
        readSubtrees(dir_ / "t", levels_, std::uint32_t(tiling["subtreeLevels"].count()), 0, 0, 0,
                     tiles_);
    }
    fs::path tilePath(const TileKey& k) const {
        return dir_ / "t" / "tiles" / std::to_string(k[0]) / std::to_string(k[1]) /
               (std::to_string(k[2]) + ".glb");
    }

    StringLogSink log_;
    ScopedLogSink scope_{log_};
    CitySession session_;
    CityRecord record_;
    TilesetOptions options_;
    fs::path previous_, dir_;
    Json json_;
    std::uint32_t levels_ = 0;
    std::map<TileKey, TileFacts> tiles_;
};

TEST_P(Tileset, TilesetJsonNamesTheCityAndItsTree) {
    writeAndRead();
    EXPECT_EQ(log_.text(), "Saved as 3D Tiles to " + (dir_ / "t" / "tileset.json").string() +
                               "\r\n" + describeExport(options_.exportOptions) + "\r\n");
    EXPECT_EQ(json_["asset"]["version"].text(), "1.1");
    EXPECT_EQ(json_["asset"]["generator"].text(), "Ombrel " + std::string(kVersion));
    EXPECT_EQ(json_["asset"]["extras"]["constructionFile"].text(), record_.constructionFile);
    EXPECT_EQ(json_["asset"]["extras"]["seed"].count(), record_.seed);
    const Json& root = json_["root"];
    EXPECT_EQ(root["refine"].text(), "REPLACE");
    EXPECT_EQ(root["content"]["uri"].text(), "tiles/{level}/{x}/{y}.glb");
    EXPECT_EQ(root["implicitTiling"]["subdivisionScheme"].text(), "QUADTREE");
    EXPECT_EQ(root["implicitTiling"]["subtrees"]["uri"].text(), "subtrees/{level}.{x}.{y}.subtree");
    EXPECT_EQ(root["transform"].size(), 16u);
    EXPECT_GT(json_["geometricError"].number(), root["geometricError"].number());
    ASSERT_TRUE(tiles_.count({0, 0, 0}));
    EXPECT_EQ(tiles_.at({0, 0, 0}).error, root["geometricError"].number());
    // The root's volume (the whole padded grid) holds the root tile's own tight box.
    for (std::size_t k = 0; k < 3; ++k) {
        const double c = root["boundingVolume"]["box"][k].number();
        const double h = root["boundingVolume"]["box"][3 + 4 * k].number();
        const TileFacts& tight = tiles_.at({0, 0, 0});
        EXPECT_LE(c - h, tight.box[k] - tight.box[3 + 4 * k] + 1e-6) << k;
        EXPECT_GE(c + h, tight.box[k] + tight.box[3 + 4 * k] - 1e-6) << k;
    }
    if (GetParam().subtreeLevels) {
        EXPECT_EQ(root["implicitTiling"]["subtreeLevels"].count(), GetParam().subtreeLevels);
    }
}

TEST_P(Tileset, AvailabilityErrorsAndFilesAgree) {
    writeAndRead();
    ASSERT_GE(levels_, 2u) << "the tree has coarse levels";
    std::set<std::string> named;
    for (const auto& [key, facts] : tiles_) {
        if (key[0] > 0) {
            EXPECT_TRUE(tiles_.count({key[0] - 1, key[1] / 2, key[2] / 2}))
                << "the parent of a tile is available: " << key[0] << "/" << key[1] << "/"
                << key[2];
        }
        EXPECT_EQ(fs::exists(tilePath(key)), facts.content) << tilePath(key);
        if (facts.content)
            named.insert(tilePath(key).string());
        if (key[0] + 1 == levels_) {
            EXPECT_EQ(facts.error, 0.0) << "a leaf";
        } else {
            EXPECT_GT(facts.error, 0.0);
        }
        for (std::uint32_t c = 0; c < 4; ++c) {
            const auto child =
                tiles_.find({key[0] + 1, 2 * key[1] + (c & 1), 2 * key[2] + (c >> 1)});
            if (child != tiles_.end()) {
                EXPECT_LT(child->second.error, facts.error)
                    << "a child's error is below its parent's";
            }
        }
    }
    std::set<std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(dir_ / "t" / "tiles"))
        if (e.is_regular_file())
            files.insert(e.path().string());
    EXPECT_EQ(files, named) << "every tile file is a tile with content";
}

TEST_P(Tileset, EveryVertexLiesInItsTilesBox) {
    writeAndRead();
    for (const auto& [key, facts] : tiles_) {
        if (!facts.content)
            continue;
        const Glb glb = readGlb(tilePath(key));
        ASSERT_TRUE(glb.json.ok()) << tilePath(key);
        const Accessors a{glb};
        for (const Json& p : glb.json["meshes"][0]["primitives"].items()) {
            const Json& position = glb.json["accessors"][p["attributes"]["POSITION"].count()];
            for (std::size_t i = 0; i < position["count"].count(); ++i) {
                const Vec3 v = a.point(position, i);
                // glTF's y up turned into the tileset's z up: (x, y, z) -> (x, -z, y).
                const double z_up[3] = {v.x, -double(v.z), v.y};
                for (std::size_t k = 0; k < 3; ++k)
                    EXPECT_LE(std::abs(z_up[k] - facts.box[k]), facts.box[3 + 4 * k] + 1e-3)
                        << tilePath(key) << " vertex " << i << " axis " << k;
            }
        }
    }
}

// A reader that ignores the tiles' boxes in the subtrees halves the root's volume level by
// level: with leaves a whole number of street periods wide, that finds every leaf over its own
// cells.
TEST_P(Tileset, HalvingTheRootFindsEveryLeafOverItsCells) {
    if (GetParam().leafCells != 0)
        GTEST_SKIP() << "the leaves' width is not the streets' period";
    writeAndRead();
    const Json& volume = json_["root"]["boundingVolume"]["box"];
    const double side = double(1u << (levels_ - 1));
    for (const auto& [key, facts] : tiles_) {
        if (!facts.content || key[0] + 1 != levels_)
            continue;
        const Glb glb = readGlb(tilePath(key));
        const Accessors a{glb};
        for (const Json& p : glb.json["meshes"][0]["primitives"].items()) {
            const Json& position = glb.json["accessors"][p["attributes"]["POSITION"].count()];
            for (std::size_t i = 0; i < position["count"].count(); ++i) {
                const Vec3 v = a.point(position, i);
                const double xy[2] = {v.x, -double(v.z)};
                for (std::size_t k = 0; k < 2; ++k) {
                    const double width = 2.0 * volume[3 + 4 * k].number() / side;
                    const double start = volume[k].number() - volume[3 + 4 * k].number() +
                                         width * double(key[1 + k]);
                    EXPECT_GE(xy[k], start - 1e-3) << tilePath(key) << " axis " << k;
                    EXPECT_LE(xy[k], start + width + 1e-3) << tilePath(key) << " axis " << k;
                }
            }
        }
    }
}

TEST_P(Tileset, LeavesHoldTheTrianglesOfTheGlbExport) {
    writeAndRead();
    ExportOptions glbOptions = options_.exportOptions;
    glbOptions.format = ExportFormat::glb;
    ASSERT_TRUE(saveCity(*session_.city(), (dir_ / "city.glb").string(), record_, glbOptions))
        << log_.text();
    const std::multiset<Triangle> expected = trianglesOf(readGlb(dir_ / "city.glb"));
    ASSERT_FALSE(expected.empty());
    std::multiset<Triangle> leaves;
    for (const auto& [key, facts] : tiles_)
        if (facts.content && key[0] + 1 == levels_)
            for (const Triangle& t : trianglesOf(readGlb(tilePath(key))))
                leaves.insert(t);
    EXPECT_EQ(leaves.size(), expected.size());
    EXPECT_TRUE(leaves == expected) << "the leaves' triangles are the .glb export's, face for face";
}

TEST_P(Tileset, EveryBuildingIsAFeatureAtEveryLevelWithTheSameNumber) {
    writeAndRead();
    // The buildings' numbers, cells and definitions in the leaves, then in the level of boxes
    // above them.
    using Identity = std::tuple<std::uint32_t, std::uint32_t, std::string>;
    std::map<std::uint32_t, Identity> leaves, boxes;
    for (const auto& [key, facts] : tiles_) {
        if (!facts.content || key[0] + 2 < levels_)
            continue;
        const Glb glb = readGlb(tilePath(key));
        const Json& table = glb.json["extensions"]["EXT_structural_metadata"]["propertyTables"][0];
        if (table.kind() == Json::Kind::null)
            continue;
        EXPECT_EQ(table["class"].text(), "building");
        auto column = [&](const char* property, std::size_t row) {
            const Json& view =
                glb.json["bufferViews"][table["properties"][property]["values"].count()];
            return at<std::uint32_t>(glb.bin, view["byteOffset"].count() + row * 4);
        };
        auto text = [&](const char* property, std::size_t row) {
            const Json& p = table["properties"][property];
            const Json& values = glb.json["bufferViews"][p["values"].count()];
            const Json& offsets = glb.json["bufferViews"][p["stringOffsets"].count()];
            const auto from = at<std::uint32_t>(glb.bin, offsets["byteOffset"].count() + row * 4);
            const auto to = at<std::uint32_t>(glb.bin, offsets["byteOffset"].count() + row * 4 + 4);
            return glb.bin.substr(values["byteOffset"].count() + from, to - from);
        };
        auto& into = key[0] + 1 == levels_ ? leaves : boxes;
        for (std::size_t row = 0; row < table["count"].count(); ++row)
            into[column("number", row)] = {column("column", row), column("row", row),
                                           text("definition", row)};
    }
    EXPECT_FALSE(leaves.empty());
    EXPECT_EQ(boxes, leaves) << "every building is a box above the leaves, with its cell";
    const std::string file = std::string(GetParam().example) + ".xml:";
    for (const auto& [number, identity] : leaves)
        EXPECT_NE(std::get<2>(identity).find(file), std::string::npos)
            << "building " << number << " names the place of its definition";
}

TEST_P(Tileset, EveryTilePassesTheGltfValidator) {
    writeAndRead();
    std::string files;
    std::size_t count = 0;
    for (const auto& [key, facts] : tiles_)
        if (facts.content) {
            files += ' ';
            files += testsupport::shellQuote(tilePath(key).string());
            ++count;
        }
    ASSERT_GT(count, 0u);
    const testsupport::ShellResult r = testsupport::runShell(
        "node " + testsupport::shellQuote(kSource + "/tools/validate-gltf.js") + files, kSource,
        dir_);
    ASSERT_NE(r.status, 2) << "the glTF validator did not run (run scripts/setup): " << r.out;
    EXPECT_EQ(r.status, 0) << r.out;
    std::size_t clean = 0;
    for (std::size_t at = r.out.find("errors=0 warnings=0 "); at != std::string::npos;
         at = r.out.find("errors=0 warnings=0 ", at + 1))
        ++clean;
    EXPECT_EQ(clean, count) << r.out;
}

INSTANTIATE_TEST_SUITE_P(
    Examples, Tileset,
    testing::Values(TilesetCase{"town", CollapseMode::normal, 0, 0, true},
                    TilesetCase{"downtown", CollapseMode::normal, 2, 0, true},
                    TilesetCase{"downtown", CollapseMode::building, 3, 1, false},
                    TilesetCase{"metropolis", CollapseMode::normal, 0, 2, true},
                    TilesetCase{"metropolis", CollapseMode::model, 16, 0, true}));

TEST(TilesetFrame, EastNorthUpAtKnownPoints) {
    const struct {
        GeoOrigin origin;
        std::array<double, 16> expected;
    } cases[] = {
        // On the equator at the prime meridian: east is +y, north +z, up +x.
        {{0, 0, 0}, {0, 1, 0, 0, 0, 0, 1, 0, 1, 0, 0, 0, 6378137, 0, 0, 1}},
        // The north pole, 100 m up: up is +z, at the polar radius plus 100 m.
        {{90, 0, 100}, {0, 1, 0, 0, -1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 6356852.314245, 1}},
        // 45 degrees north on the prime meridian (the WGS84 values of that point).
        {{45, 0, 0},
         {0, 1, 0, 0, -0.70710678, 0, 0.70710678, 0, 0.70710678, 0, 0.70710678, 0, 4517590.878849,
          0, 4487348.408866, 1}},
        // 90 degrees east: east is -x.
        {{0, 90, 0}, {-1, 0, 0, 0, 0, 0, 1, 0, 0, 1, 0, 0, 0, 6378137, 0, 1}},
    };
    for (const auto& c : cases) {
        const std::array<double, 16> m = enuToEcef(c.origin);
        for (std::size_t i = 0; i < 16; ++i)
            EXPECT_NEAR(m[i], c.expected[i], i >= 12 ? 1e-3 : 1e-7)
                << c.origin.latitude << "," << c.origin.longitude << " element " << i;
    }
}

TEST(TilesetFormat, NamedByItsJsonOrByName) {
    EXPECT_EQ(formatForPath("out/tileset.json"), ExportFormat::tiles);
    EXPECT_EQ(formatForPath("CITY.TILESET.JSON"), ExportFormat::tiles);
    EXPECT_EQ(formatForPath("out/city.json"), std::nullopt);
    EXPECT_EQ(formatNamed("3dtiles"), ExportFormat::tiles);
    EXPECT_STREQ(formatExtension(ExportFormat::tiles), "3dtiles");
}

// The batch tool: where the tileset goes and what --origin accepts.
struct ToolCase {
    const char* arguments;
    int status;
    const char* said; // a part of what it printed
};

void PrintTo(const ToolCase& c, std::ostream* os) {
    *os << c.arguments;
}

class TilesetTool : public testing::TestWithParam<ToolCase> {};

TEST_P(TilesetTool, OptionsAndOrigin) {
    const fs::path dir = fs::path(testing::TempDir()) / "tool";
    fs::remove_all(dir);
    fs::create_directories(dir);
    const testsupport::ShellResult r =
        testsupport::runShell(testsupport::shellQuote(kTool) + " " + GetParam().arguments + " " +
                                  testsupport::shellQuote(kSource + "/examples/town/town.xml"),
                              dir, dir);
    EXPECT_EQ(r.status, GetParam().status) << r.out;
    EXPECT_NE(r.out.find(GetParam().said), std::string::npos) << r.out;
    if (r.status == 0) {
        const Json json = Json::parse(readFile(dir / "out" / "tileset.json"));
        ASSERT_TRUE(json.ok()) << r.out;
        EXPECT_EQ(json["asset"]["version"].text(), "1.1");
    } else {
        EXPECT_FALSE(fs::exists(dir / "out")) << "nothing written";
    }
    fs::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TilesetTool,
    testing::Values(
        ToolCase{"-o out/tileset.json", 0,
                 "Saved as 3D Tiles to out/tileset.json\n(normal, "
                 "textured, triangulated, with roads)"},
        ToolCase{"--format 3dtiles -o out", 0, "Saved as 3D Tiles to out/tileset.json"},
        ToolCase{"--origin 52.52,13.405,34 -o out/tileset.json", 0, "Saved as 3D Tiles"},
        ToolCase{"--origin=-33.9,18.4 -o out/tileset.json --no-roads", 0, "without roads"},
        ToolCase{"--origin 91,0 -o out/tileset.json", 2, "bad origin '91,0'"},
        ToolCase{"--origin 0,181 -o out/tileset.json", 2, "bad origin '0,181'"},
        ToolCase{"--origin 1 -o out/tileset.json", 2, "bad origin '1'"},
        ToolCase{"--origin 1,2,3,4 -o out/tileset.json", 2, "bad origin '1,2,3,4'"},
        ToolCase{"--origin 1,x -o out/tileset.json", 2, "bad origin '1,x'"},
        ToolCase{"--origin 1,nan -o out/tileset.json", 2, "bad origin '1,nan'"},
        ToolCase{"--origin 1,2 -o out/city.glb", 2, "--origin places a tileset on the globe"}));

TEST(TilesetTool, OriginIsRecordedAndPlacesTheRoot) {
    const fs::path dir = fs::path(testing::TempDir()) / "origin";
    fs::create_directories(dir);
    const testsupport::ShellResult r = testsupport::runShell(
        testsupport::shellQuote(kTool) + " -q --origin 45,0,0 -o out/tileset.json " +
            testsupport::shellQuote(kSource + "/examples/town/town.xml"),
        dir, dir);
    ASSERT_EQ(r.status, 0) << r.out;
    const Json json = Json::parse(readFile(dir / "out" / "tileset.json"));
    EXPECT_EQ(json["asset"]["extras"]["origin"]["latitude"].number(), 45.0);
    EXPECT_EQ(json["asset"]["extras"]["origin"]["longitude"].number(), 0.0);
    const std::array<double, 16> m = enuToEcef({45, 0, 0});
    for (std::size_t i = 0; i < 16; ++i)
        EXPECT_DOUBLE_EQ(json["root"]["transform"][i].number(), m[i]) << i;
    fs::remove_all(dir);
}

} // namespace
} // namespace ombrel
