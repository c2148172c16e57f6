#include "preview/gl/HeadlessGL.h"

#include "grammar/Texture.h"
#include "preview/gl/TextureCache.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GL/gl.h>
#include <GL/glext.h>

#include <cstring>

namespace ombrel {

struct HeadlessGL::Impl {
    EGLDisplay display = EGL_NO_DISPLAY;
    EGLContext context = EGL_NO_CONTEXT;
    GLuint framebuffer = 0;
    GLuint colour = 0;
    GLuint depth = 0;

    // Framebuffer objects are not part of OpenGL 1.1; they come through the EGL loader.
    PFNGLGENFRAMEBUFFERSPROC genFramebuffers = nullptr;
    PFNGLDELETEFRAMEBUFFERSPROC deleteFramebuffers = nullptr;
    PFNGLBINDFRAMEBUFFERPROC bindFramebuffer = nullptr;
    PFNGLGENRENDERBUFFERSPROC genRenderbuffers = nullptr;
    PFNGLDELETERENDERBUFFERSPROC deleteRenderbuffers = nullptr;
    PFNGLBINDRENDERBUFFERPROC bindRenderbuffer = nullptr;
    PFNGLRENDERBUFFERSTORAGEPROC renderbufferStorage = nullptr;
    PFNGLFRAMEBUFFERRENDERBUFFERPROC framebufferRenderbuffer = nullptr;
    PFNGLCHECKFRAMEBUFFERSTATUSPROC checkFramebufferStatus = nullptr;

    ~Impl() {
        // The context's texture objects go with it.
        TextureCache::forgetReleased(this);
        if (TextureCache::contextTag() == this) {
            TextureCache::setContextTag(nullptr);
        }
        if (display == EGL_NO_DISPLAY) {
            return;
        }
        if (context != EGL_NO_CONTEXT) {
            if (framebuffer != 0 &&
                eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, context)) {
                bindFramebuffer(GL_FRAMEBUFFER, 0);
                deleteFramebuffers(1, &framebuffer);
                deleteRenderbuffers(1, &colour);
                deleteRenderbuffers(1, &depth);
            }
            eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
            eglDestroyContext(display, context);
        }
        // The display is left initialised: EGL displays are shared per process, and terminating
        // one would pull it from under any other context still using it.
    }

    template <class F> bool load(F& f, const char* name) {
        f = reinterpret_cast<F>(eglGetProcAddress(name));
        return f != nullptr;
    }
};

namespace {

bool hasExtension(const char* list, const char* name) {
    if (!list) {
        return false;
    }
    const std::size_t n = std::strlen(name);
    for (const char* p = list; (p = std::strstr(p, name)) != nullptr; p += n) {
        if ((p == list || p[-1] == ' ') && (p[n] == ' ' || p[n] == '\0')) {
            return true;
        }
    }
    return false;
}

void setWhy(std::string* why, const std::string& text) {
    if (why) {
        *why = text;
    }
}

} // namespace

HeadlessGL::HeadlessGL(std::unique_ptr<Impl> impl, int width, int height)
    : impl_(std::move(impl)), width_(width), height_(height) {}

HeadlessGL::~HeadlessGL() = default;

