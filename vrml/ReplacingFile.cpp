#include "vrml/ReplacingFile.h"

#include "vrml/CommitGroup.h"
#include "vrml/HiddenNames.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ombrel {

namespace {

// The names of the temporary files that exist right now, for removeTemporaries(), which may run
// in a signal handler at any moment: fixed storage that is never freed, and one lock-free state
// per slot. Only the owner of a slot frees it; the handler only marks what it removed.
constexpr int kSlots = 64;
enum SlotState : int { kFree, kFilling, kReady, kRemoving, kRemoved };

struct Slot {
    std::atomic<int> state{kFree};
    char path[PATH_MAX];
};
static_assert(std::atomic<int>::is_always_lock_free);

Slot slots[kSlots];

// A slot holding path, or -1 when none is free or the path is too long (the file is then only
// removed by its owner, as it always is when the process is not killed).
int registerTemporary(const std::string& path) {
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

// Removes a leftover temporary file; a folder of that name is not ours to remove.
void unlinkLeftover(int folder, const char* name) {
    ::unlinkat(folder, name, 0);
}

} // namespace

// The stream of a ReplacingFile: plain writes to its descriptor that keep the first error, since
// the C library's streams keep none of their own and errno is long overwritten when the write is
// found to have failed.
struct ReplacingFileStream {
    static ssize_t write(void* cookie, const char* data, std::size_t n) {
        auto* file = static_cast<ReplacingFile*>(cookie);
        std::size_t done = 0;
        while (done < n) {
            const ssize_t w = ::write(file->fd_, data + done, n - done);
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0) {
                file->fail(w < 0 ? errno : EIO);
                return -1;
            }
            done += std::size_t(w);
        }
        return ssize_t(n);
    }
    static int seek(void* cookie, off64_t* offset, int whence) {
        auto* file = static_cast<ReplacingFile*>(cookie);
        const off64_t at = ::lseek64(file->fd_, *offset, whence);
        if (at < 0)
            return -1;
        *offset = at;
        return 0;
    }
    static int close(void*) { return 0; } // the descriptor is the ReplacingFile's to close
};

void ReplacingFile::removeTemporaries() noexcept {
    for (Slot& slot : slots) {
        int expected = kReady;
        if (slot.state.compare_exchange_strong(expected, kRemoving)) {
            ::unlink(slot.path);
            slot.state.store(kRemoved);
        }
    }
}

ReplacingFile::ReplacingFile(const std::string& target, Temporary temporary, Kind kind)
    : given_(target), target_(target) {
    if (target.empty()) {
        error_ = ENOENT;
        return;
    }
    auto attach = [this](int fd) {
        fd_ = fd;
        file_ = ::fopencookie(this, "wb",
                              {nullptr, ReplacingFileStream::write, ReplacingFileStream::seek,
                               ReplacingFileStream::close});
        if (!file_) {
            error_ = errno;
            ::close(fd);
            fd_ = -1;
            return;
        }
        std::setvbuf(file_, nullptr, _IOFBF, std::size_t(64) << 10);
    };
    // Writes straight into an opened descriptor (-1: the open failed, errno says why).
    auto writeInPlace = [this, &attach](int fd) {
        if (fd < 0) {
            error_ = errno;
            return;
        }
        direct_ = true;
        attach(fd);
    };
    if (target == "-") {
        if (kind == Kind::regularOnly) {
            notRegular_ = true;
            error_ = EINVAL;
            return;
        }
        // A copy of the descriptor, so that closing the stream leaves standard output open.
        writeInPlace(::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0));
        return;
    }
    target_ = followLinks(target);
    struct stat existing;
    const bool exists = ::stat(target_.c_str(), &existing) == 0;
    if (exists && !S_ISREG(existing.st_mode) && kind == Kind::regularOnly) {
        notRegular_ = true;
        error_ = EINVAL;
        return;
    }
    if (exists && S_ISDIR(existing.st_mode)) {
        error_ = EISDIR;
        return;
    }
    if (exists && !S_ISREG(existing.st_mode)) {
        // A device, pipe or socket is written in place. Opening a named pipe waits for a reader.
        writeInPlace(::open(target_.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC));
        return;
    }
    if (exists && (existing.st_mode & 0222) == 0) {
        readOnly_ = true;
        error_ = EACCES;
        return;
    }
    removeLeftovers(target_, unlinkLeftover);
    const int fd = openTemporary(temporary);
    if (fd < 0)
        return;
    // A replaced file keeps its permissions.
    if (exists)
        ::fchmod(fd, existing.st_mode & 07777);
    attach(fd);
    if (!file_)
        discard();
}

int ReplacingFile::openTemporary(Temporary temporary) {
    const std::filesystem::path path(target_);
#ifdef O_TMPFILE
    if (temporary == Temporary::unnamed) {
        const std::string folder =
            path.parent_path().empty() ? std::string(".") : path.parent_path().string();
        const int fd = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
        if (fd >= 0) {
            unnamed_ = true;
            return fd;
        }
        // Filesystems and kernels without unnamed files say so in one of these ways.
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
            error_ = errno;
            return -1;
        }
    }
#else
    (void)temporary;
#endif
    for (int attempt = 0; attempt < 100; ++attempt) {
        // Registered before it exists, so that no moment has the file without the registration.
        // A file of that name that already exists has this process's number in its name: it is
        // a leftover or a sibling of ours, nobody else's.
        temporary_ = hiddenName(path, attempt);
        slot_ = registerTemporary(temporary_);
        const int fd = ::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0)
            return fd;
        const int error = errno;
        forgetTemporary();
        if (error != EEXIST) {
            error_ = error;
            return -1;
        }
    }
    error_ = EEXIST;
    return -1;
}

