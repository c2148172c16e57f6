#pragma once

#include <cstdio>
#include <string>

namespace ombrel {

// An output file that is safe to write: a failed or interrupted write never destroys the
// previous file, and where the filesystem has unnamed files not even a killed process leaves a
// partial one beside it.
//
// A regular file (or a new one) is written to a temporary file in the target's folder and
// renamed over the target only when it is complete. A file that is not committed is removed. A
// replaced file keeps its permissions; a symbolic link as target is followed, so the file it
// names is replaced and the link stays. A regular file whose write permission bits are all clear
// is refused as read-only, as an editor refuses it, even for a user who could replace it.
//
// A target that exists and is not a regular file (a character device such as /dev/null, a named
// pipe, a socket) is opened and written directly: renaming over it would replace the device or
// pipe with a regular file. The target "-" is standard output, written directly as well. What
// was written directly stays written when the write fails.
class ReplacingFile {
public:
    // How the temporary file is made. Unnamed: a file without a name (Linux's O_TMPFILE), given
    // a name only at commit, so that a process killed while writing leaves nothing behind; where
    // the filesystem has no such files the named temporary is used instead. Named: always a
    // temporary named ".NAME.part-PID-N" beside the target, which removeTemporaries() can remove.
    enum class Temporary { unnamed, named };

    // Opens the target for writing as described above. On failure stream() is null and error()
    // holds the errno value (EACCES for a read-only target, which readOnly() then tells apart).
    explicit ReplacingFile(const std::string& target, Temporary temporary = Temporary::unnamed);
    ~ReplacingFile();
    ReplacingFile(const ReplacingFile&) = delete;
    ReplacingFile& operator=(const ReplacingFile&) = delete;

    std::FILE* stream() const { return file_; }
    // Flushes and closes the file; a temporary file is synced first and renamed over the target.
    // Returns false (error() set, temporary file removed) when any of that fails or a write to
    // the stream failed. SIGINT, SIGTERM and SIGHUP are held back in the calling thread while the
    // finished file is put in place.
    bool commit();
    // Removes the temporary file without touching the target.
    void discard();
    int error() const { return error_; }
    // The target is a regular file without any write permission bit and was left alone.
    bool readOnly() const { return readOnly_; }
    // Why the file could not be written, for a message: "the file is read-only" or the system's
    // text for error().
    std::string reason() const;

    // Removes every named temporary file of this process that is neither committed nor discarded
    // yet, the hidden names that unnamed files get for the moment of their commit included.
    // Async-signal-safe: meant for a handler of the signals that end the process, which the
    // program installs itself (this library installs no handler). A ReplacingFile whose
    // temporary was removed fails its commit.
    static void removeTemporaries() noexcept;

private:
    // The temporary file's descriptor, or -1 with error_ set.
    int openTemporary(Temporary temporary);
    // Gives the unnamed file its hidden name (temporary_) for the rename.
    bool linkUnnamed();
    void forgetTemporary();

    std::string target_;
    std::string temporary_; // the named temporary file, empty for an unnamed one
    std::FILE* file_ = nullptr;
    int slot_ = -1;        // where temporary_ is registered for removeTemporaries()
    bool direct_ = false;  // written in place: no temporary, no rename
    bool unnamed_ = false; // an O_TMPFILE file, linked in only at commit
    bool readOnly_ = false;
    int error_ = 0;
};

} // namespace ombrel
