#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace ombrel {

// The surface classes faces get from what drew them when no element names one.
inline constexpr std::string_view kWallSurface = "wall";
inline constexpr std::string_view kRoofSurface = "roof";
inline constexpr std::string_view kFloorSurface = "floor";
inline constexpr std::string_view kRoadSurface = "road";
inline constexpr std::string_view kCrossingSurface = "crossing";

// What a drawing element says about the faces it draws: a surface class for all of them, one
// for a box's top, and the physical material's name. Empty: not said (the element's own class,
// no material).
struct SurfaceLabels {
    std::string surface;
    std::string roofSurface;
    std::string material;

    bool empty() const { return surface.empty() && roofSurface.empty() && material.empty(); }
    friend bool operator==(const SurfaceLabels&, const SurfaceLabels&) = default;
};

// What a street or building definition gives the drawing elements it runs, procedures called
// from it included: the class of a floor that names none, and the material of the elements
// that name none. Empty: not given.
struct SurfaceDefaults {
    std::string floorSurface;
    std::string material;
};

// The labels a drawing element's faces carry, shared by the drawables it makes: an element
// draws with few distinct combinations of its own labels and its definition's defaults, so
// each combination is made once and handed out again. Not thread-safe, like generation.
class SurfaceLabelCache {
public:
    // `own` completed by `defaults` (when there are any): the element's own words win. None
    // when nothing is said, so that files without labels cost nothing.
    std::shared_ptr<const SurfaceLabels>
    resolve(const SurfaceLabels& own, const SurfaceDefaults* defaults, bool isFloor) const;

private:
    mutable std::vector<std::shared_ptr<const SurfaceLabels>> made_;
};

} // namespace ombrel
