#include "vrml/StagedFolder.h"

#include "vrml/CommitGroup.h"
#include "vrml/HiddenNames.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace ombrel {

namespace {

namespace fs = std::filesystem;

// The hidden folders that exist right now, for removeTemporaries(), which may run in a signal
// handler at any moment: fixed storage that is never freed, one lock-free state per slot. Only
// the owner of a slot frees it; the handler only marks what it removed.
constexpr int kSlots = 16;
enum SlotState : int { kFree, kFilling, kReady, kRemoving, kRemoved };

struct Slot {
    std::atomic<int> state{kFree};
    char path[PATH_MAX];
};
static_assert(std::atomic<int>::is_always_lock_free);

Slot slots[kSlots];

// A slot holding path, or -1 when none is free or the path is too long (the folder is then only
// removed by its owner, as it always is when the process is not ended by a signal).
int registerFolder(const std::string& path) {
    if (path.size() >= PATH_MAX)
        return -1;
    for (int i = 0; i < kSlots; ++i) {
        int expected = kFree;
        if (slots[i].state.compare_exchange_strong(expected, kFilling)) {
            std::memcpy(slots[i].path, path.c_str(), path.size() + 1);
            slots[i].state.store(kReady);
            return i;
        }
    }
    return -1;
}

void releaseSlot(int slot) {
    if (slot < 0)
        return;
    int expected = kReady;
    if (slots[slot].state.compare_exchange_strong(expected, kFree))
        return;
    // Removed by removeTemporaries(); one still removing it (in another thread, ending the
    // process) keeps the slot.
    expected = kRemoved;
    slots[slot].state.compare_exchange_strong(expected, kFree);
}

// How deep removeTree goes: far deeper than any output this program writes. What lies deeper
// stays, with the folders above it.
constexpr int kDeepest = 32;

// Removes `name` in the folder `at` and, when it is a folder, everything in it. Links are
// removed, never followed. Async-signal-safe: system calls only, the listing read into a buffer
// on the stack. A folder is listed again until it is seen empty, since removing entries while
// listing may skip some, and another thread may still be writing into it.
void removeTree(int at, const char* name, int depth) noexcept {
    if (::unlinkat(at, name, 0) == 0 || errno == ENOENT)
        return;
    const int fd = ::openat(at, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return;
    for (int pass = 0; pass < 64 && depth < kDeepest; ++pass) {
        bool found = false;
        ::lseek(fd, 0, SEEK_SET);
        alignas(8) char buffer[4096];
        ssize_t n;
        while ((n = ::getdents64(fd, buffer, sizeof buffer)) > 0) {
            for (ssize_t offset = 0; offset < n;) {
                const auto* entry = reinterpret_cast<const dirent64*>(buffer + offset);
                offset += entry->d_reclen;
                const char* leaf = entry->d_name;
                if (leaf[0] == '.' && (leaf[1] == '\0' || (leaf[1] == '.' && leaf[2] == '\0')))
                    continue;
                found = true;
                if (entry->d_type == DT_DIR || (::unlinkat(fd, leaf, 0) != 0 && errno == EISDIR))
                    removeTree(fd, leaf, depth + 1);
            }
        }
        if (!found)
            break;
    }
    ::close(fd);
    ::unlinkat(at, name, AT_REMOVEDIR);
}

void removeLeftoverTree(int folder, const char* name) {
    removeTree(folder, name, 0);
}

// Whether a folder holds nothing; the errno value when it cannot be listed.
int isEmpty(const std::string& folder, bool& empty) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return errno;
    empty = true;
    while (const dirent* entry = ::readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
            empty = false;
            break;
        }
    }
    ::closedir(dir);
    return 0;
}

} // namespace

void StagedFolder::removeTemporaries() noexcept {
    const int saved = errno;
    for (Slot& slot : slots) {
        int expected = kReady;
        if (slot.state.compare_exchange_strong(expected, kRemoving)) {
            removeTree(AT_FDCWD, slot.path, 0);
            slot.state.store(kRemoved);
        }
    }
    errno = saved;
}

