// Folders written whole and swapped in: what they may replace, the swap, and what a failure or an
// interrupt leaves (the previous folder byte for byte, nothing hidden beside it).
#include "vrml/CommitGroup.h"
#include "vrml/ReplacingFile.h"
#include "vrml/StagedFolder.h"
#include "vrml/TilesetFolder.h"

#include "tests/support/Files.h"
#include "tests/support/Shell.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace ombrel {
namespace {

namespace fs = std::filesystem;
using testsupport::entries;
using testsupport::readFile;

constexpr const char* kOmbrelJson =
    R"({"asset":{"version":"1.1","generator":"Ombrel 0.9","extras":{"seed":7}},)"
    R"("geometricError":120.5,"root":{"refine":"REPLACE","geometricError":60,)"
    R"("boundingVolume":{"box":[0,0,0,1,0,0,0,1,0,0,0,1]}}})";

void write(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

// A tileset as the writer leaves it, `text` in every content file.
void writeTileset(const fs::path& folder, const std::string& text,
                  const std::string& json = kOmbrelJson) {
    write(folder / "tileset.json", json);
    write(folder / "subtrees" / "0.0.0.subtree", text);
    write(folder / "tiles" / "0" / "0" / "0.glb", text);
    write(folder / "tiles" / "1" / "1" / "0.glb", text);
    write(folder / "textures" / "wall.png", text);
}

// Everything under a folder: each file's bytes and mode, each folder and link by its kind, so
// that two snapshots are equal only when nothing changed.
std::map<std::string, std::string> snapshot(const fs::path& folder) {
    std::map<std::string, std::string> all;
    if (!fs::exists(fs::symlink_status(folder)))
        return all;
    struct stat st;
    ::lstat(folder.c_str(), &st);
    all["."] = "mode " + std::to_string(st.st_mode);
    if (!fs::is_directory(fs::symlink_status(folder)))
        return all;
    for (const auto& e : fs::recursive_directory_iterator(folder)) {
        ::lstat(e.path().c_str(), &st);
        const std::string name = fs::relative(e.path(), folder).string();
        std::string what = "mode " + std::to_string(st.st_mode);
        if (S_ISREG(st.st_mode))
            what += " " + readFile(e.path());
        all[name] = what;
    }
    return all;
}

// The number of a process that has ended.
pid_t endedProcess() {
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(0);
    int status = 0;
    ::waitpid(child, &status, 0);
    return child;
}

class StagedFolderTest : public testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::path(testing::TempDir()) / "work";
        fs::create_directories(dir_);
        out_ = dir_ / "out";
    }

    fs::path dir_; // the target's parent: holds nothing but the target after every case
    fs::path out_; // the target
};

