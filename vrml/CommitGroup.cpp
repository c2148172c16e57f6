#include "vrml/CommitGroup.h"

#include <csignal>
#include <fcntl.h>
#include <filesystem>
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
    entries_.push_back({std::move(files), std::move(placed), std::move(failed)});
}

bool CommitGroup::commitOrHand(CommitGroup* later,
                               std::vector<std::unique_ptr<ReplacingFile>> files, Placed placed,
                               Failed failed) {
    CommitGroup now;
    CommitGroup& group = later ? *later : now;
    group.add(std::move(files), std::move(placed), std::move(failed));
    return later || now.commit();
}

void CommitGroup::discard() {
    for (Entry& entry : entries_)
        for (auto& file : entry.files)
            if (file)
                file->discard();
    entries_.clear();
}

ReplacingFile* CommitGroup::commitAll(const std::vector<ReplacingFile*>& files) {
    auto fail = [&](ReplacingFile* failed) {
        for (ReplacingFile* file : files)
            file->discard();
        return failed;
    };
    // The long part first: every file finished and synced while nothing has moved.
    for (ReplacingFile* file : files)
        if (!file->prepare())
            return fail(file);

    std::set<std::string> folders;
    {
        const SignalHold hold;
        for (std::size_t i = 0; i < files.size(); ++i) {
            if (!files[i]->place()) {
                for (std::size_t k = i; k-- > 0;)
                    files[k]->undo();
                return fail(files[i]);
            }
        }
        for (ReplacingFile* file : files) {
            if (file->direct_)
                continue;
            file->settle();
            const std::string folder = std::filesystem::path(file->target_).parent_path().string();
            folders.insert(folder.empty() ? std::string(".") : folder);
        }
    }
    for (const std::string& folder : folders)
        syncFolder(folder);
    return nullptr;
}

bool CommitGroup::commit() {
    std::vector<Entry> entries = std::move(entries_);
    entries_.clear();
    std::vector<ReplacingFile*> files;
    for (Entry& entry : entries)
        for (auto& file : entry.files)
            if (file)
                files.push_back(file.get());
    if (ReplacingFile* failed = commitAll(files)) {
        for (Entry& entry : entries)
            for (auto& file : entry.files)
                if (file.get() == failed && entry.failed)
                    entry.failed(*failed);
        return false;
    }
    for (Entry& entry : entries)
        if (entry.placed)
            entry.placed();
    return true;
}

} // namespace ombrel
