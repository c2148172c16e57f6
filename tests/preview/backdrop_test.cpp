#include "preview/gl/SceneView.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

namespace ombrel {
namespace {

using Rgb = std::array<int, 3>;

// Row counted from the top, 1-based, as a user sees the window.
Rgb rowFromTop(const std::vector<std::uint8_t>& image, int w, int h, int k, int x = 0) {
    const std::size_t i = (static_cast<std::size_t>(h - k) * w + x) * 3;
    return {image[i], image[i + 1], image[i + 2]};
}

TEST(Backdrop, RowsOfAHundredPixelWindow) {
    const int w = 7, h = 100;
    const std::vector<std::uint8_t> image = SceneView::backdropImage(w, h);
    ASSERT_EQ(static_cast<std::size_t>(w * h * 3), image.size());
    struct Case {
        int row;
        Rgb expected;
    };
    const Case cases[] = {
        {1, {82, 207, 250}},   {2, {86, 208, 250}},   {50, {255, 254, 255}},
        {51, {255, 255, 255}}, {75, {255, 255, 255}}, {100, {255, 255, 255}},
    };
    for (const Case& c : cases) {
        for (int x : {0, w - 1}) {
            EXPECT_EQ(c.expected, rowFromTop(image, w, h, c.row, x))
                << "row " << c.row << " column " << x;
        }
    }
}

TEST(Backdrop, EmptyForZeroSizes) {
    EXPECT_TRUE(SceneView::backdropImage(0, 100).empty());
    EXPECT_TRUE(SceneView::backdropImage(100, 0).empty());
    EXPECT_TRUE(SceneView::backdropImage(-3, 10).empty());
}

TEST(Backdrop, OnePixelHighWindowIsWhite) {
    const std::vector<std::uint8_t> image = SceneView::backdropImage(2, 1);
    EXPECT_EQ((Rgb{255, 255, 255}), rowFromTop(image, 2, 1, 1));
}

} // namespace
} // namespace ombrel
