#pragma once

#include "preview/OpenGLTraversableWindow.h"
#include "preview/gl/SceneView.h"

namespace ombrel {

class Drawable;

// The "City Preview" window: sky backdrop (toggle 1), axes and the generated city, seen
// through the keyboard camera.
//
// A frame of a city built block by block as it comes into view spends at most
// kBuildSeconds building blocks; when some in view are left, it draws the ones built, asks for
// another frame and shows the busy cursor until a frame has built them all.
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

private:
    void showBuilding(bool on);

    SceneView view_;
    bool busy_ = false;
};

} // namespace ombrel
