#pragma once

// Export of a generated city as a VRML 2.0 file: the scene in one of three collapse modes,
// optionally triangulated, with a comment header that records the construction file and the
// seed, so the file says how to make it again.

#include "vrml/VRNode.h"
#include "vrml/VRSceneSink.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace ombrel {

class CommitGroup;
class Progress;
class TextureUrls;

// How much of the city's structure an export keeps. The values are those the "collapseMode"
// setting stores.
enum class CollapseMode {
    normal = 0,   // "Normal (textured)": every building keeps its shapes, textures and colours
    building = 1, // "Collapse to building": one Shape per building in its colour, no texture
    model = 2,    // "Collapse model": the whole model one grey Shape
};

// The mode a stored setting names. A value outside 0..2 (a stored setting can be one) is taken
// as normal, with the warning "Unknown collapse mode N, exporting as Normal (textured)".
CollapseMode collapseModeFromSetting(int value);

// The kind of file an export writes.
enum class ExportFormat {
    vrml,  // VRML 2.0 text (.wrl)
    glb,   // binary glTF 2.0, one file with its images (.glb)
    gltf,  // glTF 2.0 JSON with .bin files beside it (.gltf)
    obj,   // Wavefront OBJ with its .mtl beside it (.obj)
    xodr,  // the street network as OpenDRIVE 1.6 (.xodr), no geometry
    tiles, // an OGC 3D Tiles 1.1 tileset: a folder named by its tileset.json
};

// Where a tileset puts the city's origin corner on the globe: degrees of WGS84 latitude and
// longitude, metres above the ellipsoid.
struct GeoOrigin {
    double latitude = 0.0;
    double longitude = 0.0;
    double height = 0.0;
    friend bool operator==(const GeoOrigin&, const GeoOrigin&) = default;
};

// Whether the glTF and OBJ exports gather buildings into larger objects.
enum class MergeMode {
    none,   // every building an object of its own
    blocks, // the buildings of one street block one object, each still told apart inside it
};

struct ExportOptions {
    CollapseMode collapseMode = CollapseMode::normal;
    bool triangulateEverything = true; // every face cut into triangles (glTF always is)
    bool saveRoads = true;             // the roads exported with the buildings
    ExportFormat format = ExportFormat::vrml;
    MergeMode merge = MergeMode::none; // glTF and OBJ only; the VRML keeps its buildings
    GeoOrigin origin{};                // tilesets only
};

// True when the export gathers buildings by block: merge is blocks, the format glTF or OBJ
// and the buildings not collapsed into one model.
bool mergesBlocks(const ExportOptions& options);

// The line logged after "Saved as ... to PATH": the collapse mode and the options in brackets,
// such as "(normal, textured, triangulated, with roads)" or "(collapse model, not triangulated,
// without roads)"; ", blocks merged" before the bracket when mergesBlocks.
std::string describeExport(const ExportOptions& options);

// What every format's export logs when it is done: "Saved as <format> to PATH", then the
// describeExport line.
void logSaved(std::string_view format, const std::string& path, const ExportOptions& options);
// What every format's export logs when it fails: "Could not save <format> to PATH: REASON".
void logSaveFailure(std::string_view format, const std::string& path, const std::string& reason);

// The comment lines that follow the first line of an exported file (CR LF line ends): the
// program, its web page, the construction file and the seed. Line breaks inside the path are
// written as spaces so that they cannot end the comment.
std::string exportHeader(const std::string& constructionFile, std::uint32_t randomSeed);

// Writes the exported scene, preceded by the first line and `header`, to an open stream: a root
// Transform turning the city's z-up coordinates into VRML's +Y up, holding the "Origin"
// Viewpoint and the city node built by the collapse mode, every face triangulated when asked.
// The city's whole scene graph is never held: the normal and per-building modes write building
// by building, the model mode keeps only the merged faces. Logs nothing. Texture urls are the
// paths the textures are known by, or, with `urls`, paths relative to the file being written.
// Returns false when a write failed.
bool writeCityVrml(const VRSceneSource& city, const ExportOptions& options, std::FILE* out,
                   const std::string& header, Progress* progress = nullptr,
                   TextureUrls* urls = nullptr);

// Writes the city as a VRML 2.0 file with the configuration header naming constructionFile and
// randomSeed. Returns false on failure, which is reported on errorLog; an existing file at path
// is then left untouched. The file is opened as ReplacingFile opens it: a device or pipe at path
// is written directly, "-" is standard output, and a read-only file is refused.
// The scene is written piece by piece as it is built, never held whole, so a city of a million
// cells exports in little more memory than the city itself. Texture urls name each image
// relative to the folder of `path`.
// Reports its steps to `progress` when one is given. With `together`, the finished file is
// handed to that group instead of being put in place: it replaces the target, and "Saved as" is
// logged, when the group is committed with the other outputs of the same run.
bool exportCity(const VRSceneSource& city, const std::string& path,
                const std::string& constructionFile, std::uint32_t randomSeed,
                const ExportOptions& options, Progress* progress = nullptr,
                CommitGroup* together = nullptr);

} // namespace ombrel
