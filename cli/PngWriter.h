#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ombrel {

enum class PictureFormat { png, jpeg };

// The format that a picture's file name asks for: ".png", ".jpg" or ".jpeg" in any case. A name
// without an ending (such as /dev/stdout) and "-" (standard output) are PNG. Nothing for a name
// with any other ending.
std::optional<PictureFormat> pictureFormatFor(const std::string& path);

// A picture file's bytes for RGBA pixels read from OpenGL (rows bottom-up); the picture is stored
// top row first and without alpha, a JPEG at quality 90. Empty when the size does not match the
// pixels.
std::vector<std::uint8_t> encodePicture(PictureFormat format, int width, int height,
                                        const std::vector<std::uint8_t>& rgbaBottomUp);

// A 16-bit greyscale PNG of width x height samples given bottom row first (OpenGL order); the
// picture is stored top row first. Empty when the size does not match the samples.
std::vector<std::uint8_t> encodeGrey16Png(int width, int height,
                                          const std::vector<std::uint16_t>& samplesBottomUp);

} // namespace ombrel
