#pragma once

#include "base/Log.h"
#include "cli/ProgressLine.h"

#include <cstdio>

namespace ombrel {

// Writes the generator log to a stream (standard error) as it arrives, one message a line:
// the channel's label starts each line for errors and warnings, "\r\n" becomes "\n". With
// colour on, error lines are red and warning lines yellow.
class StreamLogSink : public LogSink {
public:
    StreamLogSink(std::FILE* out, bool colour) : out_(out), colour_(colour) {}
    ~StreamLogSink() override;
    void append(const LogChannel& channel, std::string_view text) override;
    // Ends a line that a message left open.
    void finish();
    // A progress line on the same stream, wiped before each piece of log text. Not owned.
    void setProgressLine(ProgressLine* line) { progress_ = line; }

private:
    void endLine();

    std::FILE* out_;
    bool colour_;
    bool lineOpen_ = false;
    bool coloured_ = false;
    ProgressLine* progress_ = nullptr;
};

// Passes only the error channel on (for --quiet: a failure still says why).
class ErrorsOnlyLogSink : public LogSink {
public:
    explicit ErrorsOnlyLogSink(LogSink& next) : next_(next) {}
    void append(const LogChannel& channel, std::string_view text) override {
        if (channel.severity() == LogSeverity::error)
            next_.append(channel, text);
    }

private:
    LogSink& next_;
};

} // namespace ombrel
