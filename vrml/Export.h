#pragma once

// Export of a generated city as a VRML 2.0 file: the scene in one of three collapse modes,
// optionally triangulated, with a comment header that records the construction file and the
// seed, so the file says how to make it again.

#include "vrml/VRNode.h"
#include "vrml/VRSceneSink.h"

#include <cstdint>
#include <cstdio>
#include <string>

namespace ombrel {

class Progress;
class TextureUrls;

struct ExportOptions {
    int collapseMode = 0; // 0 "Normal (textured)", 1 "Collapse to building", 2 "Collapse model"
    bool triangulateEverything = true;
    bool saveRoads = true;
};

// The comment lines that follow the first line of an exported file (CR LF line ends): the
// program, its web page, the construction file and the seed. Line breaks inside the path are
// written as spaces so that they cannot end the comment.
std::string exportHeader(const std::string& constructionFile, std::uint32_t randomSeed);

// The scene that an export writes: a root Transform turning the city's z-up coordinates into
// VRML's y-up, holding the "Origin" Viewpoint and the city node built by the collapse mode (a
// mode outside 0..2 is taken as 0). Triangulates every face set when asked.
VRRef<VRTransform> exportScene(const VRSceneSource& city, const ExportOptions& options);

// Writes the scene of exportScene, preceded by the first line and `header`, to an open stream
// without ever holding the city's whole scene graph: the normal and per-building modes write
// building by building, the model mode keeps only the merged faces. Logs nothing (a mode
// outside 0..2 is taken as 0 without a word). Texture urls are the paths the textures are known
// by, or, with `urls`, paths relative to the file being written. Returns false when a write
// failed.
bool writeCityVrml(const VRSceneSource& city, const ExportOptions& options, std::FILE* out,
                   const std::string& header, Progress* progress = nullptr,
                   TextureUrls* urls = nullptr);

// Writes the city as a VRML 2.0 file with the configuration header naming constructionFile and
// randomSeed. Returns false on failure, which is reported on errorLog; an existing file at path
// is then left untouched. The file is opened as ReplacingFile opens it: a device or pipe at path
// is written directly, "-" is standard output, and a read-only file is refused.
// The scene is written piece by piece as it is built, never held whole, so a city of a million
// cells exports in little more memory than the city itself; the bytes are those of exportScene's
// tree, but for the texture urls, which name each image relative to the folder of `path`.
// Reports its steps to `progress` when one is given.
bool exportCity(const VRSceneSource& city, const std::string& path,
                const std::string& constructionFile, std::uint32_t randomSeed,
                const ExportOptions& options, Progress* progress = nullptr);

} // namespace ombrel
