#include "vrml/TextureUrl.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace ombrel {
namespace {

namespace fs = std::filesystem;

struct UrlCase {
    const char* name;
    std::string output; // relative to the case's folder
    std::string image;  // relative to the case's folder unless absolute or a url
    std::string url;
};

void PrintTo(const UrlCase& c, std::ostream* os) {
    *os << c.name;
}

class TextureUrl : public testing::TestWithParam<UrlCase> {};

TEST_P(TextureUrl, IsRelativeToTheWrittenFile) {
    const UrlCase& c = GetParam();
    const fs::path root = fs::absolute(testing::TempDir()) / ("url_" + std::string(c.name));
    fs::create_directories(root / "a" / "b");
    fs::create_directories(root / "textures");
    auto at = [&](const std::string& p) {
        return p.empty() || p.find(':') != std::string::npos ? p : (root / p).string();
    };
    TextureUrls urls(at(c.output));
    EXPECT_EQ(urls.url(at(c.image)), c.url) << c.name;
    // Asked again, the same answer (from the cache).
    EXPECT_EQ(urls.url(at(c.image)), c.url) << c.name;
    fs::remove_all(root);
}

INSTANTIATE_TEST_SUITE_P(
    Export, TextureUrl,
    testing::Values(
        UrlCase{"SameFolder", "city.wrl", "wall.png", "wall.png"},
        UrlCase{"ImagesBelow", "city.wrl", "textures/wall.png", "textures/wall.png"},
        UrlCase{"OutputBelow", "a/b/city.wrl", "textures/wall.png", "../../textures/wall.png"},
        UrlCase{"Sibling", "a/city.wrl", "textures/wall.png", "../textures/wall.png"},
        UrlCase{"DotsInThePath", "a/b/../city.wrl", "a/./../textures/wall.png",
                "../textures/wall.png"},
        UrlCase{"Remote", "city.wrl", "http://example.org/wall.png", "http://example.org/wall.png"},
        UrlCase{"FileScheme", "city.wrl", "file:/tmp/wall.png", "file:/tmp/wall.png"}),
    [](const testing::TestParamInfo<UrlCase>& info) { return info.param.name; });

TEST(TextureUrlScheme, NeedsALetterThenSchemeCharactersThenAColon) {
    EXPECT_TRUE(hasUrlScheme("http://x"));
    EXPECT_TRUE(hasUrlScheme("svn+ssh://x"));
    EXPECT_FALSE(hasUrlScheme("textures/a:b.png"));
    EXPECT_FALSE(hasUrlScheme("1http://x"));
    EXPECT_FALSE(hasUrlScheme("wall.png"));
    EXPECT_FALSE(hasUrlScheme(""));
}

// A path relative to the current directory is taken from there.
TEST(TextureUrlRelative, ImagePathsRelativeToTheCurrentDirectory) {
    const fs::path here = fs::current_path();
    TextureUrls urls((here / "out" / "city.wrl").string());
    EXPECT_EQ(urls.url("examples/textures/office.png"), "../examples/textures/office.png");
    TextureUrls standardOutput("");
    EXPECT_EQ(standardOutput.url("examples/textures/office.png"), "examples/textures/office.png");
}

} // namespace
} // namespace ombrel
