#pragma once

#include <cstdio>
#include <string>

namespace ombrel {

// A file written under a temporary name in the target's folder and renamed over the target
// only when it is complete, so that a failed or interrupted write never destroys the previous
// file. A file that is not committed is removed. A replaced file keeps its permissions; a
// symbolic link as target is followed, so the file it names is replaced and the link stays.
//
// A target that exists and is not a regular file (a character device such as /dev/null, a named
// pipe, a socket) is opened and written directly: renaming over it would replace the device or
// pipe with a regular file. The target "-" is standard output, written directly as well. What
// was written directly stays written when the write fails.
class ReplacingFile {
public:
    // Creates the temporary file (with the usual permissions), or opens the target itself as
    // described above. On failure stream() is null and error() holds the errno value.
    explicit ReplacingFile(const std::string& target);
    ~ReplacingFile();
    ReplacingFile(const ReplacingFile&) = delete;
    ReplacingFile& operator=(const ReplacingFile&) = delete;

    std::FILE* stream() const { return file_; }
    // Flushes and closes the file; a temporary file is synced first and renamed over the target.
    // Returns false (error() set, temporary file removed) when any of that fails or a write to
    // the stream failed.
    bool commit();
    // Removes the temporary file without touching the target.
    void discard();
    int error() const { return error_; }

private:
    std::string target_;
    std::string temporary_;
    std::FILE* file_ = nullptr;
    bool direct_ = false; // written in place: no temporary, no rename
    int error_ = 0;
};

} // namespace ombrel