// A target that holds anything but a previous tileset is refused and left as it was.
TEST_F(StagedFolderTest, RefusesFoldersThatHoldSomethingElse) {
    struct Case {
        const char* name;
        std::function<void(const fs::path&)> make;
    };
    const std::vector<Case> cases = {
        {"a file", [](const fs::path& p) { write(p, "my notes"); }},
        {"a link to a file",
         [](const fs::path& p) {
             write(p.parent_path() / "notes.txt", "my notes");
             fs::create_symlink("notes.txt", p);
         }},
        {"a folder of other things", [](const fs::path& p) { write(p / "thesis.tex", "x"); }},
        {"a tileset with a stray file",
         [](const fs::path& p) {
             writeTileset(p, "old");
             write(p / "README.txt", "mine");
         }},
        {"a tileset with a stray folder",
         [](const fs::path& p) {
             writeTileset(p, "old");
             fs::create_directories(p / "data");
         }},
        {"another tool's tileset",
         [](const fs::path& p) {
             writeTileset(p, "old", R"({"asset":{"version":"1.1","generator":"py3dtiles"}})");
         }},
        {"a tileset without a generator",
         [](const fs::path& p) { writeTileset(p, "old", R"({"asset":{"version":"1.1"}})"); }},
        {"a generator outside asset",
         [](const fs::path& p) {
             writeTileset(p, "old", R"({"asset":{"version":"1.1"},"generator":"Ombrel"})");
         }},
        {"a broken tileset.json",
         [](const fs::path& p) {
             writeTileset(p, "old", R"({"asset":{"generator":"Ombrel 0.9"},"root":)");
         }},
        {"text after the document",
         [](const fs::path& p) { writeTileset(p, "old", std::string(kOmbrelJson) + " {}"); }},
        {"tileset.json as a folder",
         [](const fs::path& p) { fs::create_directories(p / "tileset.json"); }},
        {"tiles as a file",
         [](const fs::path& p) {
             write(p / "tileset.json", kOmbrelJson);
             write(p / "tiles", "x");
         }},
        {"only the folders, no tileset.json",
         [](const fs::path& p) { fs::create_directories(p / "tiles"); }},
        {"a tileset.json nested without end",
         [](const fs::path& p) {
             writeTileset(p, "old",
                          R"({"asset":{"generator":"Ombrel"},"x":)" + std::string(100000, '[') +
                              std::string(100000, ']') + "}");
         }},
        {"a JSON file of someone else beside the tileset",
         [](const fs::path& p) {
             writeTileset(p, "old");
             write(p / "settings.json", R"({"theme":"dark"})");
         }},
        {"a tileset.json that is a link",
         [](const fs::path& p) {
             write(p.parent_path() / "elsewhere.json", kOmbrelJson);
             fs::create_directories(p);
             fs::create_symlink("../elsewhere.json", p / "tileset.json");
         }},
    };
    for (const Case& c : cases) {
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        c.make(out_);
        const auto before = snapshot(dir_);
        {
            StagedFolder folder(out_.string(), tilesetFolder());
            EXPECT_TRUE(folder.refused()) << c.name;
            EXPECT_EQ(folder.path(), "") << c.name;
            EXPECT_EQ(folder.reason(), out_.string() + " is not a tileset folder") << c.name;
            EXPECT_FALSE(folder.commit()) << c.name;
            EXPECT_EQ(folder.reason(), out_.string() + " is not a tileset folder") << c.name;
        }
        EXPECT_EQ(snapshot(dir_), before) << c.name;
    }
}

