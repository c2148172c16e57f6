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

class Content : public testsupport::SourceDirTest {
protected:
    CityFactory factory;
};

TEST_F(Content, EveryRepairIsReportedInReadingOrder) {
    const Logged r = loadBody(factory, kData + "warnings.xml");
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.log,
              "firstStreetCrossX must not exceed streetEveryX - default value is taken instead\r\n"
              "firstStreetCrossY must not exceed streetEveryY - default value is taken instead\r\n"
              "randomSeed 'xyz' is not a hexadecimal number - a seed from the clock is taken "
              "instead\r\n"
              "Failed loading texture nowhere.png (it will not be used)\r\n"
              "Float range [5,2] is in wrong order, flipping\r\n"
              "Placing an undefined building part named 'later' - ignored\r\n"
              "Ignoring unknown element name \"x:notes\"\r\n"
              "Unknown road type \"diagonal\" - road definition ignored\r\n"
              "Use of undefined texture group 'Fa\xC3\xA7"
              "ade' ignored\r\n"
              "Unknown Drawable \"x:gadget\"\r\n"
              "Unknown DrawBox closed value 'sometimes' - ignored\r\n"
              "Unknown where 'middle' in scaleTo node, overriding with 'center'\r\n"
              "Unknown scaleType 'approximate' in scaleTo node, overriding with 'relative'\r\n"
              "Placing an undefined building part named 'Tour \xC3\xA9lev\xC3\xA9"
              "e' - ignored\r\n"
              "Ignoring not-supported x:other under ChooseOption\r\n"
              "Float range [30,10] is in wrong order, flipping\r\n"
              "Float range [1,0] is in wrong order, flipping\r\n"
              "UINT range [4294967295,2] is in wrong order, flipping\r\n"
              "Ignoring streetSizeY since there are no \"horizontal\" typed streets defined\r\n");

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
    EXPECT_EQ(r.log, "Placing an undefined building part named 'Tour \xC3\xA9lev\xC3\xA9"
                     "e' - ignored\r\n"
                     "Placing an undefined building part named 'self' - ignored\r\n");

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
    EXPECT_EQ(r.log,
              "Looking for texture files from pattern 'folder/*.png'\r\n"
              "\tAdding '" +
                  folder +
                  "/a.png'\r\n"
                  "\tAdding '" +
                  folder +
                  "/b.png'\r\n"
                  "\tAdding '" +
                  folder +
                  "/c.png'\r\n"
                  "Failed loading texture " +
                  kData +
                  "notanimage.png (it will not be used)\r\n"
                  "Failed loading texture " +
                  kData +
                  "enormous.png (it will not be used)\r\n"
                  "Failed loading texture http://127.0.0.1:9/remote.png (it will not be used)\r\n"
                  "Looking for texture files from pattern 'nomatch/*.png'\r\n");

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

TEST_F(Content, ExtensionsAndDeepDefinitions) {
    const Logged r = loadBody(factory, kData + "extensions.xml");
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.log, "Ignoring unknown element name \"x:wrap\"\r\n"
                     "Unknown Drawable \"DrawBox\"\r\n");
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
