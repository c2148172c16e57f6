#include "grammar/BuildingColour.h"

#include "grammar/GenerationContext.h"

#include <algorithm>
#include <cstdlib>

namespace ombrel {

void BuildingColourSource::seed(std::uint32_t value) {
    // A zero seed would keep the whole state at zero; the C library takes 1 instead.
    std::int32_t word = value == 0 ? 1 : static_cast<std::int32_t>(value);
    state_[0] = word;
    for (int i = 1; i < 31; ++i) {
        // 16807 * word mod (2^31 - 1), without overflow (Schrage's method).
        const std::int32_t hi = word / 127773;
        const std::int32_t lo = word % 127773;
        word = 16807 * lo - 2836 * hi;
        if (word < 0)
            word += 2147483647;
        state_[i] = word;
    }
    front_ = 3;
    rear_ = 0;
    // The first 310 numbers are thrown away, as the C library does.
    for (int i = 0; i < 310; ++i)
        next();
}

int BuildingColourSource::next() {
    const std::uint32_t sum =
        static_cast<std::uint32_t>(state_[front_]) + static_cast<std::uint32_t>(state_[rear_]);
    state_[front_] = static_cast<std::int32_t>(sum);
    front_ = front_ + 1 == 31 ? 0 : front_ + 1;
    rear_ = rear_ + 1 == 31 ? 0 : rear_ + 1;
    return static_cast<int>(sum >> 1);
}

Colour randomBuildingColour() {
    BuildingColourSource& source = generationContext().buildingColours;
    for (;;) {
        const int red = (source.next() & 0x2F) + 0x50;
        const int green = (source.next() & 0x2F) + 0x50;
        const int blue = (source.next() & 0x2F) + 0x50;
        // Greyish colours are drawn again.
        if (std::max(std::abs(blue - red), std::abs(green - red)) >= 30) {
            return static_cast<Colour>(red + green * 256 + blue * 65536);
        }
    }
}

} // namespace ombrel
