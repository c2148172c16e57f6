#include "export/TilesetWriter.h"

#include "base/Log.h"
#include "base/Progress.h"
#include "base/Version.h"
#include "export/CityExport.h"
#include "export/ImageEmbed.h"
#include "export/Output.h"
#include "export/SceneFaces.h"
#include "vrml/CommitGroup.h"
#include "vrml/StagedFolder.h"
#include "vrml/TilesetFolder.h"
#include "vrml/Triangulate.h"
#include "vrml/VRSceneSink.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <numeric>
#include <optional>
#include <unordered_map>

namespace ombrel {

namespace {

void appendUint(std::string& out, std::uint64_t value) {
    char text[24];
    out.append(text, std::to_chars(text, text + sizeof text, value).ptr);
}

// The shortest text that reads back as the same double, whatever the locale.
void appendDouble(std::string& out, double value) {
    if (!std::isfinite(value))
        value = 0.0;
    if (value == 0.0)
        value = 0.0; // no "-0"
    char text[32];
    out.append(text, std::to_chars(text, text + sizeof text, value).ptr);
}

// The grey of the road strips of the coarse levels.
constexpr Vec3 kStripColour{0.35f, 0.35f, 0.35f};

// Interleaves the bits of x (even places) and y (odd places): a tile's place in its level of a
// quadtree's availability bitstream.
std::uint64_t morton(std::uint32_t x, std::uint32_t y) {
    std::uint64_t m = 0;
    for (int b = 0; b < 32; ++b) {
        m |= std::uint64_t((x >> b) & 1u) << (2 * b);
        m |= std::uint64_t((y >> b) & 1u) << (2 * b + 1);
    }
    return m;
}

// The 12 numbers of a 3D Tiles box (centre, then the three half axes) around `box`, each half
// axis at least a few millimetres so that a flat tile still has a volume.
std::array<double, 12> boxOf(const CityBox& box) {
    constexpr double kLeast = 0.005;
    const double lo[3] = {box.lo.x, box.lo.y, box.lo.z};
    const double hi[3] = {box.hi.x, box.hi.y, box.hi.z};
    std::array<double, 12> out{};
    for (int k = 0; k < 3; ++k) {
        out[std::size_t(k)] = (lo[k] + hi[k]) / 2.0;
        out[std::size_t(3 + 4 * k)] = std::max((hi[k] - lo[k]) / 2.0, kLeast);
    }
    return out;
}

// Road rectangles merged into strips: first the runs along a column (same x extent, touching
// in y), then what is left along a row (same y extent, at most `gap` apart in x: a gap as wide
// as a crossing lets a street row run on across the street columns in one strip).
struct Rect {
    float x0, y0, x1, y1, z;
};

std::vector<Rect> mergeStrips(std::vector<Rect> rects, float gap) {
    constexpr float kTouch = 1e-3f;
    auto run = [&](bool alongY) {
        std::sort(rects.begin(), rects.end(), [&](const Rect& a, const Rect& b) {
            if (alongY)
                return std::tie(a.x0, a.x1, a.y0) < std::tie(b.x0, b.x1, b.y0);
            return std::tie(a.y0, a.y1, a.x0) < std::tie(b.y0, b.y1, b.x0);
        });
        std::vector<Rect> out;
        for (const Rect& r : rects) {
            if (!out.empty()) {
                Rect& last = out.back();
                const bool same = alongY ? last.x0 == r.x0 && last.x1 == r.x1
                                         : last.y0 == r.y0 && last.y1 == r.y1;
                const bool touching =
                    alongY ? std::abs(last.y1 - r.y0) <= kTouch : r.x0 - last.x1 <= gap + kTouch;
                if (same && touching) {
                    float& end = alongY ? last.y1 : last.x1;
                    end = std::max(end, alongY ? r.y1 : r.x1);
                    last.z = std::max(last.z, r.z);
                    continue;
                }
            }
            out.push_back(r);
        }
        rects = std::move(out);
    };
    run(true);
    run(false);
    return rects;
}

// The start of column x (or row, with the other axis' parameters) of the city's grid, as the
// generator places it.
float lineStart(std::uint32_t x, std::uint32_t every, std::uint32_t first, float cell, float street,
                bool streetsOn) {
    if (!streetsOn)
        return float(x) * cell;
    const std::uint32_t k = (every - first + x) / (every + 1);
    return float(k) * street + float(x - k) * cell;
}

// The column (row) whose extent holds coordinate v: the last whose start is at most v.
std::uint32_t lineAt(float v, std::uint32_t count, std::uint32_t every, std::uint32_t first,
                     float cell, float street, bool streetsOn) {
    std::uint32_t lo = 0, hi = count; // the answer is in [lo, hi)
    while (hi - lo > 1) {
        const std::uint32_t mid = lo + (hi - lo) / 2;
        if (lineStart(mid, every, first, cell, street, streetsOn) <= v)
            lo = mid;
        else
            hi = mid;
    }
    return lo;
}

} // namespace

std::uint32_t defaultLeafCells(const StreetGrid& grid) {
    const bool on = grid.streetEveryX != 0 && grid.streetEveryY != 0;
    const std::uint64_t px = on ? std::uint64_t(grid.streetEveryX) + 1 : 1;
    const std::uint64_t py = on ? std::uint64_t(grid.streetEveryY) + 1 : 1;
    const std::uint64_t period = std::lcm(px, py);
    if (period > 2 * kDefaultLeafCells)
        return kDefaultLeafCells;
    // The multiple of the period nearest to the usual width.
    const std::uint64_t times =
        std::max<std::uint64_t>(1, (kDefaultLeafCells + period / 2) / period);
    return std::uint32_t(period * times);
}

std::array<double, 16> enuToEcef(const GeoOrigin& origin) {
    constexpr double kPi = 3.14159265358979323846;
    constexpr double a = 6378137.0;
    constexpr double f = 1.0 / 298.257223563;
    constexpr double e2 = f * (2.0 - f);
    const double lat = origin.latitude * kPi / 180.0;
    const double lon = origin.longitude * kPi / 180.0;
    const double sinLat = std::sin(lat), cosLat = std::cos(lat);
    const double sinLon = std::sin(lon), cosLon = std::cos(lon);
    const double n = a / std::sqrt(1.0 - e2 * sinLat * sinLat);
    const double h = origin.height;
    return {-sinLon,
            cosLon,
            0.0,
            0.0,
            -sinLat * cosLon,
            -sinLat * sinLon,
            cosLat,
            0.0,
            cosLat * cosLon,
            cosLat * sinLon,
            sinLat,
            0.0,
            (n + h) * cosLat * cosLon,
            (n + h) * cosLat * sinLon,
            (n * (1.0 - e2) + h) * sinLat,
            1.0};
}

// Takes the pieces of one band: every building and road of the band's columns goes into the
// content of its leaf tile, and a summary of it into the writer's list.
class TilesetWriter::BandSink : public VRSceneSink, public FaceSink {
public:
    BandSink(TilesetWriter& writer, std::uint32_t first, std::uint32_t end)
        : writer_(writer), first_(first), end_(end),
          model_(writer.options_.exportOptions.collapseMode == CollapseMode::model) {}

