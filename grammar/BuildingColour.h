#pragma once

#include "base/Vec.h"

namespace ombrel {

// A building colour from the C library's rand (never seeded by the program), each channel in
// 80-95 or 112-127, greyish colours rejected. Does not touch the city random generator.
Colour randomBuildingColour();

} // namespace ombrel
