#include "vrml/ReplacingFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace ombrel {

ReplacingFile::ReplacingFile(const std::string& target) : target_(target) {
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
    if (target == "-") {
        // A copy of the descriptor, so that closing the stream leaves standard output open.
        const int fd = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0);
        if (fd < 0) {
            error_ = errno;
            return;
        }
        direct_ = true;
        attach(fd);
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
        const int fd = ::open(target.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
        if (fd < 0) {
            error_ = errno;
            return;
        }
        direct_ = true;
        attach(fd);
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
    const std::filesystem::path path(target_);
    const std::filesystem::path folder = path.parent_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string leaf = ".";
        leaf += path.filename().string();
        leaf += ".part-";
        leaf += std::to_string(::getpid());
        leaf += '-';
        leaf += std::to_string(attempt);
        temporary_ = (folder.empty() ? std::filesystem::path(leaf) : folder / leaf).string();
        const int fd = ::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno == EEXIST)
            continue;
        if (fd < 0) {
            error_ = errno;
            temporary_.clear();
            return;
        }
        // A replaced file keeps its permissions.
        if (exists)
            ::fchmod(fd, existing.st_mode & 07777);
        file_ = ::fdopen(fd, "wb");
        if (!file_) {
            error_ = errno;
            ::close(fd);
            ::unlink(temporary_.c_str());
            temporary_.clear();
        }
        return;
    }
    error_ = EEXIST;
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
        temporary_.clear();
    else
        discard();
    return ok;
}

void ReplacingFile::discard() {
    if (file_) {
        std::fclose(file_);
        file_ = nullptr;
    }
    if (!temporary_.empty()) {
        ::unlink(temporary_.c_str());
        temporary_.clear();
    }
}

std::string ReplacingFile::reason() const {
    if (readOnly_)
        return "the file is read-only";
    return std::strerror(error_ ? error_ : EIO);
}

} // namespace ombrel