StagedFolder::StagedFolder(const std::string& folder, Kind kind)
    : given_(folder), kindName_(std::move(kind.name)) {
    if (folder.empty()) {
        error_ = ENOENT;
        return;
    }
    std::string path = folder;
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    // Absolute, so that the folder is found by its name whatever the working folder becomes
    // (the working folder may be the target itself). "." and ".." are resolved: a folder is
    // renamed by its name in its parent.
    std::error_code ec;
    fs::path p = fs::absolute(followLinks(path), ec);
    if (ec) {
        error_ = ec.value();
        return;
    }
    const std::string leaf = p.filename().string();
    if (leaf == "." || leaf == "..") {
        p = fs::weakly_canonical(p, ec);
        if (ec) {
            error_ = ec.value();
            return;
        }
    }
    target_ = p.string();
    if (p.filename().empty() || p == p.root_path()) {
        error_ = EBUSY; // the root folder has no parent to stage beside it in
        return;
    }
    struct stat existing;
    const bool exists = ::lstat(target_.c_str(), &existing) == 0;
    if (!exists && errno != ENOENT) {
        error_ = errno;
        return;
    }
    if (exists) {
        if (!S_ISDIR(existing.st_mode)) {
            refused_ = true;
            return;
        }
        bool empty = false;
        if (const int error = isEmpty(target_, empty)) {
            error_ = error;
            return;
        }
        if (!empty && !(kind.holds && kind.holds(target_))) {
            refused_ = true;
            return;
        }
        struct stat here;
        cwdIsTarget_ = ::stat(".", &here) == 0 && here.st_dev == existing.st_dev &&
                       here.st_ino == existing.st_ino;
    }
    holds_ = std::move(kind.holds);
    removeLeftovers(target_, removeLeftoverTree);
    if (!makeHidden(0, staging_, stagingSlot_, true))
        return;
    // Opened now, so that the sync at commit reports every write-back error from here on.
    stagingFd_ = ::open(staging_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (stagingFd_ < 0) {
        fail(errno);
        discard();
        return;
    }
    // The new folder keeps the previous one's permissions.
    if (exists)
        ::chmod(staging_.c_str(), existing.st_mode & 07777);
}

StagedFolder::~StagedFolder() {
    discard();
}

bool StagedFolder::makeHidden(int first, std::string& name, int& slot, bool create) {
    for (int attempt = first; attempt < first + 100; ++attempt) {
        // Registered before it exists, so that no moment has the folder without the
        // registration. A folder of that name that already exists has this process's number in
        // its name: it is a leftover or a sibling of ours, nobody else's.
        name = hiddenName(target_, attempt);
        slot = create ? registerFolder(name) : -1;
        int error = EEXIST;
        if (create) {
            if (::mkdir(name.c_str(), 0777) == 0)
                return true;
            error = errno;
        } else {
            struct stat st;
            if (::lstat(name.c_str(), &st) != 0) {
                if (errno == ENOENT)
                    return true;
                error = errno;
            }
        }
        releaseSlot(slot);
        slot = -1;
        name.clear();
        if (error != EEXIST) {
            fail(error);
            return false;
        }
    }
    fail(EEXIST);
    return false;
}

void StagedFolder::removeHidden(std::string& name, int& slot) {
    // Removed before it is forgotten: a signal in between finds it already gone, not left over.
    if (!name.empty())
        removeTree(AT_FDCWD, name.c_str(), 0);
    releaseSlot(slot);
    slot = -1;
    name.clear();
}

void StagedFolder::forgetHidden(std::string& name, int& slot) {
    releaseSlot(slot);
    slot = -1;
    name.clear();
}

bool StagedFolder::commit() {
    return CommitGroup::commitParts({this}) == nullptr;
}

void StagedFolder::closeStaging() {
    if (stagingFd_ >= 0)
        ::close(stagingFd_);
    stagingFd_ = -1;
}

void StagedFolder::discard() {
    closeStaging();
    removeHidden(staging_, stagingSlot_);
    removeHidden(old_, oldSlot_);
}

void StagedFolder::fail(int error) {
    if (!error_)
        error_ = error ? error : EIO;
}

std::string StagedFolder::reason() const {
    if (refused_)
        return given_ + " is not a " + kindName_ + " folder";
    return std::strerror(error_ ? error_ : EIO);
}

bool StagedFolder::prepare() {
    if (staging_.empty() || refused_ || error_) {
        fail(EBADF);
        discard();
        return false;
    }
    // The target may have changed while the folder was written: what it holds now is what the
    // commit would remove.
    struct stat st;
    if (::lstat(target_.c_str(), &st) == 0) {
        bool empty = false;
        if (!S_ISDIR(st.st_mode)) {
            refused_ = true;
        } else if (const int error = isEmpty(target_, empty)) {
            fail(error);
        } else if (!empty && !(holds_ && holds_(target_))) {
            refused_ = true;
        }
    } else if (errno != ENOENT) {
        fail(errno);
    }
    // One sync of the file system for everything written: thousands of files each synced on
    // their own take a hundred times as long. It fails with the first write-back error since the
    // staging folder was made (a full disk, an I/O error).
    struct stat staged {};
    if (!refused_ && !error_ && ::fstat(stagingFd_, &staged) != 0)
        fail(errno);
    if (!refused_ && !error_ && staged.st_nlink == 0)
        fail(ENOENT); // removed by removeTemporaries() in another thread
    if (!refused_ && !error_ && ::syncfs(stagingFd_) != 0)
        fail(errno);
    if (refused_ || error_) {
        discard();
        return false;
    }
    return true;
}

bool StagedFolder::place() {
    struct stat st;
    if (::lstat(target_.c_str(), &st) != 0) {
        if (errno != ENOENT || ::rename(staging_.c_str(), target_.c_str()) != 0) {
            fail(errno);
            return false;
        }
        placed_ = Placed::created;
        return true;
    }
    // Something that took the target's place meanwhile is not exchanged for the folder.
    if (!S_ISDIR(st.st_mode)) {
        fail(ENOTDIR);
        return false;
    }
    // The previous folder goes under the staging name, from where undo() can put it back.
    if (::renameat2(AT_FDCWD, staging_.c_str(), AT_FDCWD, target_.c_str(), RENAME_EXCHANGE) == 0) {
        placed_ = Placed::exchanged;
    } else {
        if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) {
            fail(errno);
            return false;
        }
        // No exchange on this file system: the previous folder is set aside under a second
        // hidden name, and put back when the new one cannot take its place.
        int unregistered = -1;
        if (!makeHidden(100, aside_, unregistered, false))
            return false;
        if (::rename(target_.c_str(), aside_.c_str()) != 0) {
            fail(errno);
            aside_.clear();
            return false;
        }
        if (::rename(staging_.c_str(), target_.c_str()) != 0) {
            fail(errno);
            ::rename(aside_.c_str(), target_.c_str());
            aside_.clear();
            return false;
        }
        placed_ = Placed::setAside;
    }
    // The working folder was the previous folder: relative names go on naming the same places.
    if (cwdIsTarget_)
        ::chdir(target_.c_str());
    return true;
}

