#pragma once

#include "vrml/ReplacingFile.h"

#include <functional>
#include <memory>
#include <vector>

namespace ombrel {

// Files written apart that change together: a .gltf and its .bin files, an .obj and its .mtl,
// an export and the picture drawn beside it. A folder written whole (StagedFolder) joins a group
// as a file does: any Replacement does.
//
// commit() first finishes every file (flush, sync, a name for an unnamed one): the long part,
// during which a signal still ends the process with every previous file untouched. Then it moves
// all of them over their targets in one short step during which SIGINT, SIGTERM and SIGHUP wait,
// keeping each previous file under a second name until the last move has succeeded; when a move
// fails, the files already moved are put back. Short of SIGKILL or a power loss in that step, the
// folders hold either all the previous files or all the new ones; a temporary name such a kill
// leaves behind is removed by the next ReplacingFile of the same target.
class CommitGroup {
public:
    // What to do once the files of one add() are in place (log that they were saved), and what
    // to say when one of them, the one passed, could not be written or placed.
    using Placed = std::function<void()>;
    using Failed = std::function<void(const ReplacingFile& file)>;
    using FailedPart = std::function<void(const Replacement& part)>;

    CommitGroup() = default;
    // Discards whatever was not committed.
    ~CommitGroup();
    CommitGroup(const CommitGroup&) = delete;
    CommitGroup& operator=(const CommitGroup&) = delete;

    // Takes written files that belong together (in the order they are to be placed) and what to
    // do when they are placed or fail. Files that failed to open are taken as well: commit then
    // fails on them.
    void add(std::vector<std::unique_ptr<ReplacingFile>> files, Placed placed, Failed failed);
    // The same for any parts, and for one part alone.
    void add(std::vector<std::unique_ptr<Replacement>> parts, Placed placed, FailedPart failed);
    void add(std::unique_ptr<Replacement> part, Placed placed, FailedPart failed);

    // Puts every file in place as described above, then calls each add()'s `placed` in the
    // order they were added. Returns false when any file could not be finished or placed: that
    // add()'s `failed` is called with the file, nothing of the group is in place and every
    // temporary file is gone. The group is empty afterwards.
    bool commit();
    // Hands the files to `later` when one is given, to be placed when its owner commits it, or
    // else commits them now. True when handed over or placed; false after `failed` was called.
    static bool commitOrHand(CommitGroup* later, std::vector<std::unique_ptr<ReplacingFile>> files,
                             Placed placed, Failed failed);
    static bool commitOrHand(CommitGroup* later, std::unique_ptr<Replacement> part, Placed placed,
                             FailedPart failed);

    // The same for files that are not the group's: finishes them all, then places them all in one
    // step or none. Returns the file that failed (its reason() says why; every temporary file is
    // gone), or null when all are in place.
    static ReplacingFile* commitAll(const std::vector<ReplacingFile*>& files);
    static Replacement* commitParts(const std::vector<Replacement*>& parts);

    // Removes every temporary file of the group without touching the targets.
    void discard();
    bool empty() const { return entries_.empty(); }

private:
    struct Entry {
        std::vector<std::unique_ptr<Replacement>> parts;
        Placed placed;
        FailedPart failed;
    };
    std::vector<Entry> entries_;
};

} // namespace ombrel
