#include "grammar/SurfaceLabels.h"

namespace ombrel {

std::shared_ptr<const SurfaceLabels> SurfaceLabelCache::resolve(const SurfaceLabels& own,
                                                                const SurfaceDefaults* defaults,
                                                                bool isFloor) const {
    const bool floorFromDefinition =
        isFloor && own.surface.empty() && defaults && !defaults->floorSurface.empty();
    const bool materialFromDefinition =
        own.material.empty() && defaults && !defaults->material.empty();
    if (own.empty() && !floorFromDefinition && !materialFromDefinition) {
        return nullptr;
    }
    const std::string& surface = floorFromDefinition ? defaults->floorSurface : own.surface;
    const std::string& material = materialFromDefinition ? defaults->material : own.material;
    for (const auto& made : made_) {
        if (made->surface == surface && made->material == material &&
            made->roofSurface == own.roofSurface) {
            return made;
        }
    }
    made_.push_back(
        std::make_shared<const SurfaceLabels>(SurfaceLabels{surface, own.roofSurface, material}));
    return made_.back();
}

} // namespace ombrel
