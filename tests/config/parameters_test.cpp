// The root element's city parameters: adjustments, warnings, seeds and limits.

#include "base/Log.h"
#include "config/CityFactory.h"
#include "grammar/GenerationContext.h"
#include "tests/config/LoadSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace ombrel {
namespace {

namespace fs = std::filesystem;

struct Expected {
    std::uint32_t firstStreetCrossX, firstStreetCrossY;
    float streetSizeX, streetSizeY;
};

struct ParameterCase {
    const char* name;
    const char* attributes; // on the root, after the cell sizes 10 x 20
    const char* streets;    // the street types defined
    Expected expected;
    std::string warnings;
};

const std::string kSpacing = R"( streetEveryX="3" streetEveryY="2")";

fs::path rootFile() {
    return fs::path(::testing::TempDir()) / "ombrel_parameters.xml";
}

// The lines of `text`, each starting with the place of the root element of rootFile().
std::string atRoot(const std::string& text) {
    std::string out;
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = text.find("\r\n", start) + 2;
        out += rootFile().string() + ":1:1: " + text.substr(start, end - start);
        start = end;
    }
    return out;
}

// Writes a construction file with the given root attributes and street types, loads it and
// returns the log between its first and last line.
std::string loadRoot(CityFactory& factory, const std::string& attributes,
                     const std::string& streets, bool& ok) {
    const fs::path file = rootFile();
    {
        std::ofstream out(file);
        out << "<Ombrel numCellsX=\"3\" numCellsY=\"3\" cellSizeX=\"10\" cellSizeY=\"20\" "
            << attributes << ">\n";
        std::string types = streets;
        for (std::size_t start = 0; start < types.size();) {
            std::size_t end = types.find(' ', start);
            if (end == std::string::npos)
                end = types.size();
            out << "  <Street type=\"" << types.substr(start, end - start) << "\"/>\n";
            start = end + 1;
        }
        out << "  <Building/>\n</Ombrel>\n";
    }
    const testsupport::Logged r = testsupport::loadBody(factory, file.string());
    ok = r.ok;
    return r.log;
}

class Parameters : public testsupport::SourceDirTest {};

TEST_F(Parameters, StreetAdjustments) {
    const std::string sizes = R"( streetSizeX="4" streetSizeY="6")";
    const std::string horizontalWarning =
        "Ignoring streetSizeY since there are no \"horizontal\" typed streets defined\r\n";
    const std::string verticalWarning =
        "Ignoring streetSizeX since there are no \"vertical\" typed streets defined\r\n";
    const std::string crossX =
        "firstStreetCrossX must not exceed streetEveryX - default value is taken instead\r\n";
    const std::string crossY =
        "firstStreetCrossY must not exceed streetEveryY - default value is taken instead\r\n";
    const ParameterCase cases[] = {
        {"street size 0 is the cell size",
         R"(streetSizeX="0" streetSizeY="0")",
         "horizontal vertical",
         {0, 0, 10, 20},
         ""},
        {"street sizes default to the cell size", "", "", {0, 0, 10, 20}, ""},
        {"first crossing equal to the spacing",
         R"(firstStreetCrossX="3" firstStreetCrossY="2")",
         "horizontal vertical cross",
         {3, 2, 10, 20},
         ""},
        {"first crossing above the spacing",
         R"(firstStreetCrossX="4" firstStreetCrossY="9")",
         "horizontal vertical",
         {3, 2, 10, 20},
         crossX + crossY},
        {"first crossing minus one",
         R"(firstStreetCrossX="-1" firstStreetCrossY="-1")",
         "horizontal vertical",
         {3, 2, 10, 20},
         ""},
        {"first crossing of text",
         R"(firstStreetCrossX="abc" firstStreetCrossY="1")",
         "horizontal vertical",
         {0, 1, 10, 20},
         "firstStreetCrossX 'abc' read as 0\r\n"},
        {"vertical streets only",
         sizes.c_str(),
         "vertical cross",
         {0, 0, 4, 20},
         horizontalWarning},
        {"horizontal streets only", sizes.c_str(), "horizontal", {0, 0, 10, 6}, verticalWarning},
        {"no streets",
         sizes.c_str(),
         "cross diagonal",
         {0, 0, 10, 20},
         horizontalWarning + verticalWarning},
        {"both street types", sizes.c_str(), "vertical horizontal", {0, 0, 4, 6}, ""},
    };
    for (const ParameterCase& c : cases) {
        CityFactory factory;
        bool ok = false;
        std::string log = loadRoot(factory, kSpacing + " " + c.attributes, c.streets, ok);
        // The unknown street type of one case warns before the checks.
        const std::string unknown = rootFile().string() +
                                    ":3:3: Unknown road type \"diagonal\" - road definition "
                                    "ignored\r\n";
        if (log.rfind(unknown, 0) == 0) {
            log.erase(0, unknown.size());
        }
        EXPECT_TRUE(ok) << c.name;
        EXPECT_EQ(log, atRoot(c.warnings)) << c.name;
        EXPECT_EQ(factory.firstStreetCrossX, c.expected.firstStreetCrossX) << c.name;
        EXPECT_EQ(factory.firstStreetCrossY, c.expected.firstStreetCrossY) << c.name;
        EXPECT_EQ(factory.streetSizeX, c.expected.streetSizeX) << c.name;
        EXPECT_EQ(factory.streetSizeY, c.expected.streetSizeY) << c.name;
    }
}

