#include "vrml/CommitGroup.h"

#include <csignal>
#include <fcntl.h>
#include <pthread.h>
#include <set>
#include <unistd.h>
#include <utility>

namespace ombrel {

namespace {

// Holds back the signals that end the process in the calling thread while the finished files
// are moved in, so that they find either the previous files or the new ones in place.
class SignalHold {
public:
    SignalHold() {
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGINT);
        sigaddset(&set, SIGTERM);
        sigaddset(&set, SIGHUP);
        pthread_sigmask(SIG_BLOCK, &set, &previous_);
    }
    ~SignalHold() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
    SignalHold(const SignalHold&) = delete;
    SignalHold& operator=(const SignalHold&) = delete;

private:
    sigset_t previous_;
};

// Makes the renames in a folder last: without it a power loss can lose a rename the program
// already reported. Best effort; a folder that cannot be synced changes nothing.
void syncFolder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

} // namespace

CommitGroup::~CommitGroup() {
    discard();
}

void CommitGroup::add(std::vector<std::unique_ptr<ReplacingFile>> files, Placed placed,
                      Failed failed) {
    std::vector<std::unique_ptr<Replacement>> parts;
    for (auto& file : files)
        parts.push_back(std::move(file));
    FailedPart failedPart;
    if (failed)
        failedPart = [failed = std::move(failed)](const Replacement& part) {
            failed(static_cast<const ReplacingFile&>(part));
        };
    add(std::move(parts), std::move(placed), std::move(failedPart));
}

void CommitGroup::add(std::vector<std::unique_ptr<Replacement>> parts, Placed placed,
                      FailedPart failed) {
    entries_.push_back({std::move(parts), std::move(placed), std::move(failed)});
}

void CommitGroup::add(std::unique_ptr<Replacement> part, Placed placed, FailedPart failed) {
    std::vector<std::unique_ptr<Replacement>> parts;
    parts.push_back(std::move(part));
    add(std::move(parts), std::move(placed), std::move(failed));
}

bool CommitGroup::commitOrHand(CommitGroup* later,
                               std::vector<std::unique_ptr<ReplacingFile>> files, Placed placed,
                               Failed failed) {
    CommitGroup now;
    CommitGroup& group = later ? *later : now;
    group.add(std::move(files), std::move(placed), std::move(failed));
    return later || now.commit();
}

bool CommitGroup::commitOrHand(CommitGroup* later, std::unique_ptr<Replacement> part, Placed placed,
                               FailedPart failed) {
    CommitGroup now;
    CommitGroup& group = later ? *later : now;
    group.add(std::move(part), std::move(placed), std::move(failed));
    return later || now.commit();
}

void CommitGroup::discard() {
    for (Entry& entry : entries_)
        for (auto& part : entry.parts)
            if (part)
                part->discard();
    entries_.clear();
}

ReplacingFile* CommitGroup::commitAll(const std::vector<ReplacingFile*>& files) {
    const std::vector<Replacement*> parts(files.begin(), files.end());
    return static_cast<ReplacingFile*>(commitParts(parts));
}

Replacement* CommitGroup::commitParts(const std::vector<Replacement*>& parts) {
    auto fail = [&](Replacement* failed) {
        for (Replacement* part : parts)
            part->discard();
        return failed;
    };
    // The long part first: every part finished and synced while nothing has moved.
    for (Replacement* part : parts)
        if (!part->prepare())
            return fail(part);

    std::set<std::string> folders;
    {
        const SignalHold hold;
        for (std::size_t i = 0; i < parts.size(); ++i) {
            if (!parts[i]->place()) {
                for (std::size_t k = i; k-- > 0;)
                    parts[k]->undo();
                return fail(parts[i]);
            }
        }
        for (Replacement* part : parts) {
            const std::string folder = part->placedIn();
            if (folder.empty())
                continue;
            part->settle();
            folders.insert(folder);
        }
    }
    for (const std::string& folder : folders)
        syncFolder(folder);
    // What the previous contents left to remove, which may be long, once the signals are let
    // through again: the new contents are in place whatever happens now.
    for (Replacement* part : parts)
        part->tidy();
    return nullptr;
}

bool CommitGroup::commit() {
    std::vector<Entry> entries = std::move(entries_);
    entries_.clear();
    std::vector<Replacement*> parts;
    for (Entry& entry : entries)
        for (auto& part : entry.parts)
            if (part)
                parts.push_back(part.get());
    if (Replacement* failed = commitParts(parts)) {
        for (Entry& entry : entries)
            for (auto& part : entry.parts)
                if (part.get() == failed && entry.failed)
                    entry.failed(*failed);
        return false;
    }
    for (Entry& entry : entries)
        if (entry.placed)
            entry.placed();
    return true;
}

} // namespace ombrel
