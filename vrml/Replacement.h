#pragma once

#include <string>

namespace ombrel {

class CommitGroup;

// Something written apart that takes its target's place in a CommitGroup's final step, and can
// be put back: a file (ReplacingFile), a folder written whole (StagedFolder).
//
// The group drives the steps; each part is told, in order: prepare (the long part, finishing and
// syncing what was written, while nothing has moved), place (move it over its target, keeping the
// previous content where undo can reach it; SIGINT, SIGTERM and SIGHUP wait meanwhile), undo (a
// later part failed: put the previous content back), settle (every part is in place), tidy
// (after the signals are let through again: remove what settle left to remove, which may take
// long) and discard (remove everything temporary without touching the target). A part that
// fails in prepare or place keeps the reason in reason().
class Replacement {
public:
    virtual ~Replacement() = default;

    // The path given as target, for messages.
    virtual const std::string& target() const = 0;
    // Why the part could not be written or placed, for a message.
    virtual std::string reason() const = 0;
    // Removes everything temporary without touching the target.
    virtual void discard() = 0;

protected:
    friend class CommitGroup;

    virtual bool prepare() = 0;
    virtual bool place() = 0;
    virtual void undo() = 0;
    virtual void settle() = 0;
    virtual void tidy() {}
    // The folder whose entries place() changed, to be synced once all parts are in place; empty
    // when nothing was renamed.
    virtual std::string placedIn() const = 0;
};

} // namespace ombrel
