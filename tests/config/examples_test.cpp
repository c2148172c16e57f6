// The bundled example cities and the schema: they agree with an independent validator, use the
// whole vocabulary between them, and load from any directory.

#include "base/Log.h"
#include "config/CityFactory.h"
#include "config/XmlSupport.h"
#include "grammar/GenerationContext.h"
#include "tests/config/LoadSupport.h"
#include "tests/support/FreshContext.h"

#include <xercesc/parsers/XercesDOMParser.hpp>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>

namespace ombrel {
namespace {

namespace fs = std::filesystem;

const fs::path kSource = OMBREL_SOURCE_DIR;
const fs::path kData = fs::path(OMBREL_TEST_DATA_DIR) / "data";
const char* const kExamples[] = {"examples/town/town.xml", "examples/downtown/downtown.xml",
                                 "examples/metropolis/metropolis.xml"};

bool haveXmllint() {
    return std::system("xmllint --version > /dev/null 2>&1") == 0;
}

bool xmllintAccepts(const fs::path& file) {
    const std::string command = "xmllint --noout --nonet --schema '" +
                                (kSource / "xsd" / "Ombrel.xsd").string() + "' '" + file.string() +
                                "' > /dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

TEST(Examples, SchemaAgreesWithXmllint) {
    if (!haveXmllint()) {
        GTEST_SKIP() << "xmllint not installed";
    }
    for (const char* example : kExamples) {
        EXPECT_TRUE(xmllintAccepts(kSource / example)) << example;
    }
    // (deepok.xml is left out: xmllint refuses documents nested 256 elements deep.)
    const std::pair<const char*, bool> data[] = {
        {"warnings.xml", true},
        {"procedures.xml", true},
        {"textures.xml", true},
        {"extensions.xml", true},
    };
    for (const auto& [file, valid] : data) {
        EXPECT_EQ(xmllintAccepts(kData / file), valid) << file;
    }
    for (const char* broken : {"schema-invalid.xml", "empty.xml", "not-well-formed.xml"}) {
        EXPECT_FALSE(xmllintAccepts(testsupport::catalogueFile(broken))) << broken;
    }
}

// Every element and every attribute of the vocabulary appears in at least one example.
TEST(Examples, UseTheWholeVocabulary) {
    const std::map<std::string, std::set<std::string>> vocabulary = {
        {"Ombrel",
         {"numCellsX", "numCellsY", "cellSizeX", "cellSizeY", "streetEveryX", "streetEveryY",
          "firstStreetCrossX", "firstStreetCrossY", "streetSizeX", "streetSizeY", "randomSeed"}},
        {"Street", {"type", "probability"}},
        {"Building", {"probability", "vrmlTag"}},
        {"Procedure", {"name"}},
        {"TextureGroup", {"name"}},
        {"Texture",
         {"imageURL", "probability", "scalex", "scaley", "relativeToWidth", "relativeToHeight"}},
        {"DrawFloor", {"noColor", "pointingDown", "useTextureGroup", "useLastTexture"}},
        {"DrawBox", {"noColor", "closed", "height", "useTextureGroup", "useLastTexture"}},
        {"DrawPyramid", {"noColor", "height", "useTextureGroup", "useLastTexture"}},
        {"GoUp", {"height"}},
        {"Rotate", {"theta", "distance"}},
        {"ScaleTo", {"where", "scalex", "scaley", "scaleType"}},
        {"Call", {"name", "repeat"}},
        {"Choose", {}},
        {"ChooseOption", {"probability"}},
        {"Maybe", {"probability"}},
        {"Push", {"count"}},
        {"Pop", {"popCellVertices", "popHeight", "popRandomSeed"}},
    };
    CityFactory library; // keeps the XML library started
    std::map<std::string, std::set<std::string>> used;
    for (const char* example : kExamples) {
        xercesc::XercesDOMParser parser;
        parser.setValidationScheme(xercesc::XercesDOMParser::Val_Never);
        parser.parse((kSource / example).c_str());
        ASSERT_NE(parser.getDocument(), nullptr) << example;
        xercesc::DOMNodeList* all = parser.getDocument()->getElementsByTagName(u"*");
        for (XMLSize_t i = 0; i < all->getLength(); ++i) {
            const auto* element = static_cast<const xercesc::DOMElement*>(all->item(i));
            std::set<std::string>& attributes = used[xmlToString(element->getTagName())];
            const xercesc::DOMNamedNodeMap* map = element->getAttributes();
            for (XMLSize_t a = 0; a < map->getLength(); ++a) {
                attributes.insert(xmlToString(map->item(a)->getNodeName()));
            }
        }
    }
    for (const auto& [element, attributes] : vocabulary) {
        ASSERT_EQ(used.count(element), 1u) << "no example uses " << element;
        for (const std::string& attribute : attributes) {
            EXPECT_EQ(used[element].count(attribute), 1u)
                << "no example uses " << element << " " << attribute;
        }
    }
}

class FromElsewhere : public ::testing::Test {
protected:
    void SetUp() override {
        testsupport::useFreshGenerationContext();
        previousDir_ = fs::current_path();
        elsewhere_ = fs::path(::testing::TempDir()) / "ombrel elsewhere";
        fs::create_directories(elsewhere_);
        fs::current_path(elsewhere_);
    }
    void TearDown() override { fs::current_path(previousDir_); }

private:
    fs::path previousDir_;
    fs::path elsewhere_;
};

// Away from the repository, the schema is the one beside the program and texture images are
// found beside the construction file.
TEST_F(FromElsewhere, ExamplesLoadFromAnyDirectory) {
    for (const char* example : {"examples/town/town.xml", "examples/downtown/downtown.xml"}) {
        const std::string path = (kSource / example).string();
        CityFactory factory;
        StringLogSink sink;
        ScopedLogSink scope(sink);
        EXPECT_TRUE(factory.load(path)) << example;
        EXPECT_EQ(sink.text(), "Parsing " + path + " ... \r\nSuccessfully loaded " + path + "\r\n")
            << example;
        const Texture& first = *factory.textureGroups.begin()->second->textures.entries()[0].item;
        EXPECT_TRUE(fs::path(first.path).is_absolute()) << example << ": " << first.path;
        EXPECT_FALSE(first.image.empty()) << example;
    }
}

// Paths are UTF-8 through and through: a folder with an accent loads, and its name survives
// into the log and into texture paths.
TEST_F(FromElsewhere, NonAsciiPaths) {
    const fs::path folder = fs::current_path() / "citt\xC3\xA0";
    fs::create_directories(folder);
    fs::copy_file(kData / "white.png", folder / "blanc.png", fs::copy_options::overwrite_existing);
    const std::string path = (folder / "ville.xml").string();
    {
        std::ofstream out(path);
        out << "<Ombrel numCellsX=\"1\" numCellsY=\"1\" cellSizeX=\"1\" cellSizeY=\"1\">"
               "<Building><DrawFloor><Texture imageURL=\"blanc.png\"/></DrawFloor></Building>"
               "</Ombrel>";
    }
    CityFactory factory;
    StringLogSink sink;
    ScopedLogSink scope(sink);
    EXPECT_TRUE(factory.load(path));
    EXPECT_EQ(sink.text(), "Parsing " + path + " ... \r\nSuccessfully loaded " + path + "\r\n");
    ASSERT_EQ(factory.inlineTextureGroups.size(), 1u);
    ASSERT_EQ(factory.inlineTextureGroups[0]->textures.size(), 1u);
    EXPECT_EQ(factory.inlineTextureGroups[0]->textures.entries()[0].item->path,
              (folder / "blanc.png").string());
}

TEST(Examples, ReloadingRebuildsEverything) {
    struct Cwd {
        fs::path previous = fs::current_path();
        Cwd() { fs::current_path(kSource); }
        ~Cwd() { fs::current_path(previous); }
    } cwd;
    CityFactory factory;
    StringLogSink sink;
    ScopedLogSink scope(sink);
    ASSERT_TRUE(factory.load("examples/downtown/downtown.xml"));
    const auto firstGroup = factory.textureGroups.at("towerWalls");
    const std::size_t buildings = factory.buildings.size();
    const std::size_t inlineGroups = factory.inlineTextureGroups.size();
    const CityFactory::Generated firstCity = factory.generate();

    ASSERT_TRUE(factory.load("examples/downtown/downtown.xml"));
    EXPECT_EQ(factory.buildings.size(), buildings);
    EXPECT_EQ(factory.inlineTextureGroups.size(), inlineGroups);
    EXPECT_NE(factory.textureGroups.at("towerWalls"), firstGroup) << "images are loaded again";
    EXPECT_EQ(factory.textureGroups.at("towerWalls")->textures.size(), 3u);
    // The same seed gives the same city again.
    const CityFactory::Generated again = factory.generate();
    EXPECT_EQ(again.seed, firstCity.seed);
    EXPECT_EQ(again.maxCorner, firstCity.maxCorner);
    EXPECT_EQ(again.city->buildingDrawables.size(), firstCity.city->buildingDrawables.size());
}

} // namespace
} // namespace ombrel
