#include "base/Log.h"
#include "export/CityExport.h"

#include "tests/export/FakeCity.h"
#include "tests/support/Files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace ombrel {
namespace {

namespace fs = std::filesystem;

using ombrel::testsupport::readFile;

class Obj : public testing::Test {
protected:
    void SetUp() override {
        dir_ =
            fs::path(testing::TempDir()) /
            ("obj_" + std::string(testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(dir_);
        fs::create_directories(dir_ / "textures");
        city_.wallImage = (dir_ / "textures" / "wall.png").string();
        record_.constructionFile = "city.xml";
        record_.seed = 255;
    }
    void TearDown() override { fs::remove_all(dir_); }

    fs::path dir_;
    testsupport::FakeCity city_;
    CityRecord record_;
    StringLogSink log_;
    ScopedLogSink scoped_{log_};
};

TEST_F(Obj, ObjectsMaterialsAndQuadsAsGenerated) {
    ExportOptions options;
    options.format = ExportFormat::obj;
    options.triangulateEverything = false;
    const fs::path out = dir_ / "city.obj";
    ASSERT_TRUE(saveCity(city_, out.string(), record_, options)) << log_.text();
    EXPECT_EQ(log_.text(), "Saved as OBJ to " + out.string() +
                               "\r\n(normal, textured, not triangulated, with roads)\r\n");
    const std::string obj = readFile(out);
    // The wall: four corners in glTF's axes with their colour, its texture coordinates as
    // given, one normal; the floor's corners in the floor's colour, clamped to 1.
    for (const char* part :
         {"# randomSeed=0x000000FF\nmtllib city.mtl\no Tower_1_2\nv 0 0 -2 1 1 1\n"
          "v 10 0 -2 1 1 1\nv 10 5 -2 1 1 1\nv 0 5 -2 1 1 1\nv 0 0 -2 1 0.5 0.25\n",
          "vt 0 0\nvt 2 0\nvt 2 1\nvt 0 1\nvn 0 0 1\n", "usemtl m0\nf 1/1/1 2/2/1 3/3/1 4/4/1\n",
          "\no building_3_4\nv 0 0 -6 1 0.5 0.25\n", "\no Roads\nv 0 0 4 0.5 0.5 0.5\n"})
        EXPECT_NE(obj.find(part), std::string::npos) << part << "\n" << obj;
    // One material per image, white: the colours are the vertices'.
    EXPECT_EQ(readFile(dir_ / "city.mtl"),
              "# Ombrel " + obj.substr(9, obj.find(' ', 9) - 9) +
                  "\nnewmtl m0\nKd 1 1 1\nmap_Kd textures/wall.png\nnewmtl m1\nKd 1 1 1\n");
}

TEST_F(Obj, TaggedBuildingsAreNamedAndTheModelKeepsItsGreyWithoutColours) {
    city_.shedName = "Shed_3_4";
    ExportOptions options;
    options.format = ExportFormat::obj;
    const fs::path out = dir_ / "city.obj";
    ASSERT_TRUE(saveCity(city_, out.string(), record_, options)) << log_.text();
    EXPECT_NE(readFile(out).find("\no Shed_3_4\n"), std::string::npos) << readFile(out);
    options.collapseMode = CollapseMode::model;
    ASSERT_TRUE(saveCity(city_, out.string(), record_, options)) << log_.text();
    const std::string obj = readFile(out);
    EXPECT_NE(obj.find("o City_Model\nv 10 0 -2\n"), std::string::npos) << obj;
    EXPECT_NE(readFile(dir_ / "city.mtl").find("newmtl m0\nKd 0.5 0.5 0.5\n"), std::string::npos);
}

TEST_F(Obj, TriangulatedOnRequestAndRefusedWithoutAFolder) {
    ExportOptions options;
    options.format = ExportFormat::obj;
    options.saveRoads = false;
    const fs::path out = dir_ / "city.obj";
    ASSERT_TRUE(saveCity(city_, out.string(), record_, options));
    const std::string obj = readFile(out);
    EXPECT_NE(obj.find("usemtl m0\nf 1/1/1 2/2/1 3/3/1\nf 4/4/1 1/1/1 3/3/1\n"), std::string::npos)
        << obj;
    EXPECT_EQ(obj.find("Roads"), std::string::npos);
    log_.clear();
    EXPECT_FALSE(saveCity(city_, "-", record_, options));
    EXPECT_EQ(log_.text(), "Could not save OBJ to -: an .obj needs its .mtl file beside it; name a "
                           "file to write\r\n");
}

TEST_F(Obj, MergedBlocksAreObjectsWithAGroupForEachBuilding) {
    city_.shedName = "Shed_3_4";
    city_.shedBlockColumn = 1;
    ExportOptions options;
    options.format = ExportFormat::obj;
    options.merge = MergeMode::blocks;
    options.triangulateEverything = false;
    const fs::path out = dir_ / "city.obj";
    ASSERT_TRUE(saveCity(city_, out.string(), record_, options)) << log_.text();
    EXPECT_EQ(log_.text(),
              "Saved as OBJ to " + out.string() +
                  "\r\n(normal, textured, not triangulated, with roads, blocks merged)\r\n");
    const std::string obj = readFile(out);
    // The indices go on counting across the blocks.
    for (const char* part : {"mtllib city.mtl\no block_0_0\ng Tower_1_2\nv 0 0 -2 1 1 1\n",
                             "\no block_1_0\ng Shed_3_4\nv 0 0 -6 1 0.5 0.25\n",
                             "f 9//3 10//3 11//3 12//3\no Roads\n"})
        EXPECT_NE(obj.find(part), std::string::npos) << part << "\n" << obj;
}

} // namespace
} // namespace ombrel
