// Files that change together, and the temporary names beside them.
#include "vrml/CommitGroup.h"
#include "vrml/ReplacingFile.h"

#include "tests/support/Files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace ombrel {
namespace {

namespace fs = std::filesystem;
using testsupport::readFile;

using testsupport::entries;

// The number of a process that has ended.
pid_t endedProcess() {
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(0);
    int status = 0;
    ::waitpid(child, &status, 0);
    return child;
}

class CommitGroupTest : public testing::Test {
protected:
    void SetUp() override { dir_ = fs::path(testing::TempDir()); }

    // A file of the group with `text` written into it.
    std::unique_ptr<ReplacingFile> written(const std::string& leaf, const std::string& text) {
        auto file = std::make_unique<ReplacingFile>((dir_ / leaf).string());
        EXPECT_NE(file->stream(), nullptr) << leaf << ": " << file->reason();
        if (file->stream())
            std::fputs(text.c_str(), file->stream());
        return file;
    }

    fs::path dir_;
};

// What the folder holds after a group whose last file cannot be placed: the files as they were,
// whether each existed before or not, and nothing else.
TEST_F(CommitGroupTest, AFailedPlacePutsBackTheFilesAlreadyPlaced) {
    struct Case {
        const char* name;
        ReplacingFile::Temporary temporary;
        bool existed;
    };
    const Case cases[] = {
        {"unnamed over old files", ReplacingFile::Temporary::unnamed, true},
        {"named over old files", ReplacingFile::Temporary::named, true},
        {"unnamed, new files", ReplacingFile::Temporary::unnamed, false},
    };
    for (const Case& c : cases) {
        fs::remove_all(dir_ / "out");
        fs::create_directories(dir_ / "out");
        if (c.existed) {
            std::ofstream(dir_ / "out" / "city.bin") << "old data";
            std::ofstream(dir_ / "out" / "city.gltf") << "old json";
        }
        std::vector<std::unique_ptr<ReplacingFile>> files;
        for (const char* leaf : {"city.bin", "city-1.bin", "city.gltf"}) {
            files.push_back(
                std::make_unique<ReplacingFile>((dir_ / "out" / leaf).string(), c.temporary));
            ASSERT_NE(files.back()->stream(), nullptr) << c.name;
            std::fputs("new", files.back()->stream());
        }
        // The .gltf's place is taken by a folder while the files are written.
        fs::remove(dir_ / "out" / "city.gltf");
        fs::create_directories(dir_ / "out" / "city.gltf");
        std::string failedTarget;
        CommitGroup group;
        group.add(
            std::move(files), [] { ADD_FAILURE() << "placed"; },
            [&](const ReplacingFile& failed) { failedTarget = failed.target(); });
        EXPECT_FALSE(group.commit()) << c.name;
        EXPECT_EQ(failedTarget, (dir_ / "out" / "city.gltf").string()) << c.name;
        EXPECT_EQ(readFile(dir_ / "out" / "city.bin"), c.existed ? "old data" : "") << c.name;
        const std::vector<std::string> left =
            c.existed ? std::vector<std::string>{"city.bin", "city.gltf"}
                      : std::vector<std::string>{"city.gltf"};
        EXPECT_EQ(entries(dir_ / "out"), left) << c.name;
    }
}

TEST_F(CommitGroupTest, EveryFileIsPlacedThenEachAddIsToldInOrder) {
    std::ofstream(dir_ / "city.obj") << "old obj";
    std::vector<std::string> told;
    std::vector<std::unique_ptr<ReplacingFile>> obj;
    obj.push_back(written("city.mtl", "new mtl"));
    obj.push_back(written("city.obj", "new obj"));
    std::vector<std::unique_ptr<ReplacingFile>> picture;
    picture.push_back(written("city.png", "new png"));
    CommitGroup group;
    group.add(
        std::move(obj), [&] { told.push_back("obj"); },
        [](const ReplacingFile&) { ADD_FAILURE(); });
    group.add(
        std::move(picture), [&] { told.push_back("png"); },
        [](const ReplacingFile&) { ADD_FAILURE(); });
    ASSERT_TRUE(group.commit());
    EXPECT_TRUE(group.empty());
    EXPECT_EQ(told, (std::vector<std::string>{"obj", "png"}));
    EXPECT_EQ(readFile(dir_ / "city.obj"), "new obj");
    EXPECT_EQ(readFile(dir_ / "city.mtl"), "new mtl");
    EXPECT_EQ(readFile(dir_ / "city.png"), "new png");
    EXPECT_EQ(entries(dir_), (std::vector<std::string>{"city.mtl", "city.obj", "city.png"}));
}

TEST_F(CommitGroupTest, ADiscardedGroupLeavesTheFolderAsItWas) {
    std::ofstream(dir_ / "city.wrl") << "old";
    {
        CommitGroup group;
        std::vector<std::unique_ptr<ReplacingFile>> files;
        files.push_back(written("city.wrl", "new"));
        files.push_back(written("city.png", "new"));
        group.add(std::move(files), nullptr, nullptr);
    }
    EXPECT_EQ(readFile(dir_ / "city.wrl"), "old");
    EXPECT_EQ(entries(dir_), std::vector<std::string>{"city.wrl"});
}

// The first failed write is the reason given, whatever fails after it.
TEST_F(CommitGroupTest, AFailedWriteKeepsItsOwnReason) {
    if (!fs::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    ReplacingFile file("/dev/full");
    ASSERT_NE(file.stream(), nullptr) << file.reason();
    const std::string text(200000, 'x');
    EXPECT_NE(std::fwrite(text.data(), 1, text.size(), file.stream()), text.size());
    EXPECT_EQ(file.error(), ENOSPC);
    EXPECT_FALSE(file.commit());
    EXPECT_EQ(file.reason(), "No space left on device");
}

// Every name that fits in its folder has temporary names that fit, named or unnamed, and the
// file takes its place under that name.
TEST_F(CommitGroupTest, LongNamesHaveTemporaryNamesThatFit) {
    for (std::size_t length : {200u, 238u, 240u, 250u, 255u}) {
        for (auto temporary :
             {ReplacingFile::Temporary::named, ReplacingFile::Temporary::unnamed}) {
            const std::string leaf = std::string(length - 4, 'n') + ".wrl";
            ReplacingFile file((dir_ / leaf).string(), temporary);
            ASSERT_NE(file.stream(), nullptr) << length << ": " << file.reason();
            std::fputs("new", file.stream());
            for (const std::string& name : entries(dir_))
                EXPECT_LE(name.size(), 255u) << length;
            ASSERT_TRUE(file.commit()) << length << ": " << file.reason();
            EXPECT_EQ(readFile(dir_ / leaf), "new") << length;
            EXPECT_EQ(entries(dir_), std::vector<std::string>{leaf}) << length;
            fs::remove(dir_ / leaf);
        }
    }
}

// A kill in the middle of a commit leaves a hidden name; the next file for the same target
// removes it, unless the process that made it still runs.
TEST_F(CommitGroupTest, LeftoversOfEndedProcessesAreRemoved) {
    const std::string ended = std::to_string(endedProcess());
    const std::string running = std::to_string(::getppid());
    for (std::size_t length : {8u, 250u}) {
        fs::remove_all(dir_ / "out");
        fs::create_directories(dir_ / "out");
        const std::string leaf = std::string(length - 4, 'c') + ".wrl";
        // The hidden names this process would use show the stem of the name.
        std::string stem;
        {
            ReplacingFile probe((dir_ / "out" / leaf).string(), ReplacingFile::Temporary::named);
            const std::vector<std::string> names = entries(dir_ / "out");
            ASSERT_EQ(names.size(), 1u);
            const std::string own = names.front();
            stem = own.substr(0, own.rfind(".part-") + 6);
        }
        const std::vector<std::string> leftovers = {stem + ended + "-0", stem + ended + "-101",
                                                    stem + running + "-0", stem + ended + "-x",
                                                    stem.substr(0, stem.size() - 1)};
        for (const std::string& name : leftovers)
            std::ofstream(dir_ / "out" / name) << "partial";
        std::ofstream(dir_ / "out" / leaf) << "old";
        ReplacingFile file((dir_ / "out" / leaf).string());
        ASSERT_NE(file.stream(), nullptr) << length;
        std::vector<std::string> expected = {stem + running + "-0", stem + ended + "-x",
                                             stem.substr(0, stem.size() - 1), leaf};
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(entries(dir_ / "out"), expected) << length;
    }
}

// A link to a file that does not exist yet is written through, as one to an existing file is.
TEST_F(CommitGroupTest, ADanglingLinkIsWrittenThrough) {
    fs::create_directories(dir_ / "models");
    fs::create_symlink("models/city.wrl", dir_ / "latest.wrl");
    ReplacingFile file((dir_ / "latest.wrl").string());
    ASSERT_NE(file.stream(), nullptr) << file.reason();
    std::fputs("new", file.stream());
    ASSERT_TRUE(file.commit()) << file.reason();
    EXPECT_TRUE(fs::is_symlink(dir_ / "latest.wrl"));
    EXPECT_EQ(readFile(dir_ / "models" / "city.wrl"), "new");
    EXPECT_EQ(entries(dir_ / "models"), std::vector<std::string>{"city.wrl"});
}

// A file written beside another is refused when its place holds a pipe, a device or a folder,
// without opening it (a pipe would wait for a reader).
TEST_F(CommitGroupTest, CompanionsMustBeRegularFiles) {
    ASSERT_EQ(::mkfifo((dir_ / "city.bin").c_str(), 0644), 0);
    fs::create_directories(dir_ / "city.mtl");
    fs::create_symlink("city.bin", dir_ / "link.bin");
    for (const char* leaf : {"city.bin", "city.mtl", "link.bin"}) {
        const std::string path = (dir_ / leaf).string();
        ReplacingFile file(path, ReplacingFile::Temporary::unnamed,
                           ReplacingFile::Kind::regularOnly);
        EXPECT_EQ(file.stream(), nullptr) << leaf;
        EXPECT_TRUE(file.notRegular()) << leaf;
        EXPECT_EQ(file.reason(), path + " is not a regular file") << leaf;
    }
    ReplacingFile out("-", ReplacingFile::Temporary::unnamed, ReplacingFile::Kind::regularOnly);
    EXPECT_EQ(out.reason(), "- is not a regular file");
    EXPECT_EQ(entries(dir_), (std::vector<std::string>{"city.bin", "city.mtl", "link.bin"}));
}

} // namespace
} // namespace ombrel
