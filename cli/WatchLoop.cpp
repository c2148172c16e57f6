#include "cli/WatchLoop.h"

#include <sys/stat.h>
#include <thread>

namespace ombrel {

bool operator==(const FileStamp& a, const FileStamp& b) {
    const auto same = [](const std::timespec& x, const std::timespec& y) {
        return x.tv_sec == y.tv_sec && x.tv_nsec == y.tv_nsec;
    };
    return a.exists == b.exists && a.inode == b.inode && a.size == b.size &&
           same(a.modified, b.modified) && same(a.statusChanged, b.statusChanged);
}

FileStamp stampFile(const std::string& path) {
    FileStamp stamp;
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        return stamp;
    }
    stamp.exists = true;
    stamp.inode = static_cast<unsigned long long>(info.st_ino);
    stamp.size = static_cast<long long>(info.st_size);
    stamp.modified = info.st_mtim;
    stamp.statusChanged = info.st_ctim;
    return stamp;
}

FileStamps stampFiles(const std::vector<std::string>& paths) {
    FileStamps stamps;
    for (const std::string& path : paths) {
        stamps[path] = stampFile(path);
    }
    return stamps;
}

void waitForChange(FileStamps seen, std::chrono::milliseconds quiet,
                   std::chrono::milliseconds every) {
    using Clock = std::chrono::steady_clock;
    bool changed = false;
    Clock::time_point lastChange;
    for (;;) {
        std::this_thread::sleep_for(every);
        for (auto& [path, stamp] : seen) {
            FileStamp now = stampFile(path);
            if (!(now == stamp)) {
                stamp = now;
                changed = true;
                lastChange = Clock::now();
            }
        }
        // An editor's save is often several writes: wait until they are over.
        if (changed && Clock::now() - lastChange >= quiet) {
            return;
        }
    }
}

} // namespace ombrel
