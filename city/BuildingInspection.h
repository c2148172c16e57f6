#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ombrel {

class CityDrawable;

// The building of `city` standing in the cell (column, row), by its number; none when the cell
// holds no building.
std::optional<std::size_t> buildingInCell(const CityDrawable& city, std::uint32_t column,
                                          std::uint32_t row);

// What made building `index` of the city, as the log tells it when the building is selected in
// the preview, one line each (without line ends):
//   "Selected the building in column C, row R: height H, vrmlTag name NAME, definition PLACE"
//   where PLACE is the definition's "FILE:LINE" ("no vrmlTag name" for a building without a
//   name, "definition unknown" when the city does not know it), then for each drawing element that
//   drew the building, in drawing order, "Drawn by KIND at PLACE: CLASSES; material MATERIALS"
//   where KIND is DrawBox, DrawFloor or DrawPyramid, PLACE file:line:column ("an unknown place" for
//   drawables made in code), CLASSES and MATERIALS the surface classes and material names of its
//   faces in the order met, joined by ", ", and "; no material" when its faces have none.
// Empty for a number that names no building.
std::vector<std::string> describeBuilding(const CityDrawable& city, std::size_t index);

} // namespace ombrel
