#include "vrml/ReplacingFile.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ombrel {

namespace {

// The names of the temporary files that exist right now, for removeTemporaries(), which may run
// in a signal handler at any moment: fixed storage that is never freed, and one lock-free state
// per slot. Only the owner of a slot frees it; the handler only marks what it removed.
constexpr int kSlots = 16;
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

// Holds back the signals that end the process in the calling thread while the finished file is
// linked in and renamed, so that they find either the previous file or the new one in place.
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

std::string hiddenName(const std::filesystem::path& target, int attempt) {
    std::string leaf = ".";
    leaf += target.filename().string();
    leaf += ".part-";
    leaf += std::to_string(::getpid());
    leaf += '-';
    leaf += std::to_string(attempt);
    const std::filesystem::path folder = target.parent_path();
    return (folder.empty() ? std::filesystem::path(leaf) : folder / leaf).string();
}

} // namespace

void ReplacingFile::removeTemporaries() noexcept {
    for (Slot& slot : slots) {
        int expected = kReady;
        if (slot.state.compare_exchange_strong(expected, kRemoving)) {
            ::unlink(slot.path);
            slot.state.store(kRemoved);
        }
    }
}

ReplacingFile::ReplacingFile(const std::string& target, Temporary temporary) : target_(target) {
    if (target.empty()) {
        error_ = ENOENT;
        return;
    }
    auto attach = [this](int fd) {
        file_ = ::fdopen(fd, "wb");
        if (!file_) {
            error_ = errno;
            ::close(fd);
        }
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
        // A copy of the descriptor, so that closing the stream leaves standard output open.
        writeInPlace(::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0));
        return;
    }
    struct stat existing;
    const bool exists = ::stat(target.c_str(), &existing) == 0;
    if (exists && S_ISDIR(existing.st_mode)) {
        error_ = EISDIR;
        return;
    }
    if (exists && !S_ISREG(existing.st_mode)) {
        // A device, pipe or socket is written in place. Opening a named pipe waits for a reader.
        writeInPlace(::open(target.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC));
        return;
    }
    if (exists && (existing.st_mode & 0222) == 0) {
        readOnly_ = true;
        error_ = EACCES;
        return;
    }
    // A link is written through: the file it names is replaced, the link stays.
    std::error_code ec;
    if (std::filesystem::is_symlink(target, ec)) {
        const std::filesystem::path resolved = std::filesystem::weakly_canonical(target, ec);
        if (!ec)
            target_ = resolved.string();
    }
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
    const int fd = ::fileno(file_);
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
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
        if (linked != 0 && error == ENOENT)
            linked = ::linkat(fd, "", AT_FDCWD, temporary_.c_str(), AT_EMPTY_PATH);
#endif
        if (linked == 0)
            return true;
        forgetTemporary();
        if (error != EEXIST) {
            error_ = error;
            return false;
        }
    }
    error_ = EEXIST;
    return false;
}

void ReplacingFile::forgetTemporary() {
    releaseSlot(slot_);
    slot_ = -1;
    temporary_.clear();
}

ReplacingFile::~ReplacingFile() {
    discard();
}

bool ReplacingFile::commit() {
    if (!file_) {
        if (!error_)
            error_ = EBADF;
        return false;
    }
    errno = 0;
    bool ok = std::fflush(file_) == 0 && !std::ferror(file_);
    if (!ok)
        error_ = errno ? errno : EIO;
    // A device or pipe has nothing to sync, and nothing is renamed over it.
    if (ok && !direct_ && ::fsync(::fileno(file_)) != 0) {
        ok = false;
        error_ = errno;
    }
    const SignalHold hold;
    if (ok && unnamed_)
        ok = linkUnnamed();
    if (std::fclose(file_) != 0 && ok) {
        ok = false;
        error_ = errno;
    }
    file_ = nullptr;
    if (ok && !direct_ && ::rename(temporary_.c_str(), target_.c_str()) != 0) {
        ok = false;
        error_ = errno;
    }
    if (ok)
        forgetTemporary();
    else
        discard();
    return ok;
}

void ReplacingFile::discard() {
    if (file_) {
        std::fclose(file_);
        file_ = nullptr;
    }
    // Removed before it is forgotten: a signal in between finds it already gone, not left over.
    if (!temporary_.empty()) {
        ::unlink(temporary_.c_str());
        forgetTemporary();
    }
}

std::string ReplacingFile::reason() const {
    if (readOnly_)
        return "the file is read-only";
    return std::strerror(error_ ? error_ : EIO);
}

} // namespace ombrel
