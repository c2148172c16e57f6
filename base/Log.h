#pragma once

#include <cstddef>
#include <sstream>
#include <string>
#include <string_view>

namespace ombrel {

class LogChannel;

// Where log text goes: the main dialog's log field, standard error in the batch tool, a string
// in tests. A sink receives text at once, unbuffered: a whole message ending in "\r\n" in one
// append, or a line kept open by insertion one piece at a time (see LogChannel).
class LogSink {
public:
    virtual ~LogSink() = default;
    virtual void append(const LogChannel& channel, std::string_view text) = 0;
};

enum class LogSeverity { error, info, warning };

// One of the three generator-log channels.
//
// A message is one call, which ends the line itself:
//     warningLog.line("Unknown DrawBox closed value '", word, "' - ignored");
// The pieces are formatted one by one and joined, "\r\n" is added, and the sink receives the
// whole message in a single append. A piece is formatted as follows: narrow text as is (a null
// `const char*` is empty), UTF-16 text (as the XML library hands it out) converted to UTF-8,
// anything else (numbers, ...) with a fresh, default-configured output string stream. Do not put
// "\r\n" in a piece: it would end the line inside the message.
//
// Insertion is only for a line that stays open while other work writes to the log (the
// loader's "Parsing FILE ... " line): each insertion formats one piece by the same rules and
// hands it to the sink at once, and never adds a line end; whoever opens such a line ends it by
// inserting "\r\n".
class LogChannel {
public:
    LogChannel(LogSeverity severity, const char* label) : severity_(severity), label_(label) {}
    LogChannel(const LogChannel&) = delete;
    LogChannel& operator=(const LogChannel&) = delete;

    LogSeverity severity() const { return severity_; }
    // Nine characters, so that all three labels have the same width.
    const char* label() const { return label_; }

    // Writes one whole message: the pieces, then "\r\n".
    template <class... Pieces> void line(const Pieces&... pieces) {
        std::string text;
        (appendPiece(text, pieces), ...);
        text += "\r\n";
        write(text);
    }

    // Writes one piece of a line kept open, without a line end.
    template <class T> LogChannel& operator<<(const T& piece) {
        std::string text;
        appendPiece(text, piece);
        write(text);
        return *this;
    }

private:
    // The formatting rules for a piece; line() and insertion share them so that both give the
    // same bytes.
    static void appendPiece(std::string& out, std::string_view text) { out += text; }
    static void appendPiece(std::string& out, const char* text) {
        if (text)
            out += text;
    }
    static void appendPiece(std::string& out, const std::string& text) { out += text; }
    static void appendPiece(std::string& out, std::u16string_view text);
    static void appendPiece(std::string& out, const char16_t* text) {
        if (text)
            appendPiece(out, std::u16string_view(text));
    }
    template <class T> static void appendPiece(std::string& out, const T& value) {
        std::ostringstream os;
        os << value;
        out += os.str();
    }

    void write(std::string_view text);

    LogSeverity severity_;
    const char* label_;
};

extern LogChannel errorLog;
extern LogChannel infoLog;
extern LogChannel warningLog;

// Installs the sink for all three channels; null detaches it. Text written while no sink is
// installed is held (up to a bound) and handed to the next sink that is installed, so nothing
// written at start-up is lost. Returns the previous sink.
LogSink* setLogSink(LogSink* sink);
LogSink* logSink();

// UTF-16 to UTF-8; unpaired surrogates become U+FFFD.
std::string utf16ToUtf8(std::u16string_view text);

// A sink that keeps everything in one string; for tests and tools.
class StringLogSink : public LogSink {
public:
    void append(const LogChannel&, std::string_view text) override { text_.append(text); }
    const std::string& text() const { return text_; }
    void clear() { text_.clear(); }

private:
    std::string text_;
};

// A sink that drops everything; for tools and benchmarks that must not print.
class NullLogSink : public LogSink {
public:
    void append(const LogChannel&, std::string_view) override {}
};

// Installs a sink for the lifetime of a scope and restores the previous one.
class ScopedLogSink {
public:
    explicit ScopedLogSink(LogSink& sink) : previous_(setLogSink(&sink)) {}
    ~ScopedLogSink() { setLogSink(previous_); }
    ScopedLogSink(const ScopedLogSink&) = delete;
    ScopedLogSink& operator=(const ScopedLogSink&) = delete;

private:
    LogSink* previous_;
};

} // namespace ombrel
