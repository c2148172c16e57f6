#pragma once

#include <cstdio>
#include <string>

namespace ombrel {

// A file written under a temporary name in the target's folder and renamed over the target
// only when it is complete, so that a failed or interrupted write never destroys the previous
// file. A file that is not committed is removed. A replaced file keeps its permissions; a
// symbolic link as target is followed, so the file it names is replaced and the link stays.
class ReplacingFile {
public:
    // Creates the temporary file (with the usual permissions). On failure stream() is null and
    // error() holds the errno value.
    explicit ReplacingFile(const std::string& target);
    ~ReplacingFile();
    ReplacingFile(const ReplacingFile&) = delete;
    ReplacingFile& operator=(const ReplacingFile&) = delete;

    std::FILE* stream() const { return file_; }
    // Flushes, syncs and closes the file and renames it over the target. Returns false (error()
    // set, temporary file removed) when any of that fails or a write to the stream failed.
    bool commit();
    // Removes the temporary file without touching the target.
    void discard();
    int error() const { return error_; }

private:
    std::string target_;
    std::string temporary_;
    std::FILE* file_ = nullptr;
    int error_ = 0;
};

} // namespace ombrel
