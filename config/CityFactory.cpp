#include "config/CityFactory.h"

namespace ombrel {

CityFactory::CityFactory() {
    lastTextureGroup = std::make_shared<LastTextureGroup>();
}

CityFactory::~CityFactory() = default;

void CityFactory::clear() {
    if (!loaded) {
        return;
    }
    buildings.clear();
    crossStreets.clear();
    horizontalStreets.clear();
    verticalStreets.clear();
    procedures.clear();
    textureGroups.clear();
    inlineTextureGroups.clear();
    loaded = false;
}

} // namespace ombrel
