#include "vrml/HiddenNames.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ombrel {

namespace {

// What a hidden name adds to the stem at most: the leading dot, ".part-", a process number and
// an attempt number.
constexpr std::size_t kHiddenExtra = 1 + 6 + 10 + 1 + 5;

std::size_t longestName(const std::filesystem::path& folder) {
    const long max = ::pathconf(folder.empty() ? "." : folder.c_str(), _PC_NAME_MAX);
    return max > 0 ? std::size_t(max) : 255;
}

// The part of a hidden name that stands for the target's file name: the name itself where the
// hidden name fits beside it, else its start and a hash of the whole name, so that every name
// that fits has temporary names that fit.
std::string hiddenStem(const std::filesystem::path& target) {
    const std::string name = target.filename().string();
    const std::size_t longest = longestName(target.parent_path());
    if (name.size() + kHiddenExtra <= longest || longest <= kHiddenExtra + 32)
        return name;
    std::uint64_t hash = 0xcbf29ce484222325u; // 64-bit FNV-1a
    for (const char c : name) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 0x100000001b3u;
    }
    std::size_t keep = longest - kHiddenExtra - 17;
    // Never half a UTF-8 sequence: the name stays readable in a listing.
    while (keep > 0 && (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80)
        --keep;
    char tail[18];
    std::snprintf(tail, sizeof tail, "~%016llx", static_cast<unsigned long long>(hash));
    return name.substr(0, keep) + tail;
}

} // namespace

std::string hiddenName(const std::filesystem::path& target, int attempt) {
    std::string leaf = ".";
    leaf += hiddenStem(target);
    leaf += ".part-";
    leaf += std::to_string(::getpid());
    leaf += '-';
    leaf += std::to_string(attempt);
    const std::filesystem::path folder = target.parent_path();
    return (folder.empty() ? std::filesystem::path(leaf) : folder / leaf).string();
}

void removeLeftovers(const std::filesystem::path& target,
                     void (*remove)(int folder, const char* name)) {
    const std::filesystem::path folder = target.parent_path();
    std::string prefix = ".";
    prefix += hiddenStem(target);
    prefix += ".part-";
    DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
    if (!dir)
        return;
    while (const dirent* entry = ::readdir(dir)) {
        const char* name = entry->d_name;
        if (std::strncmp(name, prefix.c_str(), prefix.size()) != 0)
            continue;
        // PID-N and nothing else.
        const char* at = name + prefix.size();
        char* end = nullptr;
        errno = 0;
        const long pid = std::strtol(at, &end, 10);
        if (end == at || *end != '-' || errno != 0 || pid <= 0 || pid > INT_MAX)
            continue;
        const char* attempt = end + 1;
        std::strtol(attempt, &end, 10);
        if (end == attempt || *end != '\0')
            continue;
        if (pid == ::getpid() || ::kill(pid_t(pid), 0) == 0 || errno != ESRCH)
            continue;
        remove(::dirfd(dir), name);
    }
    ::closedir(dir);
}

std::string followLinks(const std::string& path) {
    std::filesystem::path p(path);
    for (int i = 0; i < 40; ++i) {
        struct stat st;
        if (::lstat(p.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            break;
        std::error_code ec;
        const std::filesystem::path to = std::filesystem::read_symlink(p, ec);
        if (ec)
            break;
        p = to.is_absolute() ? to : p.parent_path() / to;
    }
    return p.string();
}

} // namespace ombrel
