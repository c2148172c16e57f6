#include "grammar/Texture.h"

#include "base/Log.h"
#include "grammar/ProcessState.h"
#include "grammar/Random.h"

#include <GL/gl.h>
#include <GL/glu.h>

#include <utility>
#include <vector>

namespace ombrel {

Texture::Texture(std::string path_, float scalex_, float scaley_, bool relativeToWidth_,
                 bool relativeToHeight_)
    : path(std::move(path_)), scalex(scalex_), scaley(scaley_), relativeToWidth(relativeToWidth_),
      relativeToHeight(relativeToHeight_) {}

// The texture object is not deleted here: no context need be current when the last drawable
// lets go of a texture, and deleting in the wrong one would hit another context's object.
Texture::~Texture() {
    if (glName_ != 0) {
        processState().releasedTextures.push_back({glContext_, glName_});
    }
}

void Texture::deleteReleasedTextures() {
    ProcessState& process = processState();
    auto& released = process.releasedTextures;
    const void* context = process.glContextTag;
    std::erase_if(released, [context, &process](const ProcessState::ReleasedTexture& r) {
        if (r.context != context) {
            return false;
        }
        GLuint name = r.name;
        glDeleteTextures(1, &name);
        ++process.textureObjectChanges;
        return true;
    });
}

void Texture::forgetReleasedTextures(const void* contextTag) {
    ++processState().textureObjectChanges;
    std::erase_if(
        processState().releasedTextures,
        [contextTag](const ProcessState::ReleasedTexture& r) { return r.context == contextTag; });
}

void Texture::bind() const {
    if (!processState().releasedTextures.empty()) {
        deleteReleasedTextures();
    }
    if (glName_ == 0 && !image.empty()) {
        GLuint name = 0;
        glGenTextures(1, &name);
        glBindTexture(GL_TEXTURE_2D, name);
        gluBuild2DMipmaps(GL_TEXTURE_2D, 4, image.width, image.height, GL_RGBA, GL_UNSIGNED_BYTE,
                          image.rgba.data());
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        glName_ = name;
        glContext_ = processState().glContextTag;
        ++processState().textureObjectChanges;
        return;
    }
    glBindTexture(GL_TEXTURE_2D, glName_);
}

void Texture::releaseGL() {
    if (glName_ != 0) {
        GLuint name = glName_;
        glDeleteTextures(1, &name);
        glName_ = 0;
        ++processState().textureObjectChanges;
    }
}

void Texture::forgetGL() {
    if (glName_ != 0) {
        glName_ = 0;
        ++processState().textureObjectChanges;
    }
}

std::shared_ptr<Texture> TextureGroup::pick() const {
    if (textures.empty()) {
        // Every texture of the group was left out (its patterns matched nothing, or no image
        // loaded): there is nothing to choose from, so no draw is made and the last texture
        // stays the one picked before.
        return nullptr;
    }
    const std::shared_ptr<Texture>& chosen = pickWeighted(textures);
    std::shared_ptr<Texture>& last = processState().lastTexture;
    if (last != chosen) {
        last = chosen;
    }
    return chosen;
}

std::shared_ptr<Texture> LastTextureGroup::pick() const {
    randomUnit();
    std::shared_ptr<Texture>& last = processState().lastTexture;
    if (!last) {
        warningLog.line("Last texture group used with no last texture");
    }
    return last;
}

} // namespace ombrel
