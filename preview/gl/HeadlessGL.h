#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace ombrel {

// An OpenGL context without any window or display: EGL on Mesa's surfaceless platform, desktop
// OpenGL with the compatibility profile (immediate mode works), rendering into an offscreen
// framebuffer object with colour and depth. For tests and batch pictures.
class HeadlessGL {
public:
    // Creates the context and a width x height framebuffer and makes both current (and the
    // context that textures upload into; see TextureCache::deleteReleased). Returns none
    // when no EGL device, no suitable configuration or no framebuffer support exists; *why (when
    // given) then says what was missing. Never crashes for want of a display.
    static std::unique_ptr<HeadlessGL> create(int width, int height, std::string* why = nullptr);

    ~HeadlessGL();
    HeadlessGL(const HeadlessGL&) = delete;
    HeadlessGL& operator=(const HeadlessGL&) = delete;

    int width() const { return width_; }
    int height() const { return height_; }

    // Makes this context and its framebuffer current again (after another context was).
    bool makeCurrent();
    // Waits until everything drawn so far is done (glFinish).
    void finish();
    // The framebuffer's pixels as RGBA bytes, width * height * 4, bottom row first (OpenGL
    // order). Finishes pending drawing first.
    std::vector<std::uint8_t> readPixels();
    // One pixel, x from the left and y from the bottom, packed like a colour word: red in bits
    // 0-7, green 8-15, blue 16-23, alpha 24-31.
    std::uint32_t pixel(int x, int y);

private:
    struct Impl;
    HeadlessGL(std::unique_ptr<Impl> impl, int width, int height);

    std::unique_ptr<Impl> impl_;
    int width_;
    int height_;
};

} // namespace ombrel