// An absent target, an empty folder and a previous tileset are replaced by the new content,
// with nothing left beside them.
TEST_F(StagedFolderTest, ReplacesAbsentEmptyAndPreviousTilesets) {
    struct Case {
        const char* name;
        std::function<void(const fs::path&)> make;
        std::string given; // the target as given, "" for out_ itself
    };
    const std::vector<Case> cases = {
        {"absent", [](const fs::path&) {}, ""},
        {"an empty folder", [](const fs::path& p) { fs::create_directories(p); }, ""},
        {"a previous tileset", [](const fs::path& p) { writeTileset(p, "old"); }, ""},
        {"a previous tileset, no textures",
         [](const fs::path& p) {
             writeTileset(p, "old");
             fs::remove_all(p / "textures");
         },
         ""},
        {"a generator in escapes",
         [](const fs::path& p) {
             writeTileset(p, "old",
                          "{ \"asset\" : {\"generator\": \"\\u004fmbrel 0.9 \\u00e9\"} }\n");
         },
         ""},
        {"a trailing slash", [](const fs::path& p) { writeTileset(p, "old"); }, "/"},
        {"a tileset.json with every kind of value",
         [](const fs::path& p) {
             writeTileset(p, "old",
                          R"({"asset":{"version":"1.1","generator":"Ombrel 1.4.0",)"
                          R"("extras":{"file":"C:\\x\"y\u00e9.xml","seed":-12,"ok":true,)"
                          R"("none":null,"no":false}},"geometricError":1.25E+3,)"
                          "\n\t\r "
                          R"("root":{"transform":[-0.5,0.866,0,0,-1.5e-3,0,1,0,6378137.0,)"
                          R"(0,0,1,0,0,0,1],"children":[],"implicitTiling":)"
                          R"({"subdivisionScheme":"QUADTREE","subtrees":{"uri":)"
                          R"("subtrees/{level}.{x}.{y}.subtree"}}}})");
         },
         ""},
        {"a tileset under other names",
         [](const fs::path& p) {
             writeTileset(p, "old");
             fs::rename(p / "tileset.json", p / "city.tileset.json");
             write(p / "old.json", kOmbrelJson);
         },
         ""},
        {"through a link",
         [](const fs::path& p) {
             writeTileset(p.parent_path() / "real", "old");
             fs::create_symlink("real", p);
         },
         ""},
    };
    for (const Case& c : cases) {
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        c.make(out_);
        const auto names = entries(dir_);
        const std::string given = out_.string() + c.given;
        StagedFolder folder(given, tilesetFolder());
        ASSERT_FALSE(folder.path().empty()) << c.name << ": " << folder.reason();
        EXPECT_FALSE(folder.refused()) << c.name;
        EXPECT_EQ(folder.target(), given) << c.name;
        EXPECT_TRUE(fs::equivalent(fs::path(folder.path()).parent_path(), dir_)) << c.name;
        writeTileset(folder.path(), "new");
        ASSERT_TRUE(folder.commit()) << c.name << ": " << folder.reason();
        EXPECT_EQ(folder.path(), "") << c.name;
        const fs::path real = fs::is_symlink(out_) ? dir_ / "real" : out_;
        EXPECT_EQ(readFile(real / "tiles" / "1" / "1" / "0.glb"), "new") << c.name;
        EXPECT_EQ(readFile(real / "tileset.json"), kOmbrelJson) << c.name;
        EXPECT_EQ(entries(real),
                  (std::vector<std::string>{"subtrees", "textures", "tiles", "tileset.json"}))
            << c.name;
        EXPECT_EQ(entries(dir_), names.empty() ? std::vector<std::string>{"out"} : names) << c.name;
    }
}

// The working folder as target ("-o tileset.json" run inside a tileset): replaced like any
// other, and relative names go on naming the new folder's content (checked in a child, whose
// working folder the test may move).
TEST_F(StagedFolderTest, TheWorkingFolderAsTarget) {
    writeTileset(out_, "old");
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0) << std::strerror(errno);
    if (pid == 0) {
        if (::chdir(out_.c_str()) != 0)
            ::_exit(2);
        StagedFolder folder(".", tilesetFolder());
        if (folder.path().empty())
            ::_exit(3);
        writeTileset(folder.path(), "new");
        if (!folder.commit())
            ::_exit(4);
        ::_exit(readFile("tiles/0/0/0.glb") == "new" ? 0 : 5);
    }
    int raw = 0;
    ::waitpid(pid, &raw, 0);
    EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 0) << raw;
    EXPECT_EQ(readFile(out_ / "tiles" / "0" / "0" / "0.glb"), "new");
    EXPECT_EQ(entries(dir_), std::vector<std::string>{"out"});
}

