#include "base/Log.h"
#include "base/Progress.h"
#include "base/Version.h"
#include "export/CityExport.h"
#include "export/Output.h"
#include "export/SceneFaces.h"
#include "vrml/CommitGroup.h"
#include "vrml/FormatG.h"
#include "vrml/ReplacingFile.h"
#include "vrml/TextureUrl.h"
#include "vrml/Triangulate.h"
#include "vrml/VRSceneSink.h"

#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace ombrel {

namespace {

// Numbers as the VRML writer prints them: "%g" whatever the locale.
void appendNumber(std::string& out, float value) {
    char text[kFormatGMax];
    out.append(text, formatG(text, value));
}

template <class T> std::string bitsOf(const T& value) {
    return std::string(reinterpret_cast<const char*>(&value), sizeof value);
}

// A position with its vertex colour: the same place in two colours is two vertices.
struct ColouredPoint {
    Vec3 point;
    Vec3 colour;
};
static_assert(sizeof(ColouredPoint) == 2 * sizeof(Vec3));

// Its bits as a key of its own: a string of them would not fit in a string's own storage.
using ColouredKey = std::array<std::uint32_t, 6>;
struct ColouredKeyHash {
    std::size_t operator()(const ColouredKey& key) const {
        std::uint64_t h = 0;
        for (std::uint32_t word : key)
            h = (h ^ word) * 0x9E3779B97F4A7C15ull;
        return std::size_t(h ^ (h >> 32));
    }
};

template <class T> std::string keyOf(const T& value) {
    return bitsOf(value);
}
inline ColouredKey keyOf(const ColouredPoint& value) {
    ColouredKey key;
    std::memcpy(key.data(), &value, sizeof key);
    return key;
}

// A piece's vertices as text and its faces over them, numbered from 1 within the piece: each
// face its corner count, then position, texture coordinate (0: none) and normal per corner.
struct PieceText {
    std::string vertices;
    std::vector<std::pair<std::uint32_t, std::vector<std::uint32_t>>> faces; // by material
    std::uint32_t positions = 0, uvs = 0, normals = 0;
};

// Writes the city object by object as the pieces come: a building's positions (with its colours
// after them, except in the collapsed model), texture coordinates and normals, then its faces
// material by material. When blocks are merged, the buildings of a column of street blocks are
// held until the walk leaves it, then written block by block as objects with a group for each
// building.
class ObjSink : public VRSceneSink, public FaceSink {
public:
    ObjSink(std::FILE* out, const ExportOptions& options)
        : out_(out), options_(options),
          faces_(options.triangulateEverything ? &triangulator_ : nullptr),
          colours_(options.collapseMode != CollapseMode::model), merge_(mergesBlocks(options)) {}

    void openGroup(VRRef<VRGroup>) override {}
    void closeGroup() override {}
    void piece(const VRPiece& piece) override { piece_ = piece; }

    void node(VRRef<VRNode> node) override {
        const std::optional<VRPiece> piece = piece_;
        piece_.reset();
        if (options_.collapseMode == CollapseMode::model) {
            if (!started_)
                object("City_Model");
            const FaceMaterial grey = greyMaterial();
            faces_.read(std::move(node), *this, &grey);
        } else if (piece && piece->kind == VRPiece::Kind::road) {
            writeBlocks();
            if (!inRoads_)
                object("Roads");
            inRoads_ = true;
            faces_.read(std::move(node), *this);
        } else {
            // The name of the building's definition, else its node's, else its cell's.
            std::string name = piece ? piece->name : std::string();
            if (name.empty() && node && node->name)
                name = *node->name;
            if (name.empty())
                name = "building_" + std::to_string(piece ? piece->column : 0) + "_" +
                       std::to_string(piece ? piece->row : 0);
            // Where the building's definition stands, before its object or group.
            const std::string definition = piece && !piece->definition.empty()
                                               ? nameLine("# definition ", piece->definition)
                                               : std::string();
            if (merge_) {
                const VRPiece cell = piece ? *piece : VRPiece();
                if (!band_.empty() && band_.front().column != cell.blockColumn)
                    writeBlocks();
                auto [it, added] = bandLookup_.try_emplace(cell.blockRow, band_.size());
                if (added)
                    band_.push_back({cell.blockColumn, cell.blockRow, {}});
                faces_.read(std::move(node), *this);
                band_[it->second].buildings.emplace_back(definition + nameLine("g ", name),
                                                         takePiece());
                return;
            }
            put(definition);
            object(name);
            faces_.read(std::move(node), *this);
        }
        writePiece(takePiece());
    }

    // Writes the blocks still held; called once the city is handed over.
    void finish() { writeBlocks(); }