    void openGroup(VRRef<VRGroup>) override {}
    void closeGroup() override {}
    void piece(const VRPiece& piece) override { piece_ = piece; }

    void node(VRRef<VRNode> node) override {
        VRPiece piece = piece_ ? *piece_ : VRPiece{};
        if (!piece_)
            piece.kind = VRPiece::Kind::road;
        piece_.reset();
        if (piece.kind == VRPiece::Kind::road && piece.column == 0 && piece.row == 0) {
            // A road that may not have said its cell: the cell under the middle of its faces.
            probing_ = true;
            box_ = {};
            reader_.read(node, *this);
            probing_ = false;
            if (box_.empty())
                return;
            const StreetGrid& g = writer_.grid_;
            const bool on = g.streetEveryX != 0 && g.streetEveryY != 0;
            piece.column = lineAt((box_.lo.x + box_.hi.x) / 2, g.numCellsX, g.streetEveryX,
                                  g.firstStreetCrossX, g.cellSizeX, g.streetSizeX, on);
            piece.row = lineAt((box_.lo.y + box_.hi.y) / 2, g.numCellsY, g.streetEveryY,
                               g.firstStreetCrossY, g.cellSizeY, g.streetSizeY, on);
        }
        if (piece.column < first_ || piece.column >= end_)
            return;
        const std::uint32_t ty = piece.row / writer_.leafCells_;
        std::unique_ptr<TileContent>& content = tiles_[ty];
        if (!content)
            content = std::make_unique<TileContent>(
                [this](const std::string& image) { return writer_.imageUri(image); }, !model_);
        Summary summary;
        summary.road = piece.kind == VRPiece::Kind::road;
        summary.number = piece.number;
        summary.column = piece.column;
        summary.row = piece.row;
        summary.height = piece.height;
        std::string name = piece.name;
        const auto [known, added] = writer_.definitionLookup_.try_emplace(
            piece.definition, std::uint32_t(writer_.definitions_.size()));
        if (added)
            writer_.definitions_.push_back(piece.definition);
        summary.definition = known->second;
        if (!summary.road && name.empty() && node && node->name)
            name = *node->name;
        summary.nameStart = writer_.names_.size();
        summary.nameLength = std::uint32_t(name.size());
        writer_.names_.insert(writer_.names_.end(), name.begin(), name.end());
        if (summary.road)
            content->noBuilding();
        else
            content->building(writer_.featureOf(summary));
        content_ = content.get();
        box_ = {};
        areas_.clear();
        const FaceMaterial grey = greyMaterial();
        reader_.read(std::move(node), *this, model_ ? &grey : nullptr);
        if (box_.empty())
            return;
        summary.box = box_;
        // The building's colour: that of most of its faces' area.
        double best = -1.0;
        for (const auto& [colour, area] : areas_)
            if (area > best) {
                best = area;
                summary.colour = colour;
            }
        writer_.summaries_.push_back(std::move(summary));
    }

