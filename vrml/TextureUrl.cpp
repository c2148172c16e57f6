#include "vrml/TextureUrl.h"

#include <cctype>
#include <system_error>

namespace ombrel {

namespace fs = std::filesystem;

namespace {

// The folder as the file system sees it: absolute, links resolved where it exists.
fs::path resolvedFolder(const fs::path& folder) {
    std::error_code ec;
    fs::path absolute = fs::absolute(folder.empty() ? fs::path(".") : folder, ec);
    if (ec)
        return folder;
    fs::path canonical = fs::weakly_canonical(absolute, ec);
    return ec ? absolute.lexically_normal() : canonical;
}

} // namespace

bool hasUrlScheme(const std::string& text) {
    if (text.empty() || !std::isalpha(static_cast<unsigned char>(text[0])))
        return false;
    for (std::size_t i = 1; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == ':')
            return true;
        if (!std::isalnum(c) && c != '+' && c != '-' && c != '.')
            return false;
    }
    return false;
}

TextureUrls::TextureUrls(const std::string& outputFile)
    : base_(resolvedFolder(fs::path(outputFile).parent_path())) {}

const std::string& TextureUrls::url(const std::string& imagePath) {
    auto found = cache_.find(imagePath);
    if (found != cache_.end())
        return found->second;
    std::string url = imagePath;
    if (!imagePath.empty() && !hasUrlScheme(imagePath)) {
        const fs::path image(imagePath);
        const fs::path resolved = resolvedFolder(image.parent_path()) / image.filename();
        const fs::path relative = resolved.lexically_relative(base_);
        url = (relative.empty() ? resolved : relative).generic_string();
    }
    return cache_.emplace(imagePath, std::move(url)).first->second;
}

} // namespace ombrel
