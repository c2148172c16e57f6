#include "export/Output.h"

#include "vrml/FormatG.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace ombrel {

namespace {

// A scratch file's bytes: in memory while they are few, in an unnamed file once they pass
// kInMemory, so a small export never touches the disk twice and a large one never fills the
// memory.
constexpr std::size_t kInMemory = std::size_t(16) << 20;

constexpr std::size_t kBlock = std::size_t(1) << 20;

struct Scratch {
    std::string near;
    // Blocks of kBlock bytes: memory is touched once, never copied as it grows.
    std::vector<std::unique_ptr<char[]>> blocks;
    int fd = -1;
    std::uint64_t size = 0;
    std::uint64_t position = 0;
};

// Copies n bytes between the blocks at `position` and `data`, in the direction `in` says.
void copyBlocks(Scratch& s, char* data, std::size_t n, bool in) {
    std::uint64_t at = s.position;
    while (n > 0) {
        const std::size_t block = std::size_t(at / kBlock);
        const std::size_t offset = std::size_t(at % kBlock);
        const std::size_t part = std::min(n, kBlock - offset);
        while (in && s.blocks.size() <= block)
            s.blocks.push_back(std::make_unique_for_overwrite<char[]>(kBlock));
        if (in)
            std::memcpy(s.blocks[block].get() + offset, data, part);
        else
            std::memcpy(data, s.blocks[block].get() + offset, part);
        data += part;
        at += part;
        n -= part;
    }
}

int openScratchFile(const std::string& near) {
#ifdef O_TMPFILE
    std::filesystem::path folder = std::filesystem::path(near).parent_path();
    if (folder.empty())
        folder = ".";
    const int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0)
        return fd;
#endif
    std::FILE* file = std::tmpfile();
    if (!file)
        return -1;
    const int fd2 = ::dup(::fileno(file));
    std::fclose(file);
    return fd2;
}

ssize_t scratchWrite(void* cookie, const char* data, std::size_t n) {
    auto* s = static_cast<Scratch*>(cookie);
    if (s->fd < 0 && s->position + n > kInMemory) {
        s->fd = openScratchFile(s->near);
        if (s->fd < 0)
            return -1;
        for (std::uint64_t done = 0; done < s->size;) {
            const std::size_t block = std::size_t(done / kBlock);
            const std::size_t part = std::size_t(std::min<std::uint64_t>(kBlock, s->size - done));
            const ssize_t w = ::pwrite(s->fd, s->blocks[block].get(), part, off_t(done));
            if (w != ssize_t(part))
                return -1;
            done += part;
        }
        s->blocks.clear();
    }
    if (s->fd >= 0) {
        const ssize_t w = ::pwrite(s->fd, data, n, off_t(s->position));
        if (w < 0)
            return -1;
        n = std::size_t(w);
    } else {
        copyBlocks(*s, const_cast<char*>(data), n, true);
    }
    s->position += n;
    s->size = std::max(s->size, s->position);
    return ssize_t(n);
}

ssize_t scratchRead(void* cookie, char* data, std::size_t n) {
    auto* s = static_cast<Scratch*>(cookie);
    if (s->fd >= 0) {
        const ssize_t r = ::pread(s->fd, data, n, off_t(s->position));
        if (r > 0)
            s->position += std::uint64_t(r);
        return r;
    }
    const std::uint64_t left = s->position < s->size ? s->size - s->position : 0;
    n = std::size_t(std::min<std::uint64_t>(n, left));
    copyBlocks(*s, data, n, false);
    s->position += n;
    return ssize_t(n);
}

int scratchSeek(void* cookie, off64_t* offset, int whence) {
    auto* s = static_cast<Scratch*>(cookie);
    const std::int64_t base = whence == SEEK_SET   ? 0
                              : whence == SEEK_CUR ? std::int64_t(s->position)
                                                   : std::int64_t(s->size);
    if (base + *offset < 0)
        return -1;
    s->position = std::uint64_t(base + *offset);
    *offset = off64_t(s->position);
    return 0;
}

std::vector<std::pair<std::FILE*, Scratch*>>& openScratches();

int scratchClose(void* cookie) {
    auto* s = static_cast<Scratch*>(cookie);
    auto& open = openScratches();
    for (std::size_t i = 0; i < open.size(); ++i)
        if (open[i].second == s) {
            open.erase(open.begin() + std::ptrdiff_t(i));
            break;
        }
    if (s->fd >= 0)
        ::close(s->fd);
    delete s;
    return 0;
}

} // namespace

