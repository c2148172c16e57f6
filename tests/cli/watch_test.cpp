// ombrel-export --seed and --watch, run as a user would.
#include "tests/support/Files.h"
#include "tests/support/ToolProcess.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace ombrel {
namespace {

namespace fs = std::filesystem;

const std::string kTool = std::string(OMBREL_BIN_DIR) + "/ombrel-export";
const std::string kSource = OMBREL_SOURCE_DIR;

using ombrel::testsupport::readFile;

void writeFile(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// As editors that save safely do: a new file renamed over the old one.
void replaceFile(const fs::path& path, const std::string& text) {
    writeFile(path.string() + ".new", text);
    fs::rename(path.string() + ".new", path);
}

std::string cityFile(const std::string& seed, int height) {
    return "<Ombrel numCellsX=\"3\" numCellsY=\"3\" cellSizeX=\"10\" cellSizeY=\"10\" "
           "randomSeed=\"" +
           seed + "\"><Building><DrawBox height=\"[" + std::to_string(height) + "," +
           std::to_string(height + 20) + "]\"/></Building></Ombrel>\n";
}

// Runs the tool from the source folder (where the schema is) with `args`; standard error goes to
// `err`. Returns the child's id.
pid_t start(const std::vector<std::string>& args, const fs::path& err) {
    return ombrel::testsupport::startTool(kTool, args, err, kSource);
}

int finish(pid_t pid) {
    int raw = 0;
    ::waitpid(pid, &raw, 0);
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

// Generous: the tool polls every 50 ms and waits 300 ms of quiet, but the machine may be busy.
bool eventually(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

class CliWatch : public testing::Test {
protected:
    void SetUp() override {
        dir_ =
            fs::path(testing::TempDir()) /
            ("watch_" + std::string(testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(dir_);
        fs::create_directories(dir_ / "city");
    }
    void TearDown() override { fs::remove_all(dir_); }
    fs::path dir_;
};

TEST_F(CliWatch, SeedReplacesTheFilesSeedAndTheHeaderRecordsIt) {
    const fs::path city = dir_ / "city" / "town.xml";
    writeFile(city, cityFile("2a", 10));
    const fs::path fromFile = dir_ / "from-file.wrl";
    ASSERT_EQ(finish(start({"-q", "-o", fromFile.string(), city.string()}, dir_ / "err")), 0);
    writeFile(city, cityFile("1", 10));
    const fs::path fromOption = dir_ / "from-option.wrl";
    ASSERT_EQ(finish(start({"-q", "--seed", "0x2A", "-o", fromOption.string(), city.string()},
                           dir_ / "err")),
              0);
    EXPECT_NE(readFile(fromOption).find("# \t[randomSeed=0x0000002A]\r\n"), std::string::npos);
    EXPECT_EQ(readFile(fromOption), readFile(fromFile));
}

TEST_F(CliWatch, BadUsesAreRefused) {
    const std::string city = "examples/town/town.xml";
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    for (const Case& c : {
             Case{{"--seed", "zz", "-o", "x.wrl", city},
                  "bad seed 'zz' (a hexadecimal number such as 1A2B)"},
             Case{{"--watch", "-o", "-", city},
                  "--watch writes files again and again, not to standard output"},
         }) {
        const fs::path err = dir_ / "err";
        EXPECT_EQ(finish(start(c.args, err)), 2) << c.message;
        EXPECT_EQ(readFile(err), "ombrel-export: " + c.message + " (see ombrel-export --help)\n");
    }
}

// Exports, exports again after an edit (also one saved by renaming a new file over the old),
// keeps the last export when an edit breaks the file, and ends on SIGINT leaving nothing behind.
TEST_F(CliWatch, ExportsAgainOnEachChangeUntilInterrupted) {
    const fs::path city = dir_ / "city" / "town.xml";
    writeFile(city, cityFile("1a2b", 10));
    const fs::path target = dir_ / "city" / "town.wrl";
    const fs::path err = dir_ / "err";
    const pid_t pid = start({"--watch", "-o", target.string(), city.string()}, err);
    ASSERT_GT(pid, 0);
    const auto saves = [&] {
        const std::string log = readFile(err);
        std::size_t n = 0;
        for (std::size_t at = 0; (at = log.find("Saved as VRML to ", at)) != std::string::npos;
             ++at) {
            ++n;
        }
        return n;
    };
    EXPECT_TRUE(eventually([&] { return saves() == 1; })) << readFile(err);
    const std::string first = readFile(target);

    writeFile(city, cityFile("1a2b", 50));
    EXPECT_TRUE(eventually([&] { return saves() == 2; })) << readFile(err);
    const std::string second = readFile(target);
    EXPECT_NE(second, first);

    replaceFile(city, cityFile("1a2b", 10));
    EXPECT_TRUE(eventually([&] { return saves() == 3; })) << readFile(err);
    // The same file again gives the same city: each round starts from the file's seed.
    EXPECT_EQ(readFile(target), first);

    writeFile(city, "<Ombrel");
    EXPECT_TRUE(eventually([&] {
        return readFile(err).find("Kept the previous city\n") != std::string::npos;
    })) << readFile(err);
    EXPECT_EQ(readFile(target), first);

    ::kill(pid, SIGINT);
    EXPECT_EQ(finish(pid), 128 + SIGINT);
    EXPECT_EQ(readFile(target), first);
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir_ / "city")) {
        ++entries;
    }
    EXPECT_EQ(entries, 2u) << "the construction file and its export, nothing beside them";
}

} // namespace
} // namespace ombrel
