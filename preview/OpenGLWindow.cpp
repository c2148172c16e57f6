#include "preview/OpenGLWindow.h"

#include "grammar/Texture.h"
#include "preview/gl/TextureCache.h"

#include <QCloseEvent>
#include <QMessageBox>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QSurfaceFormat>

namespace ombrel {

namespace {

QSurfaceFormat requestedFormat(int colorBits, int depthBits, int stencilBits) {
    QSurfaceFormat format;
    format.setRenderableType(QSurfaceFormat::OpenGL);
    // Immediate mode needs the compatibility profile.
    format.setProfile(QSurfaceFormat::CompatibilityProfile);
    format.setSwapBehavior(QSurfaceFormat::DoubleBuffer);
    const int perChannel = colorBits >= 24 ? 8 : (colorBits >= 15 ? 5 : 4);
    format.setRedBufferSize(perChannel);
    format.setGreenBufferSize(perChannel);
    format.setBlueBufferSize(perChannel);
    format.setAlphaBufferSize(0);
    format.setDepthBufferSize(depthBits);
    format.setStencilBufferSize(stencilBits);
    return format;
}

} // namespace

COpenGLWindow::COpenGLWindow(std::uint8_t colorBits_, std::uint8_t depthBits_,
                             std::uint8_t stencilBits_)
    : colorBits(colorBits_), depthBits(depthBits_), stencilBits(stencilBits_) {
    setFormat(requestedFormat(colorBits, depthBits, stencilBits));
    // The frame is repainted whole by OpenGL; the window system never erases it.
    setAttribute(Qt::WA_OpaquePaintEvent);
    // The preview closing alone never ends the program; the main dialog does.
    setAttribute(Qt::WA_QuitOnClose, false);
    setFocusPolicy(Qt::StrongFocus);
}

COpenGLWindow::~COpenGLWindow() {
    // The context is destroyed after this part of the window is gone: nothing may call back.
    if (QOpenGLContext* ctx = context()) {
        disconnect(ctx, &QOpenGLContext::aboutToBeDestroyed, this, nullptr);
    }
    // Texture objects left behind in this context go with it.
    if (const void* tag = context()) {
        TextureCache::forgetReleased(tag);
        if (TextureCache::contextTag() == tag) {
            TextureCache::setContextTag(nullptr);
        }
    }
}

void COpenGLWindow::releaseGLNow() {
    if (glUsable_ && context() && context()->isValid()) {
        makeCurrent();
        if (IsCurrent()) {
            tagContext();
            ReleaseGL();
        }
    }
}

void COpenGLWindow::tagContext() const {
    TextureCache::install();
    TextureCache::setContextTag(context());
}

void COpenGLWindow::showGLError(const char* text) {
    QMessageBox box(QMessageBox::Warning, QStringLiteral("ERROR"), QString::fromUtf8(text),
                    QMessageBox::Ok);
    box.exec();
}

bool COpenGLWindow::CreateGLContext() {
    // A probe context on an invisible surface tells whether the window's context will work,
    // before anything is shown.
    const QSurfaceFormat wanted = format();
    QOpenGLContext probe;
    probe.setFormat(wanted);
    if (!probe.create()) {
        showGLError("Can't Create A GL Rendering Context.");
        glUsable_ = false;
        return false;
    }
    const QSurfaceFormat got = probe.format();
    const int perChannel = wanted.redBufferSize();
    if (got.renderableType() != QSurfaceFormat::OpenGL || got.depthBufferSize() < depthBits ||
        got.stencilBufferSize() < stencilBits || got.redBufferSize() < perChannel ||
        got.greenBufferSize() < perChannel || got.blueBufferSize() < perChannel) {
        showGLError("Can't Find A Suitable PixelFormat.");
        glUsable_ = false;
        return false;
    }
    QOffscreenSurface surface;
    surface.setFormat(got);
    surface.create();
    if (!surface.isValid() || !probe.makeCurrent(&surface)) {
        showGLError("Can't Set The PixelFormat.");
        glUsable_ = false;
        return false;
    }
    probe.doneCurrent();
    return true;
}

bool COpenGLWindow::IsCurrent() const {
    return context() != nullptr && QOpenGLContext::currentContext() == context();
}

bool COpenGLWindow::MakeCurrent() {
    if (!glUsable_) {
        return false;
    }
    if (IsCurrent()) {
        tagContext();
        return true;
    }
    if (!context()) {
        // Not shown yet: the context comes with the first show, and there is nothing in it.
        return false;
    }
    makeCurrent();
    if (!IsCurrent()) {
        showGLError("Can't Activate The GL Rendering Context.");
        return false;
    }
    tagContext();
    return true;
}

bool COpenGLWindow::InitView() {
    InitGL();
    return true;
}

void COpenGLWindow::initializeGL() {
    if (!context() || !context()->isValid()) {
        glUsable_ = false;
        showGLError("Can't Create A GL Rendering Context.");
        return;
    }
    tagContext();
    // Each context is new (Qt may replace it when the window moves); what lives in it is freed
    // before it goes.
    connect(
        context(), &QOpenGLContext::aboutToBeDestroyed, this,
        [this] {
            releaseGLNow();
            emit contextGoing();
        },
        Qt::DirectConnection);
    if (!InitView()) {
        glUsable_ = false;
    }
}

void COpenGLWindow::resizeGL(int w, int h) {
    if (!glUsable_) {
        return;
    }
    const Qt::WindowStates states = window()->windowState();
    const int sizeType = states.testFlag(Qt::WindowMinimized)   ? SizeMinimized
                         : states.testFlag(Qt::WindowMaximized) ? SizeMaximized
                                                                : SizeRestored;
    // Qt works in device-independent pixels; OpenGL wants real ones.
    const qreal ratio = devicePixelRatioF();
    ResizeGL(sizeType, static_cast<int>(w * ratio), static_cast<int>(h * ratio));
}

void COpenGLWindow::paintGL() {
    if (!glUsable_) {
        return;
    }
    if (!IsCurrent()) {
        // Say it once per failure, not on every frame of a camera flight.
        if (!activationFailed_) {
            activationFailed_ = true;
            showGLError("Can't Activate The GL Rendering Context.");
        }
        return;
    }
    activationFailed_ = false;
    tagContext();
    DrawGL();
}

void COpenGLWindow::closeEvent(QCloseEvent* event) {
    // Closing only hides; the owner decides when the window goes.
    hide();
    event->ignore();
}

} // namespace ombrel
