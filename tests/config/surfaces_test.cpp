// Surface classes and materials: what each drawing element gives its faces in a building and in
// a street, and how `surface`, `roofSurface` and `material` override and inherit.

#include "city/CityDefinitions.h"
#include "config/CityFactory.h"
#include "grammar/GeometrySink.h"
#include "tests/config/LoadSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace ombrel {
namespace {

namespace fs = std::filesystem;

// Each face as "class/material" (material empty when there is none), in drawing order.
class LabelSink : public GeometrySink {
public:
    void face(const Face& face) override {
        labels.push_back(std::string(face.surface) + "/" + std::string(face.material));
    }
    std::vector<std::string> labels;
};

using Labels = std::vector<std::string>;

class SurfacesTest : public testsupport::SourceDirTest {
protected:
    // Loads a file of one building and one street of each type with the given contents.
    void load(const std::string& building, const std::string& street, const std::string& crossing) {
        const fs::path dir = fs::path(::testing::TempDir()) / "surfaces";
        fs::create_directories(dir);
        const std::string file = (dir / "labels.xml").string();
        std::ofstream(file, std::ios::binary)
            << "<Ombrel numCellsX=\"4\" numCellsY=\"4\" cellSizeX=\"10\" cellSizeY=\"10\" "
               "streetEveryX=\"2\" streetEveryY=\"2\">"
            << "<Procedure name=\"pavement\"><DrawFloor/></Procedure>" << building << street
            << crossing << "</Ombrel>\n";
        const testsupport::Logged loaded = testsupport::loadBody(factory, file);
        ASSERT_TRUE(loaded.ok);
        EXPECT_EQ(loaded.log, "");
    }
    Labels buildingFaces() const {
        LabelSink sink;
        float low = 0.0f;
        float high = 0.0f;
        Colour colour = 0;
        const auto& definition = *factory.buildings.entries().front().item;
        EXPECT_TRUE(definition.createBuilding(0, 0, 10, 10, low, high, colour)->collect(sink));
        return sink.labels;
    }
    static Labels streetFaces(const CityStreetFactory& definition) {
        LabelSink sink;
        EXPECT_TRUE(definition.createCell(0, 0, 10, 10)->collect(sink));
        return sink.labels;
    }

    CityFactory factory;
};

TEST_F(SurfacesTest, EachElementGivesItsFacesTheClassOfWhatItDraws) {
    load("<Building><DrawFloor/><DrawBox height=\"5\"/><DrawPyramid height=\"3\"/>"
         "<Call name=\"pavement\"/></Building>",
         "<Street type=\"horizontal\"><DrawFloor/><Call name=\"pavement\"/></Street>"
         "<Street type=\"vertical\"><DrawBox height=\"1\" closed=\"onlyTop\"/></Street>",
         "<Street type=\"cross\"><DrawFloor pointingDown=\"true\"/></Street>");
    EXPECT_EQ(buildingFaces(), (Labels{"floor/", "floor/", "wall/", "wall/", "wall/", "wall/",
                                       "roof/", "roof/", "roof/", "roof/", "roof/", "floor/"}));
    EXPECT_EQ(streetFaces(*factory.horizontalStreets.entries().front().item),
              (Labels{"road/", "road/"}));
    EXPECT_EQ(streetFaces(*factory.verticalStreets.entries().front().item),
              (Labels{"wall/", "wall/", "wall/", "wall/", "roof/"}));
    EXPECT_EQ(streetFaces(*factory.crossStreets.entries().front().item), (Labels{"crossing/"}));
}

TEST_F(SurfacesTest, SurfaceAndRoofSurfaceOverrideTheClasses) {
    load("<Building><DrawFloor surface=\"park\"/>"
         "<DrawBox height=\"5\" surface=\"glass\"/>"
         "<DrawBox height=\"5\" closed=\"onlyTop\" roofSurface=\"terrace\"/>"
         "<DrawBox height=\"5\" closed=\"onlyTop\" surface=\"glass\" roofSurface=\"\"/>"
         "<DrawPyramid height=\"3\" surface=\"awning\"/></Building>",
         "<Street type=\"horizontal\"><DrawFloor surface=\"grass\"/></Street>",
         "<Street type=\"cross\"><DrawFloor surface=\"zebra\"/></Street>");
    EXPECT_EQ(buildingFaces(),
              (Labels{"park/",  "glass/", "glass/", "glass/",  "glass/",   "glass/",  "glass/",
                      "wall/",  "wall/",  "wall/",  "wall/",   "terrace/", "glass/",  "glass/",
                      "glass/", "glass/", "glass/", "awning/", "awning/",  "awning/", "awning/"}));
    EXPECT_EQ(streetFaces(*factory.horizontalStreets.entries().front().item), (Labels{"grass/"}));
    EXPECT_EQ(streetFaces(*factory.crossStreets.entries().front().item), (Labels{"zebra/"}));
}

TEST_F(SurfacesTest, MaterialsComeFromTheElementOrElseItsDefinition) {
    load("<Building material=\"concrete\"><DrawFloor/>"
         "<DrawBox height=\"5\" closed=\"onlyTop\" material=\"glass\"/>"
         "<DrawPyramid height=\"3\" material=\"\"/><Call name=\"pavement\"/></Building>",
         "<Street type=\"horizontal\" material=\"asphalt\"><DrawFloor/>"
         "<DrawFloor surface=\"park\" material=\"vegetation\"/><Call name=\"pavement\"/></Street>",
         "<Street type=\"cross\"><DrawFloor/><DrawFloor material=\"wet ground\"/></Street>");
    EXPECT_EQ(buildingFaces(), (Labels{"floor/concrete", "wall/glass", "wall/glass", "wall/glass",
                                       "wall/glass", "roof/glass", "roof/concrete", "roof/concrete",
                                       "roof/concrete", "roof/concrete", "floor/concrete"}));
    EXPECT_EQ(streetFaces(*factory.horizontalStreets.entries().front().item),
              (Labels{"road/asphalt", "park/vegetation", "road/asphalt"}));
    EXPECT_EQ(streetFaces(*factory.crossStreets.entries().front().item),
              (Labels{"crossing/", "crossing/wet ground"}));
}

// The same element run from two definitions takes each one's defaults.
TEST_F(SurfacesTest, AProcedureTakesTheDefaultsOfTheDefinitionThatCallsIt) {
    load("<Building material=\"brick\"><Call name=\"pavement\"/></Building>",
         "<Street type=\"horizontal\" material=\"asphalt\"><Call name=\"pavement\"/></Street>",
         "<Street type=\"cross\"><Call name=\"pavement\"/></Street>");
    for (int twice = 0; twice < 2; ++twice) {
        EXPECT_EQ(buildingFaces(), (Labels{"floor/brick"}));
        EXPECT_EQ(streetFaces(*factory.horizontalStreets.entries().front().item),
                  (Labels{"road/asphalt"}));
        EXPECT_EQ(streetFaces(*factory.crossStreets.entries().front().item), (Labels{"crossing/"}));
    }
}

} // namespace
} // namespace ombrel
