#pragma once

// A city as an OGC 3D Tiles 1.1 tileset: tileset.json, an implicit quadtree aligned to the cell
// grid whose availability and tile bounds are in subtrees/{level}.{x}.{y}.subtree, binary glTF
// content in tiles/{level}/{x}/{y}.glb and the images in textures/. The leaves (the deepest
// level) hold a square block of cells each, as the glTF export has them; the level above holds
// every building as its box in its colour and the roads as flat strips; the levels above that
// merge the buildings of ever larger squares of cells into one box each, and drop the low ones.
// Every building is a feature with its number, cell, height and name at every level.
//
// The tileset is written band by band, a band being the columns of one column of leaf tiles,
// so a city can hand over its pieces a band at a time and free them: the writer keeps a summary
// of every building and road (its box, colour and identity) for the coarse levels, written when
// the last band is in.

#include "export/BuildingFeatures.h"
#include "export/StreetNetwork.h"
#include "export/TileContent.h"
#include "vrml/Export.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

namespace ombrel {

class CommitGroup;
class Progress;
class StagedFolder;
class VRSceneSource;
struct CityRecord;

struct TilesetOptions {
    // The collapse mode, the roads and the origin on the globe; triangulation is always on.
    ExportOptions exportOptions;
    std::uint32_t leafCells = 0;           // a leaf tile's width in cells; 0: kDefaultLeafCells
    std::uint32_t subtreeLevels = 0;       // levels per subtree file; 0: chosen by the tree's depth
    std::string rootName = "tileset.json"; // the name of the tileset's JSON in its folder
};

inline constexpr std::uint32_t kDefaultLeafCells = 8;

// The width of a leaf tile in cells for a grid: the multiple of the streets' period (in both
// directions) nearest to kDefaultLeafCells, so that every leaf spans the same length of city and
// the quadtree's halving of the root falls on the leaves' edges; kDefaultLeafCells when the
// period is longer than twice that.
std::uint32_t defaultLeafCells(const StreetGrid& grid);

// The east-north-up frame at a point of the WGS84 ellipsoid as a 4 x 4 matrix from that frame
// (metres, x east, y north, z up) to earth-centred earth-fixed coordinates, column-major as
// 3D Tiles' `transform` holds it.
std::array<double, 16> enuToEcef(const GeoOrigin& origin);

class TilesetWriter {
public:
    // Writes into `folder`, which must exist (an empty staging folder, or the tileset's folder).
    TilesetWriter(std::string folder, const TilesetOptions& options, const StreetGrid& grid);
    ~TilesetWriter();
    TilesetWriter(const TilesetWriter&) = delete;
    TilesetWriter& operator=(const TilesetWriter&) = delete;

    // A leaf tile's width in cells: bands are this many columns wide.
    std::uint32_t bandColumns() const { return leafCells_; }

    // The pieces of the cells in columns [first, end) of `city` (first a multiple of
    // bandColumns(), bands in order, end = min(first + bandColumns(), numCellsX)): writes their
    // leaf tiles and keeps a summary of every building and road. False when a file could not be
    // written (reason()).
    bool addBand(const VRSceneSource& city, std::uint32_t first, std::uint32_t end,
                 Progress* progress = nullptr);

    // Writes the coarse levels, the subtrees and tileset.json (naming record's construction
    // file and seed). False when a file could not be written (reason()).
    bool finish(const CityRecord& record, Progress* progress = nullptr);

    // Why the last call failed.
    const std::string& reason() const { return reason_; }

    // The tree: the leaf level (the root is level 0) and the levels per subtree.
    std::uint32_t leafLevel() const { return leafLevel_; }
    std::uint32_t subtreeLevels() const { return subtreeLevels_; }

private:
    // What the writer keeps of a building or road for the coarse levels.
    struct Summary {
        std::uint32_t number = 0, column = 0, row = 0; // a road's number unused
        float height = 0.0f;
        std::uint64_t nameStart = 0; // its name in names_: a city has many, mostly short
        std::uint32_t nameLength = 0;
        std::uint32_t definition = 0; // in definitions_
        CityBox box;
        Vec3 colour{0.5f, 0.5f, 0.5f};
        bool road = false;
    };
    BuildingFeature featureOf(const Summary& s) const;
    struct Tile {
        CityBox bounds; // of its content and its children's bounds
        double error = 0.0;
        bool content = false;
        bool available = false;
    };
    class BandSink;