// The new folder keeps the previous one's permissions, as a replaced file does.
TEST_F(StagedFolderTest, KeepsThePermissionsOfThePreviousFolder) {
    writeTileset(out_, "old");
    fs::permissions(out_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
    StagedFolder folder(out_.string(), tilesetFolder());
    ASSERT_FALSE(folder.path().empty()) << folder.reason();
    writeTileset(folder.path(), "new");
    ASSERT_TRUE(folder.commit()) << folder.reason();
    EXPECT_EQ(fs::status(out_).permissions(),
              fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
}

// Not committed: the staging folder goes, with everything written into it.
TEST_F(StagedFolderTest, WhatIsNotCommittedIsRemoved) {
    writeTileset(out_, "old");
    const auto before = snapshot(dir_);
    for (bool discard : {true, false}) {
        StagedFolder folder(out_.string(), tilesetFolder());
        ASSERT_FALSE(folder.path().empty()) << folder.reason();
        writeTileset(folder.path(), "new");
        EXPECT_EQ(entries(dir_).size(), 2u);
        if (discard) {
            folder.discard();
            EXPECT_EQ(folder.path(), "");
            EXPECT_EQ(snapshot(dir_), before);
        }
    }
    EXPECT_EQ(snapshot(dir_), before);
}

// The target cannot be moved (immutable): the commit fails with the system's reason, the
// previous folder stays byte for byte and the staging folder is gone.
TEST_F(StagedFolderTest, AFailedSwapLeavesThePreviousFolder) {
    writeTileset(out_, "old");
    StagedFolder folder(out_.string(), tilesetFolder());
    ASSERT_FALSE(folder.path().empty()) << folder.reason();
    writeTileset(folder.path(), "new");
    const auto before = snapshot(out_);
    const std::string chattr = "chattr +i " + testsupport::shellQuote(out_.string());
    if (std::system((chattr + " 2>/dev/null").c_str()) != 0)
        GTEST_SKIP() << "this file system keeps no immutable folders";
    const bool committed = folder.commit();
    std::system(("chattr -i " + testsupport::shellQuote(out_.string())).c_str());
    EXPECT_FALSE(committed);
    EXPECT_EQ(folder.reason(), "Operation not permitted");
    EXPECT_EQ(snapshot(out_), before);
    EXPECT_EQ(entries(dir_), std::vector<std::string>{"out"});
}

// The target changed into something else while the folder was written: it is refused then.
TEST_F(StagedFolderTest, ATargetThatChangedMeanwhileIsRefusedAtCommit) {
    writeTileset(out_, "old");
    StagedFolder folder(out_.string(), tilesetFolder());
    ASSERT_FALSE(folder.path().empty()) << folder.reason();
    writeTileset(folder.path(), "new");
    write(out_ / "thesis.tex", "mine");
    const auto before = snapshot(dir_ / "out");
    EXPECT_FALSE(folder.commit());
    EXPECT_TRUE(folder.refused());
    EXPECT_EQ(folder.reason(), out_.string() + " is not a tileset folder");
    EXPECT_EQ(snapshot(out_), before);
    EXPECT_EQ(entries(dir_), std::vector<std::string>{"out"});
}

// A missing parent folder is the reason given, and nothing is made.
TEST_F(StagedFolderTest, AMissingParentIsTheReason) {
    StagedFolder folder((dir_ / "missing" / "out").string(), tilesetFolder());
    EXPECT_EQ(folder.path(), "");
    EXPECT_FALSE(folder.refused());
    EXPECT_EQ(folder.error(), ENOENT);
    EXPECT_EQ(folder.reason(), "No such file or directory");
    EXPECT_FALSE(folder.commit());
    EXPECT_TRUE(entries(dir_).empty());
}

// In a group, a folder is placed with the files; a file that cannot be placed after it puts the
// previous folder back (or takes the new one away) and keeps the previous files.
TEST_F(StagedFolderTest, AGroupPutsTheFolderBackWhenALaterFileFails) {
    for (bool existed : {true, false}) {
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        if (existed)
            writeTileset(out_, "old");
        write(dir_ / "city.png", "old png");
        const auto before = snapshot(dir_);
        auto folder = std::make_unique<StagedFolder>(out_.string(), tilesetFolder());
        ASSERT_FALSE(folder->path().empty()) << folder->reason();
        writeTileset(folder->path(), "new");
        std::vector<std::unique_ptr<ReplacingFile>> files;
        files.push_back(std::make_unique<ReplacingFile>((dir_ / "city.png").string()));
        std::fputs("new png", files.back()->stream());
        files.push_back(std::make_unique<ReplacingFile>((dir_ / "city.jpg").string()));
        std::fputs("new jpg", files.back()->stream());
        // The last file's place is taken by a folder while the files are written.
        fs::create_directories(dir_ / "city.jpg");
        std::vector<std::string> told;
        CommitGroup group;
        group.add(
            std::move(folder), [&] { told.push_back("folder placed"); },
            [&](const Replacement& failed) { told.push_back("folder: " + failed.reason()); });
        group.add(
            std::move(files), [&] { told.push_back("files placed"); },
            [&](const ReplacingFile& failed) {
                told.push_back(fs::path(failed.target()).filename().string() + ": " +
                               failed.reason());
            });
        EXPECT_FALSE(group.commit()) << existed;
        EXPECT_EQ(told, std::vector<std::string>{"city.jpg: Is a directory"}) << existed;
        fs::remove(dir_ / "city.jpg");
        EXPECT_EQ(snapshot(dir_), before) << existed;
    }
}

TEST_F(StagedFolderTest, AGroupPlacesTheFolderAndTheFilesTogether) {
    writeTileset(out_, "old");
    write(dir_ / "city.png", "old png");
    auto folder = std::make_unique<StagedFolder>(out_.string(), tilesetFolder());
    ASSERT_FALSE(folder->path().empty()) << folder->reason();
    writeTileset(folder->path(), "new");
    auto png = std::make_unique<ReplacingFile>((dir_ / "city.png").string());
    std::fputs("new png", png->stream());
    std::vector<std::string> told;
    CommitGroup group;
    group.add(
        std::move(folder), [&] { told.push_back("folder"); },
        [](const Replacement&) { ADD_FAILURE(); });
    group.add(
        std::move(png), [&] { told.push_back("png"); }, [](const Replacement&) { ADD_FAILURE(); });
    ASSERT_TRUE(group.commit());
    EXPECT_EQ(told, (std::vector<std::string>{"folder", "png"}));
    EXPECT_EQ(readFile(out_ / "textures" / "wall.png"), "new");
    EXPECT_EQ(readFile(dir_ / "city.png"), "new png");
    EXPECT_EQ(entries(dir_), (std::vector<std::string>{"city.png", "out"}));
}

// A group that is dropped without a commit leaves the folder and its neighbours as they were.
TEST_F(StagedFolderTest, ADiscardedGroupLeavesThePreviousFolder) {
    writeTileset(out_, "old");
    const auto before = snapshot(dir_);
    {
        CommitGroup group;
        auto folder = std::make_unique<StagedFolder>(out_.string(), tilesetFolder());
        writeTileset(folder->path(), "new");
        group.add(std::move(folder), nullptr, nullptr);
    }
    EXPECT_EQ(snapshot(dir_), before);
}

// Hidden folders that ended processes left (a kill while placing) are removed by the next
// StagedFolder of the same target; those of running processes, and look-alikes, stay.
TEST_F(StagedFolderTest, LeftoversOfEndedProcessesAreRemoved) {
    const std::string ended = std::to_string(endedProcess());
    const std::string running = std::to_string(::getppid());
    for (std::size_t length : {3u, 255u}) {
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        const fs::path target = dir_ / std::string(length, 'd');
        std::string stem;
        {
            StagedFolder probe(target.string(), tilesetFolder());
            ASSERT_FALSE(probe.path().empty()) << length << ": " << probe.reason();
            const std::string own = fs::path(probe.path()).filename().string();
            EXPECT_LE(own.size(), 255u) << length;
            stem = own.substr(0, own.rfind(".part-") + 6);
        }
        ASSERT_TRUE(entries(dir_).empty()) << length;
        const std::vector<std::string> gone = {stem + ended + "-0", stem + ended + "-100"};
        const std::vector<std::string> kept = {stem + running + "-0", stem + ended + "-x"};
        for (const std::string& name : gone)
            writeTileset(dir_ / name, "partial");
        for (const std::string& name : kept)
            writeTileset(dir_ / name, "partial");
        StagedFolder folder(target.string(), tilesetFolder());
        ASSERT_FALSE(folder.path().empty()) << length << ": " << folder.reason();
        std::vector<std::string> expected = kept;
        expected.push_back(fs::path(folder.path()).filename().string());
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(entries(dir_), expected) << length;
        folder.discard();
        for (const std::string& name : kept)
            EXPECT_EQ(readFile(dir_ / name / "tiles" / "0" / "0" / "0.glb"), "partial") << length;
    }
}

// A deep tree with many entries is removed whole: the listing is read in parts.
TEST_F(StagedFolderTest, LargeTreesAreRemovedWhole) {
    StagedFolder folder(out_.string(), tilesetFolder());
    ASSERT_FALSE(folder.path().empty()) << folder.reason();
    const fs::path root = folder.path();
    for (int i = 0; i < 600; ++i)
        write(root / "tiles" / "9" / std::to_string(i % 7) /
                  (std::to_string(i) + "-a-longer-name.glb"),
              "x");
    fs::path deep = root;
    for (int i = 0; i < 20; ++i)
        deep /= "d";
    write(deep / "f", "x");
    fs::create_symlink("/", root / "root-link");
    fs::create_symlink(dir_.parent_path(), root / "tiles" / "up");
    folder.discard();
    EXPECT_TRUE(entries(dir_).empty());
    EXPECT_TRUE(fs::exists(dir_.parent_path()));
}

// What a process ended by a signal leaves: its handler removes the staging folders, as the
// batch tool's handler does.
void endOnSignal(int signal) {
    ReplacingFile::removeTemporaries();
    StagedFolder::removeTemporaries();
    ::_exit(128 + signal);
}

void installEndOnSignal() {
    struct sigaction action {};
    action.sa_handler = endOnSignal;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&action.sa_mask, signal);
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(signal, &action, nullptr);
    ::sigprocmask(SIG_UNBLOCK, &action.sa_mask, nullptr);
}

class StagedFolderSignal : public StagedFolderTest, public testing::WithParamInterface<int> {};

// A signal while the folder is being written (a child writing tiles without end, killed from
// outside once it is under way) leaves the previous tileset byte for byte and no staging folder.
TEST_P(StagedFolderSignal, LeavesThePreviousFolderAndNothingElse) {
    const int signal = GetParam();
    writeTileset(out_, "old");
    const auto before = snapshot(dir_);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0) << std::strerror(errno);
    if (pid == 0) {
        installEndOnSignal();
        StagedFolder folder(out_.string(), tilesetFolder());
        if (folder.path().empty())
            ::_exit(2);
        // Bounded, so that a signal that never comes fails the test instead of filling the disk.
        for (int i = 0; i < 200000; ++i) {
            const std::string tile = folder.path() + "/tiles/5/" + std::to_string(i / 100);
            if (i % 100 == 0)
                fs::create_directories(tile);
            std::ofstream(tile + "/" + std::to_string(i % 100) + ".glb") << "new tile " << i;
        }
        ::_exit(1);
    }
    // Under way: the staging folder holds a few hundred tiles.
    bool underWay = false;
    for (int i = 0; i < 60000 && !underWay; ++i) {
        for (const std::string& name : entries(dir_))
            if (name != "out" && fs::exists(dir_ / name / "tiles" / "5" / "3"))
                underWay = true;
        if (!underWay)
            ::usleep(1000);
    }
    ::kill(pid, signal);
    int raw = 0;
    ::waitpid(pid, &raw, 0);
    EXPECT_TRUE(underWay);
    EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 128 + signal)
        << (WIFSIGNALED(raw) ? "killed by signal " + std::to_string(WTERMSIG(raw))
                             : "exit status " + std::to_string(WEXITSTATUS(raw)));
    EXPECT_EQ(snapshot(dir_), before);
}

