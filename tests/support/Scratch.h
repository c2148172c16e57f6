#pragma once

// Scratch folders for tests. CTest runs many test processes at once, all from the same
// directories; a file name fixed by the test would be shared between them and one test would
// read what another wrote. Every test therefore gets a folder of its own, made when it starts
// and removed when it ends, named after the test so a kept folder says whose it was.
//
// Nothing here depends on a test framework: the GoogleTest main and the Qt test main both use it.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace ombrel::testsupport {

// Where scratch folders are made: $TEST_TMPDIR as CTest sets it for every test, else the build's
// own test-tmp folder (a test program started by hand). Never the source tree, never /tmp.
std::filesystem::path scratchRoot();

// A test's full name made safe as one file name: letters, digits, '.', '-' and '_' are kept,
// anything else (the '/' of parameterized names, spaces, non-ASCII bytes) becomes '_', and the
// result is cut short enough to leave room for the suffix.
std::string scratchName(std::string_view testName);

// A new, empty folder <root>/<scratchName(testName)>.<pid>, removed with everything in it when
// the object goes, unless keep() was called. The process id keeps two processes running the same
// test apart; should the folder exist already (a kept folder of an earlier process with the
// same id), a further "-2", "-3", ... is added, so the folder is always a fresh one.
class ScratchFolder {
public:
    explicit ScratchFolder(std::string_view testName,
                           const std::filesystem::path& root = scratchRoot());
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }

    // Leaves the folder on disk when the object goes, for a failed test to be looked into.
    void keep() { keep_ = true; }

private:
    std::filesystem::path path_;
    bool keep_ = false;
};

// One test at a time in its own scratch folder, pointed at by TEST_TMPDIR (which
// ::testing::TempDir() reads) and TMPDIR (which the programs a test starts, Qt's temporary
// folders and the C library's temporary files use). finish() puts both variables back as they
// were, moves the working directory back out if the test left it inside the folder, and removes
// the folder, or keeps it, with a note on standard error, when the test failed.
class ScratchPerTest {
public:
    explicit ScratchPerTest(std::filesystem::path root = scratchRoot());
    ~ScratchPerTest();
    ScratchPerTest(const ScratchPerTest&) = delete;
    ScratchPerTest& operator=(const ScratchPerTest&) = delete;

    // Returns the new folder; a test still running is finished first.
    const std::filesystem::path& start(std::string_view testName);
    void finish(bool failed);

private:
    struct Saved {
        const char* name;
        std::optional<std::string> value;
    };

    std::filesystem::path root_;
    std::optional<ScratchFolder> folder_;
    std::filesystem::path previousDir_;
    Saved saved_[2] = {{"TEST_TMPDIR", {}}, {"TMPDIR", {}}};
};

} // namespace ombrel::testsupport
