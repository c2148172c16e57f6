// The construction files beside the documentation load without a warning and draw a city, and
// each has its committed picture (scripts/doc-pictures draws them).
#include "base/Log.h"
#include "config/CityFactory.h"
#include "preview/gl/Camera.h"
#include "preview/gl/HeadlessGL.h"
#include "preview/gl/SceneView.h"
#include "preview/gl/TextureCache.h"
#include "tests/support/FreshContext.h"

#include <gtest/gtest.h>

#include <stb_image.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

namespace ombrel {
namespace {

namespace fs = std::filesystem;

const fs::path kDocs = fs::path(OMBREL_SOURCE_DIR) / "docs";

std::vector<std::string> docExamples() {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(kDocs / "examples")) {
        if (entry.path().extension() == ".xml") {
            names.push_back(entry.path().stem().string());
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

class DocPicture : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override { testsupport::useFreshGenerationContext(); }
    void TearDown() override { testsupport::useFreshGenerationContext(); }
};

TEST_P(DocPicture, LoadsCleanlyDrawsAndHasItsPicture) {
    const std::string path = (kDocs / "examples" / (GetParam() + ".xml")).string();
    StringLogSink log;
    ScopedLogSink scoped(log);
    CityFactory f;
    ASSERT_TRUE(f.load(path)) << log.text();
    EXPECT_EQ(log.text(), "Parsing " + path + " ... \r\nSuccessfully loaded " + path + "\r\n");
    CityFactory::Generated city = f.generate();
    ASSERT_TRUE(city.city);

    constexpr int kWidth = 160, kHeight = 100;
    std::string why;
    std::unique_ptr<HeadlessGL> gl = HeadlessGL::create(kWidth, kHeight, &why);
    if (!gl) {
        GTEST_SKIP() << "no headless OpenGL: " << why;
    }
    const CameraState camera = cameraFacingCity(city.minCorner, city.maxCorner);
    SceneView view;
    view.initGL();
    view.resizeGL(kWidth, kHeight);
    view.drawGL(nullptr, camera);
    const std::vector<std::uint8_t> empty = gl->readPixels();
    view.drawGL(city.city.get(), camera);
    const std::vector<std::uint8_t> drawn = gl->readPixels();
    ASSERT_EQ(drawn.size(), empty.size());
    std::size_t changed = 0;
    for (std::size_t i = 0; i < drawn.size(); i += 4) {
        changed += !std::equal(&drawn[i], &drawn[i] + 3, &empty[i]);
    }
    EXPECT_GT(changed, drawn.size() / 4 / 50) << "the city shows in the picture";

    const std::string picture = (kDocs / "pictures" / (GetParam() + ".png")).string();
    int w = 0, h = 0, channels = 0;
    stbi_uc* pixels = stbi_load(picture.c_str(), &w, &h, &channels, 3);
    EXPECT_NE(pixels, nullptr) << picture << " is missing or not an image";
    stbi_image_free(pixels);
    EXPECT_EQ(w, 480);
    EXPECT_EQ(h, 300);
}

INSTANTIATE_TEST_SUITE_P(Docs, DocPicture, ::testing::ValuesIn(docExamples()),
                         [](const auto& info) {
                             std::string name = info.param;
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

} // namespace
} // namespace ombrel
