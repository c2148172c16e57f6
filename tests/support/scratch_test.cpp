// The scratch folders: every test has one of its own, and it goes when the test ends.

#include "tests/support/Scratch.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace ombrel::testsupport {
namespace {

namespace fs = std::filesystem;

const std::string kPid = std::to_string(::getpid());

// TempDir() without its trailing '/'.
fs::path tempDir() {
    std::string dir = testing::TempDir();
    if (!dir.empty() && dir.back() == '/')
        dir.pop_back();
    return dir;
}

std::string env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "(unset)";
}

// A program linked without the scratch main would hand every test the shared test-tmp folder.
TEST(Scratch, EveryTestHasAnEmptyFolderNamedAfterIt) {
    const fs::path dir = tempDir();
    EXPECT_EQ(dir.filename(), "Scratch.EveryTestHasAnEmptyFolderNamedAfterIt." + kPid);
    ASSERT_TRUE(fs::is_directory(dir));
    EXPECT_TRUE(fs::is_empty(dir));
    EXPECT_EQ(env("TMPDIR"), dir.string()) << "programs the test starts use it too";
}

TEST(Scratch, FoldersAreFreshAndGoAway) {
    const fs::path root = tempDir();
    fs::path first, second, kept;
    {
        ScratchFolder a("Same/name with spaces", root);
        ScratchFolder b("Same/name with spaces", root);
        EXPECT_EQ(a.path().filename(), "Same_name_with_spaces." + kPid);
        EXPECT_EQ(b.path().filename(), "Same_name_with_spaces." + kPid + "-2");
        std::ofstream(a.path() / "file") << "written";
        fs::create_directories(b.path() / "sub" / "deeper");
        ScratchFolder c("Kept", root);
        c.keep();
        first = a.path();
        second = b.path();
        kept = c.path();
    }
    EXPECT_FALSE(fs::exists(first));
    EXPECT_FALSE(fs::exists(second));
    EXPECT_TRUE(fs::is_directory(kept));
}

TEST(Scratch, FinishingPutsTheTestsSurroundingsBack) {
    const std::string outer = env("TEST_TMPDIR");
    const fs::path startDir = fs::current_path();
    ScratchPerTest scratch(tempDir());

    const fs::path passed = scratch.start("Inner.passes");
    EXPECT_EQ(env("TEST_TMPDIR"), passed.string());
    EXPECT_EQ(env("TMPDIR"), passed.string());
    fs::current_path(passed);
    scratch.finish(false);
    EXPECT_FALSE(fs::exists(passed));
    EXPECT_EQ(env("TEST_TMPDIR"), outer);
    EXPECT_EQ(fs::current_path(), startDir);

    const fs::path failed = scratch.start("Inner.fails");
    scratch.finish(true);
    EXPECT_TRUE(fs::is_directory(failed)) << "kept to be looked into";
    EXPECT_EQ(env("TEST_TMPDIR"), outer);
}

} // namespace
} // namespace ombrel::testsupport
