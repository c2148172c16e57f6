#include "config/TextureImage.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ombrel {
namespace {

const std::string kData = std::string(OMBREL_TEST_DATA_DIR) + "/data/";

TEST(TextureImage, PowerOfTwoSizes) {
    const struct {
        int pixels, largest, expected;
    } cases[] = {
        {300, 1024, 256},   {120, 1024, 128}, {3000, 2048, 2048}, {2048, 2048, 2048},
        {1500, 1024, 1024}, {1, 2048, 1},     {3, 2048, 4},       {182, 2048, 256},
        {181, 2048, 128},   {64, 2048, 64},   {96, 2048, 128},    {160, 2048, 128},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(textureSizeFor(c.pixels, c.largest), c.expected)
            << c.pixels << " pixels, largest " << c.largest;
    }
}

TEST(TextureImage, LargestSizeWithoutAContext) {
    EXPECT_EQ(kDefaultLargestTexture, 2048);
}

// A 2 x 2 image: top row red, blue; bottom row black, white.
TEST(TextureImage, FlippedBottomRowFirstWithAlphaForBlack) {
    const std::uint8_t rgb[] = {255, 0, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255};
    const TextureImage image = makeTextureImage(rgb, 2, 2, 2048);
    ASSERT_EQ(image.width, 2);
    ASSERT_EQ(image.height, 2);
    const std::vector<std::uint8_t> expected = {
        0,   0, 0, 0,   255, 255, 255, 255, // bottom row first: black (transparent), white
        255, 0, 0, 255, 0,   0,   255, 255, // then the top row: red, blue
    };
    EXPECT_EQ(image.rgba, expected);
}

TEST(TextureImage, StretchedToTheTextureSize) {
    // 3 x 1 grey ramp becomes 4 x 1; the ends keep their colours.
    const std::uint8_t rgb[] = {10, 10, 10, 100, 100, 100, 200, 200, 200};
    const TextureImage image = makeTextureImage(rgb, 3, 1, 2048);
    ASSERT_EQ(image.width, 4);
    ASSERT_EQ(image.height, 1);
    EXPECT_EQ(image.rgba[0], 10);
    EXPECT_EQ(image.rgba[12], 200);
    EXPECT_LT(image.rgba[4], image.rgba[8]);
    for (int x = 0; x < 4; ++x) {
        EXPECT_EQ(image.rgba[x * 4 + 3], 255) << "texel " << x;
    }
}

TEST(TextureImage, DecodedFiles) {
    const struct {
        const char* file;
        int width, height;
        bool transparent; // every texel has alpha 0
    } cases[] = {
        {"white.png", 4, 4, false},      {"wide.png", 256, 128, false}, {"black.png", 8, 8, true},
        {"enormous.png", 0, 0, false},   // refused by its header, never decoded
        {"notanimage.png", 0, 0, false}, // not an image
        {"missing.png", 0, 0, false},    {"folder", 0, 0, false}, // a directory
    };
    for (const auto& c : cases) {
        const TextureImage image = decodeTextureFile(kData + c.file, 2048);
        EXPECT_EQ(image.width, c.width) << c.file;
        EXPECT_EQ(image.height, c.height) << c.file;
        EXPECT_EQ(image.empty(), c.width == 0) << c.file;
        if (image.empty()) {
            continue;
        }
        bool allTransparent = true, allOpaque = true;
        for (std::size_t i = 3; i < image.rgba.size(); i += 4) {
            allTransparent = allTransparent && image.rgba[i] == 0;
            allOpaque = allOpaque && image.rgba[i] == 255;
        }
        EXPECT_EQ(allTransparent, c.transparent) << c.file;
        EXPECT_EQ(allOpaque, !c.transparent) << c.file;
    }
    // The colour survives decoding and stretching of a plain image.
    const TextureImage wide = decodeTextureFile(kData + "wide.png", 2048);
    ASSERT_FALSE(wide.empty());
    EXPECT_EQ(wide.rgba[0], 200);
    EXPECT_EQ(wide.rgba[1], 40);
    EXPECT_EQ(wide.rgba[2], 10);
}

} // namespace
} // namespace ombrel
