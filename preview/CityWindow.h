#pragma once

#include "preview/OpenGLTraversableWindow.h"
#include "preview/gl/SceneView.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace ombrel {

class Drawable;

// The "City Preview" window: sky backdrop (toggle 1), axes and the generated city, seen
// through the keyboard camera.
//
// A frame of a city built block by block as it comes into view spends at most
// kBuildSeconds building blocks; when some in view are left, it draws the ones built, asks for
// another frame and shows the busy cursor until a frame has built them all.
//
// A click on a building selects it: it is outlined, and the log tells what made it (see
// describeBuilding). A click on anything else (a road, the sky) or Escape clears the
// selection, and the log says "Selection cleared". The building under the click is the one
// whose number the instances picture (FacePass::instances) shows at that pixel, drawn into the
// window's frame and read back before the frame is drawn again.
class CCityWindow : public COpenGLTraversableWindow {
    Q_OBJECT
public:
    // 24 depth bits and no stencil; the backdrop is on from the start.
    explicit CCityWindow(std::uint8_t colorBits);
    // Frees the city's buffers in the window's context.
    ~CCityWindow() override;

    // The city to draw, not owned; null draws the backdrop and axes only. Set it through
    // setCity when the city it held may be gone: a new city made at the same address would
    // otherwise be taken for the old one.
    const Drawable* city = nullptr;
    // Frees the old city's buffers and, once the window has a context, builds the new one's
    // right away (a big city takes a while: callers show a busy cursor), leaving the window's
    // context current.
    void setCity(const Drawable* newCity);

    // Batched (the default) or immediate drawing of the city.
    void setRenderer(CityRenderer renderer) { view_.setRenderer(renderer); }

    // Puts the camera and its home in front of a new city; speed and step are kept.
    void setCameraHome(const CameraState& home) { camera().setHome(home); }

    const SceneView& sceneView() const { return view_; }
    // For tests: the limits of the city's buffers (see SceneView::setBatchLimits), by default
    // the city's own budget and kBuildSeconds.
    void setBatchLimits(std::size_t budgetBytes, double buildSeconds) {
        view_.setBatchLimits(budgetBytes, buildSeconds);
    }
    // The selected building, by its number in the city; none when nothing is selected.
    std::optional<std::size_t> selectedBuilding() const { return selected_; }
    // Selects the building shown at `point` (window coordinates) and logs what made it, or
    // clears the selection where no building shows. Needs the window's context.
    void selectAt(QPointF point);
    // The building shown at `point`, without selecting it; none for roads, the sky, a point
    // outside the window, or no city or context.
    std::optional<std::size_t> buildingAt(QPointF point);
    // Clears the selection (logging "Selection cleared" when there was one).
    void clearSelection();

    // Whether the busy cursor is shown for blocks left to build.
    bool building() const { return busy_; }

    static constexpr double kBuildSeconds = 0.05;

protected:
    void InitGL() override;
    void ResizeGL(int sizeType, int width, int height) override;
    void DrawGL() override;
    void ReleaseGL() override;
    bool sceneBounds(Vec3& minCorner, Vec3& maxCorner) override;
    // A hidden window paints nothing: the blocks left wait for it to show again.
    void hideEvent(QHideEvent* event) override;
    void clicked(QPointF point) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void showBuilding(bool on);
    // Selects building `index` of the city, logs what made it and keeps its outline.
    void select(std::size_t index);
    void drawOutline() const;

    std::optional<std::size_t> selected_;
    std::uint32_t selectedColumn_ = 0;
    std::uint32_t selectedRow_ = 0;
    std::vector<float> outline_;      // x, y, z of every face's corners
    std::vector<int> outlineCorners_; // corners per face

    SceneView view_;
    bool busy_ = false;
};

} // namespace ombrel
