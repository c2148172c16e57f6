#include "preview/CityWindow.h"

#include "base/Log.h"
#include "city/BuildingInspection.h"
#include "city/CityDrawable.h"
#include "grammar/GeometrySink.h"

#include <GL/gl.h>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QTimer>

#include <algorithm>

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
    // The selection follows its cell into the new city when a building stands there again.
    if (selected_) {
        const auto* cells = dynamic_cast<const CityDrawable*>(city);
        const std::optional<std::size_t> again =
            cells ? buildingInCell(*cells, selectedColumn_, selectedRow_) : std::nullopt;
        if (again) {
            select(*again);
        } else {
            clearSelection();
        }
    }
}

namespace {

// Gathers the corners of every face, for the outline.
class OutlineSink : public GeometrySink {
public:
    OutlineSink(std::vector<float>& corners, std::vector<int>& counts)
        : corners_(corners), counts_(counts) {}
    void face(const Face& face) override {
        for (int i = 0; i < face.cornerCount(); ++i) {
            corners_.insert(corners_.end(),
                            {face.corners[i].x, face.corners[i].y, face.corners[i].z});
        }
        counts_.push_back(face.cornerCount());
    }

private:
    std::vector<float>& corners_;
    std::vector<int>& counts_;
};

} // namespace

std::optional<std::size_t> CCityWindow::buildingAt(QPointF point) {
    const auto* cells = dynamic_cast<const CityDrawable*>(city);
    if (!cells || width() <= 0 || height() <= 0 || !MakeCurrent()) {
        return std::nullopt;
    }
    const int x = static_cast<int>(point.x() * view_.viewWidth() / width());
    const int y =
        view_.viewHeight() - 1 - static_cast<int>(point.y() * view_.viewHeight() / height());
    if (x < 0 || y < 0 || x >= view_.viewWidth() || y >= view_.viewHeight()) {
        return std::nullopt;
    }
    if (!view_.drawFacePass(*city, FacePass::instances, camera().state())) {
        return std::nullopt;
    }
    std::uint8_t rgba[4] = {};
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(x, y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, rgba);
    // The pass drew over the frame: the window shows the city again with the next one.
    update();
    const std::uint32_t value = FacePictures::valueAt(FacePass::instances, rgba);
    if (value == 0 || value > cells->buildingDrawables.size()) {
        return std::nullopt;
    }
    return value - 1;
}

void CCityWindow::selectAt(QPointF point) {
    if (const std::optional<std::size_t> building = buildingAt(point)) {
        select(*building);
    } else {
        clearSelection();
    }
}

void CCityWindow::select(std::size_t index) {
    const auto* cells = dynamic_cast<const CityDrawable*>(city);
    if (!cells || index >= cells->buildingDrawables.size()) {
        return;
    }
    selected_ = index;
    if (index < cells->buildingCells.size()) {
        selectedColumn_ = cells->buildingCells[index].column;
        selectedRow_ = cells->buildingCells[index].row;
    }
    outline_.clear();
    outlineCorners_.clear();
    if (const Drawable* building = cells->buildingDrawables[index].get()) {
        OutlineSink sink(outline_, outlineCorners_);
        building->collect(sink);
    }
    for (const std::string& line : describeBuilding(*cells, index)) {
        infoLog.line(line);
    }
    update();
}

void CCityWindow::clearSelection() {
    if (!selected_) {
        return;
    }
    selected_.reset();
    outline_.clear();
    outlineCorners_.clear();
    infoLog.line("Selection cleared");
    update();
}

void CCityWindow::clicked(QPointF point) {
    selectAt(point);
}

void CCityWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        clearSelection();
    }
    COpenGLTraversableWindow::keyPressEvent(event);
}

void CCityWindow::drawOutline() const {
    if (outlineCorners_.empty()) {
        return;
    }
    // Every edge of the building, in front of whatever hides it, so that the whole of it shows.
    glPushAttrib(GL_ENABLE_BIT | GL_CURRENT_BIT | GL_LINE_BIT);
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_DEPTH_TEST);
    glLineWidth(2.0f);
    glColor3ub(255, 0, 255);
    std::size_t at = 0;
    for (const int corners : outlineCorners_) {
        glBegin(GL_LINE_LOOP);
        for (int i = 0; i < corners; ++i, at += 3) {
            glVertex3f(outline_[at], outline_[at + 1], outline_[at + 2]);
        }
        glEnd();
    }
    glPopAttrib();
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
    if (selected_) {
        drawOutline();
    }
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