INSTANTIATE_TEST_SUITE_P(Signals, StagedFolderSignal, testing::Values(SIGINT, SIGTERM, SIGHUP),
                         [](const testing::TestParamInfo<int>& info) {
                             return std::string(sigabbrev_np(info.param));
                         });

// The child for the cases below, run by them under strace: writes a tileset into the folder named
// by OMBREL_STAGED_FOLDER_CHILD and commits it; exits 0 when placed, 3 with the reason on
// standard error when not. Skipped when run on its own.
TEST(StagedFolderChild, WritesAndCommits) {
    const char* target = std::getenv("OMBREL_STAGED_FOLDER_CHILD");
    if (!target)
        GTEST_SKIP() << "run by StagedFolderInjected";
    installEndOnSignal();
    StagedFolder folder(target, tilesetFolder());
    if (folder.path().empty()) {
        std::fprintf(stderr, "%s\n", folder.reason().c_str());
        std::_Exit(3);
    }
    writeTileset(folder.path(), "new");
    if (!folder.commit()) {
        std::fprintf(stderr, "%s\n", folder.reason().c_str());
        std::_Exit(3);
    }
    std::_Exit(0);
}

struct InjectedCase {
    const char* name;
    const char* inject; // strace's -e argument
    int status;
    const char* err;
    bool replaced; // the new tileset is in place
};

