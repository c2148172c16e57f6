#include "export/CityExport.h"

#include "export/TilesetWriter.h"
#include "vrml/VRSceneSink.h"

#include <cctype>
#include <string>

namespace ombrel {

namespace {

bool sameIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

constexpr ExportFormat kFormats[] = {ExportFormat::vrml, ExportFormat::glb,  ExportFormat::gltf,
                                     ExportFormat::obj,  ExportFormat::xodr, ExportFormat::tiles};

// The ending of a tileset's JSON file, which names the tileset's format.
constexpr std::string_view kTilesetEnding = "tileset.json";

} // namespace

const char* formatExtension(ExportFormat format) {
    switch (format) {
    case ExportFormat::glb:
        return "glb";
    case ExportFormat::gltf:
        return "gltf";
    case ExportFormat::obj:
        return "obj";
    case ExportFormat::xodr:
        return "xodr";
    case ExportFormat::tiles:
        return "3dtiles";
    default:
        return "wrl";
    }
}

std::optional<ExportFormat> formatNamed(std::string_view name) {
    for (ExportFormat format : kFormats)
        if (name == formatExtension(format))
            return format;
    return std::nullopt;
}

std::optional<ExportFormat> formatForPath(std::string_view path) {
    const std::size_t slash = path.find_last_of('/');
    const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    if (name.size() >= kTilesetEnding.size() &&
        sameIgnoringCase(name.substr(name.size() - kTilesetEnding.size()), kTilesetEnding))
        return ExportFormat::tiles;
    const std::size_t dot = name.find_last_of('.');
    if (dot == std::string_view::npos || dot == 0)
        return std::nullopt;
    for (ExportFormat format : kFormats)
        if (sameIgnoringCase(name.substr(dot + 1), formatExtension(format)))
            return format;
    return std::nullopt;
}

bool saveCity(const VRSceneSource& city, const std::string& path, const CityRecord& record,
              const ExportOptions& options, Progress* progress, CommitGroup* together) {
    switch (options.format) {
    case ExportFormat::glb:
    case ExportFormat::gltf:
        return exportCityGltf(city, path, record, options, progress, together);
    case ExportFormat::obj:
        return exportCityObj(city, path, record, options, progress, together);
    case ExportFormat::xodr:
        return exportCityOpenDrive(path, record, progress, together);
    case ExportFormat::tiles: {
        TilesetOptions tiles;
        tiles.exportOptions = options;
        return exportCityTiles(city, path, record, tiles, progress, together);
    }
    default:
        return exportCity(city, path, record.constructionFile, record.seed, options, progress,
                          together);
    }
}

} // namespace ombrel
