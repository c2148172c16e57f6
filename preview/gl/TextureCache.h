#pragma once

#include <cstddef>
#include <cstdint>

namespace ombrel {

class Texture;

// The OpenGL side of the construction file's textures: uploads each image into a texture object
// the first time a drawable binds it, and keeps track of the objects whose Texture died while
// still uploaded (no context need be current when the last drawable lets go of a texture, and
// deleting in the wrong one would hit another context's object), each tagged with its context.
// All of it is the process's, touched only from the thread that draws.
class TextureCache {
public:
    // Makes bind() the drawables' texture binder (see bindTexture). The headless context and the
    // preview window install it when they make their context.
    static void install();

    // Binds the texture to GL_TEXTURE_2D in the current context, uploading the image first
    // (gluBuild2DMipmaps, linear magnification) when it has not been uploaded yet. None, or a
    // texture without an image, binds 0, so the face is drawn untextured. Also deletes the texture
    // objects of textures that died since in the current context.
    static void bind(const Texture* texture);
    // The texture object's name, 0 while not uploaded.
    static unsigned int glName(const Texture& texture);
    // Deletes the texture object; the context it was uploaded in must be current. The next bind
    // uploads again.
    static void release(const Texture& texture);
    // Drops the texture object's name without deleting it, for when its context is already gone.
    static void forget(const Texture& texture);

    // Tags the context that uploads textures now; the preview window and the headless context
    // each set their own, and null stands for a program's only context.
    static void setContextTag(const void* tag);
    static const void* contextTag();
    // Deletes, in the current context, the texture objects that died textures left behind in it.
    static void deleteReleased();
    // Forgets the left-behind texture objects of a context that is being destroyed: they go with
    // it.
    static void forgetReleased(const void* contextTag);
    // Texture objects left behind and not yet deleted or forgotten, in every context.
    static std::size_t releasedCount();

    // The largest texture side to stretch images to in the current context: its
    // GL_MAX_TEXTURE_SIZE, at most kMostLargestTexture; the default when no context is current.
    static int largestSize();

    // Counts every upload and every texture object deleted or forgotten, so that whatever
    // recorded texture names (the preview's compiled city) can tell they may be stale. Only ever
    // grows.
    static std::uint64_t changes();
};

} // namespace ombrel
