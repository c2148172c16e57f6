#pragma once

#include "base/Log.h"
#include "grammar/GrammarState.h"
#include "vrml/VRRef.h"

#include <cstddef>
#include <memory>

namespace ombrel {

class GeometrySink;
class VRNode;

// A piece of generated geometry: drawn by the preview and turned into VRML by the export.
class Drawable {
public:
    virtual ~Drawable() = default;

    // Drawables are cut from the process's drawable arena (grammar/DrawableArena.h): a city
    // holds millions of them, made and freed together.
    static void* operator new(std::size_t size);
    static void operator delete(void* piece) noexcept;
    // Draws into the current OpenGL context with immediate-mode calls.
    virtual void render() const = 0;
    // A new VRML node tree holding one reference, owned by the caller; the drawable keeps
    // nothing of it. May be empty when there is nothing to export.
    virtual VRRef<VRNode> toVrml() const = 0;
    // Hands `sink` the faces that render draws, in the same order, with the same corners,
    // texture coordinates, textures and colours, so that they can be drawn from buffers instead.
    // Returns false when the drawable, or a part of it, cannot tell: it is then to be drawn with
    // render, and what it handed over so far dropped.
    virtual bool collect(GeometrySink& sink) const;
};

// A grammar element, built once from a construction file and evaluated afresh for every cell.
class DrawFactory {
public:
    virtual ~DrawFactory() = default;
    // Evaluates the element on the state, which it may change. Returns the drawable it made, or
    // none. Never fails: what it cannot do goes to the warning log, at `place`, and it does
    // nothing.
    virtual std::unique_ptr<Drawable> create(GrammarState& state) const = 0;

    // Where the element stands in its construction file; no place for elements made in code.
    SourcePlace place;
};

} // namespace ombrel
