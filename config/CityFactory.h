#pragma once

#include "city/CityDefinitions.h"
#include "grammar/CityCellFactory.h"
#include "grammar/DrawFactory.h"
#include "grammar/Texture.h"
#include "grammar/Vec.h"
#include "grammar/WeightedList.h"

#include <cstdint>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace ombrel {

class Progress;
class VRSceneSink;

// Thrown by CityFactory's constructor when the XML library cannot start. what() is the whole
// text to show the user: "Error during Xerces-c Initialization.\n  Exception message:<why>\n".
// The program cannot load construction files without the library and should end.
class XmlStartError : public std::runtime_error {
public:
    explicit XmlStartError(const std::string& message);
};

// Holds one loaded construction file (its parameters, definitions, procedures and textures)
// and generates cities from it.
class CityFactory {
public:
    // One generated city: the buildings with their colours and the roads, in generation order.
    class CityDrawable : public Drawable {
    public:
        CityDrawable() = default;
        // Destroys every building drawable, then every road drawable.
        ~CityDrawable() override;
        CityDrawable(const CityDrawable&) = delete;
        CityDrawable& operator=(const CityDrawable&) = delete;

        std::vector<std::unique_ptr<Drawable>> buildingDrawables;
        std::vector<Colour> buildingColours; // one per building drawable
        std::vector<std::unique_ptr<Drawable>> roadDrawables;

        // Every building, then every road.
        void render() const override;
        // toVrmlScene(false, true).
        VRRef<VRNode> toVrml() const override;
        // A fresh tree rooted in a Group "City_Model" holding the buildings' node (a Group
        // "Buildings" when there are two or more) and, when saveRoads and there are roads, the
        // roads' node ("Roads"). collapseBuildings turns every building into one Shape of its
        // colour, named like the building.
        virtual VRRef<VRNode> toVrmlScene(bool collapseBuildings, bool saveRoads) const;
        // The same tree handed to `sink` piece by piece (one building or road at a time, in
        // writing order), so that it never needs to be in memory whole. Reports the buildings
        // and roads done to `progress` as stage "Exporting" when one is given.
        void toVrmlScene(bool collapseBuildings, bool saveRoads, VRSceneSink& sink,
                         Progress* progress = nullptr) const;
    };

    // What generate() hands back.
    struct Generated {
        std::unique_ptr<CityDrawable> city;
        std::uint32_t seed = 0; // randomState when generation began; reproduces the geometry
        Vec3 minCorner;         // (0, 0, lowest building bottom)
        Vec3 maxCorner;         // (numCellsX * cellSizeX, numCellsY * cellSizeY, highest top)
    };

    // Starts the XML library; throws XmlStartError when it cannot.
    CityFactory();
    // Stops the XML library, then destroys the definitions.
    ~CityFactory();
    CityFactory(const CityFactory&) = delete;
    CityFactory& operator=(const CityFactory&) = delete;

    // Parses and validates the construction file (UTF-8 path) against xsd/Ombrel.xsd (looked
    // for in the current directory, then beside the program) and rebuilds every definition from
    // it. On failure every problem is in the error log, nothing stays loaded, fileName and the
    // random generator are untouched and false is returned. Texture images are decoded here;
    // relative image paths not found from the current directory are tried beside the file.
    bool load(const std::string& path);
    // Discards the definitions of the last load and sets loaded to false; the parameters,
    // fileName and lastTextureGroup stay. Does nothing when nothing is loaded.
    void clear();

    // Builds a city from the current randomState (which the last load set and every generation
    // since has advanced) and writes "Generated city [randomSeed=0x%08X]" to the info log.
    // Never fails; empty definition lists leave cells empty.
    // Reports the columns done to `progress` as stage "Generating" when one is given.
    Generated generate(Progress* progress = nullptr) const;

private:
    void reserveCells(CityDrawable& city, bool streetsOn) const;

public:
    // City parameters.
    std::uint32_t randomSeed = 0;
    std::uint32_t numCellsX = 0;
    std::uint32_t numCellsY = 0;
    std::uint32_t streetEveryX = 0;
    std::uint32_t streetEveryY = 0;
    std::uint32_t firstStreetCrossX = 0;
    std::uint32_t firstStreetCrossY = 0;
    float cellSizeX = 0.0f;
    float cellSizeY = 0.0f;
    float streetSizeX = 0.0f;
    float streetSizeY = 0.0f;

    // Definitions, picked by weight.
    WeightedList<std::unique_ptr<CityBuildingFactory>> buildings;
    WeightedList<std::unique_ptr<CityStreetFactory>> crossStreets;
    WeightedList<std::unique_ptr<CityStreetFactory>> horizontalStreets;
    WeightedList<std::unique_ptr<CityStreetFactory>> verticalStreets;

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
};

} // namespace ombrel