void StagedFolder::undo() {
    switch (placed_) {
    case Placed::created:
        ::rename(target_.c_str(), staging_.c_str());
        break;
    case Placed::exchanged:
        // Should the previous folder not come back, its hidden name is never removed.
        if (::renameat2(AT_FDCWD, staging_.c_str(), AT_FDCWD, target_.c_str(), RENAME_EXCHANGE) !=
            0)
            forgetHidden(staging_, stagingSlot_);
        break;
    case Placed::setAside:
        if (::rename(target_.c_str(), staging_.c_str()) == 0)
            ::rename(aside_.c_str(), target_.c_str());
        // The previous folder is back, or stays under the hidden name: never removed.
        aside_.clear();
        break;
    case Placed::no:
        break;
    }
    if (placed_ != Placed::no && cwdIsTarget_)
        ::chdir(target_.c_str());
    placed_ = Placed::no;
}

void StagedFolder::settle() {
    closeStaging();
    switch (placed_) {
    case Placed::created:
        forgetHidden(staging_, stagingSlot_); // the staging folder became the target
        break;
    case Placed::exchanged:
        // The staging name holds the previous tree now.
        old_ = staging_;
        oldSlot_ = stagingSlot_;
        staging_.clear();
        stagingSlot_ = -1;
        break;
    case Placed::setAside:
        forgetHidden(staging_, stagingSlot_);
        // Registered only now that the new folder is in place: a handler running in another
        // thread meanwhile would have removed the previous folder while it was the only one.
        old_ = aside_;
        oldSlot_ = registerFolder(aside_);
        aside_.clear();
        break;
    case Placed::no:
        break;
    }
    placed_ = Placed::no;
}

void StagedFolder::tidy() {
    removeHidden(old_, oldSlot_);
}

std::string StagedFolder::placedIn() const {
    return fs::path(target_).parent_path().string();
}

} // namespace ombrel
