#pragma once

#include "base/Progress.h"

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

namespace ombrel {

// Shows how far a long run has come as one line on a terminal ("Exporting 42%"), redrawn in
// place with a carriage return. Nothing is shown unless the stream is a terminal, nor before
// the run is two seconds old, so short runs and redirected output stay free of it.
class ProgressLine : public Progress {
public:
    // Milliseconds from any fixed point.
    using Clock = std::function<std::uint64_t()>;
    static constexpr std::uint64_t kDelayMs = 2000;

    // The run starts now (by `clock`).
    ProgressLine(std::FILE* out, bool terminal, Clock clock = steadyMilliseconds);
    ~ProgressLine() override;
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    void step(const char* stage, std::uint64_t done, std::uint64_t total) override;
    // Wipes the line if one is shown, leaving the cursor at the start of an empty line, so that
    // log text written next starts clean. The next step draws it again.
    void clear();

    static std::uint64_t steadyMilliseconds();

private:
    std::FILE* out_;
    bool terminal_;
    Clock clock_;
    std::uint64_t start_ = 0;
    std::string shown_;     // the text last drawn, empty when none
    std::size_t width_ = 0; // columns written since the line was last wiped
};

} // namespace ombrel
