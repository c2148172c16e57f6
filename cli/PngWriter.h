#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ombrel {

// A PNG file's bytes for RGBA pixels read from OpenGL (rows bottom-up); the picture is stored
// top row first and without alpha. Empty when the size does not match the pixels.
std::vector<std::uint8_t> encodePng(int width, int height,
                                    const std::vector<std::uint8_t>& rgbaBottomUp);

} // namespace ombrel
