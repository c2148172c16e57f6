#include "preview/CityWindow.h"

namespace ombrel {

CCityWindow::CCityWindow(std::uint8_t colorBits_) : COpenGLTraversableWindow(colorBits_, 24, 0) {
    camera().toggles[1] = 1;
}

CCityWindow::~CCityWindow() {
    releaseGLNow();
}

void CCityWindow::setCity(const Drawable* newCity) {
    city = newCity;
    view_.forgetCity();
    if (MakeCurrent()) {
        view_.prepareCity(city);
    }
}

bool CCityWindow::sceneBounds(Vec3& minCorner, Vec3& maxCorner) {
    if (!city) {
        return false;
    }
    const CityBatch& batch = view_.batch();
    if (view_.drewBatched() && batch.hasBounds()) {
        minCorner = batch.minCorner();
        maxCorner = batch.maxCorner();
        return true;
    }
    return geometryBounds(*city, minCorner, maxCorner);
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
    view_.drawGL(city, camera().state(), toggles);
}

void CCityWindow::ReleaseGL() {
    view_.releaseGL();
}

} // namespace ombrel
