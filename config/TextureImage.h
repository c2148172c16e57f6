#pragma once

#include "grammar/Texture.h"

#include <cstdint>
#include <string>

namespace ombrel {

// Decoding of texture image files into the form OpenGL takes them: power-of-two sides, rows
// from the bottom up, RGBA with alpha 0 exactly where a pixel is pure black.

// The biggest texture side an image is stretched to when the drawing code names none (no OpenGL
// context to ask), and the most it may name: 4096 keeps one texture within 64 MB however large
// the context allows.
inline constexpr int kDefaultLargestTexture = 2048;
inline constexpr int kMostLargestTexture = 4096;

// The side of the texture made from an image side of `pixels` (at least 1): `largest` when the
// image is bigger, otherwise the power of two nearest to it (2^floor(log2(pixels) + 0.5)):
// 300 -> 256, 120 -> 128, 3000 with largest 2048 -> 2048.
int textureSizeFor(int pixels, int largest);

// Stretches a top-down RGB image (3 bytes a pixel) to its texture size (bilinear), flips it
// bottom row first and adds alpha. `largest` as for textureSizeFor.
TextureImage makeTextureImage(const std::uint8_t* rgb, int width, int height, int largest);

// Decodes the image file at `path` (PNG, JPEG, BMP, GIF, TGA, PSD, HDR, PIC, PNM). Returns an
// empty image when the file is missing, not a plain file, unreadable, not an image, or absurdly
// large (more than 16384 pixels a side or 64 megapixels, refused before decoding), and then puts
// the reason into `why` when given: "not found", "it is a folder, not an image", "cannot be
// opened: Permission denied", "cannot be decoded: <the decoder's reason>", "it is 20000 x 20000
// pixels; ...". Never writes to the log.
TextureImage decodeTextureFile(const std::string& path, int largest, std::string* why = nullptr);

} // namespace ombrel
