#include "base/Log.h"
#include "export/CityExport.h"

#include "tests/export/FakeCity.h"
#include "tests/support/Files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <sys/stat.h>

namespace ombrel {
namespace {

namespace fs = std::filesystem;
using testsupport::FakeCity;

using ombrel::testsupport::readFile;

std::vector<std::string> entries(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::uint32_t word(const std::string& bytes, std::size_t at) {
    std::uint32_t w = 0;
    std::memcpy(&w, bytes.data() + at, 4);
    return w;
}

// A 1 x 1 PNG, as a texture file.
const std::string
    kPng("\x89PNG\r\n\x1a\n\0\0\0\rIHDR\0\0\0\x01\0\0\0\x01\x08\x02\0\0\0\x90wS\xde\0\0\0"
         "\x0cIDAT\x08\xd7\x63\xf8\xcf\xc0\0\0\x03\x01\x01\0\x18\xdd\x8d\xb0\0\0\0\0"
         "IEND\xae\x42\x60\x82",
         69);

class Gltf : public testing::Test {
protected:
    // The vertices of the .glb's vertex view of `stride` bytes, each as its floats.
    static std::vector<std::vector<float>> vertices(const std::string& glb, std::size_t stride) {
        const std::string json = jsonOf(glb);
        std::smatch m;
        const std::regex view("\"byteOffset\":(\\d+),\"byteLength\":(\\d+),\"byteStride\":" +
                              std::to_string(stride) + ",");
        if (!std::regex_search(json, m, view))
            return {};
        const std::size_t at = 20 + json.size() + 8 + std::stoul(m[1]);
        std::vector<std::vector<float>> out(std::stoul(m[2]) / stride,
                                            std::vector<float>(stride / 4));
        for (std::size_t v = 0; v < out.size(); ++v)
            std::memcpy(out[v].data(), glb.data() + at + stride * v, stride);
        return out;
    }

    void SetUp() override {
        dir_ =
            fs::path(testing::TempDir()) /
            ("gltf_" + std::string(testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(dir_);
        fs::create_directories(dir_ / "my textures");
        std::ofstream(dir_ / "my textures" / "wall.png", std::ios::binary) << kPng;
        city_.wallImage = (dir_ / "my textures" / "wall.png").string();
        record_.constructionFile = "cities/\"quoted\".xml";
        record_.seed = 0x1234;
        record_.minCorner = {0, 0, 0};
        record_.maxCorner = {10, 20, 12.5f};
    }
    void TearDown() override { fs::remove_all(dir_); }

    bool save(const fs::path& path, ExportFormat format) {
        ExportOptions options;
        options.format = format;
        return saveCity(city_, path.string(), record_, options);
    }
    // The JSON chunk of a .glb.
    static std::string jsonOf(const std::string& glb) { return glb.substr(20, word(glb, 12)); }

    fs::path dir_;
    FakeCity city_;
    CityRecord record_;
    StringLogSink log_;
    ScopedLogSink scoped_{log_};
};

struct FormatCase {
    const char* path;
    std::optional<ExportFormat> format;
};

TEST(ExportFormats, FromTheEnding) {
    const FormatCase cases[] = {{"city.wrl", ExportFormat::vrml},
                                {"a/CITY.GLB", ExportFormat::glb},
                                {"x.y/city.gltf", ExportFormat::gltf},
                                {"c.obj", ExportFormat::obj},
                                {"c.txt", std::nullopt},
                                {"noending", std::nullopt},
                                {".glb", std::nullopt},
                                {"dir.glb/file", std::nullopt}};
    for (const FormatCase& c : cases)
        EXPECT_EQ(formatForPath(c.path), c.format) << c.path;
    EXPECT_EQ(formatNamed("gltf"), ExportFormat::gltf);
    EXPECT_EQ(formatNamed("GLB"), std::nullopt);
}

TEST(ExportFormats, DescribesTheOptions) {
    const struct {
        ExportOptions options;
        const char* text;
    } cases[] = {
        {{CollapseMode::normal, true, true, ExportFormat::vrml},
         "(normal, textured, triangulated, with roads)"},
        {{CollapseMode::building, false, false, ExportFormat::obj},
         "(collapse to building, not triangulated, without roads)"},
        {{CollapseMode::model, false, true, ExportFormat::glb},
         "(collapse model, triangulated, with roads)"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(describeExport(c.options), c.text) << c.text;
}

TEST_F(Gltf, GlbHoldsTheCityInGltfAxes) {
    const fs::path out = dir_ / "city.glb";
    ASSERT_TRUE(save(out, ExportFormat::glb)) << log_.text();
    EXPECT_EQ(log_.text(), "Saved as glTF to " + out.string() +
                               "\r\n(normal, textured, triangulated, with roads)\r\n");
    const std::string glb = readFile(out);
    ASSERT_GT(glb.size(), 28u);
    EXPECT_EQ(glb.substr(0, 4), "glTF");
    EXPECT_EQ(word(glb, 4), 2u);
    EXPECT_EQ(word(glb, 8), glb.size());
    EXPECT_EQ(glb.substr(16, 4), "JSON");
    const std::string json = jsonOf(glb);
    const std::size_t bin = 20 + json.size();
    EXPECT_EQ(glb.substr(bin + 4, 4), std::string("BIN\0", 4));
    EXPECT_EQ(word(glb, bin), glb.size() - bin - 8);

    for (const char* part :
         {"\"generator\":\"Ombrel ",
          "\"extras\":{\"constructionFile\":\"cities/\\\"quoted\\\".xml\",\"seed\":4660}",
          "{\"name\":\"Tower_1_2\",\"mesh\":0,\"extras\":{\"column\":1,\"row\":2,\"height\":12.5}}",
          "{\"mesh\":1,\"extras\":{\"column\":3,\"row\":4,\"height\":1}}",
          "{\"name\":\"Roads\",\"mesh\":2}", "{\"name\":\"Buildings\",\"children\":[0,1]}",
          "{\"name\":\"City_Model\",\"children\":[3,2]}",
          "{\"name\":\"Home\",\"camera\":0,\"translation\":[5,12.5,400]}",
          "\"scenes\":[{\"nodes\":[5,6,4]}]", "\"yfov\":0.7853982,\"znear\":5,\"zfar\":7000",
          // One material per image, white: the colours are the vertices'. The floors and the
          // untextured road share the plain one.
          "\"materials\":[{\"pbrMetallicRoughness\":{\"baseColorFactor\":[1,1,1,1],"
          "\"baseColorTexture\":{\"index\":0},\"metallicFactor\":0,\"roughnessFactor\":1}},"
          "{\"pbrMetallicRoughness\":{\"baseColorFactor\":[1,1,1,1],\"metallicFactor\":0,"
          "\"roughnessFactor\":1}}]",
          "{\"attributes\":{\"POSITION\":0,\"NORMAL\":1,\"TEXCOORD_0\":2,\"COLOR_0\":3},"
          "\"indices\":7,\"material\":0}",
          "\"samplers\":[{\"magFilter\":9729,\"minFilter\":9987,\"wrapS\":10497,\"wrapT\":10497}]",
          "\"images\":[{\"bufferView\":0,\"mimeType\":\"image/png\"}]",
          // The wall (city y = 2, z up to 5) lies at Z = -2, up to Y = 5.
          "\"min\":[0,0,-2],\"max\":[10,5,-2]"})
        EXPECT_NE(json.find(part), std::string::npos) << part << "\n" << json;
    // The image is embedded byte for byte.
    EXPECT_NE(glb.find(kPng), std::string::npos);

    // The wall's vertices: position, a normal facing +Z (the city's -y), v flipped, white.
    const std::vector<std::vector<float>> wall = vertices(glb, 44);
    // Four vertices: the wall's two triangles share the corners of their diagonal.
    ASSERT_EQ(wall.size(), 4u);
    bool sawCorner = false;
    for (const std::vector<float>& f : wall) {
        if (f[0] == 10 && f[1] == 5) {
            sawCorner = true;
            EXPECT_EQ(f[2], -2);
            EXPECT_EQ(f[6], 2); // (s, t) = (2, 1) becomes (2, 0)
            EXPECT_EQ(f[7], 0);
        }
        EXPECT_EQ(f[3], 0);
        EXPECT_EQ(f[4], 0);
        EXPECT_EQ(f[5], 1);
        EXPECT_EQ(std::vector<float>(f.begin() + 8, f.end()), (std::vector<float>{1, 1, 1}));
    }
    EXPECT_TRUE(sawCorner);
    // The floors in the colour they had (clamped to 1), the road in its grey.
    std::map<std::vector<float>, int> colours;
    for (const std::vector<float>& f : vertices(glb, 36))
        ++colours[std::vector<float>(f.begin() + 6, f.end())];
    EXPECT_EQ(colours,
              (std::map<std::vector<float>, int>{{{1, 0.5f, 0.25f}, 8}, {{0.5f, 0.5f, 0.5f}, 4}}));
}

TEST_F(Gltf, EveryTaggedBuildingIsNamedWhateverItDrew) {
    city_.shedName = "Shed_3_4";
    const fs::path out = dir_ / "city.glb";
    ASSERT_TRUE(save(out, ExportFormat::glb)) << log_.text();
    const std::string json = jsonOf(readFile(out));
    EXPECT_NE(json.find("{\"name\":\"Shed_3_4\",\"mesh\":1,\"extras\":{\"column\":3,\"row\":4,"
                        "\"height\":1}}"),
              std::string::npos)
        << json;
}

TEST_F(Gltf, MergedBlocksKeepEveryBuildingAsAFeature) {
    struct Case {
        const char* name;
        std::uint32_t shedBlock;
        std::vector<const char*> parts;
    };
    const Case cases[] = {
        {"one block",
         0,
         {"\"extensionsUsed\":[\"EXT_mesh_features\",\"EXT_structural_metadata\"]",
          "{\"name\":\"block_0_0\",\"mesh\":0,\"extras\":{\"blockColumn\":0,\"blockRow\":0,"
          "\"buildings\":[0,1]}}",
          "{\"name\":\"Buildings\",\"children\":[0]}",
          // The wall is the tower's alone, the floors are both buildings'.
          "\"COLOR_0\":3,\"_FEATURE_ID_0\":4},\"indices\":9,\"material\":0,\"extensions\":{"
          "\"EXT_mesh_features\":{\"featureIds\":[{\"featureCount\":1,\"attribute\":0,"
          "\"propertyTable\":0}]}}",
          "\"indices\":10,\"material\":1,\"extensions\":{\"EXT_mesh_features\":{\"featureIds\":"
          "[{\"featureCount\":2,\"attribute\":0,\"propertyTable\":0}]}}",
          // The road is no building: no feature IDs.
          "{\"primitives\":[{\"attributes\":{\"POSITION\":5,\"NORMAL\":6,\"COLOR_0\":7},"
          "\"indices\":11,\"material\":1}]}",
          "\"propertyTables\":[{\"name\":\"Buildings\",\"class\":\"building\",\"count\":2,"}},
        {"two blocks",
         1,
         {"{\"name\":\"block_0_0\",\"mesh\":0,\"extras\":{\"blockColumn\":0,\"blockRow\":0,"
          "\"buildings\":[0]}}",
          "{\"name\":\"block_1_0\",\"mesh\":1,\"extras\":{\"blockColumn\":1,\"blockRow\":0,"
          "\"buildings\":[1]}}",
          "{\"name\":\"Buildings\",\"children\":[0,1]}"}},
    };
    for (const Case& c : cases) {
        city_.shedBlockColumn = c.shedBlock;
        ExportOptions options;
        options.format = ExportFormat::glb;
        options.merge = MergeMode::blocks;
        const fs::path out = dir_ / "city.glb";
        log_.clear();
        ASSERT_TRUE(saveCity(city_, out.string(), record_, options)) << log_.text();
        EXPECT_EQ(log_.text(),
                  "Saved as glTF to " + out.string() +
                      "\r\n(normal, textured, triangulated, with roads, blocks merged)\r\n");
        const std::string glb = readFile(out);
        const std::string json = jsonOf(glb);
        for (const char* part : c.parts)
            EXPECT_NE(json.find(part), std::string::npos) << c.name << ": " << part << "\n" << json;
    }
    // One block: the plain vertices carry the building's row in the table, the tower's floor 0
    // and the shed's 1, after their colour; the road's carry 0 and no primitive reads it.
    city_.shedBlockColumn = 0;
    const std::string glb = readFile(dir_ / "city.glb");
    std::map<float, int> features;
    for (const std::vector<float>& f : vertices(glb, 40))
        ++features[f[9]];
    EXPECT_EQ(features, (std::map<float, int>{{0.0f, 8}, {1.0f, 4}}));
    // The table's name column: "Tower_1_2" and an empty name, with offsets 0, 9, 9.
    const std::string json = jsonOf(glb);
    std::smatch m;
    ASSERT_TRUE(std::regex_search(
        json, m, std::regex("\"name\":\\{\"values\":(\\d+),\"stringOffsets\":(\\d+)")));
    const std::size_t bin = 20 + json.size() + 8;
    auto view = [&](const std::string& index) {
        std::smatch v;
        const std::regex views("\"bufferViews\":\\[((\\{[^}]*\\},?){" + index +
                               "})\\{\"buffer\":0,"
                               "\"byteOffset\":(\\d+),\"byteLength\":(\\d+)");
        EXPECT_TRUE(std::regex_search(json, v, views)) << index;
        EXPECT_EQ(std::stoul(v[3]) % 8, 0u) << index;
        return glb.substr(bin + std::stoul(v[3]), std::stoul(v[4]));
    };
    EXPECT_EQ(view(m[1]), "Tower_1_2");
    EXPECT_EQ(view(m[2]), std::string("\0\0\0\0\x09\0\0\0\x09\0\0\0", 12));
}

TEST_F(Gltf, TheCollapsedModelKeepsItsGreyMaterialWithoutVertexColours) {
    ExportOptions options;
    options.format = ExportFormat::glb;
    options.collapseMode = CollapseMode::model;
    const fs::path out = dir_ / "city.glb";
    ASSERT_TRUE(saveCity(city_, out.string(), record_, options)) << log_.text();
    const std::string json = jsonOf(readFile(out));
    EXPECT_EQ(json.find("COLOR_0"), std::string::npos) << json;
    EXPECT_NE(json.find("\"materials\":[{\"pbrMetallicRoughness\":{\"baseColorFactor\":[0.5,0.5,"
                        "0.5,1],\"metallicFactor\":0,\"roughnessFactor\":1}}]"),
              std::string::npos)
        << json;
}

TEST_F(Gltf, GltfNamesItsBinAndImagesRelatively) {
    const fs::path out = dir_ / "city.gltf";
    ASSERT_TRUE(save(out, ExportFormat::gltf)) << log_.text();
    const std::string json = readFile(out);
    EXPECT_NE(json.find("\"images\":[{\"uri\":\"my%20textures/wall.png\"}]"), std::string::npos)
        << json;
    EXPECT_NE(json.find("\"buffers\":[{\"uri\":\"city.bin\",\"byteLength\":"), std::string::npos);
    EXPECT_EQ(entries(dir_), (std::vector<std::string>{"city.bin", "city.gltf", "my textures"}));
    // A .gltf cannot have files beside standard output or a device.
    log_.clear();
    EXPECT_FALSE(save("/dev/null", ExportFormat::gltf));
    EXPECT_EQ(log_.text(), "Could not save glTF to /dev/null: a .gltf needs its .bin files beside "
                           "it; write .glb to a device or standard output\r\n");
}

TEST_F(Gltf, AnImageThatCannotBePlacedLeavesItsFacesUntextured) {
    city_.wallImage = (dir_ / "gone.png").string();
    city_.roadImage = (dir_ / "notes.png").string();
    std::ofstream(city_.roadImage) << "not an image";
    const fs::path out = dir_ / "city.glb";
    ASSERT_TRUE(save(out, ExportFormat::glb));
    EXPECT_EQ(log_.text().substr(0, log_.text().find("Saved")),
              "Could not place the image " + city_.wallImage + " in " + out.string() +
                  ": No such file or directory; its faces are exported untextured\r\n"
                  "Could not place the image " +
                  city_.roadImage + " in " + out.string() +
                  ": it is not an image that can be read (Image not of any known type, or "
                  "corrupt); its faces are "
                  "exported untextured\r\n");
    const std::string json = jsonOf(readFile(out));
    EXPECT_EQ(json.find("\"images\""), std::string::npos);
    EXPECT_EQ(json.find("TEXCOORD_0"), std::string::npos);
}

TEST_F(Gltf, OtherImageFormatsAreEmbeddedAsPng) {
    // A 1 x 1 24-bit BMP.
    const std::string bmp("BM\x3a\0\0\0\0\0\0\0\x36\0\0\0\x28\0\0\0\x01\0\0\0\x01\0\0\0\x01\0\x18\0"
                          "\0\0\0\0\x04\0\0\0\x13\x0b\0\0\x13\x0b\0\0\0\0\0\0\0\0\0\0\xff\0\0\0",
                          58);
    city_.wallImage = (dir_ / "wall.bmp").string();
    std::ofstream(city_.wallImage, std::ios::binary) << bmp;
    for (const auto& [leaf, format] :
         {std::pair{"city.glb", ExportFormat::glb}, std::pair{"city.gltf", ExportFormat::gltf}}) {
        ASSERT_TRUE(save(dir_ / leaf, format)) << log_.text();
        const std::string json =
            format == ExportFormat::glb ? jsonOf(readFile(dir_ / leaf)) : readFile(dir_ / leaf);
        EXPECT_NE(json.find("{\"bufferView\":0,\"mimeType\":\"image/png\"}"), std::string::npos)
            << leaf;
    }
    EXPECT_NE(readFile(dir_ / "city.bin").find("\x89PNG"), std::string::npos);
}

TEST_F(Gltf, AReadOnlyFileIsRefusedAndNothingStaysBehind) {
    const fs::path out = dir_ / "city.glb";
    std::ofstream(out) << "old";
    ::chmod(out.c_str(), 0444);
    EXPECT_FALSE(save(out, ExportFormat::glb));
    EXPECT_EQ(log_.text(),
              "Could not save glTF to " + out.string() + ": the file is read-only\r\n");
    EXPECT_EQ(readFile(out), "old");
    const fs::path gltf = dir_ / "city.gltf";
    std::ofstream(dir_ / "city.bin") << "old";
    ::chmod((dir_ / "city.bin").c_str(), 0444);
    EXPECT_FALSE(save(gltf, ExportFormat::gltf));
    EXPECT_EQ(entries(dir_), (std::vector<std::string>{"city.bin", "city.glb", "my textures"}));
}

TEST_F(Gltf, SameBytesUnderAnyLocale) {
    ASSERT_TRUE(save(dir_ / "c.glb", ExportFormat::glb));
    const char* before = std::setlocale(LC_ALL, nullptr);
    const std::string saved = before ? before : "C";
    if (!std::setlocale(LC_ALL, "de_DE.UTF-8"))
        GTEST_SKIP() << "no de_DE.UTF-8 locale";
    const bool ok = save(dir_ / "de.glb", ExportFormat::glb);
    std::setlocale(LC_ALL, saved.c_str());
    ASSERT_TRUE(ok);
    EXPECT_TRUE(readFile(dir_ / "c.glb") == readFile(dir_ / "de.glb"));
}

} // namespace
} // namespace ombrel
