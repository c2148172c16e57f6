#pragma once

#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <thread>
#include <unistd.h>

namespace ombrel::testsupport {

// Reads a named pipe until its writers are gone, for as long as a writer may still
// come: a reader that waited for a writer that never came would hang the test.
class PipeReader {
public:
    explicit PipeReader(const std::filesystem::path& fifo)
        : fd_(::open(fifo.c_str(), O_RDONLY | O_NONBLOCK)), thread_([this] { run(); }) {}
    ~PipeReader() { finish(); }
    // Call once the writer is done; returns all that was read.
    const std::string& finish() {
        writing_ = false;
        if (thread_.joinable())
            thread_.join();
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
        return text_;
    }
    bool opened() const { return fd_ >= 0; }

private:
    void run() {
        char buffer[65536];
        while (fd_ >= 0) {
            const bool more = writing_;
            const ssize_t n = ::read(fd_, buffer, sizeof buffer);
            if (n > 0) {
                text_.append(buffer, std::size_t(n));
                continue;
            }
            // No writer (none yet, or none any more) reads as the end; data not there yet as
            // EAGAIN.
            if (n == 0 && !more)
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    int fd_;
    std::atomic<bool> writing_{true};
    std::string text_;
    std::thread thread_;
};

} // namespace ombrel::testsupport
