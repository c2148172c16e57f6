// The dataset pictures of ombrel-export: --labels, --instances and --depth beside --png.

#include "tests/support/Files.h"
#include "tests/support/Shell.h"

#include <gtest/gtest.h>

#include <stb_image.h>

#include <cstdint>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

namespace ombrel {
namespace {

namespace fs = std::filesystem;

const std::string kTool = std::string(OMBREL_BIN_DIR) + "/ombrel-export";

// A picture read back: width, height and its values (RGB as 0xRRGGBB, or 16-bit grey).
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> values;
};

Picture readRgb(const std::string& path) {
    Picture p;
    int n = 0;
    stbi_uc* pixels = stbi_load(path.c_str(), &p.width, &p.height, &n, 3);
    if (!pixels)
        return p;
    for (int i = 0; i < p.width * p.height; ++i)
        p.values.push_back(std::uint32_t(pixels[3 * i]) << 16 |
                           std::uint32_t(pixels[3 * i + 1]) << 8 | pixels[3 * i + 2]);
    stbi_image_free(pixels);
    return p;
}

Picture readGrey16(const std::string& path) {
    Picture p;
    int n = 0;
    if (!stbi_is_16_bit(path.c_str()))
        return p;
    stbi_us* samples = stbi_load_16(path.c_str(), &p.width, &p.height, &n, 1);
    if (!samples)
        return p;
    p.values.assign(samples, samples + p.width * p.height);
    stbi_image_free(samples);
    return p;
}

// The sum of every "pixels" count in a legend.
std::size_t legendPixels(const std::string& json) {
    static const std::regex count("\"pixels\": ([0-9]+)");
    std::size_t sum = 0;
    for (auto it = std::sregex_iterator(json.begin(), json.end(), count);
         it != std::sregex_iterator(); ++it)
        sum += std::stoull((*it)[1].str());
    return sum;
}

class Pictures : public testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::path(testing::TempDir()) /
               ("pictures_" +
                std::string(testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    testsupport::ShellResult tool(const std::vector<std::string>& args) {
        std::string command = testsupport::shellQuote(kTool);
        for (const std::string& a : args) {
            command += ' ';
            command += testsupport::shellQuote(a);
        }
        return testsupport::runShell(command, OMBREL_SOURCE_DIR, dir_);
    }
    std::string path(const std::string& leaf) const { return (dir_ / leaf).string(); }

    fs::path dir_;
};

struct ExampleCase {
    const char* name;
    const char* file;
    std::vector<std::string> extra;
};

void PrintTo(const ExampleCase& c, std::ostream* os) {
    *os << c.name;
}

class PicturesOfExamples : public Pictures, public testing::WithParamInterface<ExampleCase> {};

TEST_P(PicturesOfExamples, AgreeWithEachOtherAndTheirLegends) {
    std::vector<std::string> args = {"--png",       path("city.png"), "--labels",     path("l.png"),
                                     "--instances", path("i.png"),    "--depth",      path("d.png"),
                                     "--size",      "200x150",        GetParam().file};
    args.insert(args.end(), GetParam().extra.begin(), GetParam().extra.end());
    const testsupport::ShellResult r = tool(args);
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("Saved the picture to " + path("city.png") + "\n"), std::string::npos);
    EXPECT_NE(r.out.find("Saved the labels picture to " + path("l.png") + " (legend " +
                         path("l.png") + ".json)\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("Saved the instances picture to " + path("i.png") + " (legend " +
                         path("i.png") + ".json)\n"),
              std::string::npos);
    EXPECT_NE(r.out.find("Saved the depth picture to " + path("d.png") + "\n"), std::string::npos);

    const Picture labels = readRgb(path("l.png"));
    const Picture instances = readRgb(path("i.png"));
    const Picture depth = readGrey16(path("d.png"));
    const Picture city = readRgb(path("city.png"));
    for (const Picture* p : {&labels, &instances, &depth, &city}) {
        ASSERT_EQ(p->width, 200);
        ASSERT_EQ(p->height, 150);
    }
    std::size_t buildingPixels = 0;
    for (std::size_t i = 0; i < labels.values.size(); ++i) {
        if (instances.values[i] != 0) {
            ++buildingPixels;
            ASSERT_NE(labels.values[i], 0u) << "building pixel " << i << " labelled sky";
        }
        ASSERT_EQ(labels.values[i] == 0, depth.values[i] == 0) << "pixel " << i;
    }
    EXPECT_GT(buildingPixels, 0u);
    const std::string labelsLegend = testsupport::readFile(path("l.png") + ".json");
    const std::string instancesLegend = testsupport::readFile(path("i.png") + ".json");
    EXPECT_EQ(legendPixels(labelsLegend), 200u * 150u) << labelsLegend;
    EXPECT_EQ(legendPixels(instancesLegend), 200u * 150u);
    EXPECT_NE(labelsLegend.find("{\"class\": \"sky\", \"colour\": [0, 0, 0], \"pixels\": "),
              std::string::npos);
    EXPECT_NE(instancesLegend.find("\"picture\": \"i.png\""), std::string::npos);
    EXPECT_NE(instancesLegend.find("{\"building\": 0, \"value\": 1, \"colour\": [0, 0, 1], "
                                   "\"column\": "),
              std::string::npos);
    EXPECT_TRUE(std::regex_search(
        instancesLegend, std::regex("\"row\": [0-9]+, \"definition\": \"" +
                                    std::string(GetParam().file) + ":[0-9]+\", \"pixels\": ")))
        << "each building names its definition";
}

INSTANTIATE_TEST_SUITE_P(Cli, PicturesOfExamples,
                         testing::Values(ExampleCase{"town", "examples/town/town.xml", {}},
                                         ExampleCase{"downtown_overview",
                                                     "examples/downtown/downtown.xml",
                                                     {"--view", "overview", "--seed", "1A2B"}},
                                         ExampleCase{"metropolis_third",
                                                     "examples/metropolis/metropolis.xml",
                                                     {"-n", "3", "--renderer", "immediate"}}),
                         [](const testing::TestParamInfo<ExampleCase>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(Pictures, TheSameSeedDrawsTheSamePictures) {
    for (const char* run : {"a", "b"}) {
        const auto r = tool({"-q", "--seed", "C0FFEE", "--labels", path(std::string(run) + ".png"),
                             "--size", "64x48", "examples/town/town.xml"});
        ASSERT_EQ(r.status, 0) << r.out;
    }
    EXPECT_EQ(testsupport::readFile(path("a.png")), testsupport::readFile(path("b.png")));
    const auto other = tool({"-q", "--seed", "C0FFEF", "--labels", path("c.png"), "--size", "64x48",
                             "examples/town/town.xml"});
    ASSERT_EQ(other.status, 0) << other.out;
    EXPECT_NE(testsupport::readFile(path("a.png")), testsupport::readFile(path("c.png")));
}

TEST_F(Pictures, AFailedPictureReplacesNoneOfTheRunsFiles) {
    const auto r =
        tool({"-q", "--png", path("city.png"), "--labels", path("l.png"), "--depth",
              path("no/such/folder/d.png"), "--size", "64x48", "examples/town/town.xml"});
    EXPECT_EQ(r.status, 3);
    EXPECT_NE(r.out.find("Could not save the depth picture " + path("no/such/folder/d.png") + ": "),
              std::string::npos)
        << r.out;
    EXPECT_FALSE(fs::exists(path("city.png")));
    EXPECT_FALSE(fs::exists(path("l.png")));
    EXPECT_FALSE(fs::exists(path("l.png.json")));
}

struct UsageCase {
    const char* name;
    std::vector<std::string> args;
    std::string message;
};

void PrintTo(const UsageCase& c, std::ostream* os) {
    *os << c.name;
}

class PictureUsage : public Pictures, public testing::WithParamInterface<UsageCase> {};

TEST_P(PictureUsage, ExitsTwoWithAHint) {
    const auto r = tool(GetParam().args);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "ombrel-export: " + GetParam().message + " (see ombrel-export --help)\n");
}

INSTANTIATE_TEST_SUITE_P(
    Cli, PictureUsage,
    testing::Values(UsageCase{"LabelsToStandardOutput",
                              {"--labels", "-", "city.xml"},
                              "the labels picture goes to a file, not to standard output"},
                    UsageCase{"DepthAsJpeg",
                              {"--depth", "d.jpg", "city.xml"},
                              "the depth picture 'd.jpg' is a PNG (name it .png)"},
                    UsageCase{"EmptyInstances",
                              {"--instances=", "city.xml"},
                              "the instances picture path is empty"},
                    UsageCase{"SameFileTwice",
                              {"--png", "x.png", "--labels", "x.png", "city.xml"},
                              "two outputs are written to 'x.png'"},
                    UsageCase{"LegendOverAnotherPicture",
                              {"--labels", "l.png", "--depth", "l.png.json", "city.xml"},
                              "the depth picture 'l.png.json' is a PNG (name it .png)"}),
    [](const testing::TestParamInfo<UsageCase>& info) { return std::string(info.param.name); });

} // namespace
} // namespace ombrel
