#pragma once

#include "preview/OpenGLWindow.h"
#include "preview/gl/Camera.h"

#include <QTimer>

class QKeyEvent;
class QMouseEvent;
class QWheelEvent;

namespace ombrel {

// An OpenGL window flown through with the keyboard: arrows move (turn with left Shift), Home
// and End rise and sink (roll with left Shift), R goes home, keypad + and - change the speed
// (the turning step with left Shift), digits flip display toggles. A 10 ms timer applies the
// held keys and repaints. The mouse flies too: a left drag turns (yaw about the world's up
// axis, pitch about the camera's right axis), a right or middle drag pans, the wheel moves
// forward and back by the move speed; F frames the whole scene (see sceneBounds).
class COpenGLTraversableWindow : public COpenGLWindow {
    Q_OBJECT
public:
    COpenGLTraversableWindow(std::uint8_t colorBits, std::uint8_t depthBits,
                             std::uint8_t stencilBits);

    Camera& camera() { return camera_; }
    const Camera& camera() const { return camera_; }

    // The key-table code for a key event, or -1 for keys the camera does not track.
    static int keyCode(const QKeyEvent& event);
    // True for the left Shift key, told apart from the right one by its native key code.
    static bool isLeftShift(const QKeyEvent& event);

    // One camera tick; repaints when the camera changed.
    virtual void UpdateCamera();

    // Multiplies the current model-view matrix by the camera transform.
    void ApplyCamera() const;

    // Whether the left Shift key is down now, as far as this window can tell: it saw the key go
    // down and the keyboard still reports a Shift held.
    bool leftShiftDown() const;

    // The title while the speed or the turning step changes: the window's own title, then
    // " - speed S, turning step T degrees". It goes back to the window's own title
    // kStatusMilliseconds after the last change.
    QString statusTitle() const;
    static constexpr int kStatusMilliseconds = 3000;

    // Degrees turned per pixel of a left drag.
    static constexpr float kDegreesPerPixel = 0.25f;
    // Distance panned per pixel of a right or middle drag, in move speeds.
    static constexpr float kPanPerPixel = 0.1f;

protected:
    bool InitView() override;

    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

    // The box that F frames; false when there is nothing to frame (F then does nothing).
    virtual bool sceneBounds(Vec3& minCorner, Vec3& maxCorner);
    // A left click: pressed and released without the mouse going more than kClickSlop pixels
    // from where it was pressed. The point is in the window's coordinates. Does nothing here.
    virtual void clicked(QPointF point);

public:
    // How far (in pixels, either way) a left press may wander and still be a click.
    static constexpr double kClickSlop = 3.0;

private:
    Camera camera_;
    QTimer timer_;
    // Shows the speed and step in the title for a while (see statusTitle).
    void showCameraStatus();
    QTimer statusTimer_;
    QString ownTitle_;
    bool leftShiftSeen_ = false;
    QPointF lastMouse_;
    QPointF pressedAt_;
    bool wandered_ = false; // the left button went further than kClickSlop since its press
    Qt::MouseButton dragging_ = Qt::NoButton;
};

} // namespace ombrel
