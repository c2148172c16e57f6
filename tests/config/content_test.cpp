// What a loaded construction file turns into, and every warning the loader writes on the way.

#include "base/Log.h"
#include "config/CityFactory.h"
#include "grammar/DrawFactories.h"
#include "grammar/GenerationContext.h"
#include "grammar/Operators.h"
#include "tests/config/LoadSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace ombrel {
namespace {

namespace fs = std::filesystem;

const std::string kData = std::string(OMBREL_TEST_DATA_DIR) + "/data/";

using testsupport::loadBody;
using testsupport::Logged;

template <class T> const T* child(const CityCellFactory& container, std::size_t index) {
    if (index >= container.children.size()) {
        ADD_FAILURE() << "no child " << index;
        return nullptr;
    }
    const T* typed = dynamic_cast<const T*>(container.children[index].get());
    EXPECT_NE(typed, nullptr) << "child " << index << " has another type";
    return typed;
}

// A message as a StringLogSink keeps it: the place in the data file `file` first.
std::string at(const std::string& file, int line, int column, const std::string& text) {
    return kData + file + ":" + std::to_string(line) + ":" + std::to_string(column) + ": " + text +
           "\r\n";
}

class Content : public testsupport::SourceDirTest {
protected:
    CityFactory factory;
};

TEST_F(Content, EveryRepairIsReportedInReadingOrder) {
    const Logged r = loadBody(factory, kData + "warnings.xml");
    ASSERT_TRUE(r.ok);
    const auto w = [](int line, int column, const std::string& text) {
        return at("warnings.xml", line, column, text);
    };
    EXPECT_EQ(r.log,
              w(3, 1,
                "firstStreetCrossX must not exceed streetEveryX - default value is taken "
                "instead") +
                  w(3, 1,
                    "firstStreetCrossY must not exceed streetEveryY - default value is taken "
                    "instead") +
                  w(3, 1,
                    "randomSeed 'xyz' is not a hexadecimal number - a seed from the clock is "
                    "taken instead") +
                  w(8, 5, "Failed loading texture nowhere.png (it will not be used)") +
                  w(8, 5,
                    "not found; looked in " + std::string(OMBREL_SOURCE_DIR) + " and " +
                        fs::path(kData).parent_path().string()) +
                  w(11, 5, "Float range [5,2] is in wrong order, flipping") +
                  w(12, 5, "Placing an undefined building part named 'later' - ignored") +
                  w(12, 5,
                    "(a Procedure 'later' is defined at line 14: procedures must come before "
                    "the elements that call them)") +
                  w(17, 3, "Ignoring unknown element name \"x:notes\"") +
                  w(18, 3, "Unknown road type \"diagonal\" - road definition ignored") +
                  w(23, 5,
                    "Use of undefined texture group 'Fa\xC3\xA7"
                    "ade' ignored") +
                  w(26, 5, "Unknown Drawable \"x:gadget\"") +
                  w(27, 5, "Unknown DrawBox closed value 'sometimes' - ignored") +
                  w(28, 5, "Unknown where 'middle' in scaleTo node, overriding with 'center'") +
                  w(28, 5,
                    "Unknown scaleType 'approximate' in scaleTo node, overriding with "
                    "'relative'") +
                  w(29, 5,
                    "Placing an undefined building part named 'Tour \xC3\xA9lev\xC3\xA9"
                    "e' - ignored") +
                  w(29, 5, "procedures defined before it: 'later', 'part'") +
                  w(31, 7, "Ignoring not-supported x:other under ChooseOption") +
                  w(34, 5, "Float range [30,10] is in wrong order, flipping") +
                  w(34, 5, "Float range [1,0] is in wrong order, flipping") +
                  w(35, 5, "UINT range [4294967295,2] is in wrong order, flipping") +
                  w(3, 1,
                    "Ignoring streetSizeY since there are no \"horizontal\" typed streets "
                    "defined"));

    EXPECT_EQ(factory.firstStreetCrossX, 3u);
    EXPECT_EQ(factory.firstStreetCrossY, 2u);
    EXPECT_EQ(factory.streetSizeX, 5.0f) << "vertical streets exist";
    EXPECT_EQ(factory.streetSizeY, 20.0f) << "reset to cellSizeY";
    EXPECT_EQ(generationContext().randomState, factory.randomSeed);
    EXPECT_EQ(factory.textureGroups.at("good")->textures.size(), 1u)
        << "the failed image is left out";
    EXPECT_TRUE(factory.crossStreets.empty());
    EXPECT_TRUE(factory.horizontalStreets.empty());
    EXPECT_EQ(factory.verticalStreets.size(), 1u);
    EXPECT_EQ(factory.procedures.at("part")->children.size(), 1u)
        << "the undefined Call is dropped";

    ASSERT_EQ(factory.buildings.size(), 1u);
    const CityBuildingFactory& building = *factory.buildings.entries()[0].item;
    EXPECT_EQ(building.vrmlTag, "");
    ASSERT_EQ(building.children.size(), 5u);
    if (const auto* box = child<DrawBoxFactory>(building, 0)) {
        EXPECT_EQ(box->closed, ClosedMode::no);
        EXPECT_EQ(box->height, FloatRange(1.0f, 3.0f)) << "read after the bad closed word";
        EXPECT_EQ(box->textureGroup, nullptr);
    }
    if (const auto* scale = child<ScaleToFactory>(building, 1)) {
        EXPECT_EQ(scale->where, ScaleWhere::center);
        EXPECT_EQ(scale->scaleType, ScaleType::relative);
        EXPECT_EQ(scale->scalex, FloatRange(1.0f)) << "the schema's default";
    }
    if (const auto* choose = child<ChooseFactory>(building, 2)) {
        ASSERT_EQ(choose->options.size(), 1u);
        EXPECT_EQ(choose->options.entries()[0].weight, 1.0f);
        const CityCellFactory& option = *choose->options.entries()[0].item;
        if (const auto* pop = child<PopFactory>(option, 0)) {
            EXPECT_TRUE(pop->popCellVertices && pop->popHeight && pop->popRandomSeed);
        }
    }
    if (const auto* rotate = child<RotateFactory>(building, 3)) {
        EXPECT_EQ(rotate->theta, FloatRange(10.0f, 30.0f));
        EXPECT_EQ(rotate->distance, FloatRange(0.0f, 1.0f));
    }
    if (const auto* call = child<CallFactory>(building, 4)) {
        EXPECT_EQ(call->repeat, UintRange(2u, 4294967295u));
        EXPECT_EQ(call->procedure, factory.procedures.at("part"));
    }
}

TEST_F(Content, CallsBindToTheProceduresBeforeThem) {
    const Logged r = loadBody(factory, kData + "procedures.xml");
    ASSERT_TRUE(r.ok);
    const std::string tower = "Tour \xC3\xA9lev\xC3\xA9"
                              "e";
    EXPECT_EQ(r.log, at("procedures.xml", 6, 3, "Procedure 'storey' replaces the one at line 4") +
                         at("procedures.xml", 8, 29,
                            "Placing an undefined building part named '" + tower + "' - ignored") +
                         at("procedures.xml", 8, 29,
                            "(a Procedure '" + tower +
                                "' is defined at line 9: procedures must come before the elements "
                                "that call them)") +
                         at("procedures.xml", 10, 26,
                            "Placing an undefined building part named 'self' - ignored") +
                         at("procedures.xml", 10, 26, "(a Procedure cannot call itself)"));

    const auto& procedures = factory.procedures;
    ASSERT_EQ(procedures.size(), 6u);
    const auto storey = procedures.at("storey");
    // "early" was read while the first "storey" was stored: it keeps that body alive.
    const auto* early = child<CallFactory>(*procedures.at("early"), 0);
    ASSERT_NE(early, nullptr);
    EXPECT_NE(early->procedure, storey);
    EXPECT_EQ(early->repeat, UintRange(2u));
    if (const auto* up = child<GoUpFactory>(*early->procedure, 0)) {
        EXPECT_EQ(up->height, FloatRange(1.0f));
    }
    const auto* late = child<CallFactory>(*procedures.at("late"), 0);
    ASSERT_NE(late, nullptr);
    EXPECT_EQ(late->procedure, storey);
    EXPECT_EQ(late->repeat, UintRange(1u, 3u));
    EXPECT_TRUE(procedures.at("forward")->children.empty()) << "a later procedure is not callable";
    EXPECT_TRUE(procedures.at("self")->children.empty()) << "a procedure never calls itself";

    // Definitions see every procedure, the last of each name.
    const CityBuildingFactory& building = *factory.buildings.entries()[0].item;
    ASSERT_EQ(building.children.size(), 3u);
    EXPECT_EQ(child<CallFactory>(building, 0)->procedure, storey);
    EXPECT_EQ(child<CallFactory>(building, 1)->procedure, procedures.at("Tour \xC3\xA9lev\xC3\xA9"
                                                                        "e"));
    EXPECT_EQ(child<CallFactory>(building, 2)->procedure, procedures.at("early"));

    // The building runs: 2 (storey) + 30 (the tower) + 2 x 1 (early's two calls of the first
    // storey).
    float low = -1.0f, high = -1.0f;
    Colour colour = 0;
    building.createBuilding(0, 0, 10, 10, low, high, colour);
    EXPECT_EQ(high, 34.0f);
}

TEST_F(Content, TextureOptionsAndTextures) {
    const Logged r = loadBody(factory, kData + "textures.xml");
    ASSERT_TRUE(r.ok);
    const std::string folder = fs::absolute(fs::path(kData) / "folder").lexically_normal().string();
    EXPECT_EQ(
        r.log,
        at("textures.xml", 5, 5, "relativeToHeight '1' read as false") +
            "Looking for texture files from pattern 'folder/*.png'\r\n"
            "\tAdding '" +
            folder +
            "/a.png'\r\n"
            "\tAdding '" +
            folder +
            "/b.png'\r\n"
            "\tAdding '" +
            folder + "/c.png'\r\n" +
            at("textures.xml", 12, 5,
               "Failed loading texture " + kData + "notanimage.png (it will not be used)") +
            at("textures.xml", 12, 5,
               "cannot be decoded: Image not of any known type, or corrupt") +
            at("textures.xml", 13, 5,
               "Failed loading texture " + kData + "enormous.png (it will not be used)") +
            at("textures.xml", 13, 5,
               "it is 100000 x 100000 pixels; images up to 16384 pixels a side and 64 "
               "megapixels are read") +
            at("textures.xml", 14, 5,
               "Failed loading texture http://127.0.0.1:9/remote.png (it will not be "
               "used)") +
            at("textures.xml", 14, 5, "images are read from files only: URLs are never fetched") +
            "Looking for texture files from pattern 'nomatch/*.png'\r\n" +
            at("textures.xml", 33, 5, "useLastTexture 'True' read as false"));

    const auto& named = factory.textureGroups.at("named")->textures;
    ASSERT_EQ(named.size(), 1u);
    EXPECT_EQ(named.entries()[0].weight, 2.0f);
    const Texture& white = *named.entries()[0].item;
    EXPECT_EQ(white.path, kData + "white.png") << "found beside the construction file";
    EXPECT_EQ(white.scalex, 3.0f);
    EXPECT_EQ(white.scaley, 4.0f);
    EXPECT_TRUE(white.relativeToWidth);
    EXPECT_FALSE(white.relativeToHeight) << "only the exact text true is true";
    EXPECT_EQ(white.image.width, 4);

    const auto& pattern = factory.textureGroups.at("pattern")->textures;
    ASSERT_EQ(pattern.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(pattern.entries()[i].weight, 5.0f);
        EXPECT_EQ(pattern.entries()[i].item->path, folder + "/" + char('a' + i) + ".png");
        EXPECT_EQ(pattern.entries()[i].item->scalex, 1.0f) << "the schema's default";
    }

    // A group whose images all failed picks none and makes no draw.
    const TextureGroup& broken = *factory.textureGroups.at("broken");
    EXPECT_TRUE(broken.textures.empty());
    const std::uint32_t before = generationContext().randomState;
    EXPECT_EQ(broken.pick(), nullptr);
    EXPECT_EQ(generationContext().randomState, before);

    const CityBuildingFactory& building = *factory.buildings.entries()[0].item;
    ASSERT_EQ(building.children.size(), 5u);
    ASSERT_EQ(factory.inlineTextureGroups.size(), 2u);
    EXPECT_EQ(child<DrawBoxFactory>(building, 0)->textureGroup, factory.textureGroups.at("named"));
    EXPECT_EQ(child<DrawFloorFactory>(building, 1)->textureGroup, factory.inlineTextureGroups[0]);
    EXPECT_EQ(child<DrawFloorFactory>(building, 2)->textureGroup, factory.inlineTextureGroups[1]);
    EXPECT_NE(factory.inlineTextureGroups[0]->textures.entries()[0].item,
              factory.inlineTextureGroups[1]->textures.entries()[0].item)
        << "identical inline textures are loaded twice";
    EXPECT_EQ(child<DrawPyramidFactory>(building, 3)->textureGroup, factory.lastTextureGroup);
    EXPECT_EQ(child<DrawPyramidFactory>(building, 4)->textureGroup, nullptr);
}

TEST_F(Content, APatternWithoutAFolderSearchesTheCurrentDirectory) {
    const fs::path folder = fs::absolute(fs::path(kData) / "folder").lexically_normal();
    fs::current_path(folder);
    const Logged r = loadBody(factory, kData + "barepattern.xml");
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.log, "Looking for texture files from pattern '*.png'\r\n"
                     "\tAdding '" +
                         (folder / "a.png").string() +
                         "'\r\n"
                         "\tAdding '" +
                         (folder / "b.png").string() +
                         "'\r\n"
                         "\tAdding '" +
                         (folder / "c.png").string() + "'\r\n");
    EXPECT_EQ(factory.textureGroups.at("here")->textures.size(), 3u);
}

