#include "preview/OpenGLTraversableWindow.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace ombrel {

namespace {

// Native key codes of the two Shift keys on X11 and Wayland (evdev code + 8).
constexpr quint32 kLeftShiftScanCode = 50;

// Classic virtual-key codes of letters and digits equal their upper-case characters.
constexpr int kVkShift = 0x10;
constexpr int kVkF = 0x46;
constexpr int kVkOemPlus = 0xBB;
constexpr int kVkOemMinus = 0xBD;

} // namespace

COpenGLTraversableWindow::COpenGLTraversableWindow(std::uint8_t colorBits_, std::uint8_t depthBits_,
                                                   std::uint8_t stencilBits_)
    : COpenGLWindow(colorBits_, depthBits_, stencilBits_) {
    timer_.setInterval(10);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, [this] { UpdateCamera(); });
    statusTimer_.setSingleShot(true);
    statusTimer_.setInterval(kStatusMilliseconds);
    connect(&statusTimer_, &QTimer::timeout, this, [this] { setWindowTitle(ownTitle_); });
}

bool COpenGLTraversableWindow::InitView() {
    const bool ok = COpenGLWindow::InitView();
    if (ok) {
        timer_.start();
    }
    return ok;
}

int COpenGLTraversableWindow::keyCode(const QKeyEvent& event) {
    const int key = event.key();
    const bool keypad = event.modifiers().testFlag(Qt::KeypadModifier);
    switch (key) {
    case Qt::Key_Up:
        return keys::Up;
    case Qt::Key_Down:
        return keys::Down;
    case Qt::Key_Left:
        return keys::Left;
    case Qt::Key_Right:
        return keys::Right;
    case Qt::Key_Home:
        return keys::Home;
    case Qt::Key_End:
        return keys::End;
    case Qt::Key_Plus:
        return keypad ? keys::NumpadAdd : kVkOemPlus;
    case Qt::Key_Minus:
        return keypad ? keys::NumpadSubtract : kVkOemMinus;
    case Qt::Key_Shift:
        return kVkShift;
    default:
        break;
    }
    if (key >= Qt::Key_A && key <= Qt::Key_Z) {
        return 'A' + (key - Qt::Key_A);
    }
    if (key >= Qt::Key_0 && key <= Qt::Key_9 && !keypad) {
        return '0' + (key - Qt::Key_0);
    }
    if (key >= Qt::Key_0 && key <= Qt::Key_9) {
        return 0x60 + (key - Qt::Key_0); // numeric-keypad digits
    }
    return -1;
}

bool COpenGLTraversableWindow::isLeftShift(const QKeyEvent& event) {
    return event.key() == Qt::Key_Shift && event.nativeScanCode() == kLeftShiftScanCode;
}

bool COpenGLTraversableWindow::leftShiftDown() const {
    return leftShiftSeen_ && QGuiApplication::queryKeyboardModifiers().testFlag(Qt::ShiftModifier);
}

void COpenGLTraversableWindow::keyPressEvent(QKeyEvent* event) {
    if (isLeftShift(*event)) {
        leftShiftSeen_ = true;
    }
    const int code = keyCode(*event);
    const float speed = camera_.moveSpeed;
    const float step = camera_.rotateStep;
    if (code >= 0) {
        camera_.keyPressed(code, leftShiftDown());
    }
    if (code == kVkF && !event->isAutoRepeat()) {
        Vec3 lo;
        Vec3 hi;
        if (sceneBounds(lo, hi)) {
            camera_.frame(lo, hi, double(width()) / double(std::max(height(), 1)));
            update();
        }
    }
    if (camera_.moveSpeed != speed || camera_.rotateStep != step) {
        showCameraStatus();
    }
    const QString text = event->text();
    if (text.size() == 1 && camera_.characterTyped(text.at(0).unicode())) {
        update();
    }
    COpenGLWindow::keyPressEvent(event);
}

