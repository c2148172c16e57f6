#include "cli/StderrLogSink.h"

namespace ombrel {

StreamLogSink::~StreamLogSink() {
    finish();
}

void StreamLogSink::endLine() {
    if (coloured_)
        std::fputs("\033[0m", out_);
    std::fputc('\n', out_);
    lineOpen_ = false;
    coloured_ = false;
}

void StreamLogSink::append(const LogChannel& channel, std::string_view text) {
    if (progress_)
        progress_->clear();
    while (!text.empty()) {
        if (!lineOpen_) {
            lineOpen_ = true;
            if (channel.severity() != LogSeverity::info) {
                if (colour_) {
                    std::fputs(channel.severity() == LogSeverity::error ? "\033[31m" : "\033[33m",
                               out_);
                    coloured_ = true;
                }
                std::fputs(channel.label(), out_);
            }
        }
        const std::size_t end = text.find("\r\n");
        const std::string_view piece = text.substr(0, end);
        std::fwrite(piece.data(), 1, piece.size(), out_);
        if (end == std::string_view::npos)
            break;
        endLine();
        text.remove_prefix(end + 2);
    }
    std::fflush(out_);
}

void StreamLogSink::finish() {
    if (lineOpen_)
        endLine();
    std::fflush(out_);
}

} // namespace ombrel