// The line after an undefined Call says what can be called there: the name probably meant, or
// the procedures defined so far (ten at most), or that there are none.
TEST_F(Content, UndefinedCallsSayWhatCanBeCalled) {
    const auto procedures = [](int count) {
        std::string text;
        for (int i = 0; i < count; ++i) {
            text += "<Procedure name=\"part" + std::to_string(i) +
                    "\"><GoUp height=\"1\"/></Procedure>";
        }
        return text;
    };
    const struct {
        const char* name;
        std::string procedures;
        const char* call;
        std::string hint;
    } cases[] = {
        {"none defined", "", "tower", "no Procedure is defined before it"},
        {"a slip", procedures(2), "prat1", "did you mean 'part1'?"},
        {"letter case", procedures(1), "PART0", "did you mean 'part0'?"},
        {"nothing near", procedures(2), "tower", "procedures defined before it: 'part0', 'part1'"},
        {"ten at most", procedures(12), "tower",
         "procedures defined before it: 'part0', 'part1', 'part10', 'part11', 'part2', 'part3', "
         "'part4', 'part5', 'part6', 'part7', ..."},
    };
    for (const auto& c : cases) {
        const fs::path file = fs::path(::testing::TempDir()) / "calls.xml";
        std::ofstream(file) << "<Ombrel numCellsX=\"1\" numCellsY=\"1\" cellSizeX=\"1\" "
                               "cellSizeY=\"1\">"
                            << c.procedures << "\n<Building><Call name=\"" << c.call
                            << "\"/></Building></Ombrel>\n";
        CityFactory fresh;
        const Logged r = loadBody(fresh, file.string());
        ASSERT_TRUE(r.ok) << c.name;
        const std::string place = file.string() + ":2:11: ";
        EXPECT_EQ(r.log, place + "Placing an undefined building part named '" + c.call +
                             "' - ignored\r\n" + place + c.hint + "\r\n")
            << c.name;
    }
}

TEST_F(Content, ExtensionsAndDeepDefinitions) {
    const Logged r = loadBody(factory, kData + "extensions.xml");
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.log, at("extensions.xml", 5, 3, "Ignoring unknown element name \"x:wrap\"") +
                         at("extensions.xml", 11, 5, "Unknown Drawable \"DrawBox\""));
    // Texture groups and procedures are found anywhere below the root, definitions only as its
    // children.
    EXPECT_EQ(factory.textureGroups.count("deep"), 1u);
    EXPECT_EQ(factory.procedures.count("deep"), 1u);
    ASSERT_EQ(factory.buildings.size(), 1u);
    const CityBuildingFactory& building = *factory.buildings.entries()[0].item;
    ASSERT_EQ(building.children.size(), 2u) << "a DrawBox of another namespace is not ours";
    EXPECT_EQ(child<CallFactory>(building, 0)->procedure, factory.procedures.at("deep"));
    EXPECT_EQ(child<DrawFloorFactory>(building, 1)->textureGroup, factory.textureGroups.at("deep"));
}

} // namespace
} // namespace ombrel