QString COpenGLTraversableWindow::statusTitle() const {
    const QString own = statusTimer_.isActive() ? ownTitle_ : windowTitle();
    return own + QStringLiteral(" - speed %1, turning step %2 degrees")
                     .arg(double(camera_.moveSpeed), 0, 'g', 4)
                     .arg(double(camera_.rotateStep), 0, 'g', 4);
}

void COpenGLTraversableWindow::showCameraStatus() {
    const QString title = statusTitle();
    if (!statusTimer_.isActive()) {
        ownTitle_ = windowTitle();
    }
    setWindowTitle(title);
    statusTimer_.start();
}

void COpenGLTraversableWindow::keyReleaseEvent(QKeyEvent* event) {
    // X11 reports auto-repeat as release-press pairs; only a real release lets go of a key.
    if (!event->isAutoRepeat()) {
        if (isLeftShift(*event)) {
            leftShiftSeen_ = false;
        }
        const int code = keyCode(*event);
        if (code >= 0) {
            camera_.keyReleased(code);
        }
    }
    COpenGLWindow::keyReleaseEvent(event);
}

void COpenGLTraversableWindow::focusOutEvent(QFocusEvent* event) {
    // Releases that happen while another window has the keyboard never reach this one; without
    // this the camera would fly on by itself.
    camera_.releaseAllKeys();
    leftShiftSeen_ = false;
    COpenGLWindow::focusOutEvent(event);
}

bool COpenGLTraversableWindow::sceneBounds(Vec3&, Vec3&) {
    return false;
}

void COpenGLTraversableWindow::clicked(QPointF) {}

void COpenGLTraversableWindow::mousePressEvent(QMouseEvent* event) {
    const Qt::MouseButton b = event->button();
    if (dragging_ == Qt::NoButton &&
        (b == Qt::LeftButton || b == Qt::RightButton || b == Qt::MiddleButton)) {
        dragging_ = b;
        lastMouse_ = event->position();
        pressedAt_ = event->position();
        wandered_ = false;
    }
    COpenGLWindow::mousePressEvent(event);
}

void COpenGLTraversableWindow::mouseMoveEvent(QMouseEvent* event) {
    if (dragging_ != Qt::NoButton) {
        const QPointF now = event->position();
        if (std::abs(now.x() - pressedAt_.x()) > kClickSlop ||
            std::abs(now.y() - pressedAt_.y()) > kClickSlop) {
            wandered_ = true;
        }
        const auto dx = static_cast<float>(now.x() - lastMouse_.x());
        const auto dy = static_cast<float>(now.y() - lastMouse_.y());
        lastMouse_ = now;
        if (dragging_ == Qt::LeftButton) {
            // Dragging right turns right, dragging up looks up.
            camera_.turn(-dx * kDegreesPerPixel, -dy * kDegreesPerPixel);
        } else {
            // The city follows the mouse.
            const float step = camera_.moveSpeed * kPanPerPixel;
            camera_.pan(-dx * step, dy * step);
        }
        if (dx != 0.0f || dy != 0.0f) {
            update();
        }
    }
    COpenGLWindow::mouseMoveEvent(event);
}

void COpenGLTraversableWindow::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == dragging_) {
        dragging_ = Qt::NoButton;
        if (event->button() == Qt::LeftButton && !wandered_ &&
            std::abs(event->position().x() - pressedAt_.x()) <= kClickSlop &&
            std::abs(event->position().y() - pressedAt_.y()) <= kClickSlop) {
            clicked(event->position());
        }
    }
    COpenGLWindow::mouseReleaseEvent(event);
}

void COpenGLTraversableWindow::wheelEvent(QWheelEvent* event) {
    // One notch of a usual wheel is 120; finer wheels move by parts of a step.
    const float notches = static_cast<float>(event->angleDelta().y()) / 120.0f;
    if (notches != 0.0f) {
        camera_.advance(notches);
        update();
    }
    event->accept();
}

void COpenGLTraversableWindow::UpdateCamera() {
    if (camera_.tick(leftShiftDown())) {
        update();
    }
}

void COpenGLTraversableWindow::ApplyCamera() const {
    applyCamera(camera_.state());
}

} // namespace ombrel
