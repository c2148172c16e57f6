// The OpenDRIVE export: what it logs, what the document holds, and that its links agree.
#include "base/Log.h"
#include "export/CityExport.h"

#include "tests/export/FakeCity.h"
#include "tests/support/Files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>

namespace ombrel {
namespace {

namespace fs = std::filesystem;

using ombrel::testsupport::readFile;

StreetGrid townGrid() {
    StreetGrid g;
    g.numCellsX = g.numCellsY = 10;
    g.streetEveryX = g.streetEveryY = 3;
    g.cellSizeX = g.cellSizeY = 20;
    g.streetSizeX = g.streetSizeY = 8;
    return g;
}

class OpenDrive : public testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::path(testing::TempDir());
        record_.constructionFile = "towns/town.xml";
        record_.seed = 255;
        record_.maxCorner = Vec3{200, 200, 30};
        record_.streets = townGrid();
    }

    std::string exported() {
        const fs::path out = dir_ / "city.xodr";
        EXPECT_TRUE(exportCityOpenDrive(out.string(), record_)) << log_.text();
        return readFile(out);
    }

    fs::path dir_;
    CityRecord record_;
    StringLogSink log_;
    ScopedLogSink scoped_{log_};
};

std::size_t count(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

TEST_F(OpenDrive, LogsTheNetworkItWrote) {
    const fs::path out = dir_ / "city.xodr";
    ASSERT_TRUE(exportCityOpenDrive(out.string(), record_));
    EXPECT_EQ(log_.text(), "Saved as OpenDRIVE to " + out.string() +
                               "\r\n(18 roads, 9 junctions, 74 connecting roads)\r\n");
}

TEST_F(OpenDrive, HeaderWithTheCitysBoundsAndWhereItCameFrom) {
    const std::string xodr = exported();
    EXPECT_EQ(xodr.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n", 0), 0u);
    EXPECT_NE(xodr.find("<!-- Configuration: towns/town.xml [randomSeed=0x000000FF] -->\n"),
              std::string::npos);
    EXPECT_NE(xodr.find("<OpenDRIVE>\n  <header revMajor=\"1\" revMinor=\"6\" name=\"town\" "
                        "version=\"1\" north=\"200\" south=\"0\" east=\"200\" west=\"0\" "
                        "vendor=\"Ombrel\"/>\n"),
              std::string::npos)
        << xodr.substr(0, 400);
    EXPECT_EQ(xodr.substr(xodr.size() - 13), "</OpenDRIVE>\n");
}

TEST_F(OpenDrive, StreetsWithTheirLanesAndJunctions) {
    const std::string xodr = exported();
    EXPECT_EQ(count(xodr, "<road "), 18u + 74u);
    EXPECT_EQ(count(xodr, "<junction "), 9u);
    EXPECT_EQ(count(xodr, "junction=\"-1\""), 18u);
    // The first piece of column 0: from the first row's crossing up to the second's.
    const std::string first =
        "  <road name=\"column 0\" length=\"60\" id=\"1\" junction=\"-1\" rule=\"RHT\">\n"
        "    <link>\n"
        "      <predecessor elementType=\"junction\" elementId=\"1\"/>\n"
        "      <successor elementType=\"junction\" elementId=\"2\"/>\n"
        "    </link>\n"
        "    <type s=\"0\" type=\"town\"><speed max=\"50\" unit=\"km/h\"/></type>\n"
        "    <planView>\n"
        "      <geometry s=\"0\" x=\"4\" y=\"8\" hdg=\"1.5707963267948966\" length=\"60\">"
        "<line/></geometry>\n"
        "    </planView>\n";
    EXPECT_NE(xodr.find(first), std::string::npos) << xodr.substr(0, 1500);
    // 8 wide: a driving lane of 3.25 and a sidewalk of 0.75 on each side.
    EXPECT_NE(xodr.find("<lane id=\"2\" type=\"sidewalk\" level=\"false\"><width sOffset=\"0\" "
                        "a=\"0.75\" b=\"0\" c=\"0\" d=\"0\"/></lane>\n"),
              std::string::npos);
    EXPECT_NE(xodr.find("<lane id=\"-1\" type=\"driving\" level=\"false\"><width sOffset=\"0\" "
                        "a=\"3.25\" b=\"0\" c=\"0\" d=\"0\"/>"),
              std::string::npos);
    EXPECT_NE(xodr.find("<road name=\"row 4\""), std::string::npos);
    EXPECT_NE(xodr.find("<junction name=\"column 4, row 4\""), std::string::npos);
    EXPECT_NE(xodr.find("<arc curvature=\"-0.25\"/>"), std::string::npos);
    EXPECT_NE(xodr.find("<arc curvature=\"0.25\"/>"), std::string::npos);
}

// Structural checks a schema cannot make: ids unique, every link answered from the other side,
// every lane wider than nothing.
TEST_F(OpenDrive, IdsAreUniqueLinksAgreeWidthsArePositive) {
    const std::string xodr = exported();
    struct Road {
        std::string junction, predecessor, successor;
    };
    std::map<std::string, Road> roads;
    const std::regex roadRe(
        "<road (?:name=\"[^\"]*\" )?length=\"[^\"]+\" id=\"([0-9]+)\" junction=\"(-?[0-9]+)\""
        "[^>]*>\n(?:    <link>\n((?:      <[a-z]+ [^>]*/>\n)*)    </link>\n)?");
    const std::regex linkRe("<(predecessor|successor) elementType=\"(road|junction)\" "
                            "elementId=\"([0-9]+)\"(?: contactPoint=\"(start|end)\")?/>");
    for (std::sregex_iterator it(xodr.begin(), xodr.end(), roadRe), end; it != end; ++it) {
        Road road;
        road.junction = (*it)[2];
        const std::string links = (*it)[3];
        for (std::sregex_iterator l(links.begin(), links.end(), linkRe); l != end; ++l) {
            std::string target = (*l)[2];
            target.append(" ").append((*l)[3]);
            if ((*l)[4].matched)
                target.append(" ").append((*l)[4]);
            ((*l)[1] == "predecessor" ? road.predecessor : road.successor) = target;
        }
        EXPECT_TRUE(roads.emplace((*it)[1], road).second) << "road id " << (*it)[1];
    }
    ASSERT_EQ(roads.size(), 92u);
    std::size_t connecting = 0;
    for (const auto& [id, road] : roads) {
        if (road.junction == "-1")
            continue;
        ++connecting;
        // A connecting road's ends lie on roads that name its junction at those ends.
        for (const std::string& link : {road.predecessor, road.successor}) {
            std::smatch m;
            const std::regex parts("road ([0-9]+) (start|end)");
            ASSERT_TRUE(std::regex_match(link, m, parts)) << id << ": " << link;
            const Road& other = roads.at(m[1]);
            EXPECT_EQ(m[2] == "start" ? other.predecessor : other.successor,
                      "junction " + road.junction)
                << id;
        }
    }
    EXPECT_EQ(connecting, 74u);
    // Every connection names an incoming road that reaches its junction and a connecting road
    // of that junction that starts there.
    const std::regex junctionRe("<junction name=\"[^\"]*\" id=\"([0-9]+)\">\n((?:    .*\n)*?)  "
                                "</junction>");
    const std::regex connectionRe("<connection id=\"([0-9]+)\" incomingRoad=\"([0-9]+)\" "
                                  "connectingRoad=\"([0-9]+)\" contactPoint=\"start\">");
    std::set<std::string> junctionIds;
    std::size_t connections = 0;
    for (std::sregex_iterator it(xodr.begin(), xodr.end(), junctionRe), end; it != end; ++it) {
        const std::string junction = (*it)[1];
        EXPECT_TRUE(junctionIds.insert(junction).second) << junction;
        const std::string body = (*it)[2];
        std::set<std::string> ids;
        for (std::sregex_iterator c(body.begin(), body.end(), connectionRe); c != end; ++c) {
            ++connections;
            EXPECT_TRUE(ids.insert((*c)[1]).second);
            const Road& connectingRoad = roads.at((*c)[3]);
            EXPECT_EQ(connectingRoad.junction, junction);
            EXPECT_EQ(connectingRoad.predecessor.substr(0, 5 + (*c)[2].length()),
                      "road " + std::string((*c)[2]));
        }
    }
    EXPECT_EQ(junctionIds.size(), 9u);
    EXPECT_EQ(connections, 74u);
    const std::regex widthRe("<width sOffset=\"0\" a=\"([^\"]+)\" b=\"([^\"]+)\"");
    std::size_t widths = 0;
    for (std::sregex_iterator it(xodr.begin(), xodr.end(), widthRe), end; it != end; ++it) {
        ++widths;
        EXPECT_GT(std::stod((*it)[1]), 0.0);
    }
    // Four lanes on each street, one on each connecting road.
    EXPECT_EQ(widths, 18u * 4 + 74u);
}

TEST_F(OpenDrive, ChosenBySaveCityForItsFormat) {
    const fs::path out = dir_ / "net.xodr";
    testsupport::FakeCity city;
    ExportOptions options;
    options.format = *formatForPath(out.string());
    EXPECT_EQ(options.format, ExportFormat::xodr);
    EXPECT_EQ(formatNamed("xodr"), ExportFormat::xodr);
    EXPECT_EQ(formatForPath("CITY.XODR"), ExportFormat::xodr);
    ASSERT_TRUE(saveCity(city, out.string(), record_, options));
    EXPECT_NE(readFile(out).find("<OpenDRIVE>"), std::string::npos);
}

struct NoNetworkCase {
    const char* name;
    std::optional<StreetGrid> grid;
};

void PrintTo(const NoNetworkCase& c, std::ostream* os) {
    *os << c.name;
}

class NoNetwork : public testing::TestWithParam<NoNetworkCase> {};

TEST_P(NoNetwork, SaysSoAndWritesNothing) {
    StringLogSink log;
    ScopedLogSink scoped(log);
    const fs::path dir = testing::TempDir();
    CityRecord record;
    record.streets = GetParam().grid;
    const fs::path fresh = dir / "fresh.xodr";
    EXPECT_FALSE(exportCityOpenDrive(fresh.string(), record));
    EXPECT_EQ(log.text(),
              "Could not save OpenDRIVE to " + fresh.string() + ": the city has no streets\r\n");
    EXPECT_FALSE(fs::exists(fresh));
    // An earlier file stays as it was.
    const fs::path earlier = dir / "earlier.xodr";
    std::ofstream(earlier) << "earlier";
    EXPECT_FALSE(exportCityOpenDrive(earlier.string(), record));
    EXPECT_EQ(readFile(earlier), "earlier");
}

StreetGrid noStreetsAcross() {
    StreetGrid g = townGrid();
    g.streetEveryX = 0;
    return g;
}

StreetGrid allLots() {
    StreetGrid g = townGrid();
    g.crossStreets = g.horizontalStreets = g.verticalStreets = false;
    return g;
}

INSTANTIATE_TEST_SUITE_P(Cities, NoNetwork,
                         testing::Values(NoNetworkCase{"NoGrid", std::nullopt},
                                         NoNetworkCase{"NoStreetsAcross", noStreetsAcross()},
                                         NoNetworkCase{"EveryStreetALot", allLots()}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(OpenDrive, AFolderThatIsNotThereIsReported) {
    const fs::path out = dir_ / "missing" / "city.xodr";
    EXPECT_FALSE(exportCityOpenDrive(out.string(), record_));
    EXPECT_EQ(log_.text(),
              "Could not save OpenDRIVE to " + out.string() + ": No such file or directory\r\n");
}

} // namespace
} // namespace ombrel
