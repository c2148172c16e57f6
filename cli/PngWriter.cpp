#include "cli/PngWriter.h"

#include <array>
#include <cctype>
#include <cstdlib>
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

namespace {

std::uint32_t crc32(const std::uint8_t* data, std::size_t size, std::uint32_t crc = 0) {
    static const std::array<std::uint32_t, 256> table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t n = 0; n < 256; ++n) {
            std::uint32_t c = n;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    crc = ~crc;
    for (std::size_t i = 0; i < size; ++i)
        crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

void appendBigEndian(std::vector<std::uint8_t>& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(std::uint8_t(value >> shift));
}

void appendChunk(std::vector<std::uint8_t>& out, const char type[4], const std::uint8_t* data,
                 std::size_t size) {
    appendBigEndian(out, std::uint32_t(size));
    const std::size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data, data + size);
    appendBigEndian(out, crc32(out.data() + start, size + 4));
}

} // namespace

std::vector<std::uint8_t> encodeGrey16Png(int width, int height,
                                          const std::vector<std::uint16_t>& samplesBottomUp) {
    std::vector<std::uint8_t> png;
    if (width <= 0 || height <= 0 ||
        samplesBottomUp.size() != std::size_t(width) * std::size_t(height))
        return png;
    // Rows top first, each after its filter byte (none), samples big-endian.
    const std::size_t rowBytes = 1 + std::size_t(width) * 2;
    std::vector<std::uint8_t> raw(rowBytes * std::size_t(height));
    for (int y = 0; y < height; ++y) {
        const std::uint16_t* from = samplesBottomUp.data() + std::size_t(height - 1 - y) * width;
        std::uint8_t* to = raw.data() + std::size_t(y) * rowBytes;
        to[0] = 0;
        for (int x = 0; x < width; ++x) {
            to[1 + 2 * x] = std::uint8_t(from[x] >> 8);
            to[2 + 2 * x] = std::uint8_t(from[x]);
        }
    }
    int zipped = 0;
    unsigned char* zlib = stbi_zlib_compress(raw.data(), int(raw.size()), &zipped, 5);
    if (!zlib)
        return png;
    static const std::uint8_t signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    png.assign(signature, signature + 8);
    std::vector<std::uint8_t> header;
    appendBigEndian(header, std::uint32_t(width));
    appendBigEndian(header, std::uint32_t(height));
    header.insert(header.end(),
                  {16, 0, 0, 0, 0}); // 16 bits, grey, deflate, no filter, no interlace
    appendChunk(png, "IHDR", header.data(), header.size());
    appendChunk(png, "IDAT", zlib, std::size_t(zipped));
    appendChunk(png, "IEND", nullptr, 0);
    std::free(zlib);
    return png;
}

} // namespace ombrel