    void material(const FaceMaterial& material) override {
        colour_ = material.noColor ? std::nullopt : std::optional<Vec3>(material.colour);
        if (!probing_)
            content_->material(material);
    }

    void face(const Vec3* points, const Vec2* uv, std::size_t n,
              std::span<const FaceTriangle> triangles) override {
        double area = 0.0;
        for (std::size_t k = 0; k < n; ++k) {
            box_.add(Vec3{points[k].x, -points[k].z, points[k].y});
            if (k >= 2) {
                const Vec3 a = points[0], b = points[k - 1], c = points[k];
                const double ux = b.x - a.x, uy = b.y - a.y, uz = b.z - a.z;
                const double vx = c.x - a.x, vy = c.y - a.y, vz = c.z - a.z;
                const double cx = uy * vz - uz * vy, cy = uz * vx - ux * vz, cz = ux * vy - uy * vx;
                area += std::sqrt(cx * cx + cy * cy + cz * cz) / 2.0;
            }
        }
        if (probing_)
            return;
        if (colour_) {
            auto it = std::find_if(areas_.begin(), areas_.end(),
                                   [&](const auto& e) { return e.first == *colour_; });
            if (it == areas_.end())
                areas_.push_back({*colour_, area});
            else
                it->second += area;
        }
        content_->face(points, uv, n, triangles);
    }

