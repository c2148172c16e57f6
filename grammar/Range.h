#pragma once

#include <cstdint>

namespace ombrel {

// An attribute value that is either one number or a pair of bounds, drawn afresh each time a
// grammar element runs. The readers keep lower <= upper.
struct FloatRange {
    float lower = 0.0f;
    float upper = 0.0f;

    FloatRange() = default;
    FloatRange(float value) : lower(value), upper(value) {}
    FloatRange(float lo, float hi) : lower(lo), upper(hi) {}

    // The bound itself when both bounds are equal, without drawing; otherwise one randomUnit
    // draw u and lower + u * (upper - lower), stored as a float.
    float sample() const;

    friend bool operator==(const FloatRange&, const FloatRange&) = default;
};

struct UintRange {
    std::uint32_t lower = 0;
    std::uint32_t upper = 0;

    UintRange() = default;
    UintRange(std::uint32_t value) : lower(value), upper(value) {}
    UintRange(std::uint32_t lo, std::uint32_t hi) : lower(lo), upper(hi) {}

    // The bound itself when both bounds are equal, without drawing; otherwise one randomUnit
    // draw over the float bounds, truncated. The upper bound is never returned then.
    std::uint32_t sample() const;

    friend bool operator==(const UintRange&, const UintRange&) = default;
};

} // namespace ombrel
