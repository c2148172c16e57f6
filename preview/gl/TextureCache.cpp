#include "preview/gl/TextureCache.h"

#include "config/TextureImage.h"
#include "grammar/Texture.h"

#include <GL/gl.h>
#include <GL/glu.h>

#include <algorithm>
#include <vector>

namespace ombrel {

namespace {

struct ReleasedTexture {
    const void* context;
    GLuint name;
};

struct CacheState {
    std::vector<ReleasedTexture> released;
    const void* contextTag = nullptr;
    std::uint64_t changes = 0;
};

// Never destroyed: textures still alive when the process ends (in a static) report to it from
// their destructors.
CacheState& cache() {
    static CacheState* state = new CacheState;
    return *state;
}

// The texture object of one uploaded texture; when the texture dies with it still uploaded, the
// object is left for the next bind in its context to delete.
class GLTextureUpload : public TextureUpload {
public:
    GLTextureUpload(GLuint name, const void* context) : name(name), context(context) {}
    ~GLTextureUpload() override {
        if (name != 0)
            cache().released.push_back({context, name});
    }

    GLuint name;
    const void* context;
};

GLTextureUpload* uploadOf(const Texture& texture) {
    return static_cast<GLTextureUpload*>(texture.upload.get());
}

} // namespace

void TextureCache::install() {
    setTextureBinder(&TextureCache::bind);
}

void TextureCache::bind(const Texture* texture) {
    if (!cache().released.empty())
        deleteReleased();
    if (!texture) {
        glBindTexture(GL_TEXTURE_2D, 0);
        return;
    }
    if (const GLTextureUpload* upload = uploadOf(*texture)) {
        glBindTexture(GL_TEXTURE_2D, upload->name);
        return;
    }
    if (texture->image.empty()) {
        glBindTexture(GL_TEXTURE_2D, 0);
        return;
    }
    GLuint name = 0;
    glGenTextures(1, &name);
    glBindTexture(GL_TEXTURE_2D, name);
    const TextureImage& image = texture->image;
    gluBuild2DMipmaps(GL_TEXTURE_2D, 4, image.width, image.height, GL_RGBA, GL_UNSIGNED_BYTE,
                      image.rgba.data());
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    texture->upload = std::make_unique<GLTextureUpload>(name, cache().contextTag);
    ++cache().changes;
}

unsigned int TextureCache::glName(const Texture& texture) {
    const GLTextureUpload* upload = uploadOf(texture);
    return upload ? upload->name : 0;
}

void TextureCache::release(const Texture& texture) {
    if (GLTextureUpload* upload = uploadOf(texture)) {
        glDeleteTextures(1, &upload->name);
        upload->name = 0;
        texture.upload.reset();
        ++cache().changes;
    }
}

void TextureCache::forget(const Texture& texture) {
    if (GLTextureUpload* upload = uploadOf(texture)) {
        upload->name = 0;
        texture.upload.reset();
        ++cache().changes;
    }
}

void TextureCache::setContextTag(const void* tag) {
    cache().contextTag = tag;
}

const void* TextureCache::contextTag() {
    return cache().contextTag;
}

void TextureCache::deleteReleased() {
    CacheState& state = cache();
    const void* context = state.contextTag;
    std::erase_if(state.released, [context, &state](const ReleasedTexture& r) {
        if (r.context != context)
            return false;
        GLuint name = r.name;
        glDeleteTextures(1, &name);
        ++state.changes;
        return true;
    });
}

void TextureCache::forgetReleased(const void* contextTag) {
    ++cache().changes;
    std::erase_if(cache().released,
                  [contextTag](const ReleasedTexture& r) { return r.context == contextTag; });
}

std::size_t TextureCache::releasedCount() {
    return cache().released.size();
}

int TextureCache::largestSize() {
    // Without a current context the call is a no-op and leaves the value at 0.
    GLint size = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &size);
    glGetError();
    if (size <= 0)
        return kDefaultLargestTexture;
    return std::min(static_cast<int>(size), kMostLargestTexture);
}

std::uint64_t TextureCache::changes() {
    return cache().changes;
}

} // namespace ombrel