    void material(const FaceMaterial& material) override {
        // With colours per vertex the materials differ only by image and noColor.
        std::uint32_t m = 0;
        if (colours_) {
            const Vec3 colour = material.noColor ? Vec3{1, 1, 1} : material.colour;
            // Its text is made once for the run of vertices in that colour.
            if (colourText_.empty() || std::memcmp(&colour, &colour_, sizeof colour) != 0) {
                colour_ = colour;
                colourText_.clear();
                for (float f : {colour.x, colour.y, colour.z}) {
                    colourText_ += ' ';
                    appendNumber(colourText_, f);
                }
            }
            FaceMaterial key = material;
            key.colour = {1, 1, 1};
            m = addMaterial(key);
        } else {
            m = addMaterial(material);
        }
        for (current_ = 0; current_ < pieceFaces_.size(); ++current_)
            if (pieceFaces_[current_].first == m)
                return;
        pieceFaces_.emplace_back(m, std::vector<std::uint32_t>());
    }

    void face(const Vec3* points, const Vec2* uv, std::size_t n,
              std::span<const FaceTriangle> triangles) override {
        if (triangles.empty()) {
            polygon(points, uv, n);
            return;
        }
        for (const FaceTriangle& t : triangles) {
            const std::int32_t c[3] = {t.a, t.b, t.c};
            Vec3 corners[3];
            Vec2 uvs[3];
            for (int k = 0; k < 3; ++k) {
                corners[k] = points[c[k]];
                if (uv)
                    uvs[k] = uv[c[k]];
            }
            polygon(corners, uv ? uvs : nullptr, 3);
        }
    }

    bool ok() const { return !failed_ && !std::ferror(out_); }
    std::uint64_t triangles() const { return triangles_; }

    // The .mtl text: each material's colour and image, named relative to the .mtl.
    std::string materialLibrary(TextureUrls& urls) const {
        std::string text = "# Ombrel " + std::string(kVersion) + "\n";
        for (std::size_t i = 0; i < materials_.size(); ++i) {
            const FaceMaterial& m = materials_[i];
            // The labels in full, as the name may have had to change them.
            if (!m.surface.empty())
                text += nameLine("# surface ", m.surface);
            if (!m.materialName.empty())
                text += nameLine("# material ", m.materialName);
            text += "newmtl " + names_[i] + "\nKd ";
            appendNumber(text, m.noColor ? 1.0f : m.colour.x);
            text += ' ';
            appendNumber(text, m.noColor ? 1.0f : m.colour.y);
            text += ' ';
            appendNumber(text, m.noColor ? 1.0f : m.colour.z);
            text += "\n";
            if (!m.image.empty())
                text += "map_Kd " + urls.url(m.image) + "\n";
        }
        return text;
    }

private:
    // The material's number, naming it when it is new.
    std::uint32_t addMaterial(const FaceMaterial& material) {
        const auto [m, added] = materials_.add(material);
        if (added) {
            const std::string name = materialName(material);
            names_.push_back(
                uniqueNames_.add(name.empty() ? "m" + std::to_string(m) : objName(name)));
        }
        return m;
    }

    // A material name as OBJ readers take it: one word, so white space and other control
    // characters become "_", and so do "#" (a comment) and "\" (a line that goes on).
    static std::string objName(std::string name) {
        for (char& c : name)
            if (static_cast<unsigned char>(c) <= ' ' || c == '\x7F' || c == '#' || c == '\\')
                c = '_';
        return name;
    }

    // Adds one face of n corners to the piece, in the current material.
    void polygon(const Vec3* points, const Vec2* uv, std::size_t n) {
        std::vector<std::uint32_t>* faces = &pieceFaces_[current_].second;
        // The face's normal by Newell's rule, so that a face of more than three corners gets
        // its plane's.
        double nx = 0, ny = 0, nz = 0;
        for (std::size_t i = 0; i < n; ++i) {
            const Vec3 a = points[i];
            const Vec3 b = points[(i + 1) % n];
            nx += (double(a.y) - b.y) * (double(a.z) + b.z);
            ny += (double(a.z) - b.z) * (double(a.x) + b.x);
            nz += (double(a.x) - b.x) * (double(a.y) + b.y);
        }
        Vec3 normal{0, 1, 0};
        const double length = std::sqrt(nx * nx + ny * ny + nz * nz);
        if (length > 0 && std::isfinite(length))
            normal = {float(nx / length), float(ny / length), float(nz / length)};
        const std::uint32_t vn = lookup(normals_, normalText_, normal, "vn");
        faces->push_back(std::uint32_t(n));
        for (std::size_t i = 0; i < n; ++i) {
            faces->push_back(colours_ ? lookup(colouredPositions_, positionText_,
                                               ColouredPoint{points[i], colour_}, "v")
                                      : lookup(positions_, positionText_, points[i], "v"));
            faces->push_back(uv ? lookup(uvs_, uvText_, uv[i], "vt") : 0);
            faces->push_back(vn);
        }
        if (n == 3)
            ++triangles_;
    }

