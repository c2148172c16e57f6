#pragma once

#include <cstddef>
#include <sstream>
#include <string>
#include <string_view>

namespace ombrel {

class LogChannel;

// Where log text goes: the main dialog's log field, standard error in the batch tool, a string
// in tests. A sink receives each inserted piece at once, unbuffered; messages end with "\r\n".
class LogSink {
public:
    virtual ~LogSink() = default;
    virtual void append(const LogChannel& channel, std::string_view text) = 0;
};

enum class LogSeverity { Error, Info, Warning };

// One of the three generator-log channels. Each insertion formats its value with a fresh,
// default-configured output string stream and hands the text to the sink at once. A channel
// never adds a line end: callers finish a message by inserting "\r\n".
class LogChannel {
public:
    LogChannel(LogSeverity severity, const char* label) : severity_(severity), label_(label) {}
    LogChannel(const LogChannel&) = delete;
    LogChannel& operator=(const LogChannel&) = delete;

    LogSeverity severity() const { return severity_; }
    // Nine characters, so that all three labels have the same width.
    const char* label() const { return label_; }

    LogChannel& operator<<(std::string_view text) {
        write(text);
        return *this;
    }
    LogChannel& operator<<(const char* text) { return *this << std::string_view(text ? text : ""); }
    LogChannel& operator<<(const std::string& text) { return *this << std::string_view(text); }
    // UTF-16 text (as the XML library hands it out), converted to UTF-8.
    LogChannel& operator<<(std::u16string_view text);
    LogChannel& operator<<(const char16_t* text) {
        return *this << (text ? std::u16string_view(text) : std::u16string_view());
    }
    // Numbers and anything else an output stream formats, in default stream formatting.
    template <class T> LogChannel& operator<<(const T& value) {
        std::ostringstream os;
        os << value;
        write(os.str());
        return *this;
    }

private:
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
