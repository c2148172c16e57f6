#include "preview/CityWindow.h"

#include <QGuiApplication>
#include <QTimer>

namespace ombrel {

CCityWindow::CCityWindow(std::uint8_t colorBits_) : COpenGLTraversableWindow(colorBits_, 24, 0) {
    camera().toggles[1] = 1;
    view_.setBatchLimits(0, kBuildSeconds);
}

CCityWindow::~CCityWindow() {
    showBuilding(false);
    releaseGLNow();
}

void CCityWindow::showBuilding(bool on) {
    if (on == busy_) {
        return;
    }
    busy_ = on;
    if (on) {
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    } else {
        QGuiApplication::restoreOverrideCursor();
    }
}

void CCityWindow::setCity(const Drawable* newCity) {
    city = newCity;
    if (!city) {
        showBuilding(false);
    }
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
    const bool pending = view_.cityPending();
    showBuilding(pending);
    if (pending) {
        // Not from within the paint: the next frame comes after the events waiting now.
        QTimer::singleShot(0, this, [this] { update(); });
    }
}

void CCityWindow::hideEvent(QHideEvent* event) {
    showBuilding(false);
    COpenGLTraversableWindow::hideEvent(event);
}

void CCityWindow::ReleaseGL() {
    showBuilding(false);
    view_.releaseGL();
}

} // namespace ombrel
