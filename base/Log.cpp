#include "base/Log.h"

#include <utility>
#include <vector>

namespace ombrel {

LogChannel errorLog(LogSeverity::error, "ERROR  : ");
LogChannel infoLog(LogSeverity::info, "INFO   : ");
LogChannel warningLog(LogSeverity::warning, "WARNING: ");

namespace {

struct Pending {
    const LogChannel* channel;
    std::string text;
};

struct SinkState {
    LogSink* sink = nullptr;
    std::vector<Pending> pending;
    std::size_t pendingBytes = 0;
};

// Bound on what is held while no sink is installed: enough for any start-up, small enough
// that a program which never installs a sink cannot grow without end.
constexpr std::size_t kMaxPendingBytes = 1 << 20;

SinkState& sinkState() {
    static SinkState state;
    return state;
}

} // namespace

void LogChannel::write(std::string_view text) {
    SinkState& s = sinkState();
    if (s.sink) {
        s.sink->append(*this, text);
        return;
    }
    if (s.pendingBytes + text.size() <= kMaxPendingBytes) {
        s.pending.push_back(Pending{this, std::string(text)});
        s.pendingBytes += text.size();
    }
}

void LogChannel::appendPiece(std::string& out, std::u16string_view text) {
    out += utf16ToUtf8(text);
}

LogSink* setLogSink(LogSink* sink) {
    SinkState& s = sinkState();
    LogSink* previous = std::exchange(s.sink, sink);
    if (sink && !s.pending.empty()) {
        std::vector<Pending> pending = std::move(s.pending);
        s.pending.clear();
        s.pendingBytes = 0;
        for (const Pending& p : pending) {
            sink->append(*p.channel, p.text);
        }
    }
    return previous;
}

LogSink* logSink() {
    return sinkState().sink;
}

std::string utf16ToUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (c >> 18)));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

} // namespace ombrel
