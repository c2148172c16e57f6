// Runs ombrel-export on the bundled examples for their road networks and has SUMO read them:
// netconvert turns each .xodr into a SUMO network without a complaint, with one junction per
// crossing and a road each way per street, and sumo drives random trips through it until every
// vehicle has arrived. Skipped where SUMO (Debian's sumo and sumo-tools) is not installed.
#include "tests/support/Shell.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <sys/wait.h>

namespace ombrel {
namespace {

namespace fs = std::filesystem;

const std::string kSource = OMBREL_SOURCE_DIR;
const std::string kTool = std::string(OMBREL_BIN_DIR) + "/ombrel-export";
const std::string kSumoHome = "/usr/share/sumo";
const std::string kRandomTrips = kSumoHome + "/tools/randomTrips.py";

using Ran = testsupport::ShellResult;
using testsupport::shellQuote;

// Runs a shell command in the test's scratch folder, where the tools leave what they write.
Ran run(const std::string& command, const fs::path& scratch) {
    return testsupport::runShell(command, scratch, scratch);
}

bool installed(const std::string& program) {
    return std::system(("command -v " + program + " >/dev/null 2>&1").c_str()) == 0;
}

std::size_t matches(const std::string& text, const std::regex& re) {
    return static_cast<std::size_t>(
        std::distance(std::sregex_iterator(text.begin(), text.end(), re), std::sregex_iterator()));
}

// An attribute of the first element named `element` in a SUMO output file; -1 when missing.
long attribute(const std::string& xml, const std::string& element, const std::string& name) {
    std::smatch m;
    if (!std::regex_search(xml, m,
                           std::regex("<" + element + "\\b[^>]*\\b" + name + "=\"([0-9]+)\"")))
        return -1;
    return std::stol(m[1]);
}

class Sumo : public testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        if (!installed("netconvert") || !installed("sumo") || !fs::exists(kRandomTrips))
            GTEST_SKIP() << "SUMO is not installed (scripts/setup installs sumo and sumo-tools)";
        dir_ = fs::path(testing::TempDir());
        const std::string example = GetParam();
        xodr_ = (dir_ / (example + ".xodr")).string();
        net_ = (dir_ / (example + ".net.xml")).string();
        const Ran exported =
            run(shellQuote(kTool) + " -q -o " + shellQuote(xodr_) + " " +
                    shellQuote(kSource + "/examples/" + example + "/" + example + ".xml"),
                dir_);
        ASSERT_EQ(exported.status, 0) << exported.out;
    }

    fs::path dir_;
    std::string xodr_;
    std::string net_;
};

TEST_P(Sumo, NetconvertReadsTheNetworkWithoutComplaint) {
    if (installed("xmllint")) {
        const Ran lint = run("xmllint --noout " + shellQuote(xodr_), dir_);
        EXPECT_EQ(lint.status, 0) << lint.out;
    }
    const Ran converted = run("SUMO_HOME=" + kSumoHome + " netconvert --opendrive-files " +
                                  shellQuote(xodr_) + " -o " + shellQuote(net_),
                              dir_);
    ASSERT_EQ(converted.status, 0) << converted.out;
    EXPECT_EQ(converted.out.find("Error"), std::string::npos) << converted.out;
    EXPECT_EQ(converted.out.find("Warning"), std::string::npos) << converted.out;

    const std::string xodr = testsupport::readFile(xodr_);
    const std::size_t crossings = matches(xodr, std::regex("<junction "));
    const std::size_t streets = matches(xodr, std::regex("junction=\"-1\""));
    ASSERT_GT(crossings, 0u);
    const std::string net = testsupport::readFile(net_);
    // One SUMO junction per crossing, named as the crossing's junction; the other nodes are
    // the ends of the streets at the city's edge (named after the road and the end).
    const std::size_t nodes = matches(net, std::regex("<junction id=\"[0-9]+\" type=\""));
    EXPECT_EQ(nodes, crossings);
    const std::size_t ends =
        matches(net, std::regex("<junction id=\"[0-9]+\\.(begin|end)\" type=\""));
    EXPECT_EQ(matches(net, std::regex("<junction id=\"[^\"]*\" type=\"(?!internal)")),
              nodes + ends);
    // Each street is an edge each way; the connecting roads become the junctions' insides.
    const std::size_t edges = matches(net, std::regex("<edge id=\"[^\"]*\" from="));
    EXPECT_EQ(edges, 2 * streets);
}

TEST_P(Sumo, RandomTripsAllArrive) {
    const Ran converted = run("SUMO_HOME=" + kSumoHome + " netconvert --opendrive-files " +
                                  shellQuote(xodr_) + " -o " + shellQuote(net_),
                              dir_);
    ASSERT_EQ(converted.status, 0) << converted.out;
    const std::string trips = (dir_ / "trips.xml").string();
    const Ran planned =
        run("SUMO_HOME=" + kSumoHome + " python3 " + kRandomTrips + " -n " + shellQuote(net_) +
                " -o " + shellQuote(trips) + " -b 0 -e 600 -p 2 --seed 42 --validate",
            dir_);
    ASSERT_EQ(planned.status, 0) << planned.out;
    const std::string stats = (dir_ / "stats.xml").string();
    const Ran driven =
        run("SUMO_HOME=" + kSumoHome + " sumo --no-step-log --seed 42 -n " + shellQuote(net_) +
                " -r " + shellQuote(trips) + " --statistic-output " + shellQuote(stats),
            dir_);
    ASSERT_EQ(driven.status, 0) << driven.out;
    const std::string summary = testsupport::readFile(stats);
    const long loaded = attribute(summary, "vehicles", "loaded");
    EXPECT_GT(loaded, 100) << summary;
    EXPECT_EQ(attribute(summary, "vehicles", "inserted"), loaded) << summary;
    EXPECT_EQ(attribute(summary, "vehicles", "running"), 0) << summary;
    EXPECT_EQ(attribute(summary, "vehicles", "waiting"), 0) << summary;
    EXPECT_EQ(attribute(summary, "teleports", "total"), 0) << summary;
    EXPECT_EQ(attribute(summary, "safety", "collisions"), 0) << summary;
}

INSTANTIATE_TEST_SUITE_P(Examples, Sumo, testing::Values("town", "downtown", "metropolis"),
                         [](const auto& info) { return std::string(info.param); });

} // namespace
} // namespace ombrel
