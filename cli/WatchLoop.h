#pragma once

#include <chrono>
#include <ctime>
#include <map>
#include <string>
#include <vector>

namespace ombrel {

// What tells a file's versions apart: a write changes its size or times, a new file renamed
// over it (as editors save) its inode. A missing file has a stamp too.
struct FileStamp {
    bool exists = false;
    unsigned long long inode = 0;
    long long size = 0;
    std::timespec modified{};
    std::timespec statusChanged{};

    friend bool operator==(const FileStamp& a, const FileStamp& b);
};
FileStamp stampFile(const std::string& path);

using FileStamps = std::map<std::string, FileStamp>;
FileStamps stampFiles(const std::vector<std::string>& paths);

// Waits, without Qt, until one of the files named in `seen` no longer matches its stamp there and
// then nothing has changed for `quiet`; looks every `every`. Folders are not watched: a file
// replaced by a rename, removed or created again is seen by its stamp. Never returns otherwise;
// the batch tool ends through its interrupt handlers.
void waitForChange(FileStamps seen,
                   std::chrono::milliseconds quiet = std::chrono::milliseconds(300),
                   std::chrono::milliseconds every = std::chrono::milliseconds(50));

} // namespace ombrel
