#pragma once

#include <QOpenGLWidget>

#include <cstdint>

namespace ombrel {

// A top-level window that owns one OpenGL context (compatibility profile, double-buffered RGBA
// with at least the requested colour, depth and stencil bits) and turns window events into
// InitGL, ResizeGL and DrawGL. Closing it only hides it.
class COpenGLWindow : public QOpenGLWidget {
    Q_OBJECT
public:
    COpenGLWindow(std::uint8_t colorBits, std::uint8_t depthBits, std::uint8_t stencilBits);
    ~COpenGLWindow() override;

    // Checks that a context of the requested kind can be made, before the window is shown.
    // On failure it shows one of the "ERROR" message boxes ("Can't Find A Suitable
    // PixelFormat.", "Can't Set The PixelFormat.", "Can't Create A GL Rendering Context.") and
    // returns false; the window must then not be used.
    bool CreateGLContext();

    // True when the calling thread's current context is this window's.
    bool IsCurrent() const;
    // Makes the window's context current unless it already is. On failure shows "Can't Activate
    // The GL Rendering Context." and leaves whatever context was current. Returns success; false
    // without a message before the window was first shown (it has no context yet).
    bool MakeCurrent();

    // False once the window's context could not be created; it then draws nothing.
    bool glUsable() const { return glUsable_; }

signals:
    // Qt is about to replace the window's context (it moved into another window), which is
    // current now: whatever else lives in it (texture objects) must be let go, to be made again
    // in the next one. Not sent when the window itself goes.
    void contextGoing();

public:
    // The size type passed to ResizeGL (the window system's restored/minimised/maximised kind).
    enum SizeType { SizeRestored = 0, SizeMinimized = 1, SizeMaximized = 2 };

protected:
    // Called once with the context current, when the window first appears: InitGL. Returns
    // true on success.
    virtual bool InitView();
    virtual void ResizeGL(int sizeType, int width, int height) = 0;
    virtual void InitGL() = 0;
    virtual void DrawGL() {}
    // Called with the context current just before it goes (the window's end, or Qt making a
    // new one when the window moves): frees what lives only in it. The next context gets
    // InitView again.
    virtual void ReleaseGL() {}
    // For the destructors of derived windows, which must free their OpenGL objects while they
    // are still whole: runs ReleaseGL now when the window has a usable context.
    void releaseGLNow();

    // Shows the "ERROR" message box with an exclamation icon and an OK button.
    static void showGLError(const char* text);

    void initializeGL() final;
    void resizeGL(int w, int h) final;
    void paintGL() final;
    void closeEvent(QCloseEvent* event) override;

    std::uint8_t colorBits;
    std::uint8_t depthBits;
    std::uint8_t stencilBits;

private:
    // Tells the textures which context uploads and deletes them from now on.
    void tagContext() const;

    bool glUsable_ = true;
    bool activationFailed_ = false;
};

} // namespace ombrel
