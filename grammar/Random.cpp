#include "grammar/Random.h"

#include "grammar/GenerationContext.h"

namespace ombrel {

std::uint32_t randomNext() {
    std::uint32_t& state = generationContext().randomState;
    state = state * 0x7FF8A3EDu + 0x2AA01D31u; // wraps modulo 2^32
    return state;
}

bool randomBit() {
    return (randomNext() & 1u) != 0;
}

std::uint32_t randomBelow(std::uint32_t n) {
    return randomNext() % n;
}

double randomUnit() {
    // The double nearest to 1 / 4294967295; the modulus keeps the result below 1.
    constexpr double kScale = 2.3283064370807974e-10;
    return static_cast<double>(randomBelow(4294967294u)) * kScale;
}

double randomRange(float a, float b) {
    const double u = randomUnit();
    return static_cast<double>(a) + u * (static_cast<double>(b) - static_cast<double>(a));
}

} // namespace ombrel
