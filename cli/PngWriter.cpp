#include "cli/PngWriter.h"

#include <cctype>
#include <filesystem>

#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STB_IMAGE_WRITE_STATIC
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wunused-function"
#include <stb_image_write.h>
#pragma GCC diagnostic pop

namespace ombrel {

std::optional<PictureFormat> pictureFormatFor(const std::string& path) {
    if (path == "-")
        return PictureFormat::png;
    std::string extension = std::filesystem::path(path).extension().string();
    for (char& c : extension)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    // A name without an ending (a device, a pipe) gets what the option is named for.
    if (extension == ".png" || extension.empty())
        return PictureFormat::png;
    if (extension == ".jpg" || extension == ".jpeg")
        return PictureFormat::jpeg;
    return std::nullopt;
}

std::vector<std::uint8_t> encodePicture(PictureFormat format, int width, int height,
                                        const std::vector<std::uint8_t>& rgbaBottomUp) {
    std::vector<std::uint8_t> encoded;
    if (width <= 0 || height <= 0 ||
        rgbaBottomUp.size() != std::size_t(width) * std::size_t(height) * 4)
        return encoded;
    std::vector<std::uint8_t> rgb(std::size_t(width) * std::size_t(height) * 3);
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* from = rgbaBottomUp.data() + std::size_t(height - 1 - y) * width * 4;
        std::uint8_t* to = rgb.data() + std::size_t(y) * width * 3;
        for (int x = 0; x < width; ++x) {
            to[3 * x] = from[4 * x];
            to[3 * x + 1] = from[4 * x + 1];
            to[3 * x + 2] = from[4 * x + 2];
        }
    }
    auto append = [](void* context, void* data, int size) {
        auto* out = static_cast<std::vector<std::uint8_t>*>(context);
        const auto* bytes = static_cast<const std::uint8_t*>(data);
        out->insert(out->end(), bytes, bytes + size);
    };
    const int written =
        format == PictureFormat::jpeg
            ? stbi_write_jpg_to_func(append, &encoded, width, height, 3, rgb.data(), 90)
            : stbi_write_png_to_func(append, &encoded, width, height, 3, rgb.data(), width * 3);
    if (!written)
        encoded.clear();
    return encoded;
}

} // namespace ombrel
