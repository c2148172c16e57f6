// The batch tool's signal handler and the folders written whole: what an interrupt leaves.
#include "cli/Interrupts.h"

#include "vrml/StagedFolder.h"
#include "vrml/TilesetFolder.h"

#include "tests/support/Files.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace ombrel {
namespace {

namespace fs = std::filesystem;
using testsupport::entries;
using testsupport::readFile;

// A signal while a tileset is written into its staging folder ends the tool with 128 + its
// number; the handler removes the staging folder, and the previous tileset stays as it was.
TEST(Interrupts, RemoveStagingFolders) {
    const fs::path dir = fs::path(testing::TempDir()) / "work";
    const fs::path out = dir / "city";
    fs::create_directories(out / "tiles");
    const std::string json = R"({"asset":{"version":"1.1","generator":"Ombrel"}})";
    std::ofstream(out / "tileset.json") << json;
    std::ofstream(out / "tiles" / "0.glb") << "old";
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        EXPECT_EXIT(
            {
                std::signal(signal, SIG_DFL);
                installInterruptHandlers();
                StagedFolder folder(out.string(), tilesetFolder());
                fs::create_directories(folder.path() + "/tiles/3/2");
                std::ofstream(folder.path() + "/tiles/3/2/1.glb") << "new and unfinished";
                if (entries(dir).size() == 2)
                    std::raise(signal);
                std::_Exit(1);
            },
            testing::ExitedWithCode(128 + signal), "")
            << signal;
        EXPECT_EQ(readFile(out / "tiles" / "0.glb"), "old") << signal;
        EXPECT_EQ(readFile(out / "tileset.json"), json) << signal;
        EXPECT_EQ(entries(out), (std::vector<std::string>{"tiles", "tileset.json"})) << signal;
        EXPECT_EQ(entries(dir), std::vector<std::string>{"city"}) << signal;
    }
}

} // namespace
} // namespace ombrel
