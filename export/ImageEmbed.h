#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ombrel {

// An image as a glTF file can hold it: PNG or JPEG.
struct EmbeddableImage {
    std::string mimeType;            // "image/png" or "image/jpeg"
    std::vector<std::uint8_t> bytes; // the image's bytes; empty: the file itself can be named
};

// Reads the image file at path. A PNG or JPEG file is taken byte for byte (with embed false only
// its kind is read, and the file is to be named instead); an image of any other format that the
// decoder reads is converted to PNG. None, with the reason in `why`, when the file cannot be read
// or decoded.
std::optional<EmbeddableImage> embeddableImage(const std::string& path, bool embed,
                                               std::string& why);

} // namespace ombrel
