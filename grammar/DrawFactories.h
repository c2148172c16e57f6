#pragma once

#include "grammar/DrawFactory.h"
#include "grammar/Drawables.h"
#include "grammar/Range.h"

#include <memory>

namespace ombrel {

class TextureGroup;

// The drawing elements: each run picks a texture (when a group is set) and captures the state
// in a new drawable.
class DrawTexturedFactory : public DrawFactory {
public:
    DrawTexturedFactory(bool noColor, std::shared_ptr<TextureGroup> textureGroup)
        : noColor(noColor), textureGroup(std::move(textureGroup)) {}

    bool noColor;
    std::shared_ptr<TextureGroup> textureGroup; // none: untextured
    // The element's surface, roofSurface and material attributes; empty when it has none.
    SurfaceLabels labels;

protected:
    // textureGroup->pick() when there is a group (one draw), otherwise none without a draw.
    std::shared_ptr<Texture> pickTexture() const;
    // The labels of a new drawable: the element's own, completed by what the definition being
    // run gives (state.surfaces). isFloor: the definition's floor class applies.
    std::shared_ptr<const SurfaceLabels> labelsFor(const GrammarState& state, bool isFloor) const;

private:
    SurfaceLabelCache labelCache_;
};

// DrawFloor: a floor at the current height; the state is unchanged.
class DrawFloorFactory : public DrawTexturedFactory {
public:
    DrawFloorFactory(bool noColor = false, std::shared_ptr<TextureGroup> textureGroup = nullptr,
                     bool pointingDown = false)
        : DrawTexturedFactory(noColor, std::move(textureGroup)), pointingDown(pointingDown) {}

    bool pointingDown;

    std::unique_ptr<Drawable> create(GrammarState& state) const override;
};

// DrawBox: a box from the current height up by height.sample() (drawn before the texture pick);
// the current height becomes its top.
class DrawBoxFactory : public DrawTexturedFactory {
public:
    DrawBoxFactory(bool noColor = false, std::shared_ptr<TextureGroup> textureGroup = nullptr,
                   FloatRange height = FloatRange(), ClosedMode closed = ClosedMode::yes)
        : DrawTexturedFactory(noColor, std::move(textureGroup)), height(height), closed(closed) {}

    FloatRange height;
    ClosedMode closed;

    std::unique_ptr<Drawable> create(GrammarState& state) const override;
};

// DrawPyramid: a pyramid whose apex stands height.sample() above the centre of the corners;
// the current height becomes the apex height.
class DrawPyramidFactory : public DrawTexturedFactory {
public:
    DrawPyramidFactory(bool noColor = false, std::shared_ptr<TextureGroup> textureGroup = nullptr,
                       FloatRange height = FloatRange())
        : DrawTexturedFactory(noColor, std::move(textureGroup)), height(height) {}

    FloatRange height;

    std::unique_ptr<Drawable> create(GrammarState& state) const override;
};

} // namespace ombrel