std::FILE* openScratch(const std::string& near) {
    auto* scratch = new Scratch;
    scratch->near = near;
    std::FILE* file =
        ::fopencookie(scratch, "w+", {scratchRead, scratchWrite, scratchSeek, scratchClose});
    if (!file)
        delete scratch;
    else
        openScratches().emplace_back(file, scratch);
    return file;
}

namespace {

// The scratch files open now, to find the file behind a stream.
std::vector<std::pair<std::FILE*, Scratch*>>& openScratches() {
    static std::vector<std::pair<std::FILE*, Scratch*>> open;
    return open;
}

} // namespace

bool appendScratch(std::FILE* from, std::FILE* to, int descriptor) {
    if (std::fflush(from) != 0 || std::fseek(from, 0, SEEK_SET) != 0)
        return false;
    Scratch* scratch = nullptr;
    for (const auto& [file, s] : openScratches())
        if (file == from)
            scratch = s;
    const int toFd = descriptor >= 0 ? descriptor : ::fileno(to);
    if (scratch && scratch->fd >= 0 && std::fflush(to) == 0 && toFd >= 0) {
        // Both are files: the kernel copies, the bytes never pass through here.
        loff_t offset = 0;
        while (std::uint64_t(offset) < scratch->size) {
            const ssize_t n =
                ::copy_file_range(scratch->fd, &offset, toFd, nullptr,
                                  std::size_t(scratch->size - std::uint64_t(offset)), 0);
            if (n <= 0)
                break;
        }
        if (std::uint64_t(offset) == scratch->size)
            return true;
        if (offset > 0)
            return false;
    }
    static thread_local char buffer[1 << 20];
    for (;;) {
        const std::size_t n = std::fread(buffer, 1, sizeof buffer, from);
        if (n > 0 && std::fwrite(buffer, 1, n, to) != n)
            return false;
        if (n < sizeof buffer)
            return !std::ferror(from);
    }
}

bool writtenInPlace(const std::string& path) {
    if (path == "-")
        return true;
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode);
}

std::string besidePath(const std::string& path, std::string_view extension) {
    const std::size_t slash = path.find_last_of('/');
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const std::size_t dot = path.find_last_of('.');
    const std::size_t end = dot != std::string::npos && dot > nameStart ? dot : path.size();
    return path.substr(0, end) + std::string(extension);
}

std::string fileNameOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

namespace {

// The length of the valid UTF-8 sequence at text[i], or 0.
std::size_t utf8Length(std::string_view text, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char c = byte(i);
    std::size_t n = 0;
    std::uint32_t code = 0;
    if (c < 0x80)
        return 1;
    if ((c & 0xE0) == 0xC0) {
        n = 2;
        code = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
        n = 3;
        code = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
        n = 4;
        code = c & 0x07;
    } else {
        return 0;
    }
    if (i + n > text.size())
        return 0;
    for (std::size_t k = 1; k < n; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80)
            return 0;
        code = (code << 6) | (byte(i + k) & 0x3F);
    }
    static constexpr std::uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < kLeast[n] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return 0;
    return n;
}

} // namespace

void appendJsonString(std::string& out, std::string_view text) {
    out += '"';
    for (std::size_t i = 0; i < text.size();) {
        const char c = text[i];
        const std::size_t n = utf8Length(text, i);
        if (n == 0) {
            out += "\\ufffd";
            ++i;
            continue;
        }
        if (n > 1) {
            out.append(text.substr(i, n));
            i += n;
            continue;
        }
        ++i;
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                static constexpr char kHex[] = "0123456789abcdef";
                out += "\\u00";
                out += kHex[(c >> 4) & 0xF];
                out += kHex[c & 0xF];
            } else {
                out += c;
            }
        }
    }
    out += '"';
}

void appendExactFloat(std::string& out, float value) {
    if (!std::isfinite(value))
        value = 0.0f;
    char text[32];
    // The float's value as a double, in the fewest digits that read back as that double, so a
    // reader that compares with doubles or with floats sees the same number.
    const auto end = std::to_chars(text, text + sizeof text, double(value)).ptr;
    out.append(text, end);
}

void appendShortFloat(std::string& out, float value) {
    if (!std::isfinite(value))
        value = 0.0f;
    char text[kFormatGMax];
    out.append(text, formatG(text, value));
}

std::string uriEncode(std::string_view url) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char ch : url) {
        const auto c = static_cast<unsigned char>(ch);
        const bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                          (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' || c == '~' ||
                          c == '/';
        if (keep) {
            out += ch;
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 0xF];
        }
    }
    return out;
}

} // namespace ombrel
