#include "grammar/Range.h"

#include "grammar/Random.h"

namespace ombrel {

float FloatRange::sample() const {
    if (lower == upper) {
        return lower;
    }
    return static_cast<float>(randomRange(lower, upper));
}

std::uint32_t UintRange::sample() const {
    if (lower == upper) {
        return lower;
    }
    const double v = randomRange(static_cast<float>(lower), static_cast<float>(upper));
    // Large bounds round up when taken as floats; the upper bound itself is never the result.
    if (v >= static_cast<double>(upper)) {
        return upper - 1;
    }
    return static_cast<std::uint32_t>(v);
}

} // namespace ombrel
