#pragma once

#include "base/Vec.h"
#include "grammar/DrawFactory.h"
#include "grammar/DrawableArena.h"
#include "grammar/GeometrySink.h"
#include "grammar/SurfaceLabels.h"

#include <array>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace ombrel {

class Texture;
class VRAppearance;
class VRIndexedFaceSet;

// Which caps a box has. The bottom exists for onlyBottom and yes, the top for onlyTop and yes.
enum class ClosedMode : int { onlyTop = 0, onlyBottom = 1, yes = 2, no = 3 };

inline bool hasBottom(ClosedMode m) {
    return m == ClosedMode::onlyBottom || m == ClosedMode::yes;
}
inline bool hasTop(ClosedMode m) {
    return m == ClosedMode::onlyTop || m == ClosedMode::yes;
}

// What the three primitives share: a copy of the state they were made on and their texture.
class DrawableBase : public Drawable {
public:
    std::array<Vec2, 4> corners{};
    float baseHeight = 0.0f;
    std::shared_ptr<Texture> texture; // none: untextured
    Colour colour = 0;
    bool noColor = false;
    // What the element that drew it said about its faces; none: the classes of what it draws,
    // no material.
    std::shared_ptr<const SurfaceLabels> labels;

protected:
    // Binds the texture (or 0), opens glBegin(mode) and sets the colour: white with noColor,
    // otherwise the colour word's bytes as signed bytes.
    void beginRender(unsigned int mode) const;
    // A face with what beginRender sets: the texture, white or the colour; the surface class is
    // the labels' when they name one, otherwise `surface`, and the material the labels'.
    Face beginFace(bool triangle, std::string_view surface) const;
    // The Shape's Appearance: a Material of the colour unless noColor, an ImageTexture naming
    // the texture's path when there is one.
    VRRef<VRAppearance> makeAppearance() const;
    // Gives the faces of the drawable's face set the surface classes and materials that collect
    // gives them, for the exports that keep them (the VRML file does not).
    void labelFaces(VRIndexedFaceSet& faces) const;
};

// A flat quadrilateral at baseHeight; corners are kept in drawing order. Its face is a "floor"
// unless the labels say otherwise (a street's floors are labelled "road" or "crossing").
class DrawFloor : public DrawableBase {
public:
    void render() const override;
    VRRef<VRNode> toVrml() const override;
    bool collect(GeometrySink& sink) const override;
};

// A prism from baseHeight to topHeight standing on the quadrilateral: its sides are "wall", its
// top "roof" and its bottom "floor"; the labels' surface names all of them, their roofSurface
// the top alone.
class DrawBox : public DrawableBase {
public:
    float topHeight = 0.0f;
    float repeatS = 0.0f; // texture repeats on the side faces
    float repeatT = 0.0f;
    ClosedMode closed = ClosedMode::yes;

    void render() const override;
    VRRef<VRNode> toVrml() const override;
    bool collect(GeometrySink& sink) const override;
};

// A four-sided pyramid on the quadrilateral, without a bottom face; its faces are "roof" unless
// the labels say otherwise.
class DrawPyramid : public DrawableBase {
public:
    Vec3 apex; // x, y and height

    void render() const override;
    VRRef<VRNode> toVrml() const override;
    bool collect(GeometrySink& sink) const override;
};

// What every grammar sequence returns: its children in order.
class CompoundDrawable : public Drawable {
public:
    // Kept in the drawable arena with the drawables themselves.
    std::vector<std::unique_ptr<Drawable>, DrawableArenaAllocator<std::unique_ptr<Drawable>>>
        children;
    // The DEF name of the exported Group; set from a building's vrmlTag.
    std::string vrmlName;

    void append(std::unique_ptr<Drawable> child) { children.push_back(std::move(child)); }

    void render() const override;
    bool collect(GeometrySink& sink) const override;
    // One child: that child's node itself (the name is not used). Otherwise a Group named
    // vrmlName (when not empty) holding the children's nodes, with their parent links set.
    VRRef<VRNode> toVrml() const override;
};

// A colour word as a VRML diffuseColor: each byte times the float nearest 1/127.
Vec3 colourToDiffuse(Colour colour);

// Builds the node that a list of drawables exports as, the way CompoundDrawable does: exactly
// one drawable gives its own node, otherwise a Group with the given DEF name (none when empty).
VRRef<VRNode> drawablesToVrml(std::span<const std::unique_ptr<Drawable>> drawables,
                              const std::string& name);

} // namespace ombrel
