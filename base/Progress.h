#pragma once

// How far a long piece of work (a generation, an export) has come, for a progress display.

#include <cstdint>

namespace ombrel {

class Progress {
public:
    virtual ~Progress() = default;
    // `done` of `total` steps of the named stage are finished. Callers report often (per grid
    // column, per few hundred buildings), so this must be cheap.
    virtual void step(const char* stage, std::uint64_t done, std::uint64_t total) = 0;
};

} // namespace ombrel
