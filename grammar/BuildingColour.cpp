#include "grammar/BuildingColour.h"

#include <algorithm>
#include <cstdlib>

namespace ombrel {

Colour randomBuildingColour() {
    for (;;) {
        const int red = (std::rand() & 0x2F) + 0x50;
        const int green = (std::rand() & 0x2F) + 0x50;
        const int blue = (std::rand() & 0x2F) + 0x50;
        // Greyish colours are drawn again.
        if (std::max(std::abs(blue - red), std::abs(green - red)) >= 30) {
            return static_cast<Colour>(red + green * 256 + blue * 65536);
        }
    }
}

} // namespace ombrel
