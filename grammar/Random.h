#pragma once

#include <cstdint>

namespace ombrel {

// The city random generator: a 32-bit linear congruential generator over the process-wide
// randomState (see GenerationContext.h). Every operation advances the state exactly once; the
// arithmetic is part of the file format, since a seed must give the same city everywhere.
std::uint32_t randomNext();
bool randomBit();
// randomNext() modulo n. n must not be 0.
std::uint32_t randomBelow(std::uint32_t n);
// A value in [0, 1) that never reaches 1, unrounded.
double randomUnit();
// a + randomUnit() * (b - a), unrounded.
double randomRange(float a, float b);

} // namespace ombrel