TEST_F(Parameters, SeedsSetTheGeneratorOnlyOnSuccess) {
    const struct {
        const char* attribute;
        std::uint32_t seed;
    } cases[] = {
        {R"(randomSeed="1a2b")", 0x1A2B},
        {R"(randomSeed="0x1A2B")", 0x1A2B},
        {R"(randomSeed=" ff ")", 0xFF},
        {R"(randomSeed="0")", 0},
    };
    for (const auto& c : cases) {
        CityFactory factory;
        generationContext().randomState = 77;
        bool ok = false;
        EXPECT_EQ(loadRoot(factory, c.attribute, "", ok), "") << c.attribute;
        EXPECT_TRUE(ok) << c.attribute;
        EXPECT_EQ(factory.randomSeed, c.seed) << c.attribute;
        EXPECT_EQ(generationContext().randomState, c.seed) << c.attribute;

        // Generating twice gives different seeds; reloading starts over.
        StringLogSink sink;
        ScopedLogSink scope(sink);
        EXPECT_EQ(factory.generate().seed, c.seed) << c.attribute;
        EXPECT_NE(factory.generate().seed, c.seed) << c.attribute;
    }

    // A failed load leaves the generator alone.
    CityFactory factory;
    generationContext().randomState = 77;
    bool ok = true;
    loadRoot(factory, R"(randomSeed="1" numCellsY="-1")", "", ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(generationContext().randomState, 77u);
}

TEST_F(Parameters, GridLimits) {
    const struct {
        const char* attributes;
        bool ok;
        std::string errors;
    } cases[] = {
        {R"(numCellsX="4096" numCellsY="4096")", true, ""},
        {R"(numCellsX="4097" numCellsY="4096")", false,
         "@numCellsX x numCellsY is 4097 x 4096 = 16781312 cells; at most 16777216 are "
         "allowed\r\n"},
        {R"(numCellsX="-1" numCellsY="2")", false,
         "@numCellsX x numCellsY is 4294967295 x 2 = 8589934590 cells; at most 16777216 are "
         "allowed\r\n"},
        {R"(numCellsX="0" numCellsY="-1")", true, ""},
        {R"(streetEveryY="-1")", false,
         "@streetEveryX and streetEveryY must be below 4294967295 (a negative spacing is not "
         "allowed)\r\n"},
        {R"(streetEveryX="4294967294")", true, ""},
    };
    for (const auto& c : cases) {
        // The template's own counts are replaced by the case's.
        std::string attributes = c.attributes;
        CityFactory factory;
        bool ok = !c.ok;
        const fs::path file = fs::path(::testing::TempDir()) / "ombrel_limits.xml";
        {
            std::ofstream out(file);
            std::string counts = attributes.find("numCells") == std::string::npos
                                     ? R"(numCellsX="3" numCellsY="3" )"
                                     : "";
            out << "<Ombrel " << counts << attributes
                << " cellSizeX=\"1\" cellSizeY=\"1\" randomSeed=\"1\"><Building/></Ombrel>\n";
        }
        StringLogSink sink;
        {
            ScopedLogSink scope(sink);
            ok = factory.load(file.string());
        }
        EXPECT_EQ(ok, c.ok) << c.attributes;
        const std::string first = "Parsing " + file.string() + " ... \r\n";
        const std::string last = c.ok ? "Successfully loaded " + file.string() + "\r\n"
                                      : "Failed parsing input file - fix errors and reload\r\n";
        // "@" stands for the place of the root element, where the limit's error points.
        std::string errors = c.errors;
        if (!errors.empty() && errors[0] == '@') {
            errors.replace(0, 1, file.string() + ":1:1: ");
        }
        EXPECT_EQ(sink.text(), first + errors + last) << c.attributes;
        EXPECT_EQ(factory.loaded, c.ok) << c.attributes;
    }
}

} // namespace
} // namespace ombrel
