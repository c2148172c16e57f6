#pragma once

#include <filesystem>
#include <string>
#include <unordered_map>

namespace ombrel {

// Turns the image paths that textures are known by (relative to the current directory, or
// absolute for files found through a pattern) into ImageTexture urls that a reader resolves
// against the written file's own folder, so an export finds its textures wherever it is opened
// from and keeps finding them when the folder with its images moves.
class TextureUrls {
public:
    // `outputFile` is the file being written; its folder is the base of every url. An empty
    // path (standard output, say) takes the current directory as the base.
    explicit TextureUrls(const std::string& outputFile);

    // The url for an image path: the path relative to the output's folder with '/' separators,
    // or the text unchanged when it names a remote resource (it starts with a scheme such as
    // "http:"). Symbolic links on the way are resolved, as the file system resolves them when
    // the url is opened. A path that has no relative form stays absolute.
    const std::string& url(const std::string& imagePath);

private:
    std::filesystem::path base_;
    std::unordered_map<std::string, std::string> cache_;
};

// True when the text starts with a URL scheme: a letter, then letters, digits, '+', '-' or '.',
// then ':'.
bool hasUrlScheme(const std::string& text);

} // namespace ombrel