    std::size_t tileIndex(std::uint32_t level, std::uint32_t x, std::uint32_t y) const;
    std::string imageUri(const std::string& image);
    bool writeFile(const std::string& relative, const void* data, std::size_t n);
    bool writeFile(const std::string& relative, const std::function<bool(std::FILE*)>& write);
    bool writeTile(std::uint32_t level, std::uint32_t x, std::uint32_t y,
                   const TileContent& content);
    bool writeCoarseLevel(std::uint32_t level);
    bool writeSubtrees();
    bool writeTilesetJson(const CityRecord& record);

    std::string folder_;
    TilesetOptions options_;
    StreetGrid grid_;
    std::uint32_t leafCells_;
    std::uint32_t leafLevel_ = 0;
    std::uint32_t subtreeLevels_ = 1;
    std::vector<std::vector<Tile>> levels_; // level k: 2^k x 2^k tiles, x + y * 2^k
    std::deque<Summary> summaries_;         // grows without moving what it holds
    std::deque<char> names_;                // the buildings' names one after the other
    // The buildings' definitions, each once (a city has few), and their places in it.
    std::vector<std::string> definitions_;
    std::unordered_map<std::string, std::uint32_t> definitionLookup_;
    std::map<std::string, std::string> images_; // an image's path: its URI from the folder
    std::set<std::string> madeFolders_;         // folders made for the files written
    std::string reason_;
    bool failed_ = false;
};

// One tileset export: the one path of the export of a city held whole and of a city handed over
// band by band as it is generated. The tileset is written into a staging folder beside the
// tileset's folder (the folder of `path`, a name ending in tileset.json) and takes that folder's
// place only when complete (StagedFolder): a failure or an interrupt leaves the previous tileset
// as it was, and a folder that holds anything but an Ombrel tileset is refused untouched. Every
// failure is logged as "Could not save 3D Tiles to PATH: REASON", and the calls after it do
// nothing and return false.
class TilesetExport {
public:
    TilesetExport(std::string path, const TilesetOptions& options);
    ~TilesetExport();
    TilesetExport(const TilesetExport&) = delete;
    TilesetExport& operator=(const TilesetExport&) = delete;

    // Checks and stages the folder and starts the writer for `grid`. False when the folder is
    // refused ("DIR is not a tileset folder") or cannot be staged.
    bool begin(const StreetGrid& grid);
    // The columns of a band (see TilesetWriter::bandColumns); 1 before begin().
    std::uint32_t bandColumns() const;
    // See TilesetWriter::addBand.
    bool addBand(const VRSceneSource& city, std::uint32_t first, std::uint32_t end,
                 Progress* progress = nullptr);
    // Writes the coarse levels, subtrees and tileset.json, then puts the folder in place and logs
    // "Saved as 3D Tiles to PATH" and the options line; with `together` the folder is handed to
    // that group instead, to take its place (and be logged) when the group is committed.
    bool finish(const CityRecord& record, Progress* progress = nullptr,
                CommitGroup* together = nullptr);

private:
    bool failWith(const std::string& reason);

    std::string path_;
    TilesetOptions options_;
    std::unique_ptr<StagedFolder> folder_;
    std::unique_ptr<TilesetWriter> writer_;
};

// The export of a city the caller holds, band by band through a TilesetExport: a tileset in the
// folder of `path`. See saveCity for `together`.
bool exportCityTiles(const VRSceneSource& city, const std::string& path, const CityRecord& record,
                     const TilesetOptions& options, Progress* progress = nullptr,
                     CommitGroup* together = nullptr);

} // namespace ombrel