std::unique_ptr<HeadlessGL> HeadlessGL::create(int width, int height, std::string* why) {
    if (width <= 0 || height <= 0) {
        setWhy(why, "framebuffer size must be positive");
        return nullptr;
    }
    const char* clientExtensions = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
    if (!hasExtension(clientExtensions, "EGL_MESA_platform_surfaceless")) {
        setWhy(why, "EGL has no surfaceless platform (EGL_MESA_platform_surfaceless)");
        return nullptr;
    }
    auto getPlatformDisplay = reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(
        eglGetProcAddress("eglGetPlatformDisplayEXT"));
    if (!getPlatformDisplay) {
        setWhy(why, "EGL lacks eglGetPlatformDisplayEXT");
        return nullptr;
    }
    auto impl = std::make_unique<Impl>();
    EGLDisplay display =
        getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
    EGLint major = 0;
    EGLint minor = 0;
    if (display == EGL_NO_DISPLAY || !eglInitialize(display, &major, &minor)) {
        setWhy(why, "no EGL device available");
        return nullptr;
    }
    impl->display = display;
    if (!hasExtension(eglQueryString(display, EGL_EXTENSIONS), "EGL_KHR_surfaceless_context")) {
        setWhy(why, "EGL display does not support surfaceless contexts");
        return nullptr;
    }
    if (!eglBindAPI(EGL_OPENGL_API)) {
        setWhy(why, "EGL cannot bind desktop OpenGL");
        return nullptr;
    }
    const EGLint configAttribs[] = {EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT, EGL_SURFACE_TYPE, 0,
                                    EGL_NONE};
    EGLConfig config = nullptr;
    EGLint count = 0;
    if (!eglChooseConfig(display, configAttribs, &config, 1, &count) || count < 1) {
        // Some drivers list no configuration with an empty surface type; any OpenGL one will do.
        const EGLint anyAttribs[] = {EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT, EGL_NONE};
        if (!eglChooseConfig(display, anyAttribs, &config, 1, &count) || count < 1) {
            setWhy(why, "no EGL configuration for desktop OpenGL");
            return nullptr;
        }
    }
    const EGLint contextAttribs[] = {EGL_CONTEXT_OPENGL_PROFILE_MASK,
                                     EGL_CONTEXT_OPENGL_COMPATIBILITY_PROFILE_BIT, EGL_NONE};
    impl->context = eglCreateContext(display, config, EGL_NO_CONTEXT, contextAttribs);
    if (impl->context == EGL_NO_CONTEXT) {
        impl->context = eglCreateContext(display, config, EGL_NO_CONTEXT, nullptr);
    }
    if (impl->context == EGL_NO_CONTEXT) {
        setWhy(why, "cannot create an OpenGL context");
        return nullptr;
    }
    if (!eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, impl->context)) {
        setWhy(why, "cannot make the OpenGL context current");
        return nullptr;
    }
    if (!impl->load(impl->genFramebuffers, "glGenFramebuffers") ||
        !impl->load(impl->deleteFramebuffers, "glDeleteFramebuffers") ||
        !impl->load(impl->bindFramebuffer, "glBindFramebuffer") ||
        !impl->load(impl->genRenderbuffers, "glGenRenderbuffers") ||
        !impl->load(impl->deleteRenderbuffers, "glDeleteRenderbuffers") ||
        !impl->load(impl->bindRenderbuffer, "glBindRenderbuffer") ||
        !impl->load(impl->renderbufferStorage, "glRenderbufferStorage") ||
        !impl->load(impl->framebufferRenderbuffer, "glFramebufferRenderbuffer") ||
        !impl->load(impl->checkFramebufferStatus, "glCheckFramebufferStatus")) {
        setWhy(why, "OpenGL lacks framebuffer objects");
        return nullptr;
    }
    impl->genFramebuffers(1, &impl->framebuffer);
    impl->bindFramebuffer(GL_FRAMEBUFFER, impl->framebuffer);
    impl->genRenderbuffers(1, &impl->colour);
    impl->bindRenderbuffer(GL_RENDERBUFFER, impl->colour);
    impl->renderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, width, height);
    impl->framebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER,
                                  impl->colour);
    impl->genRenderbuffers(1, &impl->depth);
    impl->bindRenderbuffer(GL_RENDERBUFFER, impl->depth);
    impl->renderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT24, width, height);
    impl->framebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER,
                                  impl->depth);
    if (impl->checkFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) {
        setWhy(why, "the offscreen framebuffer is incomplete");
        return nullptr;
    }
    glDrawBuffer(GL_COLOR_ATTACHMENT0);
    glReadBuffer(GL_COLOR_ATTACHMENT0);
    glViewport(0, 0, width, height);
    TextureCache::install();
    TextureCache::setContextTag(impl.get());
    return std::unique_ptr<HeadlessGL>(new HeadlessGL(std::move(impl), width, height));
}

bool HeadlessGL::makeCurrent() {
    if (!eglMakeCurrent(impl_->display, EGL_NO_SURFACE, EGL_NO_SURFACE, impl_->context)) {
        return false;
    }
    impl_->bindFramebuffer(GL_FRAMEBUFFER, impl_->framebuffer);
    TextureCache::setContextTag(impl_.get());
    return true;
}

void HeadlessGL::finish() {
    glFinish();
}

std::vector<std::uint8_t> HeadlessGL::readPixels() {
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width_) *
                                     static_cast<std::size_t>(height_) * 4);
    glFinish();
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, width_, height_, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
    return pixels;
}

std::uint32_t HeadlessGL::pixel(int x, int y) {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) {
        return 0;
    }
    std::uint8_t rgba[4] = {0, 0, 0, 0};
    glFinish();
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(x, y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, rgba);
    return rgba[0] | (rgba[1] << 8) | (rgba[2] << 16) | (static_cast<std::uint32_t>(rgba[3]) << 24);
}

} // namespace ombrel