    void object(const std::string& name) {
        started_ = true;
        inRoads_ = false;
        put(nameLine("o ", name));
    }

    // "o NAME", "g NAME" or a comment with line breaks in the name written as spaces.
    static std::string nameLine(const char* keyword, const std::string& name) {
        std::string line = keyword;
        for (char c : name)
            line += (c == '\n' || c == '\r') ? ' ' : c;
        return line + "\n";
    }

    template <class Map, class T>
    std::uint32_t lookup(Map& map, std::string& text, const T& value, const char* keyword) {
        const auto [it, added] = map.try_emplace(keyOf(value), 0);
        if (!added)
            return it->second;
        std::uint32_t& count = keyword[1] == 't'   ? uvCount_
                               : keyword[1] == 'n' ? normalCount_
                                                   : positionCount_;
        it->second = ++count;
        text += keyword;
        if constexpr (sizeof(T) == sizeof(ColouredPoint)) {
            // The colour is colour_, whose text is ready.
            const ColouredPoint& v = reinterpret_cast<const ColouredPoint&>(value);
            for (float f : {v.point.x, v.point.y, v.point.z}) {
                text += ' ';
                appendNumber(text, f);
            }
            text += colourText_;
        } else if constexpr (sizeof(T) == sizeof(Vec3)) {
            const Vec3& v = reinterpret_cast<const Vec3&>(value);
            for (float f : {v.x, v.y, v.z}) {
                text += ' ';
                appendNumber(text, f);
            }
        } else {
            const Vec2& v = reinterpret_cast<const Vec2&>(value);
            for (float f : {v.x, v.y}) {
                text += ' ';
                appendNumber(text, f);
            }
        }
        text += '\n';
        return it->second;
    }

    // The piece gathered so far, which is forgotten here: its vertices are shared only within
    // it.
    PieceText takePiece() {
        PieceText piece;
        piece.vertices = std::move(positionText_);
        piece.vertices += uvText_;
        piece.vertices += normalText_;
        piece.faces = std::move(pieceFaces_);
        piece.positions = positionCount_;
        piece.uvs = uvCount_;
        piece.normals = normalCount_;
        positionText_.clear();
        uvText_.clear();
        normalText_.clear();
        positions_.clear();
        colouredPositions_.clear();
        uvs_.clear();
        normals_.clear();
        pieceFaces_.clear();
        positionCount_ = uvCount_ = normalCount_ = 0;
        return piece;
    }

    // Writes a piece's vertices and faces after `prefix`, its indices counted on from those of
    // the file.
    void writePiece(const PieceText& piece, std::string_view prefix = {}) {
        // One buffer used again for every piece: it keeps its storage.
        std::string& text = pieceText_;
        text.assign(prefix);
        text += piece.vertices;
        for (const auto& [m, faces] : piece.faces) {
            text += "usemtl ";
            text += names_[m];
            text += '\n';
            for (std::size_t i = 0; i < faces.size();) {
                const std::uint32_t n = faces[i++];
                text += 'f';
                for (std::uint32_t k = 0; k < n; ++k, i += 3) {
                    text += ' ';
                    appendIndex(text, filePositions_ + faces[i]);
                    text += '/';
                    if (faces[i + 1])
                        appendIndex(text, fileUvs_ + faces[i + 1]);
                    text += '/';
                    appendIndex(text, fileNormals_ + faces[i + 2]);
                }
                text += '\n';
            }
        }
        put(text);
        filePositions_ += piece.positions;
        fileUvs_ += piece.uvs;
        fileNormals_ += piece.normals;
    }

    static void appendIndex(std::string& out, std::uint64_t value) {
        char digits[24];
        out.append(digits, std::to_chars(digits, digits + sizeof digits, value).ptr);
    }

    // Writes the blocks held, in the order they were first met: an object for each block, a
    // group for each of its buildings.
    void writeBlocks() {
        for (const HeldBlock& block : band_) {
            object("block_" + std::to_string(block.column) + "_" + std::to_string(block.row));
            for (const auto& [lines, piece] : block.buildings)
                writePiece(piece, lines);
        }
        band_.clear();
        bandLookup_.clear();
    }

    void put(const std::string& text) {
        if (std::fwrite(text.data(), 1, text.size(), out_) != text.size())
            failed_ = true;
    }

