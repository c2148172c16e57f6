#include "cli/ProgressLine.h"

#include <algorithm>
#include <chrono>

namespace ombrel {

ProgressLine::ProgressLine(std::FILE* out, bool terminal, Clock clock)
    : out_(out), terminal_(terminal), clock_(std::move(clock)) {
    if (terminal_)
        start_ = clock_();
}

ProgressLine::~ProgressLine() {
    clear();
}

std::uint64_t ProgressLine::steadyMilliseconds() {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
}

void ProgressLine::step(const char* stage, std::uint64_t done, std::uint64_t total) {
    if (!terminal_ || clock_() - start_ < kDelayMs)
        return;
    std::uint64_t percent = 100;
    if (done < total)
        percent = std::min<std::uint64_t>(
            99, done <= ~std::uint64_t(0) / 100 ? done * 100 / total : done / (total / 100));
    std::string text = stage;
    text += ' ';
    text += std::to_string(percent);
    text += '%';
    if (text == shown_)
        return;
    // A shorter text is padded so that nothing of the longer one stays visible.
    std::string line = "\r" + text;
    if (text.size() < width_)
        line.append(width_ - text.size(), ' ');
    std::fputs(line.c_str(), out_);
    std::fflush(out_);
    width_ = std::max(width_, text.size());
    shown_ = std::move(text);
}

void ProgressLine::clear() {
    if (shown_.empty())
        return;
    std::string line = "\r";
    line.append(width_, ' ');
    line += '\r';
    std::fputs(line.c_str(), out_);
    std::fflush(out_);
    shown_.clear();
    width_ = 0;
}

} // namespace ombrel