    // Writes the band's leaf tiles; false when one could not be written.
    bool writeTiles() {
        const std::uint32_t tx = first_ / writer_.leafCells_;
        for (auto& [ty, content] : tiles_) {
            if (!content->empty() && !writer_.writeTile(writer_.leafLevel_, tx, ty, *content))
                return false;
            content.reset();
        }
        return true;
    }

private:
    TilesetWriter& writer_;
    std::uint32_t first_, end_;
    bool model_;
    std::optional<VRPiece> piece_;
    Triangulator triangulator_;
    FaceReader reader_{&triangulator_};
    std::map<std::uint32_t, std::unique_ptr<TileContent>> tiles_;
    TileContent* content_ = nullptr;
    bool probing_ = false;
    CityBox box_;
    std::optional<Vec3> colour_;
    std::vector<std::pair<Vec3, double>> areas_;
};

TilesetWriter::TilesetWriter(std::string folder, const TilesetOptions& options,
                             const StreetGrid& grid)
    : folder_(std::move(folder)), options_(options), grid_(grid),
      leafCells_(options.leafCells ? options.leafCells : defaultLeafCells(grid)) {
    options_.exportOptions.triangulateEverything = true;
    options_.exportOptions.merge = MergeMode::none;
    const std::uint32_t across =
        std::max<std::uint32_t>({(grid.numCellsX + leafCells_ - 1) / leafCells_,
                                 (grid.numCellsY + leafCells_ - 1) / leafCells_, 1u});
    while ((std::uint64_t(1) << leafLevel_) < across)
        ++leafLevel_;
    for (std::uint32_t k = 0; k <= leafLevel_; ++k)
        levels_.emplace_back(std::size_t(1) << (2 * k));
    // One subtree file for a small tree; else subtrees of a few levels, so that a reader fetches
    // a few kilobytes of availability at a time.
    const std::uint32_t levels = leafLevel_ + 1;
    subtreeLevels_ = options.subtreeLevels ? options.subtreeLevels : levels <= 6 ? levels : 4;
}

TilesetWriter::~TilesetWriter() = default;

BuildingFeature TilesetWriter::featureOf(const Summary& s) const {
    BuildingFeature feature;
    feature.number = s.number;
    feature.column = s.column;
    feature.row = s.row;
    feature.height = s.height;
    const auto name = names_.begin() + std::ptrdiff_t(s.nameStart);
    feature.name.assign(name, name + s.nameLength);
    feature.definition = definitions_[s.definition];
    return feature;
}

std::size_t TilesetWriter::tileIndex(std::uint32_t level, std::uint32_t x, std::uint32_t y) const {
    return std::size_t(x) + (std::size_t(y) << level);
}

bool TilesetWriter::writeFile(const std::string& relative,
                              const std::function<bool(std::FILE*)>& write) {
    namespace fs = std::filesystem;
    const fs::path path = fs::path(folder_) / relative;
    const std::string parent = path.parent_path().string();
    if (!parent.empty() && madeFolders_.insert(parent).second) {
        std::error_code ec;
        fs::create_directories(parent, ec);
        if (ec) {
            reason_ = fs::path(relative).parent_path().string() + ": " + ec.message();
            failed_ = true;
            return false;
        }
    }
    errno = 0;
    std::FILE* out = std::fopen(path.c_str(), "wb");
    bool ok = out && write(out);
    if (out && std::fclose(out) != 0)
        ok = false;
    if (!ok) {
        reason_ = relative + ": " + std::strerror(errno ? errno : EIO);
        failed_ = true;
    }
    return ok;
}

bool TilesetWriter::writeFile(const std::string& relative, const void* data, std::size_t n) {
    return writeFile(relative,
                     [&](std::FILE* out) { return n == 0 || std::fwrite(data, 1, n, out) == n; });
}

std::string TilesetWriter::imageUri(const std::string& image) {
    const auto [it, added] = images_.try_emplace(image);
    if (!added)
        return it->second.empty() ? std::string() : "../../../" + it->second;
    std::string why;
    const std::optional<EmbeddableImage> picture = embeddableImage(image, true, why);
    if (!picture) {
        warningLog.line("Could not place the image ", image, " in ", folder_, ": ", why,
                        "; its faces are exported untextured");
        return {};
    }
    std::string name = "textures/";
    appendUint(name, images_.size() - 1);
    name += picture->mimeType == "image/jpeg" ? ".jpg" : ".png";
    if (!writeFile(name, picture->bytes.data(), picture->bytes.size()))
        return {};
    it->second = name;
    return "../../../" + name;
}

bool TilesetWriter::writeTile(std::uint32_t level, std::uint32_t x, std::uint32_t y,
                              const TileContent& content) {
    std::string name = "tiles/";
    appendUint(name, level);
    name += '/';
    appendUint(name, x);
    name += '/';
    appendUint(name, y);
    name += ".glb";
    if (!writeFile(name, [&](std::FILE* out) { return content.writeGlb(out); }))
        return false;
    Tile& tile = levels_[level][tileIndex(level, x, y)];
    tile.content = true;
    tile.available = true;
    tile.bounds.add(content.bounds());
    return true;
}

bool TilesetWriter::addBand(const VRSceneSource& city, std::uint32_t first, std::uint32_t end,
                            Progress* progress) {
    if (failed_)
        return false;
    BandSink sink(*this, first, end);
    const ExportOptions& o = options_.exportOptions;
    city.piecesOfColumns(o.collapseMode == CollapseMode::building, o.saveRoads, first, end, sink);
    if (progress)
        progress->step("Writing tiles", end, grid_.numCellsX);
    return sink.writeTiles();
}

bool TilesetWriter::writeCoarseLevel(std::uint32_t level) {
    const std::uint32_t side = leafCells_ << (leafLevel_ - level); // the tile's width in cells
    const std::uint32_t across = 1u << level;
    // The summaries by tile, in their order within each tile.
    std::vector<std::uint32_t> start(std::size_t(across) * across + 1, 0);
    auto tileOf = [&](const Summary& s) { return tileIndex(level, s.column / side, s.row / side); };
    for (const Summary& s : summaries_)
        ++start[tileOf(s) + 1];
    for (std::size_t i = 1; i < start.size(); ++i)
        start[i] += start[i - 1];
    std::vector<std::uint32_t> order(summaries_.size());
    {
        std::vector<std::uint32_t> at(start.begin(), start.end() - 1);
        for (std::uint32_t i = 0; i < summaries_.size(); ++i)
            order[at[tileOf(summaries_[i])]++] = i;
    }
    const bool boxes = level + 1 == leafLevel_;
    const std::uint32_t group = 1u << (leafLevel_ - level); // cells a side of a merged block
    const bool model = options_.exportOptions.collapseMode == CollapseMode::model;
    const Vec3 grey = greyMaterial().colour;
    for (std::uint32_t ty = 0; ty < across; ++ty)
        for (std::uint32_t tx = 0; tx < across; ++tx) {
            const std::size_t t = tileIndex(level, tx, ty);
            Tile& tile = levels_[level][t];
            double childError = -1.0;
            for (std::uint32_t c = 0; c < 4; ++c) {
                const Tile& child =
                    levels_[level + 1][tileIndex(level + 1, 2 * tx + (c & 1), 2 * ty + (c >> 1))];
                if (!child.available)
                    continue;
                tile.available = true;
                tile.bounds.add(child.bounds);
                childError = std::max(childError, child.error);
            }
            if (start[t] == start[t + 1]) {
                if (tile.available)
                    tile.error = childError + 0.01;
                continue;
            }
            TileContent content([this](const std::string& image) { return imageUri(image); },
                                !model);
            double error = 0.0;
            std::vector<Rect> roads;
            struct Block {
                CityBox box;
                std::uint32_t tallest = 0;
                std::uint32_t buildings = 0;
                float lowestTop = 0.0f;
            };
            std::map<std::pair<std::uint32_t, std::uint32_t>, Block> blocks;
            for (std::uint32_t i = start[t]; i < start[t + 1]; ++i) {
                const Summary& s = summaries_[order[i]];
                if (s.road) {
                    roads.push_back({s.box.lo.x, s.box.lo.y, s.box.hi.x, s.box.hi.y, s.box.hi.z});
                    error = std::max(error, double(s.box.hi.z) - s.box.lo.z);
                    continue;
                }
                if (boxes) {
                    // A box is off the building by at most half its wider side.
                    content.building(featureOf(s));
                    content.box(s.box.lo, s.box.hi, model ? grey : s.colour);
                    error = std::max(error, std::max(double(s.box.hi.x) - s.box.lo.x,
                                                     double(s.box.hi.y) - s.box.lo.y) /
                                                2.0);
                    continue;
                }
                Block& b = blocks[{s.column / group, s.row / group}];
                if (b.buildings == 0 || s.box.hi.z > summaries_[b.tallest].box.hi.z)
                    b.tallest = order[i];
                b.lowestTop = b.buildings == 0 ? s.box.hi.z : std::min(b.lowestTop, s.box.hi.z);
                b.box.add(s.box);
                ++b.buildings;
            }
            if (!blocks.empty()) {
                // A block's box stands for every cell of its square: it is off by its height
                // where a cell has no building, else by the difference to the lowest top.
                float highest = 0.0f;
                for (auto& [key, b] : blocks) {
                    const std::uint64_t w =
                        std::min<std::uint64_t>(group, grid_.numCellsX - key.first * group);
                    const std::uint64_t h =
                        std::min<std::uint64_t>(group, grid_.numCellsY - key.second * group);
                    const double off = b.buildings < w * h ? double(b.box.hi.z) - b.box.lo.z
                                                           : double(b.box.hi.z) - b.lowestTop;
                    error = std::max(error, off);
                    highest = std::max(highest, b.box.hi.z);
                }
                // Blocks lower than a quarter of the error are left out (they are off by their
                // height, less than the error); the highest always stays.
                const double least = error / 4.0;
                for (auto& [key, b] : blocks) {
                    if (b.box.hi.z - b.box.lo.z < least && b.box.hi.z < highest)
                        continue;
                    const Summary& s = summaries_[b.tallest];
                    content.building(featureOf(s));
                    content.box(b.box.lo, b.box.hi, model ? grey : s.colour);
                }
            }
            if (!roads.empty()) {
                content.noBuilding();
                // Above the boxes, the street rows run on across the crossings.
                const float gap = boxes ? 0.0f : std::max(grid_.streetSizeX, grid_.streetSizeY);
                for (const Rect& r : mergeStrips(std::move(roads), gap))
                    content.strip(r.x0, r.y0, r.x1, r.y1, r.z, model ? grey : kStripColour);
            }
            if (!content.empty() && !writeTile(level, tx, ty, content))
                return false;
            tile.available = true;
            // Strictly above every child's error, so that a reader always refines towards them.
            tile.error = std::max(error, childError + 0.01);
            if (tile.error <= 0.0)
                tile.error = 0.01;
        }
    return true;
}

bool TilesetWriter::writeSubtrees() {
    const std::uint32_t levels = leafLevel_ + 1;
    for (std::uint32_t root = 0; root < levels; root += subtreeLevels_) {
        const std::uint32_t across = 1u << root;
        for (std::uint32_t sy = 0; sy < across; ++sy)
            for (std::uint32_t sx = 0; sx < across; ++sx) {
                if (!levels_[root][tileIndex(root, sx, sy)].available)
                    continue;
                // The bits of the subtree's levels, level by level, each in Morton order.
                std::uint64_t bits = 0;
                for (std::uint32_t d = 0; d < subtreeLevels_; ++d)
                    bits += std::uint64_t(1) << (2 * d);
                std::vector<std::uint8_t> tiles((bits + 7) / 8), content((bits + 7) / 8);
                const std::uint64_t childBits = std::uint64_t(1) << (2 * subtreeLevels_);
                std::vector<std::uint8_t> children((childBits + 7) / 8);
                std::uint64_t tileCount = 0, contentCount = 0, childCount = 0;
                std::vector<double> boxes, errors;
                struct Entry {
                    std::uint64_t bit;
                    const Tile* tile;
                };
                std::vector<Entry> available;
                std::uint64_t levelStart = 0;
                for (std::uint32_t d = 0; d <= subtreeLevels_; ++d) {
                    const std::uint32_t level = root + d;
                    const std::uint32_t side = 1u << d;
                    for (std::uint32_t y = 0; y < side && level < levels; ++y)
                        for (std::uint32_t x = 0; x < side; ++x) {
                            const Tile& tile =
                                levels_[level][tileIndex(level, (sx << d) + x, (sy << d) + y)];
                            if (!tile.available)
                                continue;
                            const std::uint64_t m = morton(x, y);
                            if (d == subtreeLevels_) {
                                children[m / 8] |= std::uint8_t(1u << (m % 8));
                                ++childCount;
                                continue;
                            }
                            const std::uint64_t bit = levelStart + m;
                            tiles[bit / 8] |= std::uint8_t(1u << (bit % 8));
                            ++tileCount;
                            available.push_back({bit, &tile});
                            if (tile.content) {
                                content[bit / 8] |= std::uint8_t(1u << (bit % 8));
                                ++contentCount;
                            }
                        }
                    levelStart += std::uint64_t(1) << (2 * d);
                }
                // The tiles' metadata rows in the order of their bits.
                std::sort(available.begin(), available.end(),
                          [](const Entry& a, const Entry& b) { return a.bit < b.bit; });
                for (const Entry& e : available) {
                    const std::array<double, 12> box = boxOf(e.tile->bounds);
                    boxes.insert(boxes.end(), box.begin(), box.end());
                    errors.push_back(e.tile->error);
                }

                std::vector<char> binary;
                std::string views;
                std::uint32_t viewCount = 0;
                auto addView = [&](const void* data, std::size_t n) {
                    while (binary.size() % 8 != 0)
                        binary.push_back(0);
                    if (viewCount > 0)
                        views += ',';
                    views += "{\"buffer\":0,\"byteOffset\":";
                    appendUint(views, binary.size());
                    views += ",\"byteLength\":";
                    appendUint(views, n);
                    views += '}';
                    binary.insert(binary.end(), static_cast<const char*>(data),
                                  static_cast<const char*>(data) + n);
                    return viewCount++;
                };
                // Constant where every bit is the same, else a bitstream.
                auto availability = [&](const std::vector<std::uint8_t>& stream,
                                        std::uint64_t count, std::uint64_t total) {
                    std::string json = "{";
                    if (count == 0 || count == total) {
                        json += count == 0 ? "\"constant\":0" : "\"constant\":1";
                    } else {
                        json += "\"bitstream\":";
                        appendUint(json, addView(stream.data(), stream.size()));
                        json += ",\"availableCount\":";
                        appendUint(json, count);
                    }
                    return json + "}";
                };
                std::string json = "{\"tileAvailability\":" + availability(tiles, tileCount, bits);
                json +=
                    ",\"contentAvailability\":[" + availability(content, contentCount, bits) + "]";
                json += ",\"childSubtreeAvailability\":" +
                        availability(children, childCount, childBits);
                const std::uint32_t boxView = addView(boxes.data(), boxes.size() * 8);
                const std::uint32_t errorView = addView(errors.data(), errors.size() * 8);
                json += ",\"propertyTables\":[{\"class\":\"tile\",\"count\":";
                appendUint(json, tileCount);
                json += ",\"properties\":{\"boundingBox\":{\"values\":";
                appendUint(json, boxView);
                json += "},\"geometricError\":{\"values\":";
                appendUint(json, errorView);
                json += "}}}],\"tileMetadata\":0";
                while (binary.size() % 8 != 0)
                    binary.push_back(0);
                json += ",\"buffers\":[{\"byteLength\":";
                appendUint(json, binary.size());
                json += "}],\"bufferViews\":[" + views + "]}";
                while (json.size() % 8 != 0)
                    json += ' ';

                std::vector<char> file;
                auto put = [&](const void* data, std::size_t n) {
                    file.insert(file.end(), static_cast<const char*>(data),
                                static_cast<const char*>(data) + n);
                };
                const std::uint32_t head[2] = {0x74627573, 1}; // "subt", version 1
                const std::uint64_t lengths[2] = {json.size(), binary.size()};
                put(head, sizeof head);
                put(lengths, sizeof lengths);
                put(json.data(), json.size());
                put(binary.data(), binary.size());
                std::string name = "subtrees/";
                appendUint(name, root);
                name += '.';
                appendUint(name, sx);
                name += '.';
                appendUint(name, sy);
                name += ".subtree";
                if (!writeFile(name, file.data(), file.size()))
                    return false;
            }
    }
    return true;
}

bool TilesetWriter::writeTilesetJson(const CityRecord& record) {
    const Tile& root = levels_[0][0];
    CityBox bounds = root.bounds;
    if (bounds.empty())
        bounds.add(Vec3{0, 0, 0});
    // The root's volume is the whole grid the quadtree divides, up to the last column and row
    // of the padded leaves: a reader that halves it for every level (rather than reading each
    // tile's box from its subtree) then finds each tile over its own cells, exactly so where the
    // leaves' width is a whole number of street periods.
    const StreetGrid& g = grid_;
    const bool on = g.streetEveryX != 0 && g.streetEveryY != 0;
    const std::uint32_t cells = leafCells_ << leafLevel_;
    CityBox grid = bounds;
    grid.add(Vec3{0, 0, bounds.lo.z});
    grid.add(
        Vec3{lineStart(cells, g.streetEveryX, g.firstStreetCrossX, g.cellSizeX, g.streetSizeX, on),
             lineStart(cells, g.streetEveryY, g.firstStreetCrossY, g.cellSizeY, g.streetSizeY, on),
             bounds.hi.z});
    const std::array<double, 12> box = boxOf(grid);
    const double width = double(bounds.hi.x) - bounds.lo.x;
    const double depth = double(bounds.hi.y) - bounds.lo.y;
    const double height = double(bounds.hi.z) - bounds.lo.z;
    // Past this error nothing of the city is drawn: its whole extent, and above the root's.
    const double tilesetError =
        std::max(std::sqrt(width * width + depth * depth + height * height), 2.0 * root.error) +
        1.0;
    const GeoOrigin& origin = options_.exportOptions.origin;
    std::string json = "{\"asset\":{\"version\":\"1.1\",\"generator\":\"Ombrel ";
    json += kVersion;
    json += "\",\"extras\":{\"constructionFile\":";
    appendJsonString(json, record.constructionFile);
    json += ",\"seed\":";
    appendUint(json, record.seed);
    json += ",\"origin\":{\"latitude\":";
    appendDouble(json, origin.latitude);
    json += ",\"longitude\":";
    appendDouble(json, origin.longitude);
    json += ",\"height\":";
    appendDouble(json, origin.height);
    json += "}}},\"schema\":{\"id\":\"ombrel_tiles\",\"classes\":{\"tile\":{\"properties\":{"
            "\"boundingBox\":{\"type\":\"SCALAR\",\"componentType\":\"FLOAT64\",\"array\":true,"
            "\"count\":12,\"semantic\":\"TILE_BOUNDING_BOX\"},"
            "\"geometricError\":{\"type\":\"SCALAR\",\"componentType\":\"FLOAT64\","
            "\"semantic\":\"TILE_GEOMETRIC_ERROR\"}}}}},\"geometricError\":";
    appendDouble(json, tilesetError);
    json += ",\"root\":{\"boundingVolume\":{\"box\":[";
    for (std::size_t i = 0; i < box.size(); ++i) {
        if (i > 0)
            json += ',';
        appendDouble(json, box[i]);
    }
    json += "]},\"geometricError\":";
    appendDouble(json, root.error);
    json += ",\"refine\":\"REPLACE\",\"transform\":[";
    const std::array<double, 16> m = enuToEcef(origin);
    for (std::size_t i = 0; i < m.size(); ++i) {
        if (i > 0)
            json += ',';
        appendDouble(json, m[i]);
    }
    json += "],\"content\":{\"uri\":\"tiles/{level}/{x}/{y}.glb\"},\"implicitTiling\":{"
            "\"subdivisionScheme\":\"QUADTREE\",\"subtreeLevels\":";
    appendUint(json, subtreeLevels_);
    json += ",\"availableLevels\":";
    appendUint(json, leafLevel_ + 1);
    json += ",\"subtrees\":{\"uri\":\"subtrees/{level}.{x}.{y}.subtree\"}}}}\n";
    return writeFile(options_.rootName, json.data(), json.size());
}

bool TilesetWriter::finish(const CityRecord& record, Progress* progress) {
    if (failed_)
        return false;
    for (std::uint32_t level = leafLevel_; level-- > 0;) {
        if (progress)
            progress->step("Writing coarse tiles", leafLevel_ - level, leafLevel_);
        if (!writeCoarseLevel(level))
            return false;
    }
    // A city with nothing in it still has a root, without content.
    levels_[0][0].available = true;
    return writeSubtrees() && writeTilesetJson(record);
}

TilesetExport::TilesetExport(std::string path, const TilesetOptions& options)
    : path_(std::move(path)), options_(options) {}

TilesetExport::~TilesetExport() = default;

bool TilesetExport::failWith(const std::string& reason) {
    logSaveFailure("3D Tiles", path_, reason);
    writer_.reset();
    folder_.reset();
    return false;
}

bool TilesetExport::begin(const StreetGrid& grid) {
    namespace fs = std::filesystem;
    const fs::path target(path_);
    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    folder_ = std::make_unique<StagedFolder>(folder.string(), tilesetFolder());
    if (folder_->path().empty())
        return failWith(folder_->reason());
    TilesetOptions o = options_;
    o.rootName = target.filename().string();
    writer_ = std::make_unique<TilesetWriter>(folder_->path(), o, grid);
    return true;
}

std::uint32_t TilesetExport::bandColumns() const {
    return writer_ ? writer_->bandColumns() : 1;
}

bool TilesetExport::addBand(const VRSceneSource& city, std::uint32_t first, std::uint32_t end,
                            Progress* progress) {
    if (!writer_)
        return false;
    if (!writer_->addBand(city, first, end, progress))
        return failWith(writer_->reason());
    return true;
}

bool TilesetExport::finish(const CityRecord& record, Progress* progress, CommitGroup* together) {
    if (!writer_)
        return false;
    if (!writer_->finish(record, progress))
        return failWith(writer_->reason());
    writer_.reset();
    ExportOptions said = options_.exportOptions;
    said.format = ExportFormat::tiles;
    said.triangulateEverything = true;
    const std::string path = path_;
    return CommitGroup::commitOrHand(
        together, std::unique_ptr<Replacement>(std::move(folder_)),
        [path, said] { logSaved("3D Tiles", path, said); },
        [path](const Replacement& folder) { logSaveFailure("3D Tiles", path, folder.reason()); });
}

bool exportCityTiles(const VRSceneSource& city, const std::string& path, const CityRecord& record,
                     const TilesetOptions& options, Progress* progress, CommitGroup* together) {
    if (!record.streets) {
        logSaveFailure("3D Tiles", path, "the city has no grid to tile");
        return false;
    }
    TilesetExport tiles(path, options);
    if (!tiles.begin(*record.streets))
        return false;
    const std::uint32_t columns = record.streets->numCellsX;
    for (std::uint32_t first = 0; first < columns; first += tiles.bandColumns())
        if (!tiles.addBand(city, first, std::min(columns, first + tiles.bandColumns()), progress))
            return false;
    return tiles.finish(record, progress, together);
}

} // namespace ombrel
