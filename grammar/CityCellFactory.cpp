#include "grammar/CityCellFactory.h"

#include "grammar/BuildingColour.h"
#include "grammar/Drawables.h"

namespace ombrel {

CityCellFactory::~CityCellFactory() = default;

std::unique_ptr<Drawable> CityCellFactory::create(GrammarState& state) const {
    return sequence(state);
}

std::unique_ptr<Drawable> CityCellFactory::createCell(float x0, float y0, float x1,
                                                      float y1) const {
    GrammarState state = GrammarState::forRect(x0, y0, x1, y1, randomBuildingColour());
    beginCell();
    return create(state);
}

std::unique_ptr<CompoundDrawable> CityCellFactory::sequence(GrammarState& state) const {
    auto compound = std::make_unique<CompoundDrawable>();
    compound->children.reserve(children.size());
    for (const auto& child : children) {
        if (!takeStep()) {
            break;
        }
        if (std::unique_ptr<Drawable> result = child->create(state)) {
            compound->append(std::move(result));
        }
    }
    return compound;
}

} // namespace ombrel
