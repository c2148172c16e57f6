#pragma once

#include "preview/OpenGLWindow.h"
#include "preview/gl/Camera.h"

#include <QTimer>

class QKeyEvent;

namespace ombrel {

// An OpenGL window flown through with the keyboard: arrows move (turn with left Shift), Home
// and End rise and sink (roll with left Shift), R goes home, keypad + and - change the speed
// (the turning step with left Shift), digits flip display toggles. A 10 ms timer applies the
// held keys and repaints.
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

protected:
    bool InitView() override;

    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    Camera camera_;
    QTimer timer_;
    bool leftShiftSeen_ = false;
};

} // namespace ombrel
