#include "preview/CityWindow.h"

namespace ombrel {

CCityWindow::CCityWindow(std::uint8_t colorBits_) : COpenGLTraversableWindow(colorBits_, 24, 0) {
    camera().toggles[1] = 1;
}

CCityWindow::~CCityWindow() {
    releaseGLNow();
}

void CCityWindow::InitGL() {
    view_.initGL();
}

void CCityWindow::ResizeGL(int, int width, int height) {
    view_.resizeGL(width, height);
}

void CCityWindow::DrawGL() {
    SceneToggles toggles;
    toggles.skyBackdrop = camera().toggles[1] != 0;
    view_.drawGL(city, camera().state(), toggles, cityCells_);
}

void CCityWindow::ReleaseGL() {
    view_.releaseGL();
}

} // namespace ombrel
