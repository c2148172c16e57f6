#pragma once

#include "preview/gl/FacePictures.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace ombrel {

// How many pixels of a picture show each value (see countValues).
using ValueCounts = std::vector<std::pair<std::uint32_t, std::size_t>>;

// The JSON legend of a labels picture: its file name, size and, for every class met in the
// city (the sky first), its name, colour as [red, green, blue] and pixel count; the counts
// add up to width * height.
std::string labelsLegend(const std::string& picture, int width, int height,
                         const std::vector<FacePictures::SurfaceClass>& classes,
                         const ValueCounts& counts);

// Where a building stands, for the instances legend.
struct InstanceCell {
    std::uint32_t column = 0;
    std::uint32_t row = 0;
    std::string definition; // "FILE:LINE" of its Building element; empty: unknown
};

// The JSON legend of an instances picture: its file name, size, the pixels of value 0 (roads
// and sky), and for every building its number, value (number + 1) as a number and as
// [red, green, blue], its cell's column and row, its definition's place ("FILE:LINE", null
// when unknown) and its pixel count (0 when hidden).
std::string instancesLegend(const std::string& picture, int width, int height,
                            const std::vector<InstanceCell>& buildings, const ValueCounts& counts);

// Text as a JSON string, quotes included.
std::string jsonString(const std::string& text);

} // namespace ombrel
