// What a watcher does after an edit: CitySession::regenerate and the files it follows.
#include "config/CitySession.h"
#include "grammar/GenerationContext.h"
#include "tests/config/LoadSupport.h"
#include "vrml/VRWriter.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace ombrel {
namespace {

namespace fs = std::filesystem;

class RegenerateTest : public testsupport::SourceDirTest {
protected:
    void SetUp() override {
        SourceDirTest::SetUp();
        dir_ = fs::path(::testing::TempDir()) / "regenerate";
        fs::create_directories(dir_);
        file_ = (dir_ / "town.xml").string();
    }
    void write(const std::string& seedAttribute, const std::string& body) {
        std::ofstream(file_, std::ios::binary)
            << "<Ombrel numCellsX=\"4\" numCellsY=\"3\" cellSizeX=\"10\" cellSizeY=\"10\" "
            << seedAttribute << "><Building>" << body << "</Building></Ombrel>\n";
    }
    std::string cityText() const {
        return vrmlText(session.city()->toVrmlScene(false, true).get());
    }

    fs::path dir_;
    std::string file_;
    StringLogSink log;
    ScopedLogSink scoped{log};
    CitySession session;
};

const std::string kBox = "<DrawBox height=\"[5,50]\"/>";

TEST_F(RegenerateTest, StartsFromTheFileSeedAsAFreshStartWould) {
    write("randomSeed=\"1a2b\"", kBox + "<Push/>");
    ASSERT_EQ(session.load(file_, kDefaultLargestTexture), CitySession::LoadResult::loaded);
    ASSERT_TRUE(session.generate());
    const std::string fresh = cityText();
    // Another city, entries left on the stack, colours moved on: all of it starts over.
    ASSERT_TRUE(session.generate());
    EXPECT_NE(cityText(), fresh);
    ASSERT_EQ(session.regenerate(file_, kDefaultLargestTexture), CitySession::LoadResult::loaded);
    EXPECT_EQ(session.seed(), 0x1a2bu);
    EXPECT_EQ(generationContext().stateStack.size(), 12u) << "one cell's Push per building";
    EXPECT_EQ(cityText(), fresh);

    ASSERT_EQ(session.regenerate(file_, kDefaultLargestTexture, 0x2au),
              CitySession::LoadResult::loaded);
    EXPECT_EQ(session.seed(), 0x2au);
}

TEST_F(RegenerateTest, AFileWithoutSeedKeepsTheSeedOfTheLoadBefore) {
    write("", kBox);
    ASSERT_EQ(session.regenerate(file_, kDefaultLargestTexture), CitySession::LoadResult::loaded);
    const std::uint32_t first = session.seed();
    const std::string city = cityText();
    ASSERT_EQ(session.regenerate(file_, kDefaultLargestTexture), CitySession::LoadResult::loaded);
    EXPECT_EQ(session.seed(), first);
    EXPECT_EQ(cityText(), city);
}

TEST_F(RegenerateTest, AFailedReloadKeepsTheCityAndSaysSo) {
    write("randomSeed=\"7\"", kBox);
    EXPECT_EQ(session.regenerate(file_, kDefaultLargestTexture), CitySession::LoadResult::loaded);
    const CityDrawable* city = session.city();
    std::ofstream(file_, std::ios::binary) << "<Ombrel";
    log.clear();
    EXPECT_EQ(session.regenerate(file_, kDefaultLargestTexture), CitySession::LoadResult::failed);
    const std::string tail = "Failed parsing input file - fix errors and reload\r\n"
                             "Kept the previous city\r\n";
    ASSERT_GE(log.text().size(), tail.size());
    EXPECT_EQ(log.text().substr(log.text().size() - tail.size()), tail) << log.text();
    EXPECT_EQ(session.city(), city);
    EXPECT_TRUE(session.save((dir_ / "kept.wrl").string(), ExportOptions{}));

    fs::remove(file_);
    log.clear();
    EXPECT_EQ(session.regenerate(file_, kDefaultLargestTexture), CitySession::LoadResult::missing);
    EXPECT_EQ(log.text(), "Specified configuration file doesn't exist: " + file_ +
                              "\r\nKept the previous city\r\n");
    EXPECT_EQ(session.city(), city);
}

TEST_F(RegenerateTest, WatchesTheFileAndTheImagesThatLoaded) {
    EXPECT_TRUE(session.watchedFiles().empty());
    const std::string image = fs::absolute("examples/textures/grass.png").lexically_normal();
    write("randomSeed=\"7\"", "<DrawFloor><Texture imageURL=\"examples/textures/grass.png\"/>"
                              "<Texture imageURL=\"no-such-image.png\"/></DrawFloor>");
    ASSERT_EQ(session.regenerate(file_, kDefaultLargestTexture), CitySession::LoadResult::loaded);
    EXPECT_EQ(session.watchedFiles(), (std::vector<std::string>{file_, image}));
    // After a failed reload the images of the city that stays are still followed.
    std::ofstream(file_, std::ios::binary) << "<Ombrel";
    EXPECT_EQ(session.regenerate(file_, kDefaultLargestTexture), CitySession::LoadResult::failed);
    EXPECT_EQ(session.watchedFiles(), (std::vector<std::string>{file_, image}));
}

} // namespace
} // namespace ombrel
