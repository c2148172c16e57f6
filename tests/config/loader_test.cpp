#include "base/Log.h"
#include "config/CityFactory.h"
#include "config/ConstructionReader.h"
#include "grammar/GenerationContext.h"
#include "tests/config/LoadSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

namespace ombrel {
namespace {

namespace fs = std::filesystem;

std::string data(const std::string& name) {
    return testsupport::dataFile(name);
}

using testsupport::Logged;
Logged load(CityFactory& factory, const std::string& path) {
    return testsupport::loadLogged(factory, path);
}

std::string parsingLine(const std::string& path) {
    return "Parsing " + path + " ... \r\n";
}
std::string loadedLine(const std::string& path) {
    return "Successfully loaded " + path + "\r\n";
}
const std::string kFailed = "Failed parsing input file - fix errors and reload\r\n";

class Loader : public testsupport::SourceDirTest {};

// Every bundled city loads and generates without a single warning, from the repository root.
TEST_F(Loader, BundledExamplesLoadAndGenerateCleanly) {
    const std::string textures = (fs::path(OMBREL_SOURCE_DIR) / "examples" / "textures").string();
    const struct {
        const char* file;
        std::string between; // what the load logs between its first and last line
        std::uint32_t seed;
    } cases[] = {
        {"examples/town/town.xml", "", 0x70C1},
        {"examples/downtown/downtown.xml", "", 0xD0E1},
        {"examples/metropolis/metropolis.xml",
         "Looking for texture files from pattern '../textures/facade*.png'\r\n"
         "\tAdding '" +
             textures +
             "/facade1.png'\r\n"
             "\tAdding '" +
             textures +
             "/facade2.png'\r\n"
             "\tAdding '" +
             textures + "/facade3.png'\r\n",
         0x5EED2026},
    };
    for (const auto& c : cases) {
        CityFactory factory;
        const Logged r = load(factory, c.file);
        EXPECT_TRUE(r.ok) << c.file;
        EXPECT_EQ(r.log, parsingLine(c.file) + c.between + loadedLine(c.file)) << c.file;
        EXPECT_EQ(factory.randomSeed, c.seed) << c.file;
        EXPECT_EQ(generationContext().randomState, c.seed) << c.file;
        EXPECT_FALSE(factory.buildings.empty()) << c.file;
        EXPECT_FALSE(factory.crossStreets.empty()) << c.file;
        EXPECT_FALSE(factory.horizontalStreets.empty()) << c.file;
        EXPECT_FALSE(factory.verticalStreets.empty()) << c.file;

        StringLogSink sink;
        ScopedLogSink scope(sink);
        const CityFactory::Generated city = factory.generate();
        char seedText[16];
        std::snprintf(seedText, sizeof seedText, "0x%08X", c.seed);
        EXPECT_EQ(sink.text(), "Generated city [randomSeed=" + std::string(seedText) + "]\r\n")
            << c.file;
        ASSERT_TRUE(city.city) << c.file;
        EXPECT_FALSE(city.city->buildingDrawables.empty()) << c.file;
        EXPECT_FALSE(city.city->roadDrawables.empty()) << c.file;
        EXPECT_GT(city.maxCorner.z, 10.0f) << c.file;
    }
}

// Files that must not load leave nothing of themselves loaded: the definitions of the file
// before them are gone, its parameters, name and random state stay. The broken files are the
// bad-input catalogue's, whose own test holds their exact messages; the cases here that are not
// in it hold theirs.
TEST_F(Loader, BadFilesFailCleanly) {
    const struct {
        std::string file;
        std::optional<std::string> errors; // "@" stands for the file's path; none: see catalogue
    } cases[] = {
        {testsupport::catalogueFile("not-well-formed.xml"), {}},
        {testsupport::catalogueFile("schema-invalid.xml"), {}},
        {testsupport::catalogueFile("empty.xml"), {}},
        {testsupport::catalogueFile("binary.xml"), {}},
        {testsupport::catalogueFile("entity-bomb.xml"), {}},
        {testsupport::catalogueFile("external-entity.xml"), {}},
        {testsupport::catalogueFile("external-dtd.xml"), {}},
        {testsupport::catalogueFile("huge-grid.xml"), {}},
        {testsupport::catalogueFile("negative-spacing.xml"), {}},
        {testsupport::catalogueFile("deep-300.xml"), {}},
        {testsupport::catalogueFile("own-schema.xml"), {}},
        {data("folder"), "Cannot read @: it is not a file\r\n"},
        // Only Ombrel is a document root; the schema itself refuses the others.
        {data("rootbuilding.xml"), "@:2:27: Error at file \"@\", line 2, column 27\r\n"
                                   "\tMessage: no declaration found for element 'Building'\r\n"
                                   "@:2:27: Error at file \"@\", line 2, column 27\r\n"
                                   "\tMessage: attribute 'probability' is not declared for element "
                                   "'Building'\r\n"},
        {data("rootstreet.xml"),
         "@:2:23: Error at file \"@\", line 2, column 23\r\n"
         "\tMessage: no declaration found for element 'Street'\r\n"
         "@:2:23: Error at file \"@\", line 2, column 23\r\n"
         "\tMessage: attribute 'type' is not declared for element 'Street'\r\n"},
        {data("rootdrawbox.xml"),
         "@:2:23: Error at file \"@\", line 2, column 23\r\n"
         "\tMessage: no declaration found for element 'DrawBox'\r\n"
         "@:2:23: Error at file \"@\", line 2, column 23\r\n"
         "\tMessage: attribute 'height' is not declared for element 'DrawBox'\r\n"},
        {data("roottexture.xml"),
         "@:2:32: Error at file \"@\", line 2, column 32\r\n"
         "\tMessage: no declaration found for element 'Texture'\r\n"
         "@:2:32: Error at file \"@\", line 2, column 32\r\n"
         "\tMessage: attribute 'imageURL' is not declared for element 'Texture'\r\n"},
        // The library reports a file it cannot open as an error without a position.
        {data("missing.xml"), "Error at file \"\", line 0, column 0\r\n"
                              "\tMessage: unable to open primary document entity '@'\r\n"},
    };
    for (const auto& c : cases) {
        CityFactory factory;
        ASSERT_TRUE(load(factory, "examples/town/town.xml").ok);
        const std::uint32_t state = generationContext().randomState;
        const std::string& path = c.file;

        const Logged r = load(factory, path);
        EXPECT_FALSE(r.ok) << c.file;
        if (c.errors) {
            std::string errors = *c.errors;
            for (std::size_t at; (at = errors.find('@')) != std::string::npos;) {
                errors.replace(at, 1, path);
            }
            EXPECT_EQ(r.log, parsingLine(path) + errors + kFailed) << c.file;
        } else {
            EXPECT_EQ(r.log.rfind(parsingLine(path), 0), 0u) << r.log;
            ASSERT_GE(r.log.size(), kFailed.size()) << c.file;
            EXPECT_EQ(r.log.substr(r.log.size() - kFailed.size()), kFailed) << c.file;
        }
        EXPECT_FALSE(factory.loaded) << c.file;
        EXPECT_EQ(factory.fileName, "examples/town/town.xml") << c.file;
        EXPECT_TRUE(factory.buildings.empty()) << c.file;
        EXPECT_TRUE(factory.crossStreets.empty()) << c.file;
        EXPECT_TRUE(factory.horizontalStreets.empty()) << c.file;
        EXPECT_TRUE(factory.verticalStreets.empty()) << c.file;
        EXPECT_TRUE(factory.procedures.empty()) << c.file;
        EXPECT_TRUE(factory.textureGroups.empty()) << c.file;
        EXPECT_TRUE(factory.inlineTextureGroups.empty()) << c.file;
        EXPECT_EQ(generationContext().randomState, state) << c.file;
        EXPECT_EQ(factory.numCellsX, 10u) << c.file << ": the parameters stay";
        EXPECT_EQ(factory.streetEveryX, 3u) << c.file << ": the parameters stay";
    }
}

// A second validator agrees: every bundled example validates, a document rooted anywhere but
// at Ombrel does not.
TEST_F(Loader, SchemaAcceptsOnlyOmbrelAsRootInXmllint) {
    if (std::system("command -v xmllint >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "xmllint not installed";
    auto valid = [](const std::string& file) {
        const std::string command =
            "xmllint --noout --schema xsd/Ombrel.xsd '" + file + "' >/dev/null 2>&1";
        return std::system(command.c_str()) == 0;
    };
    for (const char* example :
         {"examples/town/town.xml", "examples/downtown/downtown.xml",
          "examples/downtown/downtown-1024.xml", "examples/metropolis/metropolis.xml"})
        EXPECT_TRUE(valid(example)) << example;
    for (const char* root :
         {"rootbuilding.xml", "rootstreet.xml", "rootdrawbox.xml", "roottexture.xml"})
        EXPECT_FALSE(valid(data(root))) << root;
}

TEST_F(Loader, NestingUpToTheLimitLoads) {
    CityFactory factory;
    const Logged r = load(factory, data("deepok.xml"));
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.log, parsingLine(data("deepok.xml")) + loadedLine(data("deepok.xml")));
}

// The schema is looked for in the current directory, beside the program (the build tree's
// xsd/), then in the installed share/ombrel/xsd; from the repository root the first wins.
TEST_F(Loader, SchemaIsLookedForInOrder) {
    const fs::path bin = fs::weakly_canonical(OMBREL_BIN_DIR);
    const std::vector<std::string> expected{
        "xsd/Ombrel.xsd", (bin.parent_path() / "xsd" / "Ombrel.xsd").string(),
        (bin / "xsd" / "Ombrel.xsd").string(),
        (bin.parent_path() / "share" / "ombrel" / "xsd" / "Ombrel.xsd").string()};
    EXPECT_EQ(schemaCandidates(), expected);
    EXPECT_EQ(findSchemaFile(), "xsd/Ombrel.xsd");
}

} // namespace
} // namespace ombrel
