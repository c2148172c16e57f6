#pragma once

#include "city/CityGenerator.h"
#include "config/TextureImage.h"
#include "config/XmlLibrary.h"
#include "grammar/CityCellFactory.h"
#include "grammar/Texture.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace ombrel {

// Holds one loaded construction file (its parameters, definitions, procedures and textures)
// and generates cities from it (the grid, the definitions and generate() come from
// CityGenerator).
class CityFactory : public CityGenerator {
public:
    // Starts the XML library; throws XmlStartError when it cannot.
    CityFactory();
    ~CityFactory();
    CityFactory(const CityFactory&) = delete;
    CityFactory& operator=(const CityFactory&) = delete;

    // Parses and validates the construction file (UTF-8 path) against xsd/Ombrel.xsd (looked
    // for in the current directory, then beside the program) and rebuilds every definition from
    // it. On failure every problem is in the error log, nothing stays loaded, fileName and the
    // random generator are untouched and false is returned. Texture images are decoded here;
    // relative image paths not found from the current directory are tried beside the file, and
    // each image is stretched to a texture side of at most `largestTexture` (the drawing context's
    // limit; at most kMostLargestTexture).
    bool load(const std::string& path, int largestTexture = kDefaultLargestTexture);
    // Discards the definitions of the last load and sets loaded to false; the parameters,
    // fileName and lastTextureGroup stay. Does nothing when nothing is loaded.
    void clear();

    // Procedure bodies by name. Calls share ownership, so replacing a name keeps the earlier
    // body alive for the Calls bound to it.
    std::map<std::string, std::shared_ptr<BBlockFactory>> procedures;
    // Named and unnamed texture groups, and the one group behind useLastTexture.
    std::map<std::string, std::shared_ptr<TextureGroup>> textureGroups;
    std::vector<std::shared_ptr<TextureGroup>> inlineTextureGroups;
    std::shared_ptr<LastTextureGroup> lastTextureGroup;

    // The path of the last construction file that loaded; empty until one did.
    std::string fileName;
    // True exactly while the definitions of a successful load are present.
    bool loaded = false;
    // True when the last successful load read randomSeed from the file, false when the seed
    // came from the clock.
    bool seedFromFile = false;

private:
    XmlLibrary xml_;
};

} // namespace ombrel
