#include "export/ImageEmbed.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

// Private copies of the decoder and the PNG encoder: internal linkage, so they never meet the
// copies the rest of the program links.
#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#define STBI_FAILURE_USERMSG
#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#include <stb_image.h>
#include <stb_image_write.h>
#pragma GCC diagnostic pop

namespace ombrel {

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

const char* kindOf(const std::vector<std::uint8_t>& head) {
    static constexpr std::uint8_t kPng[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (head.size() >= 8 && std::memcmp(head.data(), kPng, 8) == 0)
        return "image/png";
    if (head.size() >= 3 && head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF)
        return "image/jpeg";
    return nullptr;
}

void append(void* context, void* data, int size) {
    auto* out = static_cast<std::vector<std::uint8_t>*>(context);
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    out->insert(out->end(), bytes, bytes + size);
}

} // namespace

std::optional<EmbeddableImage> embeddableImage(const std::string& path, bool embed,
                                               std::string& why) {
    errno = 0;
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        why = std::strerror(errno ? errno : ENOENT);
        return std::nullopt;
    }
    std::vector<std::uint8_t> bytes;
    std::uint8_t chunk[1 << 16];
    for (;;) {
        const std::size_t n = std::fread(chunk, 1, sizeof chunk, file.get());
        bytes.insert(bytes.end(), chunk, chunk + n);
        if (n < sizeof chunk)
            break;
        // Only the kind is needed of a file that is to be named.
        if (!embed && bytes.size() >= 8)
            break;
    }
    if (std::ferror(file.get())) {
        why = std::strerror(errno ? errno : EIO);
        return std::nullopt;
    }
    EmbeddableImage image;
    if (const char* kind = kindOf(bytes)) {
        image.mimeType = kind;
        if (embed)
            image.bytes = std::move(bytes);
        return image;
    }
    if (!embed) {
        // The whole file is needed to convert it.
        for (;;) {
            const std::size_t n = std::fread(chunk, 1, sizeof chunk, file.get());
            bytes.insert(bytes.end(), chunk, chunk + n);
            if (n < sizeof chunk)
                break;
        }
    }
    if (bytes.empty() || bytes.size() > std::size_t(1) << 30) {
        why = bytes.empty() ? "the file is empty" : "the file is too large";
        return std::nullopt;
    }
    int width = 0, height = 0, components = 0;
    std::unique_ptr<stbi_uc, void (*)(void*)> pixels(
        stbi_load_from_memory(bytes.data(), int(bytes.size()), &width, &height, &components, 0),
        stbi_image_free);
    if (!pixels) {
        why = std::string("it is not an image that can be read (") + stbi_failure_reason() + ")";
        return std::nullopt;
    }
    image.mimeType = "image/png";
    if (!stbi_write_png_to_func(append, &image.bytes, width, height, components, pixels.get(),
                                width * components) ||
        image.bytes.empty()) {
        why = "it could not be converted to PNG";
        return std::nullopt;
    }
    return image;
}

} // namespace ombrel
