#pragma once

#include "base/Log.h"
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

// What the drawing code keeps of a texture it has uploaded (its texture object and the context
// that holds it). The core never looks inside; it goes when the texture goes, and its destructor
// tells the drawing code the object may be deleted (see preview/gl/TextureCache.h).
class TextureUpload {
public:
    virtual ~TextureUpload() = default;
};

// One texture of a construction file: the image and how often it repeats across a face.
// Drawables share ownership, so a generated city keeps its textures alive after the definitions
// it came from are reloaded. Loading needs no OpenGL: the drawing code uploads the image the
// first time the texture is bound.
class Texture {
public:
    Texture() = default;
    Texture(std::string path, float scalex, float scaley, bool relativeToWidth,
            bool relativeToHeight);
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

    // Owned by the drawing code that uploaded the image; none while not uploaded.
    mutable std::unique_ptr<TextureUpload> upload;
};

// How the drawables' render binds a texture (null: none) to GL_TEXTURE_2D. The drawing code
// installs its binder (preview/gl's texture cache, which uploads on first use); without one every
// face is drawn untextured. Returns the binder installed before.
using TextureBinder = void (*)(const Texture* texture);
TextureBinder setTextureBinder(TextureBinder binder);
// Binds through the installed binder; needs a current context.
void bindTexture(const Texture* texture);

// Weighted textures; a drawing element picks one each time it runs.
class TextureGroup {
public:
    virtual ~TextureGroup() = default;

    WeightedList<std::shared_ptr<Texture>> textures;

    // One randomUnit draw picks a texture by weight (the first one when the rounded sum stays
    // below the draw or every weight is 0); it becomes lastTexture. A group without textures
    // (all its images failed to load) makes no draw, picks none and leaves lastTexture as it
    // was. `asking` is the drawing element that picks, named by the warnings of a pick.
    virtual std::shared_ptr<Texture> pick(const SourcePlace& asking = SourcePlace()) const;
};

// The group behind useLastTexture: repeats the texture last picked in the current cell.
class LastTextureGroup : public TextureGroup {
public:
    // Makes one randomUnit draw and discards it (so the random sequence advances as for an
    // ordinary group); returns lastTexture, writing "Last texture group used with no last
    // texture" to the warning log, at the asking element, when there is none.
    std::shared_ptr<Texture> pick(const SourcePlace& asking = SourcePlace()) const override;
};

} // namespace ombrel
