#pragma once

#include "preview/OpenGLTraversableWindow.h"
#include "preview/gl/SceneView.h"

namespace ombrel {

class Drawable;

// The "City Preview" window: sky backdrop (toggle 1), axes and the generated city, seen
// through the keyboard camera.
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

protected:
    void InitGL() override;
    void ResizeGL(int sizeType, int width, int height) override;
    void DrawGL() override;
    void ReleaseGL() override;
    bool sceneBounds(Vec3& minCorner, Vec3& maxCorner) override;

private:
    SceneView view_;
};

} // namespace ombrel
