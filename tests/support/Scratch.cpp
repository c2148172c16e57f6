#include "tests/support/Scratch.h"

#include <cstdio>
#include <cstdlib>
#include <system_error>
#include <unistd.h>

namespace ombrel::testsupport {

namespace fs = std::filesystem;

fs::path scratchRoot() {
    const char* fromCtest = std::getenv("TEST_TMPDIR");
    if (fromCtest && *fromCtest)
        return fromCtest;
    return OMBREL_TEST_TMPDIR;
}

std::string scratchName(std::string_view testName) {
    // File names are at most 255 bytes; the rest is for ".<pid>-<n>".
    constexpr std::size_t kLongest = 200;
    std::string name;
    for (char c : testName.substr(0, kLongest)) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '_';
        name += plain ? c : '_';
    }
    // Never "", "." or "..", nor a name that starts like an option.
    if (name.empty() || name[0] == '.' || name[0] == '-')
        name.insert(0, "test");
    return name;
}

ScratchFolder::ScratchFolder(std::string_view testName, const fs::path& root) {
    fs::create_directories(root);
    const std::string base = scratchName(testName) + "." + std::to_string(::getpid());
    for (int n = 1;; ++n) {
        fs::path candidate = root / (n == 1 ? base : base + "-" + std::to_string(n));
        // create_directory is false, not an error, when the name is taken: try the next one.
        if (fs::create_directory(candidate)) {
            // Spelled as the system spells the working directory, so paths the programs under
            // test work out from it compare equal to those the test builds from this one.
            path_ = fs::canonical(candidate);
            return;
        }
    }
}

ScratchFolder::~ScratchFolder() {
    if (keep_)
        return;
    std::error_code ec;
    fs::remove_all(path_, ec);
    if (ec)
        std::fprintf(stderr, "could not remove the scratch folder %s: %s\n", path_.c_str(),
                     ec.message().c_str());
}

ScratchPerTest::ScratchPerTest(fs::path root) : root_(std::move(root)) {}

ScratchPerTest::~ScratchPerTest() {
    if (folder_)
        finish(false);
}

const fs::path& ScratchPerTest::start(std::string_view testName) {
    if (folder_)
        finish(false);
    folder_.emplace(testName, root_);
    previousDir_ = fs::current_path();
    for (Saved& s : saved_) {
        const char* value = std::getenv(s.name);
        s.value = value ? std::optional<std::string>(value) : std::nullopt;
        ::setenv(s.name, folder_->path().c_str(), 1);
    }
    return folder_->path();
}

void ScratchPerTest::finish(bool failed) {
    if (!folder_)
        return;
    for (const Saved& s : saved_) {
        if (s.value)
            ::setenv(s.name, s.value->c_str(), 1);
        else
            ::unsetenv(s.name);
    }
    // A working directory inside the folder would outlive it as a deleted directory.
    std::error_code ec;
    const fs::path here = fs::current_path(ec);
    const fs::path inside = here.lexically_relative(folder_->path());
    if (!ec && !inside.empty() && *inside.begin() != "..")
        fs::current_path(previousDir_, ec);
    if (failed) {
        folder_->keep();
        std::fprintf(stderr, "The failed test's scratch folder is kept: %s\n",
                     folder_->path().c_str());
    }
    folder_.reset();
}

} // namespace ombrel::testsupport
