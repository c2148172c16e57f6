#include "config/CitySession.h"
#include "grammar/Texture.h"
#include "tests/config/LoadSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace ombrel {
namespace {

using testsupport::dataFile;

class SessionTest : public testsupport::SourceDirTest {
protected:
    std::string load(const std::string& path, CitySession::Reload reload,
                     CitySession::LoadResult expected) {
        StringLogSink sink;
        ScopedLogSink scope(sink);
        EXPECT_EQ(session.load(path, kDefaultLargestTexture, reload), expected) << path;
        return sink.text();
    }

    // Everything else the session logs (generation lines) stays in the fixture.
    StringLogSink rest;
    ScopedLogSink restScope{rest};
    CitySession session;
};

TEST_F(SessionTest, MissingFileIsNamedAndLoadsNothing) {
    const std::string path = "no/such/town.xml";
    EXPECT_EQ(load(path, CitySession::Reload::always, CitySession::LoadResult::missing),
              "Specified configuration file doesn't exist: no/such/town.xml\r\n");
    EXPECT_FALSE(session.generate());
    EXPECT_EQ(session.city(), nullptr);
    EXPECT_FALSE(session.save(::testing::TempDir() + "/never.wrl", ExportOptions{}));
    EXPECT_FALSE(std::filesystem::exists(::testing::TempDir() + "/never.wrl"));
}

TEST_F(SessionTest, GenerateOnlyReloadsAnotherFile) {
    const std::string town = "examples/town/town.xml";
    EXPECT_NE(load(town, CitySession::Reload::ifChanged, CitySession::LoadResult::loaded), "");
    // The same file again: nothing is read, nothing is logged.
    EXPECT_EQ(load(town, CitySession::Reload::ifChanged, CitySession::LoadResult::loaded), "");
    EXPECT_NE(load(town, CitySession::Reload::always, CitySession::LoadResult::loaded), "");
}

TEST_F(SessionTest, CityKeepsItsSeedAndBoxAndSaves) {
    load("examples/town/town.xml", CitySession::Reload::always, CitySession::LoadResult::loaded);
    const std::uint32_t seed = session.factory().randomSeed;
    ASSERT_TRUE(session.generate());
    ASSERT_NE(session.city(), nullptr);
    EXPECT_EQ(session.seed(), seed);
    EXPECT_EQ(session.maxCorner().x, session.factory().numCellsX * session.factory().cellSizeX);
    const std::string out = ::testing::TempDir() + "/town.wrl";
    ASSERT_TRUE(session.save(out, ExportOptions{}));
    std::ifstream in(out);
    std::string header;
    std::getline(in, header);
    EXPECT_EQ(header.rfind("#VRML V2.0 utf8", 0), 0u) << header;

    // A failed load keeps the last city for saving.
    load(testsupport::catalogueFile("not-well-formed.xml"), CitySession::Reload::always,
         CitySession::LoadResult::failed);
    EXPECT_NE(session.city(), nullptr);
    EXPECT_FALSE(session.generate());
    EXPECT_TRUE(session.save(out, ExportOptions{}));
}

TEST_F(SessionTest, TexturesNoLongerUsedAreHandedBack) {
    std::vector<std::shared_ptr<Texture>> released;
    session.setTextureReleaser([&](const std::vector<std::shared_ptr<Texture>>& gone) {
        released.insert(released.end(), gone.begin(), gone.end());
    });
    load(dataFile("textures.xml"), CitySession::Reload::always, CitySession::LoadResult::loaded);
    ASSERT_TRUE(session.generate());
    const std::size_t held = session.heldTextures().size();
    ASSERT_GT(held, 0u);
    // Loading another file drops the old definitions, but the shown city still uses them.
    load("examples/town/town.xml", CitySession::Reload::always, CitySession::LoadResult::loaded);
    EXPECT_TRUE(released.empty());
    // The next city is made from the new definitions: the old textures go.
    ASSERT_TRUE(session.generate());
    EXPECT_FALSE(released.empty());
    for (const auto& t : released) {
        for (const auto& h : session.heldTextures()) {
            EXPECT_NE(t, h);
        }
    }
}

} // namespace
} // namespace ombrel
