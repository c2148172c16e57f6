#pragma once

#include "base/Vec.h"
#include "grammar/CityCellFactory.h"
#include "grammar/Drawables.h"
#include "grammar/SurfaceLabels.h"

#include <memory>
#include <optional>
#include <string>

namespace ombrel {

// The colour every street cell carries.
inline constexpr Colour kStreetColour = 0x7F7F7F;

// A Street definition of a construction file.
class CityStreetFactory : public CityCellFactory {
public:
    // Its floors' class ("road", "crossing" for crossings) and its material attribute.
    SurfaceDefaults surfaces{std::string(kRoadSurface), {}};

    // The sequence on the rectangle's initial state, with height 0 and the street colour; draws
    // no colour.
    std::unique_ptr<Drawable> createCell(float x0, float y0, float x1, float y1) const override;
};

// A Building definition of a construction file.
class CityBuildingFactory : public CityCellFactory {
public:
    CityBuildingFactory() = default;
    explicit CityBuildingFactory(std::string vrmlTag) : vrmlTag(std::move(vrmlTag)) {}

    // The DEF name template of the building: %X and %Y give the cell's column and row, %% a
    // percent sign. Empty: the building is not named.
    std::string vrmlTag;
    // Its material attribute; its floors keep their own class.
    SurfaceDefaults surfaces;
    // Where the Building element stands in its construction file, for the tag's warning.
    SourcePlace place;

    // Evaluates the sequence on the rectangle with a fresh building colour. low is 0, high the
    // height at which the grammar stopped, colour the building's colour. A tag that does not
    // expand writes "VRML tag error, <why> - ignored" and leaves the building unnamed.
    virtual std::unique_ptr<CompoundDrawable> createBuilding(float x0, float y0, float x1, float y1,
                                                             float& low, float& high,
                                                             Colour& colour) const;
};

// Expands a vrmlTag with the current X and Y codes. On failure returns nothing and records the
// reason as the last tag error: "vrmlTag '%' must be followed by an appropriate code
// character" or "not support vrmlTag code '%Z'".
std::optional<std::string> expandVrmlTag(const std::string& tag);

} // namespace ombrel