void PrintTo(const InjectedCase& c, std::ostream* os) {
    *os << c.name;
}

class StagedFolderInjected : public StagedFolderTest,
                             public testing::WithParamInterface<InjectedCase> {};

// Failures and signals put exactly where they matter (a sync, the exchange, the renames without
// one): the previous tileset stays byte for byte and nothing is left beside it, or the new one is
// in place whole.
TEST_P(StagedFolderInjected, LeavesOneTilesetWholeAndNothingElse) {
    const InjectedCase& c = GetParam();
    if (std::system("strace -V >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "strace is not installed";
    writeTileset(out_, "old");
    const auto before = snapshot(dir_);
    const fs::path err = fs::path(testing::TempDir()) / "err.txt";
    const std::string command =
        "OMBREL_STAGED_FOLDER_CHILD=" + testsupport::shellQuote(out_.string()) +
        " ASAN_OPTIONS=detect_leaks=0 strace -f -o /dev/null -e " + c.inject + " " +
        testsupport::shellQuote(fs::read_symlink("/proc/self/exe").string()) +
        " --gtest_filter=StagedFolderChild.WritesAndCommits >/dev/null 2>" +
        testsupport::shellQuote(err.string());
    const int raw = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(raw)) << c.name;
    EXPECT_EQ(WEXITSTATUS(raw), c.status) << c.name;
    EXPECT_EQ(readFile(err), c.err) << c.name;
    if (c.replaced) {
        EXPECT_EQ(readFile(out_ / "tiles" / "0" / "0" / "0.glb"), "new") << c.name;
        EXPECT_EQ(entries(dir_), std::vector<std::string>{"out"}) << c.name;
    } else {
        EXPECT_EQ(snapshot(dir_), before) << c.name;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Strace, StagedFolderInjected,
    testing::Values(
        InjectedCase{"plain", "trace=none", 0, "", true},
        InjectedCase{"sync_fails", "inject=syncfs:error=EIO", 3, "Input/output error\n", false},
        InjectedCase{"full_disk_at_sync", "inject=syncfs:error=ENOSPC", 3,
                     "No space left on device\n", false},
        InjectedCase{"SIGINT_while_syncing", "inject=syncfs:signal=SIGINT", 130, "", false},
        InjectedCase{"SIGTERM_while_syncing", "inject=syncfs:signal=SIGTERM", 143, "", false},
        InjectedCase{"SIGHUP_while_syncing", "inject=syncfs:signal=SIGHUP", 129, "", false},
        InjectedCase{"exchange_fails", "inject=renameat2:error=EPERM:when=1", 3,
                     "Operation not permitted\n", false},
        InjectedCase{"no_exchange", "inject=renameat2:error=EINVAL:when=1", 0, "", true},
        InjectedCase{"no_exchange_second_rename_fails",
                     "inject=renameat2:error=EINVAL:when=1 -e inject=rename:error=EIO:when=2", 3,
                     "Input/output error\n", false},
        InjectedCase{"no_exchange_first_rename_fails",
                     "inject=renameat2:error=EINVAL:when=1 -e inject=rename:error=EACCES:when=1", 3,
                     "Permission denied\n", false}),
    [](const testing::TestParamInfo<InjectedCase>& info) { return std::string(info.param.name); });

} // namespace
} // namespace ombrel