bool ReplacingFile::linkUnnamed() {
    const std::string self = "/proc/self/fd/" + std::to_string(fd_);
    const std::filesystem::path path(target_);
    // A new link cannot replace a file: the unnamed file gets a hidden name first, which the
    // rename then moves over the target.
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary_ = hiddenName(path, attempt);
        slot_ = registerTemporary(temporary_);
        int linked =
            ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, temporary_.c_str(), AT_SYMLINK_FOLLOW);
        int error = errno;
#ifdef AT_EMPTY_PATH
        // Without /proc, linking the descriptor itself needs a privilege root has.
        if (linked != 0 && error == ENOENT) {
            linked = ::linkat(fd_, "", AT_FDCWD, temporary_.c_str(), AT_EMPTY_PATH);
            error = errno;
        }
#endif
        if (linked == 0)
            return true;
        forgetTemporary();
        if (error != EEXIST) {
            fail(error);
            return false;
        }
    }
    fail(EEXIST);
    return false;
}

void ReplacingFile::forgetTemporary() {
    releaseSlot(slot_);
    slot_ = -1;
    temporary_.clear();
}

void ReplacingFile::fail(int error) {
    if (!error_)
        error_ = error ? error : EIO;
}

ReplacingFile::~ReplacingFile() {
    discard();
}

bool ReplacingFile::commit() {
    return CommitGroup::commitAll({this}) == nullptr;
}

bool ReplacingFile::prepare() {
    if (!file_) {
        fail(EBADF);
        discard();
        return false;
    }
    errno = 0;
    if (std::fflush(file_) != 0 || std::ferror(file_))
        fail(errno);
    // A device or pipe has nothing to sync, and nothing is renamed over it.
    if (!error_ && !direct_ && ::fsync(fd_) != 0)
        fail(errno);
    if (!error_ && unnamed_)
        linkUnnamed();
    std::fclose(file_);
    file_ = nullptr;
    if (::close(fd_) != 0)
        fail(errno);
    fd_ = -1;
    if (error_) {
        discard();
        return false;
    }
    return true;
}

bool ReplacingFile::place() {
    if (direct_) {
        placed_ = Placed::written;
        return true;
    }
    struct stat st;
    if (::lstat(target_.c_str(), &st) != 0) {
        if (::rename(temporary_.c_str(), target_.c_str()) != 0) {
            fail(errno);
            return false;
        }
        // The temporary name is gone: it became the target.
        forgetTemporary();
        placed_ = Placed::created;
        return true;
    }
    // A folder that took the target's place meanwhile is not exchanged for the file.
    if (S_ISDIR(st.st_mode)) {
        fail(EISDIR);
        return false;
    }
    // The previous file goes under the temporary name, from where undo() can put it back.
    if (::renameat2(AT_FDCWD, temporary_.c_str(), AT_FDCWD, target_.c_str(), RENAME_EXCHANGE) ==
        0) {
        placed_ = Placed::exchanged;
        return true;
    }
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) {
        fail(errno);
        return false;
    }
    // No exchange on this file system: a second name keeps the previous file, where the file
    // system allows one.
    const std::filesystem::path path(target_);
    for (int attempt = 100; attempt < 200; ++attempt) {
        backup_ = hiddenName(path, attempt);
        if (::link(target_.c_str(), backup_.c_str()) == 0)
            break;
        const int error = errno;
        backup_.clear();
        if (error != EEXIST)
            break;
    }
    if (::rename(temporary_.c_str(), target_.c_str()) != 0) {
        fail(errno);
        if (!backup_.empty())
            ::unlink(backup_.c_str());
        backup_.clear();
        return false;
    }
    forgetTemporary();
    placed_ = backup_.empty() ? Placed::overwritten : Placed::backedUp;
    return true;
}

std::string ReplacingFile::placedIn() const {
    // A device or pipe written in place renamed nothing.
    if (direct_)
        return {};
    const std::string folder = std::filesystem::path(target_).parent_path().string();
    return folder.empty() ? std::string(".") : folder;
}

void ReplacingFile::undo() {
    switch (placed_) {
    case Placed::exchanged:
        // The previous file moves back over the new one, which goes with it.
        if (::rename(temporary_.c_str(), target_.c_str()) == 0) {
            forgetTemporary();
        }
        break;
    case Placed::backedUp:
        if (::rename(backup_.c_str(), target_.c_str()) == 0)
            backup_.clear();
        break;
    case Placed::created:
        ::unlink(target_.c_str());
        break;
    case Placed::no:
    case Placed::written:
    case Placed::overwritten:
        break;
    }
    placed_ = Placed::no;
}

void ReplacingFile::settle() {
    if (placed_ == Placed::exchanged)
        discard(); // the temporary name holds the previous file now
    if (!backup_.empty())
        ::unlink(backup_.c_str());
    backup_.clear();
    placed_ = Placed::no;
}

void ReplacingFile::discard() {
    if (file_) {
        std::fclose(file_);
        file_ = nullptr;
    }
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    // Removed before it is forgotten: a signal in between finds it already gone, not left over.
    if (!temporary_.empty()) {
        ::unlink(temporary_.c_str());
        forgetTemporary();
    }
    if (!backup_.empty()) {
        ::unlink(backup_.c_str());
        backup_.clear();
    }
}

std::string ReplacingFile::reason() const {
    if (readOnly_)
        return "the file is read-only";
    if (notRegular_)
        return given_ + " is not a regular file";
    return std::strerror(error_ ? error_ : EIO);
}

} // namespace ombrel
