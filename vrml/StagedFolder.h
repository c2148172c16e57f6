#pragma once

#include "vrml/Replacement.h"

#include <functional>
#include <string>

namespace ombrel {

// A folder of output written whole and swapped in: a failed or interrupted write never touches
// the previous folder, and a folder that holds something else is never emptied.
//
// The new content is written into a hidden staging folder beside the target (same parent, so
// that a rename moves it: ".NAME.part-PID-N", shortened as ReplacingFile's temporary names are,
// with the target's permissions). commit() syncs what was written (one syncfs of the file
// system, which reports any write-back error since the staging folder was made: a tileset holds
// too many files to sync each on its own), then swaps the staging folder with the target in one
// step during which SIGINT, SIGTERM and SIGHUP wait: an atomic exchange (renameat2
// RENAME_EXCHANGE) where the file system has one, else the previous folder renamed aside to a
// hidden name and the new one renamed in (put back when that fails); a plain rename where the
// target does not exist. The previous tree is removed afterwards. A
// staging folder that is not committed (a failure, the object destroyed without commit) is
// removed with everything in it; a process ended by a signal removes it with
// removeTemporaries(), and one killed outright leaves it for the next StagedFolder of the same
// target, which removes the hidden folders of processes no longer running.
//
// What the target may hold is the caller's to say (Kind): an absent target, an empty folder and
// a folder that Kind::holds accepts are replaced; anything else (a file, a folder of other
// things) is refused untouched. A link as target is followed, as ReplacingFile follows one.
//
// Joins a CommitGroup beside files, to change together with them.
class StagedFolder : public Replacement {
public:
    // What a folder may hold to be replaced: its name in messages ("tileset": "DIR is not a
    // tileset folder") and the test of a folder that exists and is not empty.
    struct Kind {
        std::string name;
        std::function<bool(const std::string& folder)> holds;
    };

    // Checks the target and makes the staging folder. On failure path() is empty and either
    // refused() (the target holds something else) or error() (the errno value: the parent
    // folder missing or not writable, ...) says why.
    StagedFolder(const std::string& folder, Kind kind);
    ~StagedFolder() override;
    StagedFolder(const StagedFolder&) = delete;
    StagedFolder& operator=(const StagedFolder&) = delete;

    // The staging folder to write into; empty when there is none (refused, failed, committed
    // or discarded).
    const std::string& path() const { return staging_; }
    // The target as given.
    const std::string& target() const override { return given_; }

    // Puts the folder in place alone: CommitGroup::commit for this one folder. Returns false
    // (reason() set, the staging folder removed, the target as it was) when that failed.
    bool commit();
    // Removes the staging folder and everything in it without touching the target.
    void discard() override;

    // The target holds something that Kind does not accept and was left alone.
    bool refused() const { return refused_; }
    // The first error that happened to the folder (an errno value), 0 for none.
    int error() const { return error_; }
    // Why the folder could not be written or placed, for a message: "TARGET is not a KIND
    // folder" or the system's text for error().
    std::string reason() const override;

    // Removes every staging folder of this process that is neither committed nor discarded, and
    // every previous tree a commit has not finished removing. Async-signal-safe (open, getdents,
    // unlinkat on fixed storage): for a handler of the signals that end the process, as
    // ReplacingFile::removeTemporaries is. A StagedFolder whose staging folder was removed fails
    // its commit.
    static void removeTemporaries() noexcept;

private:
    // How place() put the folder in: what undo() has to do to put the previous state back.
    enum class Placed { no, created, exchanged, setAside };

    bool prepare() override;
    bool place() override;
    void undo() override;
    void settle() override;
    void tidy() override;
    std::string placedIn() const override;

    void fail(int error);
    // Takes a hidden name of the target (attempts from `first`) that nothing has yet and, when
    // `create`, makes the folder, registered for removeTemporaries() (a name for the previous
    // folder is not: it must never be removed before the new one is in place); false (error()
    // set) when none could be had.
    bool makeHidden(int first, std::string& name, int& slot, bool create);
    // Removes the tree at `name` (if any) and lets go of its name.
    void removeHidden(std::string& name, int& slot);
    // Lets go of the name without removing anything.
    void forgetHidden(std::string& name, int& slot);
    void closeStaging();

    std::string given_;
    std::string target_;  // given_ absolute, links followed, "." and ".." resolved
    std::string staging_; // the hidden folder written into
    std::string aside_;   // the previous folder while the group is placed, without an exchange
    std::string old_;     // the previous tree once placed, removed by tidy()
    int stagingSlot_ = -1;
    int oldSlot_ = -1;
    int stagingFd_ = -1; // the staging folder, open for the sync
    std::string kindName_;
    std::function<bool(const std::string& folder)> holds_;
    bool cwdIsTarget_ = false; // the working folder is the target
    bool refused_ = false;
    Placed placed_ = Placed::no;
    int error_ = 0;
};

} // namespace ombrel
