#include "grammar/DrawFactories.h"

#include "base/Log.h"
#include "grammar/Texture.h"

#include <array>
#include <cmath>

namespace ombrel {

namespace {

// Huge values in a construction file (1e39 reads as the largest float) can push a shape past
// the float range; such a shape would reach the preview and the exported file as "inf" and
// "nan". It is left out with a warning instead, and the state stays as it was.
bool finite(const std::array<Vec2, 4>& corners, std::initializer_list<float> more) {
    for (const Vec2& v : corners) {
        if (!std::isfinite(v.x) || !std::isfinite(v.y)) {
            return false;
        }
    }
    for (const float f : more) {
        if (!std::isfinite(f)) {
            return false;
        }
    }
    return true;
}

std::unique_ptr<Drawable> outOfRange(const char* element, const SourcePlace& place) {
    warningLog.at(place).line(element, " with coordinates out of range ignored");
    return nullptr;
}

} // namespace

std::shared_ptr<Texture> DrawTexturedFactory::pickTexture() const {
    return textureGroup ? textureGroup->pick(place) : nullptr;
}

std::shared_ptr<const SurfaceLabels> DrawTexturedFactory::labelsFor(const GrammarState& state,
                                                                    bool isFloor) const {
    return labelCache_.resolve(labels, state.surfaces, isFloor);
}

std::unique_ptr<Drawable> DrawFloorFactory::create(GrammarState& state) const {
    auto floor = std::make_unique<DrawFloor>();
    floor->texture = pickTexture();
    if (pointingDown) {
        floor->corners = {state.v3, state.v2, state.v1, state.v0};
    } else {
        floor->corners = {state.v0, state.v1, state.v2, state.v3};
    }
    floor->baseHeight = state.height;
    floor->colour = state.colour;
    floor->noColor = noColor;
    floor->labels = labelsFor(state, true);
    if (!finite(floor->corners, {floor->baseHeight})) {
        return outOfRange("DrawFloor", place);
    }
    return floor;
}

std::unique_ptr<Drawable> DrawBoxFactory::create(GrammarState& state) const {
    const float h = height.sample(); // always before the texture pick
    const float top = state.height + h;
    auto box = std::make_unique<DrawBox>();
    box->texture = pickTexture();
    box->corners = {state.v0, state.v1, state.v2, state.v3};
    box->baseHeight = state.height;
    box->topHeight = top;
    box->colour = state.colour;
    box->noColor = noColor;
    box->closed = closed;
    box->labels = labelsFor(state, false);
    if (const Texture* t = box->texture.get()) {
        // Side repeats per 50 units of the edge v0->v1 and per 30 units of box height.
        const Vec2 edge = state.v1 - state.v0;
        const float edgeLength = std::sqrt(edge.x * edge.x + edge.y * edge.y);
        const float widthRepeat = static_cast<float>(static_cast<double>(edgeLength) * 0.02);
        const float heightRepeat = (top - state.height) * 0.033333335f;
        box->repeatS = t->relativeToWidth ? std::ceil(t->scalex * widthRepeat) : t->scalex;
        box->repeatT = t->relativeToHeight ? std::ceil(t->scaley * heightRepeat) : t->scaley;
    }
    if (!finite(box->corners, {box->baseHeight, top, box->repeatS, box->repeatT})) {
        return outOfRange("DrawBox", place);
    }
    state.height = top;
    return box;
}

std::unique_ptr<Drawable> DrawPyramidFactory::create(GrammarState& state) const {
    const float h = height.sample(); // always before the texture pick
    const float top = state.height + h;
    const Vec2 centre = ((state.v0 + state.v1) + state.v2 + state.v3) * 0.25f;

    auto pyramid = std::make_unique<DrawPyramid>();
    pyramid->texture = pickTexture();
    pyramid->corners = {state.v0, state.v1, state.v2, state.v3};
    pyramid->baseHeight = state.height;
    pyramid->colour = state.colour;
    pyramid->noColor = noColor;
    pyramid->labels = labelsFor(state, false);
    pyramid->apex = Vec3{centre.x, centre.y, top};
    if (!finite(pyramid->corners, {pyramid->baseHeight, centre.x, centre.y, top})) {
        return outOfRange("DrawPyramid", place);
    }
    state.height = top;
    return pyramid;
}

} // namespace ombrel
