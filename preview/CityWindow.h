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
    // Frees the city's display list in the window's context.
    ~CCityWindow() override;

    // The city to draw, not owned; null draws the backdrop and axes only. Set it through
    // setCity when the city it held may be gone: a new city made at the same address would
    // otherwise be taken for the old one. `cells` is the city's number of cells (0 when not
    // known), which decides whether the city is worth recording.
    const Drawable* city = nullptr;
    void setCity(const Drawable* newCity, std::size_t cells = 0) {
        city = newCity;
        cityCells_ = cells;
        view_.forgetCity();
    }

    // Puts the camera and its home in front of a new city; speed and step are kept.
    void setCameraHome(const CameraState& home) { camera().setHome(home); }

    const SceneView& sceneView() const { return view_; }

protected:
    void InitGL() override;
    void ResizeGL(int sizeType, int width, int height) override;
    void DrawGL() override;
    void ReleaseGL() override;

private:
    SceneView view_;
    std::size_t cityCells_ = 0;
};

} // namespace ombrel
