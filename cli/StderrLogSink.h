#pragma once

#include "grammar/Log.h"

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

private:
    void endLine();

    std::FILE* out_;
    bool colour_;
    bool lineOpen_ = false;
    bool coloured_ = false;
};

// Swallows everything (for --quiet).
class NullLogSink : public LogSink {
public:
    void append(const LogChannel&, std::string_view) override {}
};

} // namespace ombrel