    std::FILE* out_;
    ExportOptions options_;
    Triangulator triangulator_; // used only when every face is triangulated
    FaceReader faces_;
    std::optional<VRPiece> piece_;
    bool started_ = false;
    bool inRoads_ = false;
    bool failed_ = false;
    std::uint64_t triangles_ = 0;
    // The vertices of the piece being gathered, and of the file written so far.
    std::uint32_t positionCount_ = 0, uvCount_ = 0, normalCount_ = 0;
    std::uint64_t filePositions_ = 0, fileUvs_ = 0, fileNormals_ = 0;
    bool colours_;
    bool merge_;
    Vec3 colour_{1, 1, 1};   // that of the faces coming, when colours are kept
    std::string colourText_; // colour_ as the vertices give it: " R G B"
    std::string pieceText_;  // the text of the piece being written
    struct HeldBlock {
        std::uint32_t column = 0;
        std::uint32_t row = 0;
        // Each building's lines before its faces (its definition and its group), and its faces.
        std::vector<std::pair<std::string, PieceText>> buildings;
    };
    std::vector<HeldBlock> band_; // the blocks of the column of blocks being walked
    std::unordered_map<std::uint32_t, std::size_t> bandLookup_;
    std::unordered_map<std::string, std::uint32_t> positions_, uvs_, normals_;
    std::unordered_map<ColouredKey, std::uint32_t, ColouredKeyHash> colouredPositions_;
    std::string positionText_, uvText_, normalText_;
    std::vector<std::pair<std::uint32_t, std::vector<std::uint32_t>>> pieceFaces_;
    std::size_t current_ = 0; // the faces of the current material in pieceFaces_
    MaterialTable materials_;
    std::vector<std::string> names_; // each material's name in the file
    UniqueNames uniqueNames_;
};

void reportFailure(const std::string& path, const std::string& reason) {
    logSaveFailure("OBJ", path, reason);
}

} // namespace

bool exportCityObj(const VRSceneSource& city, const std::string& path, const CityRecord& record,
                   const ExportOptions& options, Progress* progress, CommitGroup* together) {
    if (path.empty()) {
        errorLog.line("Could not save OBJ: no file name given");
        return false;
    }
    if (writtenInPlace(path)) {
        reportFailure(path, "an .obj needs its .mtl file beside it; name a file to write");
        return false;
    }
    // The .mtl is opened first: a companion that cannot be one is refused before anything else.
    const std::string mtlPath = besidePath(path, ".mtl");
    auto mtl = std::make_unique<ReplacingFile>(mtlPath, ReplacingFile::Temporary::unnamed,
                                               ReplacingFile::Kind::regularOnly);
    if (!mtl->stream()) {
        reportFailure(mtl->notRegular() ? path : mtlPath, mtl->reason());
        return false;
    }
    auto obj = std::make_unique<ReplacingFile>(path);
    if (!obj->stream()) {
        mtl->discard();
        reportFailure(path, obj->reason());
        return false;
    }
    std::string header =
        "# Ombrel " + std::string(kVersion) + " randomly generated urban model\n# ";
    for (char c : record.constructionFile)
        header += (c == '\n' || c == '\r') ? ' ' : c;
    char seed[32];
    std::snprintf(seed, sizeof seed, "%08X", unsigned(record.seed));
    header += std::string("\n# randomSeed=0x") + seed + "\nmtllib " + fileNameOf(mtlPath) + "\n";
    bool ok = std::fwrite(header.data(), 1, header.size(), obj->stream()) == header.size();
    ObjSink sink(obj->stream(), options);
    if (ok)
        city.toVrmlScene(options.collapseMode == CollapseMode::building, options.saveRoads, sink,
                         progress);
    sink.finish();
    ok = ok && sink.ok();
    if (ok) {
        TextureUrls urls(mtlPath);
        const std::string library = sink.materialLibrary(urls);
        ok = std::fwrite(library.data(), 1, library.size(), mtl->stream()) == library.size();
    }
    if (!ok) {
        // Each stream keeps the reason of its first failed write.
        const bool mtlFailed = mtl->error() && !obj->error();
        const int error = obj->error() ? obj->error() : mtl->error() ? mtl->error() : EIO;
        obj->discard();
        mtl->discard();
        reportFailure(mtlFailed ? mtlPath : path, std::strerror(error));
        return false;
    }
    if (progress)
        progress->step("Writing", 0, 1);
    // The .mtl goes first, so the new .obj never names a missing material.
    std::vector<std::unique_ptr<ReplacingFile>> files;
    files.push_back(std::move(mtl));
    files.push_back(std::move(obj));
    return CommitGroup::commitOrHand(
        together, std::move(files), [path, options] { logSaved("OBJ", path, options); },
        [](const ReplacingFile& failed) { reportFailure(failed.target(), failed.reason()); });
}

} // namespace ombrel
