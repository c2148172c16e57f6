#pragma once

#include "base/Vec.h"

#include <array>
#include <cstdint>

namespace ombrel {

// Where building colours come from: the additive generator that the GNU C library's rand()
// uses, started as rand() starts when the program never seeds it, so that the colours come out
// as they did when they were drawn from rand() itself. It is separate from the city random
// generator: the seed of a construction file does not reach it.
class BuildingColourSource {
public:
    // The sequence of an unseeded rand() (seed 1).
    BuildingColourSource() { seed(1); }
    // Starts the sequence of rand() after srand(value).
    void seed(std::uint32_t value);
    // The next number rand() would return: 0 to 2147483647.
    int next();

private:
    std::array<std::int32_t, 31> state_{};
    int front_ = 3; // the generator adds state_[rear_] into state_[front_]
    int rear_ = 0;
};

// A building colour from the current generation context's colour source, each channel in
// 80-95 or 112-127, greyish colours rejected. Does not touch the city random generator.
Colour randomBuildingColour();

} // namespace ombrel
