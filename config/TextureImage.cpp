#include "config/TextureImage.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

#define STB_IMAGE_IMPLEMENTATION
#define STBI_FAILURE_USERMSG
#include <stb_image.h>

namespace ombrel {

namespace {

constexpr int kMaxImageSide = 16384;
constexpr long long kMaxImagePixels = 64LL * 1024 * 1024;

struct StbFree {
    void operator()(stbi_uc* p) const { stbi_image_free(p); }
};

struct FileClose {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

// The size a PNG file's header states, read by hand: the decoder refuses to report sizes
// beyond its own limit, and the reason it gives then does not say the image is too big.
bool pngHeaderSize(std::FILE* file, int& width, int& height) {
    unsigned char header[24];
    std::rewind(file);
    const bool read = std::fread(header, 1, sizeof header, file) == sizeof header;
    std::rewind(file);
    static const unsigned char kSignature[] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    if (!read || std::memcmp(header, kSignature, 8) != 0 || std::memcmp(header + 12, "IHDR", 4)) {
        return false;
    }
    const auto big = [&](int at) {
        return (std::uint32_t(header[at]) << 24) | (std::uint32_t(header[at + 1]) << 16) |
               (std::uint32_t(header[at + 2]) << 8) | std::uint32_t(header[at + 3]);
    };
    if (big(16) > 0x7FFFFFFF || big(20) > 0x7FFFFFFF) {
        return false;
    }
    width = static_cast<int>(big(16));
    height = static_cast<int>(big(20));
    return true;
}

} // namespace

int textureSizeFor(int pixels, int largest) {
    if (pixels > largest) {
        return largest;
    }
    if (pixels < 1) {
        return 1;
    }
    const int exponent = static_cast<int>(std::floor(std::log2(static_cast<double>(pixels)) + 0.5));
    return std::min(1 << exponent, largest);
}

TextureImage makeTextureImage(const std::uint8_t* rgb, int width, int height, int largest) {
    TextureImage image;
    if (!rgb || width <= 0 || height <= 0) {
        return image;
    }
    image.width = textureSizeFor(width, largest);
    image.height = textureSizeFor(height, largest);
    image.rgba.resize(static_cast<std::size_t>(image.width) * image.height * 4);

    // Sample at texel centres; the source is addressed top-down, the target bottom-up.
    const double sx = static_cast<double>(width) / image.width;
    const double sy = static_cast<double>(height) / image.height;
    for (int ty = 0; ty < image.height; ++ty) {
        const double fy = std::clamp((image.height - 1 - ty + 0.5) * sy - 0.5, 0.0, height - 1.0);
        const int y0 = static_cast<int>(fy);
        const int y1 = std::min(y0 + 1, height - 1);
        const double wy = fy - y0;
        std::uint8_t* out = image.rgba.data() + static_cast<std::size_t>(ty) * image.width * 4;
        for (int tx = 0; tx < image.width; ++tx, out += 4) {
            const double fx = std::clamp((tx + 0.5) * sx - 0.5, 0.0, width - 1.0);
            const int x0 = static_cast<int>(fx);
            const int x1 = std::min(x0 + 1, width - 1);
            const double wx = fx - x0;
            const auto at = [&](int x, int y, int c) {
                return static_cast<double>(rgb[(static_cast<std::size_t>(y) * width + x) * 3 + c]);
            };
            for (int c = 0; c < 3; ++c) {
                const double top = at(x0, y0, c) * (1 - wx) + at(x1, y0, c) * wx;
                const double bottom = at(x0, y1, c) * (1 - wx) + at(x1, y1, c) * wx;
                out[c] = static_cast<std::uint8_t>(std::lround(top * (1 - wy) + bottom * wy));
            }
            // Pure black is the transparent colour.
            out[3] = (out[0] | out[1] | out[2]) ? 255 : 0;
        }
    }
    return image;
}

TextureImage decodeTextureFile(const std::string& path, int largest, std::string* why) {
    const auto fail = [&](std::string reason) {
        if (why) {
            *why = std::move(reason);
        }
        return TextureImage();
    };
    // Only plain files: a pipe or device could block or never end.
    std::error_code ec;
    const std::filesystem::file_status status = std::filesystem::status(path, ec);
    if (!std::filesystem::exists(status)) {
        return fail("not found");
    }
    if (std::filesystem::is_directory(status)) {
        return fail("it is a folder, not an image");
    }
    if (!std::filesystem::is_regular_file(status)) {
        return fail("it is not a plain file");
    }
    std::unique_ptr<std::FILE, FileClose> file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        return fail(std::string("cannot be opened: ") + std::strerror(errno));
    }
    int width = 0;
    int height = 0;
    int components = 0;
    // The header alone tells the size: refuse what would not fit in memory before decoding.
    if (!stbi_info_from_file(file.get(), &width, &height, &components) &&
        !pngHeaderSize(file.get(), width, height)) {
        return fail(std::string("cannot be decoded: ") + stbi_failure_reason());
    }
    if (width <= 0 || height <= 0 || width > kMaxImageSide || height > kMaxImageSide ||
        static_cast<long long>(width) * height > kMaxImagePixels) {
        return fail("it is " + std::to_string(width) + " x " + std::to_string(height) +
                    " pixels; images up to " + std::to_string(kMaxImageSide) +
                    " pixels a side and " + std::to_string(kMaxImagePixels / (1024 * 1024)) +
                    " megapixels are read");
    }
    std::unique_ptr<stbi_uc, StbFree> pixels(
        stbi_load_from_file(file.get(), &width, &height, &components, 3));
    if (!pixels) {
        return fail(std::string("cannot be decoded: ") + stbi_failure_reason());
    }
    return makeTextureImage(pixels.get(), width, height, largest);
}

} // namespace ombrel
