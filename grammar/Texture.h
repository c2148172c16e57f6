#pragma once

#include "grammar/WeightedList.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace ombrel {

// A decoded texture image: RGBA bytes, rows from the bottom up (as OpenGL wants them), with
// power-of-two width and height. Empty when the image could not be loaded.
struct TextureImage {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgba; // width * height * 4 bytes

    bool empty() const {
        return width <= 0 || height <= 0 ||
               rgba.size() < static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4;
    }
};

// One texture of a construction file: the image and how often it repeats across a face.
// The image is uploaded to OpenGL lazily, the first time the texture is bound with a context
// current, so loading needs no window. Drawables share ownership, so a generated city keeps its
// textures alive after the definitions it came from are reloaded.
class Texture {
public:
    Texture() = default;
    Texture(std::string path, float scalex, float scaley, bool relativeToWidth,
            bool relativeToHeight);
    // No context need be current: an uploaded texture object is left for the next bind in its
    // context to delete (deleteReleasedTextures), so reloading never leaks texture memory.
    ~Texture();
    Texture(const Texture&) = delete;
    Texture& operator=(const Texture&) = delete;

    // The imageURL text as written, or the full path of a file found through a pattern; the
    // exported model names the image by it.
    std::string path;
    float scalex = 1.0f;
    float scaley = 1.0f;
    bool relativeToWidth = false;
    bool relativeToHeight = false;
    TextureImage image;

    // Binds the texture to GL_TEXTURE_2D in the current context, uploading the image first
    // (gluBuild2DMipmaps, linear magnification) when it has not been uploaded yet. A texture
    // without an image binds 0, so the face is drawn untextured. Needs a current context; it
    // also deletes the texture objects of textures that died since (see the destructor).
    // Uploads and deletions count in processState().textureObjectChanges.
    void bind() const;
    // The OpenGL texture name, 0 while not uploaded.
    unsigned int glName() const { return glName_; }
    // Deletes the OpenGL texture object; the context it was uploaded in must be current. The
    // next bind uploads again.
    void releaseGL();
    // Drops the texture name without deleting it, for when its context is already gone.
    void forgetGL();

    // Deletes, in the current context, the texture objects that died textures left behind in
    // it (the context tagged processState().glContextTag).
    static void deleteReleasedTextures();
    // Forgets the left-behind texture objects of a context that is being destroyed: they go
    // with it.
    static void forgetReleasedTextures(const void* contextTag);

private:
    mutable unsigned int glName_ = 0;
    mutable const void* glContext_ = nullptr; // tag of the context holding glName_
};

// Weighted textures; a drawing element picks one each time it runs.
class TextureGroup {
public:
    virtual ~TextureGroup() = default;

    WeightedList<std::shared_ptr<Texture>> textures;

    // One randomUnit draw picks a texture by weight (the first one when the rounded sum stays
    // below the draw or every weight is 0); it becomes lastTexture. A group without textures
    // (all its images failed to load) makes no draw, picks none and leaves lastTexture as it
    // was.
    virtual std::shared_ptr<Texture> pick() const;
};

// The group behind useLastTexture: repeats the texture last picked in the current cell.
class LastTextureGroup : public TextureGroup {
public:
    // Makes one randomUnit draw and discards it (so the random sequence advances as for an
    // ordinary group); returns lastTexture, writing "Last texture group used with no last
    // texture" to the warning log when there is none.
    std::shared_ptr<Texture> pick() const override;
};

} // namespace ombrel
