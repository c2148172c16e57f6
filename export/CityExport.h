#pragma once

// Saving a generated city in the format its options name: VRML 2.0, glTF 2.0 (.glb or .gltf)
// or Wavefront OBJ, from the scene the city hands over piece by piece; or the city's streets as
// an OpenDRIVE road network.

#include "base/Vec.h"
#include "export/StreetNetwork.h"
#include "vrml/Export.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ombrel {

class CommitGroup;
class Progress;
class VRSceneSource;

// What an export records of the city besides its scene.
struct CityRecord {
    std::string constructionFile; // the construction file's path as loaded
    std::uint32_t seed = 0;
    Vec3 minCorner;                    // the city's bounding box: (0, 0, lowest bottom) ..
    Vec3 maxCorner;                    // .. (width, depth, highest top)
    std::optional<StreetGrid> streets; // the grid the city was generated on
};

// The format a file name's extension names (".wrl", ".glb", ".gltf", ".obj" or ".xodr", in any
// letter case), or 3D Tiles for a name ending in "tileset.json"; none for any other.
std::optional<ExportFormat> formatForPath(std::string_view path);
// The format named "wrl", "glb", "gltf", "obj", "xodr" or "3dtiles"; none for any other.
std::optional<ExportFormat> formatNamed(std::string_view name);
// The extension of a format without the dot: "wrl", "glb", "gltf", "obj", "xodr"; a tileset's
// name, "3dtiles".
const char* formatExtension(ExportFormat format);

// Writes the city to path in options.format. Returns false on failure, which is reported on
// errorLog; nothing written by a failed export stays behind and files it would have replaced
// are untouched. Every file is written as ReplacingFile writes it, and the files of one export
// (a .gltf and its .bin files, an .obj and its .mtl) take their places together, as CommitGroup
// places them: all or none. On success logs "Saved as VRML|glTF|OBJ to PATH" and the line of
// describeExport (OpenDRIVE: "Saved as OpenDRIVE to PATH" and the size of the network). With
// `together`, the finished files are handed to that group instead: they take their places, and the
// success is logged, when it is committed (true means written).
bool saveCity(const VRSceneSource& city, const std::string& path, const CityRecord& record,
              const ExportOptions& options, Progress* progress = nullptr,
              CommitGroup* together = nullptr);

// The glTF export (.glb or .gltf by options.format); see saveCity.
bool exportCityGltf(const VRSceneSource& city, const std::string& path, const CityRecord& record,
                    const ExportOptions& options, Progress* progress = nullptr,
                    CommitGroup* together = nullptr);
// The street network of the city's grid (record.streets) as OpenDRIVE; see saveCity. A city
// without streets has no network: "Could not save OpenDRIVE to PATH: the city has no streets"
// is logged and nothing is written.
bool exportCityOpenDrive(const std::string& path, const CityRecord& record,
                         Progress* progress = nullptr, CommitGroup* together = nullptr);
// The OBJ export with its .mtl; see saveCity.
bool exportCityObj(const VRSceneSource& city, const std::string& path, const CityRecord& record,
                   const ExportOptions& options, Progress* progress = nullptr,
                   CommitGroup* together = nullptr);

} // namespace ombrel
