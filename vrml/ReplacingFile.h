#pragma once

#include <cstdio>
#include <string>

namespace ombrel {

// A file written under a temporary name in the target's folder and renamed over the target
// only when it is complete, so that a failed or interrupted write never destroys the previous
// file. A file that is not committed is removed. A replaced file keeps its permissions; a
// symbolic link as target is followed, so the file it names is replaced and the link stays. A
// regular file whose write permission bits are all clear is refused as read-only, as an editor
// refuses it, even for a user who could replace it.
//
// A target that exists and is not a regular file (a character device such as /dev/null, a named
// pipe, a socket) is opened and written directly: renaming over it would replace the device or
// pipe with a regular file. The target "-" is standard output, written directly as well. What
// was written directly stays written when the write fails.
class ReplacingFile {
public:
    // Creates the temporary file (with the usual permissions), or opens the target itself as
    // described above. On failure stream() is null and error() holds the errno value (EACCES for
    // a read-only target, which readOnly() then tells apart).
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
    // The target is a regular file without any write permission bit and was left alone.
    bool readOnly() const { return readOnly_; }
    // Why the file could not be written, for a message: "the file is read-only" or the system's
    // text for error().
    std::string reason() const;

private:
    std::string target_;
    std::string temporary_;
    std::FILE* file_ = nullptr;
    bool direct_ = false; // written in place: no temporary, no rename
    bool readOnly_ = false;
    int error_ = 0;
};

} // namespace ombrel
