#pragma once

#include "vrml/Replacement.h"

#include <cstdio>
#include <string>

namespace ombrel {

class CommitGroup;

// An output file that is safe to write: a failed or interrupted write never destroys the
// previous file, and where the filesystem has unnamed files not even a killed process leaves a
// partial one beside it.
//
// A regular file (or a new one) is written to a temporary file in the target's folder and
// renamed over the target only when it is complete. A file that is not committed is removed. A
// replaced file keeps its permissions; a symbolic link as target is followed, also when it names
// a file that does not exist yet, so the file it names is written and the link stays. A regular
// file whose write permission bits are all clear is refused as read-only, as an editor refuses
// it, even for a user who could replace it.
//
// A target that exists and is not a regular file (a character device such as /dev/null, a named
// pipe, a socket) is opened and written directly: renaming over it would replace the device or
// pipe with a regular file. The target "-" is standard output, written directly as well. What
// was written directly stays written when the write fails. A file written beside another one
// (the data of a .gltf, the materials of an .obj) has no use as a device or pipe: made with
// Kind::regularOnly, such a target is refused before anything is opened.
//
// Several files that belong together take their places in one step through CommitGroup.
class ReplacingFile : public Replacement {
public:
    // How the temporary file is made. Unnamed: a file without a name (Linux's O_TMPFILE), given
    // a name only at commit, so that a process killed while writing leaves nothing behind; where
    // the filesystem has no such files the named temporary is used instead. Named: always a
    // temporary with a hidden name beside the target, which removeTemporaries() can remove.
    enum class Temporary { unnamed, named };
    // What the target may be: anything described above, or only a regular file (or a new one).
    enum class Kind { any, regularOnly };

    // Opens the target for writing as described above. On failure stream() is null and error()
    // holds the errno value (EACCES for a read-only target, which readOnly() then tells apart;
    // EINVAL for a target that notRegular() refuses). Temporary files that an earlier process
    // killed in the middle of its commit left beside the target are removed first.
    explicit ReplacingFile(const std::string& target, Temporary temporary = Temporary::unnamed,
                           Kind kind = Kind::any);
    ~ReplacingFile() override;
    ReplacingFile(const ReplacingFile&) = delete;
    ReplacingFile& operator=(const ReplacingFile&) = delete;

    std::FILE* stream() const { return file_; }
    // The descriptor behind stream(), for work the stream cannot do (inserting, copying inside
    // the kernel); flush the stream first. -1 when nothing is open.
    int descriptor() const { return fd_; }
    // The path given at construction.
    const std::string& target() const override { return given_; }

    // Puts the file in place alone: CommitGroup::commit for this one file. Returns false (error()
    // set, temporary file removed, the target as it was) when that or any earlier write failed.
    bool commit();
    // Removes the temporary file without touching the target.
    void discard() override;
    // The first error that happened to this file: a failed write keeps its own reason (ENOSPC),
    // whatever failed after it.
    int error() const { return error_; }
    // The target is a regular file without any write permission bit and was left alone.
    bool readOnly() const { return readOnly_; }
    // The target exists, is not a regular file (nor a link to one) and Kind::regularOnly refused
    // it.
    bool notRegular() const { return notRegular_; }
    // Why the file could not be written, for a message: "the file is read-only", "TARGET is not
    // a regular file" or the system's text for error().
    std::string reason() const override;

    // Removes every named temporary file of this process that is neither committed nor discarded
    // yet, the hidden names that unnamed files get for the moment of their commit included.
    // Async-signal-safe: meant for a handler of the signals that end the process, which the
    // program installs itself (this library installs no handler). A ReplacingFile whose
    // temporary was removed fails its commit.
    static void removeTemporaries() noexcept;

private:
    friend class CommitGroup;
    friend struct ReplacingFileStream;

    // How place() put the file in: what undo() has to do to put the previous state back.
    enum class Placed { no, written, created, exchanged, backedUp, overwritten };

    // The temporary file's descriptor, or -1 with error_ set.
    int openTemporary(Temporary temporary);
    // Gives the unnamed file its hidden name (temporary_) for the rename.
    bool linkUnnamed();
    void forgetTemporary();
    void fail(int error);

    // The steps of a commit. prepare: flush, sync and close the file, and give it a name; the
    // long part, done before anything moves. place: moves it over the target, keeping the
    // previous file under the temporary or a backup name. undo: puts the previous file back.
    // settle: removes the previous file once every file of the group is in place.
    bool prepare() override;
    bool place() override;
    void undo() override;
    void settle() override;
    std::string placedIn() const override;

    std::string given_;
    std::string target_;    // given_ with links followed
    std::string temporary_; // the named temporary file, empty for an unnamed one
    std::string backup_;    // a second name of the previous file while the group is placed
    std::FILE* file_ = nullptr;
    int fd_ = -1;
    int slot_ = -1;        // where temporary_ is registered for removeTemporaries()
    int backupSlot_ = -1;  // where backup_ is registered
    bool direct_ = false;  // written in place: no temporary, no rename
    bool unnamed_ = false; // an O_TMPFILE file, linked in only at commit
    bool readOnly_ = false;
    bool notRegular_ = false;
    Placed placed_ = Placed::no;
    int error_ = 0;
};

} // namespace ombrel
