#include "base/Log.h"
#include "base/Progress.h"
#include "base/Version.h"
#include "export/BuildingFeatures.h"
#include "export/CityExport.h"
#include "export/ImageEmbed.h"
#include "export/Output.h"
#include "export/SceneFaces.h"
#include "vrml/CommitGroup.h"
#include "vrml/ReplacingFile.h"
#include "vrml/TextureUrl.h"
#include "vrml/Triangulate.h"
#include "vrml/VRSceneSink.h"

#include <array>
#include <bit>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <type_traits>
#include <unistd.h>
#include <unordered_map>
#include <vector>

namespace ombrel {

namespace {

static_assert(std::endian::native == std::endian::little, "the binary data is written as held");

// A new .bin file once the current one holds this much.
constexpr std::uint64_t kBinFileSize = std::uint64_t(1) << 30;
// The largest .glb that most readers load (their lengths are signed 32-bit).
constexpr std::uint64_t kGlbLimit = std::uint64_t(1) << 31;
// The vertices of many pieces share one set of accessors, up to this many; a piece with more
// gets a set of its own. Small sets keep the JSON small (one set of accessors for dozens of
// buildings) without making readers that check every primitive's vertices look at many more
// than it uses.
constexpr std::size_t kChunkVertices = 2048;
// 16-bit indices for sets up to this size (65535 itself is the primitive restart value).
constexpr std::size_t kShortIndexVertices = 65535;

constexpr int kArrayBuffer = 34962;
constexpr int kElementArrayBuffer = 34963;
constexpr int kUnsignedShort = 5123;
constexpr int kUnsignedInt = 5125;

// The vertices of one kind, interleaved as the binary data holds them, all 32-bit floats: the
// position, the normal, the texture coordinates (textured vertices), the colour (when the export
// keeps colours per vertex) and the feature ID (when it merges buildings).
class VertexSet {
public:
    explicit VertexSet(std::size_t stride = 6) : stride_(stride) {}
    std::size_t stride() const { return stride_; } // in floats
    std::size_t size() const { return values_.size() / stride_; }
    bool empty() const { return values_.empty(); }
    void clear() { values_.clear(); }
    void resize(std::size_t n) { values_.resize(n * stride_); }
    // Room for n more vertices, to be filled; where they start.
    float* grow(std::size_t n) {
        const std::size_t at = values_.size();
        values_.resize(at + n * stride_);
        return values_.data() + at;
    }
    const float* data() const { return values_.data(); }
    std::uint64_t bytes() const { return values_.size() * sizeof(float); }
    // Makes this set a copy of the vertices of `other` from `first` on.
    void assignTail(const VertexSet& other, std::size_t first) {
        stride_ = other.stride_;
        values_.assign(other.values_.begin() + std::ptrdiff_t(first * stride_),
                       other.values_.end());
    }
    void append(const VertexSet& other) {
        values_.insert(values_.end(), other.values_.begin(), other.values_.end());
    }
    void swap(VertexSet& other) {
        values_.swap(other.values_);
        std::swap(stride_, other.stride_);
    }

private:
    std::vector<float> values_;
    std::size_t stride_;
};

// One primitive of the piece being gathered: its material's triangles, as indices into the
// chunk's textured or plain vertices, and how many buildings (features) drew into it.
struct Batch {
    std::uint32_t material = 0;
    bool textured = false;
    std::vector<std::uint32_t> indices;
    std::uint32_t features = 0;
    std::int64_t lastFeature = -1;
    void reset(std::uint32_t m, bool t) {
        material = m;
        textured = t;
        indices.clear();
        features = 0;
        lastFeature = -1;
    }
};

// The buildings of one street block, gathered until the walk leaves its column of blocks.
struct Block {
    std::uint32_t column = 0;
    std::uint32_t row = 0;
    VertexSet textured, plain;
    std::vector<Batch> batches;
    std::size_t usedBatches = 0;
    std::vector<std::uint32_t> numbers; // the buildings' numbers, in the order they came
};

void appendUint(std::string& out, std::uint64_t value) {
    char text[24];
    out.append(text, std::to_chars(text, text + sizeof text, value).ptr);
}

// The ending of the i-th .bin file's name: ".bin", "-1.bin", "-2.bin", ...
std::string binEnding(std::size_t i) {
    std::string ending;
    if (i > 0) {
        ending = '-';
        appendUint(ending, i);
    }
    return ending + ".bin";
}

// Where the binary data goes: the .glb's BIN chunk, or a row of .bin files beside the .gltf, a
// new one every kBinFileSize bytes. Every block starts 4-aligned. A .glb's data is held in memory
// (in pieces of a megabyte, which the allocator hands out again without touching fresh pages)
// while it is at most kHeld bytes, so that the file can be written front to back at the end;
// past that it goes to the file given to writeInto(), behind 8 bytes for the chunk header, or
// to a scratch file.
class BinaryStore {
public:
    BinaryStore(const std::string& output, bool separateFiles)
        : output_(output), separate_(separateFiles), held_(!separateFiles) {
        pending_.reserve(kPending);
    }

    // Makes room for a block of `size` bytes that the next write() calls fill; sets the buffer
    // and offset it starts at. False when the store failed or passed `limit`.
    bool block(std::uint64_t size, std::uint32_t& buffer, std::uint64_t& offset) {
        if (failed())
            return false;
        if (separate_) {
            if (sizes_.empty() || (sizes_.back() > 0 && sizes_.back() + size > kBinFileSize))
                openFile();
        } else if (sizes_.empty()) {
            sizes_.push_back(0);
        } else if (sizes_.back() + size > kGlbLimit) {
            tooLarge_ = true;
            return false;
        }
        if (failed())
            return false;
        buffer = std::uint32_t(sizes_.size() - 1);
        offset = sizes_.back();
        return true;
    }

    // Appends to the open block. The bytes are gathered here and reach the stream in large
    // writes (at flush() or when the next file begins), because a chunk is written in many
    // small pieces.
    void write(const void* data, std::size_t n) {
        if (failed() || n == 0)
            return;
        if (pending_.size() + n > kPending) {
            flush();
            if (failed())
                return;
        }
        pending_.insert(pending_.end(), static_cast<const char*>(data),
                        static_cast<const char*>(data) + n);
        sizes_.back() += n;
        // A block of a megabyte or more (an image) is handed on at once, as a piece of its own.
        if (pending_.size() >= kPending)
            flush();
    }

    // Hands what is gathered on, to memory or to the stream; false when the store failed.
    bool flush() {
        if (pending_.empty() || failed()) {
            pending_.clear();
            return !failed();
        }
        if (held_ && heldBytes_ + pending_.size() <= kHeld) {
            heldBytes_ += pending_.size();
            heldPieces_.push_back(std::move(pending_));
            pending_ = {};
            pending_.reserve(kPending);
            return true;
        }
        release();
        if (!failed())
            put(pending_.data(), pending_.size());
        pending_.clear();
        return !failed();
    }

    // The whole .glb data is in memory (after flush()): writeHeld() writes it.
    bool held() const { return held_; }
    bool writeHeld(std::FILE* out) const {
        for (const std::vector<char>& piece : heldPieces_)
            if (std::fwrite(piece.data(), 1, piece.size(), out) != piece.size())
                return false;
        return true;
    }

    void pad() {
        static constexpr char kZeros[4] = {};
        write(kZeros, (4 - sizes_.back() % 4) % 4);
    }

    bool failed() const { return error_ != 0 || tooLarge_; }
    bool tooLarge() const { return tooLarge_; }
    int error() const { return error_; }
    const std::vector<std::uint64_t>& sizes() const { return sizes_; }
    std::FILE* scratch() const { return scratch_; }
    // Writes the .glb's binary data that is not held into `file` (which it does not own) instead
    // of a scratch file.
    void writeInto(ReplacingFile& file) {
        outside_ = file.stream();
        outsideFile_ = &file;
    }
    // The .bin files' names relative to the .gltf.
    const std::vector<std::string>& names() const { return names_; }
    std::vector<std::unique_ptr<ReplacingFile>>& files() { return files_; }

    ~BinaryStore() {
        if (scratch_)
            std::fclose(scratch_);
    }
    BinaryStore(const BinaryStore&) = delete;
    BinaryStore& operator=(const BinaryStore&) = delete;

private:
    std::FILE* stream() {
        return separate_ ? files_.back()->stream() : outside_ ? outside_ : scratch_;
    }

    void put(const void* data, std::size_t n) {
        if (std::fwrite(data, 1, n, stream()) != n)
            error_ = firstError();
    }

    // The reason of a failed write: what the file recorded when it is one of ours.
    int firstError() const {
        if (separate_ && files_.back()->error())
            return files_.back()->error();
        if (!separate_ && outside_ && outsideFile_ && outsideFile_->error())
            return outsideFile_->error();
        return errno ? errno : EIO;
    }

    // Moves what is held to the file or a scratch file; from here on the data is written as it
    // comes.
    void release() {
        if (!held_)
            return;
        held_ = false;
        if (outside_) {
            static constexpr char kChunkHeader[8] = {};
            put(kChunkHeader, sizeof kChunkHeader);
        } else {
            scratch_ = openScratch(output_);
            if (!scratch_)
                error_ = errno ? errno : EIO;
        }
        for (const std::vector<char>& piece : heldPieces_)
            if (!failed())
                put(piece.data(), piece.size());
        heldPieces_.clear();
        heldBytes_ = 0;
    }

    void openFile() {
        flush();
        const std::string path = besidePath(output_, binEnding(files_.size()));
        files_.push_back(std::make_unique<ReplacingFile>(path, ReplacingFile::Temporary::unnamed,
                                                         ReplacingFile::Kind::regularOnly));
        names_.push_back(fileNameOf(path));
        sizes_.push_back(0);
        if (!files_.back()->stream()) {
            error_ = files_.back()->error() ? files_.back()->error() : EIO;
            failedPath_ = files_.back()->notRegular() ? output_ : path;
        }
    }

    static constexpr std::size_t kPending = std::size_t(1) << 20;
    static constexpr std::size_t kHeld = std::size_t(64) << 20;

    std::string output_;
    bool separate_;
    bool held_;
    std::vector<char> pending_;
    std::vector<std::vector<char>> heldPieces_;
    std::size_t heldBytes_ = 0;
    std::vector<std::uint64_t> sizes_;
    std::vector<std::unique_ptr<ReplacingFile>> files_;
    std::vector<std::string> names_;
    std::FILE* scratch_ = nullptr;
    std::FILE* outside_ = nullptr;
    const ReplacingFile* outsideFile_ = nullptr;
    int error_ = 0;
    bool tooLarge_ = false;

public:
    std::string failedPath_;
};

// A JSON array written element by element: gathered in memory and moved to a scratch file a
// megabyte at a time, so that the city's nodes, meshes, accessors and buffer views are never
// held whole.
class JsonArray {
public:
    explicit JsonArray(const std::string& near) : file_(openScratch(near)) {}
    ~JsonArray() {
        if (file_)
            std::fclose(file_);
    }
    JsonArray(const JsonArray&) = delete;
    JsonArray& operator=(const JsonArray&) = delete;

    // Appends one element; returns its index.
    std::uint32_t add(std::string_view element) {
        if (count_ > 0)
            text_ += ',';
        text_ += element;
        bytes_ += element.size() + (count_ > 0 ? 1 : 0);
        if (text_.size() >= kGathered)
            spill();
        return count_++;
    }
    std::uint32_t count() const { return count_; }
    // The length of the array's text, without its brackets.
    std::uint64_t bytes() const { return bytes_; }
    bool ok() const { return file_ && !failed_ && !std::ferror(file_); }

    // Writes the array's text (what went to the scratch file, then what is still gathered);
    // false when reading the scratch file or writing failed. `descriptor` is the file behind
    // `out` where fileno() cannot tell it (see appendScratch).
    bool writeTo(std::FILE* out, int descriptor) const {
        if (failed_ || (spilled_ && !appendScratch(file_, out, descriptor)))
            return false;
        return std::fwrite(text_.data(), 1, text_.size(), out) == text_.size();
    }

private:
    static constexpr std::size_t kGathered = std::size_t(1) << 20;

    void spill() {
        if (!file_ || std::fwrite(text_.data(), 1, text_.size(), file_) != text_.size())
            failed_ = true;
        spilled_ = true;
        text_.clear();
    }

    std::FILE* file_;
    std::string text_;
    bool spilled_ = false;
    bool failed_ = false;
    std::uint32_t count_ = 0;
    std::uint64_t bytes_ = 0;
};

// The JSON document as text pieces and the arrays that go between them: put together once, so
// that its length is known before it is written and writing it twice gives the same bytes.
class JsonDocument {
public:
    void text(std::string piece) {
        size_ += piece.size();
        if (!parts_.empty() && !parts_.back().array)
            parts_.back().text += piece;
        else
            parts_.push_back({std::move(piece), nullptr});
    }
    void array(const JsonArray& array) {
        size_ += array.bytes();
        parts_.push_back({{}, &array});
    }
    // A top-level property `,"name":[...]` holding the array; nothing when it is empty.
    void property(const char* name, const JsonArray& array) {
        if (array.count() == 0)
            return;
        text(std::string(",\"") + name + "\":[");
        this->array(array);
        text("]");
    }
    std::uint64_t size() const { return size_; }

    // False when reading an array's scratch file or writing failed.
    bool write(std::FILE* out, int descriptor = -1) const {
        for (const Part& part : parts_) {
            const bool ok = part.array ? part.array->writeTo(out, descriptor)
                                       : std::fwrite(part.text.data(), 1, part.text.size(), out) ==
                                             part.text.size();
            if (!ok)
                return false;
        }
        return true;
    }

private:
    struct Part {
        std::string text;
        const JsonArray* array;
    };
    std::vector<Part> parts_;
    std::uint64_t size_ = 0;
};

// Collects the city piece by piece and writes its binary data as it goes.
class GltfSink : public VRSceneSink, public FaceSink {
public:
    GltfSink(const std::string& path, const ExportOptions& options, BinaryStore& store)
        : path_(path), options_(options), store_(store), urls_(path), nodes_(path), meshes_(path),
          accessors_(path), bufferViews_(path),
          colours_(options.collapseMode != CollapseMode::model), merge_(mergesBlocks(options)),
          textured_(stride(true)), plain_(stride(false)), materialsJson_(path) {}

    void openGroup(VRRef<VRGroup>) override {}
    void closeGroup() override {}
    void piece(const VRPiece& piece) override { piece_ = piece; }

    void node(VRRef<VRNode> node) override {
        const std::optional<VRPiece> piece = piece_;
        piece_.reset();
        if (store_.failed())
            return;
        usedBatches_ = 0;
        if (options_.collapseMode == CollapseMode::model) {
            const FaceMaterial grey = greyMaterial();
            faces_.read(std::move(node), *this, &grey);
            place(Target::model);
            return;
        }
        if (piece && piece->kind == VRPiece::Kind::road) {
            placeBlocks();
            hadRoads_ = true;
            feature_ = 0;
            faces_.read(std::move(node), *this);
            place(Target::roads);
            return;
        }
        // The name of the building's definition, else that of its node.
        std::string name = piece ? piece->name : std::string();
        if (name.empty() && node && node->name)
            name = *node->name;
        if (merge_) {
            gather(piece ? *piece : VRPiece(), name, std::move(node));
            return;
        }
        faces_.read(std::move(node), *this);
        const bool hasMesh = place(Target::building);
        std::string& json = nodeText_;
        json = "{";
        if (!name.empty()) {
            json += "\"name\":";
            appendJsonString(json, name);
            json += ',';
        }
        if (hasMesh) {
            json += "\"mesh\":";
            appendUint(json, meshesAssigned_ - 1);
            json += ',';
        }
        json += "\"extras\":{\"column\":";
        appendUint(json, piece ? piece->column : 0);
        json += ",\"row\":";
        appendUint(json, piece ? piece->row : 0);
        json += ",\"height\":";
        appendShortFloat(json, piece ? piece->height : 0.0f);
        if (piece && !piece->definition.empty()) {
            json += ",\"definition\":";
            appendJsonString(json, piece->definition);
        }
        json += "}}";
        nodes_.add(json);
        ++buildings_;
    }

    void material(const FaceMaterial& material) override {
        // With colours per vertex the materials differ only by image and noColor: the colour
        // goes into the vertices, white for untinted faces.
        std::uint32_t m = 0;
        if (colours_) {
            colour_ = material.noColor ? Vec3{1, 1, 1} : material.colour;
            FaceMaterial key = material;
            key.colour = {1, 1, 1};
            m = materialIndex(key);
        } else {
            m = materialIndex(material);
        }
        batch_ = 0;
        while (batch_ < usedBatches_ && pieceBatches_[batch_].material != m)
            ++batch_;
        if (batch_ == usedBatches_) {
            // Batches are kept for the next pieces, with their storage.
            if (usedBatches_ == pieceBatches_.size())
                pieceBatches_.emplace_back();
            pieceBatches_[usedBatches_++].reset(m, !material.image.empty() && textures_[m] >= 0);
        }
        Batch& batch = pieceBatches_[batch_];
        if (batch.lastFeature != std::int64_t(feature_)) {
            batch.lastFeature = feature_;
            ++batch.features;
        }
    }

    void face(const Vec3* points, const Vec2* uv, std::size_t n,
              std::span<const FaceTriangle> triangles) override {
        Batch* batch = &pieceBatches_[batch_];
        // A face taken as it is becomes a fan from its first corner.
        fan_.clear();
        if (triangles.empty()) {
            for (std::size_t t = 1; t + 1 < n; ++t)
                fan_.push_back({0, std::int32_t(t), std::int32_t(t + 1)});
            triangles = fan_;
        }
        // One flat normal for the face: its first triangle's that has an area.
        Vec3 normal{0, 1, 0};
        for (const FaceTriangle& t : triangles)
            if (triangleNormal(points[std::size_t(t.a)], points[std::size_t(t.b)],
                               points[std::size_t(t.c)], normal))
                break;
        // A vertex for every corner, shared by the face's triangles only: neighbouring faces have
        // other normals or texture coordinates almost always (sharing across faces saved under
        // 1 % of the bytes of the bundled cities, for a lookup at every corner). A corner that the
        // triangulation left out (on a line with its neighbours) keeps its unused vertex.
        VertexSet& set = batch->textured ? textured_ : plain_;
        const auto base = std::uint32_t(set.size());
        float* v = set.grow(n);
        for (std::size_t k = 0; k < n; ++k) {
            const Vec3 p = points[k];
            *v++ = p.x;
            *v++ = p.y;
            *v++ = p.z;
            *v++ = normal.x;
            *v++ = normal.y;
            *v++ = normal.z;
            if (batch->textured) {
                // glTF's images start at the top left, VRML's at the bottom left.
                *v++ = uv[k].x;
                *v++ = 1.0f - uv[k].y;
            }
            if (colours_) {
                *v++ = colour_.x;
                *v++ = colour_.y;
                *v++ = colour_.z;
            }
            if (merge_)
                *v++ = float(feature_);
        }
        for (const FaceTriangle& t : triangles) {
            batch->indices.push_back(base + std::uint32_t(t.a));
            batch->indices.push_back(base + std::uint32_t(t.b));
            batch->indices.push_back(base + std::uint32_t(t.c));
        }
    }

    // Writes what is still gathered and the meshes of the roads and the model; called once
    // the city is handed over.
    void finish() {
        placeBlocks();
        flushChunk();
        writeFeatureTable();
        if (!roadPrimitives_.empty())
            roadsMesh_ = addMesh(roadPrimitives_);
        if (!modelPrimitives_.empty())
            modelMesh_ = addMesh(modelPrimitives_);
    }

    // The whole JSON document; `bufferUris` empty for a .glb. Call after finish().
    JsonDocument json(const CityRecord& record, const std::vector<std::string>& bufferUris) {
        // The nodes that hold the city follow the buildings: roads, buildings, city, cameras.
        std::string tail;
        std::optional<std::uint32_t> roadsNode, buildingsNode;
        std::uint32_t next = nodes_.count();
        auto addNode = [&](const std::string& json) {
            if (next > 0)
                tail += ',';
            tail += json;
            return next++;
        };
        std::string cityJson = "{\"name\":\"City_Model\"";
        if (options_.collapseMode == CollapseMode::model) {
            if (modelMesh_) {
                cityJson += ",\"mesh\":";
                appendUint(cityJson, *modelMesh_);
            }
        } else {
            if (roadsMesh_ || hadRoads_) {
                std::string json = "{\"name\":\"Roads\"";
                if (roadsMesh_) {
                    json += ",\"mesh\":";
                    appendUint(json, *roadsMesh_);
                }
                roadsNode = addNode(json + "}");
            }
            if (buildings_ > 0) {
                std::string json = "{\"name\":\"Buildings\",\"children\":[";
                for (std::uint32_t i = 0; i < buildings_; ++i) {
                    if (i > 0)
                        json += ',';
                    appendUint(json, i);
                }
                buildingsNode = addNode(json + "]}");
            }
            if (buildingsNode || roadsNode) {
                cityJson += ",\"children\":[";
                if (buildingsNode)
                    appendUint(cityJson, *buildingsNode);
                if (roadsNode) {
                    if (buildingsNode)
                        cityJson += ',';
                    appendUint(cityJson, *roadsNode);
                }
                cityJson += ']';
            }
        }
        const std::uint32_t cityNode = addNode(cityJson + "}");
        // The preview's home camera: in the middle of the city's x extent, 400 before its y = 0
        // edge (+Z here), at the top of the box, looking along the city's +y (-Z here).
        std::string home = "{\"name\":\"Home\",\"camera\":0,\"translation\":[";
        appendExactFloat(home, (record.minCorner.x + record.maxCorner.x) / 2.0f);
        home += ',';
        appendExactFloat(home, record.maxCorner.z);
        home += ",400]}";
        const std::uint32_t homeNode = addNode(home);
        const std::uint32_t originNode = addNode("{\"name\":\"Origin\",\"camera\":1}");

        std::string head = "{\"asset\":{\"version\":\"2.0\",\"generator\":\"Ombrel " +
                           std::string(kVersion) + "\",\"extras\":{\"constructionFile\":";
        appendJsonString(head, record.constructionFile);
        head += ",\"seed\":";
        appendUint(head, record.seed);
        head += "}},";
        if (featureViews_) {
            head += "\"extensionsUsed\":[";
            head += kFeatureExtensionsUsed;
            head += "],\"extensions\":{";
            head += features_.metadataJson(*featureViews_);
            head += "},";
        }
        head += "\"scene\":0,\"scenes\":[{\"nodes\":[";
        appendUint(head, homeNode);
        head += ',';
        appendUint(head, originNode);
        head += ',';
        appendUint(head, cityNode);
        head += "]}],\"nodes\":[";
        JsonDocument doc;
        doc.text(std::move(head));
        doc.array(nodes_);
        doc.text(tail + "]");
        doc.property("meshes", meshes_);
        doc.property("materials", materialsJson_);
        std::string middle;
        if (!images_.empty()) {
            middle += ",\"samplers\":[{\"magFilter\":9729,\"minFilter\":9987,\"wrapS\":10497,"
                      "\"wrapT\":10497}],\"textures\":[";
            for (std::size_t i = 0; i < images_.size(); ++i) {
                if (i > 0)
                    middle += ',';
                middle += "{\"sampler\":0,\"source\":";
                appendUint(middle, i);
                middle += '}';
            }
            middle += "],\"images\":[";
            for (std::size_t i = 0; i < images_.size(); ++i) {
                if (i > 0)
                    middle += ',';
                middle += images_[i];
            }
            middle += ']';
        }
        middle += ",\"cameras\":[{\"name\":\"Home\",\"type\":\"perspective\",\"perspective\":"
                  "{\"yfov\":0.7853982,\"znear\":5,\"zfar\":7000}},{\"name\":\"Origin\",\"type\":"
                  "\"perspective\",\"perspective\":{\"yfov\":1.0471976,\"znear\":5,\"zfar\":"
                  "7000}}]";
        doc.text(std::move(middle));
        doc.property("accessors", accessors_);
        doc.property("bufferViews", bufferViews_);
        std::string buffers;
        const std::vector<std::uint64_t>& sizes = store_.sizes();
        for (std::size_t i = 0; i < sizes.size(); ++i) {
            buffers += i == 0 ? ",\"buffers\":[" : ",";
            buffers += "{";
            if (!bufferUris.empty()) {
                buffers += "\"uri\":";
                appendJsonString(buffers, uriEncode(bufferUris[i]));
                buffers += ',';
            }
            buffers += "\"byteLength\":";
            appendUint(buffers, sizes[i]);
            buffers += '}';
        }
        if (!sizes.empty())
            buffers += ']';
        doc.text(buffers + "}");
        return doc;
    }

    bool scratchOk() const {
        return nodes_.ok() && meshes_.ok() && materialsJson_.ok() && accessors_.ok() &&
               bufferViews_.ok();
    }

private:
    enum class Target { building, roads, model };
    // A primitive inside the chunk: its indices' place in the chunk's index list, and the
    // number of buildings it holds when they are told apart by feature IDs (0: not).
    struct PrimitiveRef {
        std::uint32_t material = 0;
        bool textured = false;
        std::size_t first = 0;
        std::size_t count = 0;
        std::uint32_t features = 0;
    };
    // A primitive of the roads or the model that gathers the faces of many pieces until the
    // chunk is written.
    struct OpenPrimitive {
        Target target = Target::roads;
        std::uint32_t material = 0;
        bool textured = false;
        std::vector<std::uint32_t> indices;
    };

    // The floats of a vertex: position and normal, texture coordinates, colour, feature ID.
    std::size_t stride(bool textured) const {
        return 6 + (textured ? 2 : 0) + (colours_ ? 3 : 0) + (merge_ ? 1 : 0);
    }

    // Gathers a building into its street block. When the walk has come to another column of
    // blocks, those of the last column are complete and are placed first.
    void gather(const VRPiece& piece, const std::string& name, VRRef<VRNode> node) {
        if (!band_.empty() && band_.front().column != piece.blockColumn)
            placeBlocks();
        const std::uint64_t key = piece.blockRow;
        auto [it, added] = bandLookup_.try_emplace(key, band_.size());
        if (added) {
            band_.emplace_back();
            Block& fresh = band_.back();
            fresh.column = piece.blockColumn;
            fresh.row = piece.blockRow;
            fresh.textured = VertexSet(stride(true));
            fresh.plain = VertexSet(stride(false));
        }
        Block& block = band_[it->second];
        feature_ = features_.add(
            {piece.number, piece.column, piece.row, piece.height, name, piece.definition});
        block.numbers.push_back(piece.number);
        // The faces go into the block's vertices and batches for the time of the reading.
        textured_.swap(block.textured);
        plain_.swap(block.plain);
        pieceBatches_.swap(block.batches);
        std::swap(usedBatches_, block.usedBatches);
        faces_.read(std::move(node), *this);
        textured_.swap(block.textured);
        plain_.swap(block.plain);
        pieceBatches_.swap(block.batches);
        std::swap(usedBatches_, block.usedBatches);
    }

    // Places the gathered blocks as pieces of the chunk, in the order they were first met, each
    // a node of its own mesh named after the block.
    void placeBlocks() {
        for (Block& block : band_) {
            const auto textured = std::uint32_t(textured_.size());
            const auto plain = std::uint32_t(plain_.size());
            textured_.append(block.textured);
            plain_.append(block.plain);
            pieceBatches_.swap(block.batches);
            usedBatches_ = block.usedBatches;
            for (std::size_t b = 0; b < usedBatches_; ++b)
                for (std::uint32_t& i : pieceBatches_[b].indices)
                    i += pieceBatches_[b].textured ? textured : plain;
            const bool hasMesh = place(Target::building);
            std::string& json = nodeText_;
            json = "{\"name\":\"block_";
            appendUint(json, block.column);
            json += '_';
            appendUint(json, block.row);
            json += '"';
            if (hasMesh) {
                json += ",\"mesh\":";
                appendUint(json, meshesAssigned_ - 1);
            }
            json += ",\"extras\":{\"blockColumn\":";
            appendUint(json, block.column);
            json += ",\"blockRow\":";
            appendUint(json, block.row);
            json += ",\"buildings\":[";
            for (std::size_t i = 0; i < block.numbers.size(); ++i) {
                if (i > 0)
                    json += ',';
                appendUint(json, block.numbers[i]);
            }
            json += "]}}";
            nodes_.add(json);
            ++buildings_;
            // The batches' storage is kept for the next pieces; the block's own goes.
            pieceBatches_.swap(block.batches);
            usedBatches_ = 0;
        }
        band_.clear();
        bandLookup_.clear();
    }

    // Writes the columns of the buildings' property table, each in a view of its own that
    // starts at a multiple of 8 bytes; nothing when no building was merged.
    void writeFeatureTable() {
        if (features_.size() == 0 || store_.failed())
            return;
        std::array<std::uint32_t, BuildingFeatureTable::kColumns> views{};
        for (std::size_t i = 0; i < views.size(); ++i) {
            const std::vector<char> bytes = features_.column(i);
            std::uint32_t buffer = 0;
            std::uint64_t offset = 0;
            if (!store_.block(bytes.size() + 4, buffer, offset))
                return;
            if (offset % 8 != 0) {
                static constexpr char kZeros[4] = {};
                store_.write(kZeros, 4);
                offset += 4;
            }
            store_.write(bytes.data(), bytes.size());
            store_.pad();
            // A view may not be empty: an empty column (no names) gets a byte of its own.
            views[i] = bufferViews_.add(
                viewJson(buffer, offset, std::max<std::uint64_t>(bytes.size(), 1), 0, 0));
            if (bytes.empty()) {
                static constexpr char kZero[4] = {};
                store_.write(kZero, 4);
            }
        }
        featureViews_ = views;
    }

    // Adds a mesh of the primitives' JSON, separated by commas; returns its index.
    std::uint32_t addMesh(std::string_view primitives) {
        meshText_.assign("{\"primitives\":[").append(primitives).append("]}");
        return meshes_.add(meshText_);
    }

    // The material's number; its JSON is written when it is first met.
    std::uint32_t materialIndex(const FaceMaterial& key) {
        const auto [index, added] = materials_.add(key);
        if (added)
            addMaterialJson(key);
        return index;
    }

    void addMaterialJson(const FaceMaterial& key) {
        const std::int32_t texture = key.image.empty() ? -1 : imageIndex(key.image);
        // Named after the faces' labels, which its extras hold as well.
        const std::string name = materialName(key);
        const std::string json =
            gltfMaterialJson(key, name.empty() ? name : materialNames_.add(name), texture);
        materialsJson_.add(json);
        textures_.push_back(texture);
    }

    // The image (and texture) index of an image file, placing it on first use; -1 when it
    // cannot be placed, which is reported once.
    std::int32_t imageIndex(const std::string& image) {
        const auto [it, added] = imageLookup_.try_emplace(image, -1);
        if (!added)
            return it->second;
        const bool embed = options_.format == ExportFormat::glb;
        std::string why;
        std::optional<EmbeddableImage> picture = embeddableImage(image, embed, why);
        if (!picture) {
            warningLog.line("Could not place the image ", image, " in ", path_, ": ", why,
                            "; its faces are exported untextured");
            return -1;
        }
        std::string json = "{";
        if (picture->bytes.empty()) {
            // A PNG or JPEG file beside a .gltf: named by its path relative to the output.
            json += "\"uri\":";
            appendJsonString(json, uriEncode(urls_.url(image)));
        } else {
            std::uint32_t buffer = 0;
            std::uint64_t offset = 0;
            if (!store_.block(picture->bytes.size(), buffer, offset))
                return -1;
            store_.write(picture->bytes.data(), picture->bytes.size());
            store_.pad();
            std::string view = "{\"buffer\":";
            appendUint(view, buffer);
            view += ",\"byteOffset\":";
            appendUint(view, offset);
            view += ",\"byteLength\":";
            appendUint(view, picture->bytes.size());
            view += '}';
            json += "\"bufferView\":";
            appendUint(json, bufferViews_.add(view));
            json += ",\"mimeType\":";
            appendJsonString(json, picture->mimeType);
        }
        json += '}';
        it->second = std::int32_t(images_.size());
        images_.push_back(std::move(json));
        return it->second;
    }

    std::string viewJson(std::uint32_t buffer, std::uint64_t offset, std::uint64_t length,
                         int stride, int target) {
        std::string view = "{\"buffer\":";
        appendUint(view, buffer);
        view += ",\"byteOffset\":";
        appendUint(view, offset);
        view += ",\"byteLength\":";
        appendUint(view, length);
        if (stride) {
            view += ",\"byteStride\":";
            appendUint(view, std::uint64_t(stride));
        }
        if (target) {
            view += ",\"target\":";
            appendUint(view, std::uint64_t(target));
        }
        return view + "}";
    }

    // Moves the piece's triangles into the chunk, whose vertices it added to: a building's as
    // the primitives of its own mesh (true when it has one), the roads' and the model's into the
    // primitives they share. When the piece took the chunk past kChunkVertices, the chunk is
    // written without it first, and the piece starts the next one.
    bool place(Target target) {
        const std::span<Batch> batches(pieceBatches_.data(), usedBatches_);
        if ((textured_.size() > kChunkVertices || plain_.size() > kChunkVertices) &&
            (pieceTextured_ > 0 || piecePlain_ > 0)) {
            spareTextured_.assignTail(textured_, pieceTextured_);
            sparePlain_.assignTail(plain_, piecePlain_);
            textured_.resize(pieceTextured_);
            plain_.resize(piecePlain_);
            for (Batch& b : batches) {
                const auto shift = std::uint32_t(b.textured ? pieceTextured_ : piecePlain_);
                for (std::uint32_t& i : b.indices)
                    i -= shift;
            }
            flushChunk();
            textured_.swap(spareTextured_);
            plain_.swap(sparePlain_);
        }
        const std::size_t meshStart = pendingPrimitives_.size();
        for (const Batch& b : batches) {
            if (b.indices.empty())
                continue;
            std::vector<std::uint32_t>* out = &indices_;
            if (target == Target::building) {
                pendingPrimitives_.push_back({b.material, b.textured, indices_.size(),
                                              b.indices.size(), merge_ ? b.features : 0});
            } else {
                OpenPrimitive* open = nullptr;
                for (OpenPrimitive& o : open_)
                    if (o.target == target && o.material == b.material)
                        open = &o;
                if (!open) {
                    open_.push_back({target, b.material, b.textured, {}});
                    open = &open_.back();
                }
                out = &open->indices;
            }
            out->insert(out->end(), b.indices.begin(), b.indices.end());
        }
        usedBatches_ = 0;
        pieceTextured_ = textured_.size();
        piecePlain_ = plain_.size();
        if (pendingPrimitives_.size() == meshStart)
            return false;
        pendingMeshes_.push_back(pendingPrimitives_.size());
        ++meshesAssigned_;
        return true;
    }

    // The accessors of one vertex set, interleaved in one view: POSITION (with its exact
    // bounds), NORMAL, for textured vertices TEXCOORD_0, and COLOR_0 when colours are kept.
    // Returns the attributes' JSON without its closing brace; sets `feature` to the accessor
    // of the feature IDs when buildings are merged and `withFeatures`.
    std::string vertexAccessors(const VertexSet& set, bool textured, std::uint32_t view,
                                bool withFeatures, std::uint32_t& feature) {
        const std::size_t stride = set.stride();
        const float* values = set.data();
        float lo[3], hi[3];
        for (int k = 0; k < 3; ++k)
            lo[k] = hi[k] = values[k];
        for (const float* v = values; v != values + set.size() * stride; v += stride)
            for (int k = 0; k < 3; ++k) {
                lo[k] = std::min(lo[k], v[k]);
                hi[k] = std::max(hi[k], v[k]);
            }
        auto accessor = [&](std::size_t byteOffset, const char* type, bool bounds) {
            std::string json = "{\"bufferView\":";
            appendUint(json, view);
            if (byteOffset) {
                json += ",\"byteOffset\":";
                appendUint(json, std::uint64_t(byteOffset));
            }
            json += ",\"componentType\":5126,\"count\":";
            appendUint(json, set.size());
            json += ",\"type\":\"";
            json += type;
            json += '"';
            if (bounds) {
                // Exact bounds: readers check them against the data.
                json += ",\"min\":[";
                for (int k = 0; k < 3; ++k) {
                    appendExactFloat(json, lo[k]);
                    json += k < 2 ? "," : "],\"max\":[";
                }
                for (int k = 0; k < 3; ++k) {
                    appendExactFloat(json, hi[k]);
                    json += k < 2 ? ',' : ']';
                }
            }
            return accessors_.add(json + "}");
        };
        std::string a = "{\"POSITION\":";
        appendUint(a, accessor(0, "VEC3", true));
        a += ",\"NORMAL\":";
        appendUint(a, accessor(12, "VEC3", false));
        std::size_t at = 24;
        if (textured) {
            a += ",\"TEXCOORD_0\":";
            appendUint(a, accessor(at, "VEC2", false));
            at += 8;
        }
        if (colours_) {
            a += ",\"COLOR_0\":";
            appendUint(a, accessor(at, "VEC3", false));
            at += 12;
        }
        if (merge_ && withFeatures)
            feature = accessor(at, "SCALAR", false);
        return a;
    }

    // Writes the chunk as one block: the textured vertices interleaved with their texture
    // coordinates in one view, the plain ones in another, every primitive's indices in a third;
    // then the meshes of its buildings, and the primitives of the roads and the model.
    void flushChunk() {
        std::vector<std::pair<Target, PrimitiveRef>> shared;
        for (OpenPrimitive& o : open_) {
            shared.push_back(
                {o.target, {o.material, o.textured, indices_.size(), o.indices.size()}});
            indices_.insert(indices_.end(), o.indices.begin(), o.indices.end());
        }
        open_.clear();
        if (!indices_.empty() && !store_.failed()) {
            const bool small = std::max(textured_.size(), plain_.size()) <= kShortIndexVertices;
            const std::uint64_t texturedBytes = textured_.bytes();
            const std::uint64_t plainBytes = plain_.bytes();
            // The feature IDs get accessors only where a primitive uses them.
            bool texturedFeatures = false, plainFeatures = false;
            for (const PrimitiveRef& ref : pendingPrimitives_)
                if (ref.features > 0)
                    (ref.textured ? texturedFeatures : plainFeatures) = true;
            std::uint32_t texturedFeature = 0, plainFeature = 0;
            const std::uint64_t indexBytes = (indices_.size() * (small ? 2 : 4) + 3) / 4 * 4;
            std::uint32_t buffer = 0;
            std::uint64_t offset = 0;
            if (store_.block(texturedBytes + plainBytes + indexBytes, buffer, offset)) {
                std::string texturedAttributes, plainAttributes;
                if (!textured_.empty()) {
                    const std::uint32_t view = bufferViews_.add(viewJson(
                        buffer, offset, texturedBytes, int(textured_.stride() * 4), kArrayBuffer));
                    texturedAttributes =
                        vertexAccessors(textured_, true, view, texturedFeatures, texturedFeature);
                    store_.write(textured_.data(), texturedBytes);
                }
                if (!plain_.empty()) {
                    const std::uint32_t view =
                        bufferViews_.add(viewJson(buffer, offset + texturedBytes, plainBytes,
                                                  int(plain_.stride() * 4), kArrayBuffer));
                    plainAttributes =
                        vertexAccessors(plain_, false, view, plainFeatures, plainFeature);
                    store_.write(plain_.data(), plainBytes);
                }
                const std::uint32_t indexView =
                    bufferViews_.add(viewJson(buffer, offset + texturedBytes + plainBytes,
                                              indexBytes, 0, kElementArrayBuffer));
                if (small) {
                    shorts_.assign(indices_.begin(), indices_.end());
                    store_.write(shorts_.data(), shorts_.size() * 2);
                } else {
                    store_.write(indices_.data(), indices_.size() * 4);
                }
                store_.pad();
                std::string& json = accessorText_;
                // Appends the primitive's JSON to the list `out`.
                auto primitive = [&](const PrimitiveRef& ref, std::string& out) {
                    if (!out.empty())
                        out += ',';
                    json = "{\"bufferView\":";
                    appendUint(json, indexView);
                    if (ref.first) {
                        json += ",\"byteOffset\":";
                        appendUint(json, ref.first * (small ? 2 : 4));
                    }
                    json += small ? ",\"componentType\":5123,\"count\":"
                                  : ",\"componentType\":5125,\"count\":";
                    appendUint(json, ref.count);
                    json += ",\"type\":\"SCALAR\"}";
                    out += "{\"attributes\":";
                    out += ref.textured ? texturedAttributes : plainAttributes;
                    if (ref.features > 0) {
                        out += ",\"_FEATURE_ID_0\":";
                        appendUint(out, ref.textured ? texturedFeature : plainFeature);
                    }
                    out += "},\"indices\":";
                    appendUint(out, accessors_.add(json));
                    out += ",\"material\":";
                    appendUint(out, ref.material);
                    if (ref.features > 0) {
                        out += ",\"extensions\":{";
                        out += primitiveFeaturesJson(ref.features, 0, 0);
                        out += '}';
                    }
                    out += '}';
                };
                std::size_t first = 0;
                for (const std::size_t end : pendingMeshes_) {
                    primitivesText_.clear();
                    for (std::size_t i = first; i < end; ++i)
                        primitive(pendingPrimitives_[i], primitivesText_);
                    addMesh(primitivesText_);
                    first = end;
                }
                for (const auto& [target, ref] : shared)
                    primitive(ref, target == Target::model ? modelPrimitives_ : roadPrimitives_);
            }
        }
        textured_.clear();
        plain_.clear();
        pieceTextured_ = piecePlain_ = 0;
        indices_.clear();
        pendingMeshes_.clear();
        pendingPrimitives_.clear();
    }

    std::string path_;
    ExportOptions options_;
    BinaryStore& store_;
    TextureUrls urls_;
    Triangulator triangulator_;
    FaceReader faces_{&triangulator_};
    std::optional<VRPiece> piece_;
    std::vector<FaceTriangle> fan_;
    // Text buffers used again for every element, so that writing one allocates nothing.
    std::string nodeText_, accessorText_, primitivesText_, meshText_;
    JsonArray nodes_, meshes_, accessors_, bufferViews_;
    // The piece being placed, one batch per material.
    std::vector<Batch> pieceBatches_;
    std::size_t usedBatches_ = 0;
    std::size_t batch_ = 0; // that of the faces coming
    // The chunk: vertices shared by the primitives of many pieces, their indices, the meshes of
    // its buildings (numbered already) and the shared primitives still open.
    bool colours_;              // colours per vertex: in every mode but the collapsed model
    bool merge_;                // buildings gathered by street block, told apart by feature IDs
    Vec3 colour_{1, 1, 1};      // that of the faces coming
    std::uint32_t feature_ = 0; // the building whose faces are coming, when merging
    std::vector<Block> band_;   // the blocks of the column of blocks being walked
    std::unordered_map<std::uint64_t, std::size_t> bandLookup_;
    BuildingFeatureTable features_;
    std::optional<std::array<std::uint32_t, BuildingFeatureTable::kColumns>> featureViews_;
    VertexSet textured_;
    VertexSet plain_;
    // Where the piece being gathered begins in them, and room for it while the chunk is written.
    std::size_t pieceTextured_ = 0, piecePlain_ = 0;
    VertexSet spareTextured_, sparePlain_;
    std::vector<std::uint32_t> indices_;
    std::vector<std::uint16_t> shorts_; // the indices as written, when they fit in 16 bits
    std::vector<PrimitiveRef> pendingPrimitives_;
    std::vector<std::size_t> pendingMeshes_; // where each mesh's primitives end
    std::vector<OpenPrimitive> open_;
    std::uint32_t meshesAssigned_ = 0;
    // The JSON of the roads' and the model's primitives, separated by commas.
    std::string roadPrimitives_, modelPrimitives_;
    std::optional<std::uint32_t> roadsMesh_, modelMesh_;
    bool hadRoads_ = false;
    std::uint32_t buildings_ = 0;
    // The materials, their JSON, and each one's texture index (-1 for none).
    MaterialTable materials_;
    UniqueNames materialNames_;
    JsonArray materialsJson_;
    std::vector<std::int32_t> textures_;
    std::unordered_map<std::string, std::int32_t> imageLookup_;
    std::vector<std::string> images_;
};

void reportFailure(const std::string& path, const std::string& reason) {
    logSaveFailure("glTF", path, reason);
}

// The .glb header and JSON chunk fill whole 4 KiB blocks (the JSON padded with spaces), so the
// file system can insert them in front of the binary data written first, and every .glb of the
// same city has the same bytes however it was written.
constexpr std::uint64_t kGlbFront = 4096;
std::uint64_t glbFront(std::uint64_t jsonSize) {
    return (20 + jsonSize + kGlbFront - 1) / kGlbFront * kGlbFront;
}

bool putBytes(std::FILE* out, const void* data, std::size_t n) {
    return std::fwrite(data, 1, n, out) == n;
}

bool putWord(std::FILE* out, std::uint32_t word) {
    return putBytes(out, &word, 4);
}

bool putSpaces(std::FILE* out, std::uint64_t count) {
    static const std::string kSpaces(kGlbFront, ' ');
    for (; count > 0;) {
        const std::size_t n = std::size_t(std::min<std::uint64_t>(count, kSpaces.size()));
        if (!putBytes(out, kSpaces.data(), n))
            return false;
        count -= n;
    }
    return true;
}

enum class Insert { done, failed, unsupported };

// Puts the .glb header and the JSON chunk in front of the BIN chunk already in `file` (its
// 8-byte header, then binSize bytes): the file system inserts whole blocks at the start, and the
// JSON is padded with spaces to fill them. Unsupported where the file system cannot insert.
Insert insertJsonChunk(ReplacingFile& file, const JsonDocument& json, std::uint64_t binSize) {
    const std::uint64_t jsonSize = json.size();
    std::FILE* out = file.stream();
    if (std::fflush(out) != 0)
        return Insert::failed;
    const int fd = file.descriptor();
    struct stat st;
    if (::fstat(fd, &st) != 0 || st.st_blksize <= 0 || kGlbFront % st.st_blksize != 0)
        return Insert::unsupported;
    const std::uint64_t front = glbFront(jsonSize);
    const std::uint64_t total = front + 8 + binSize;
    if (total > kGlbLimit)
        return Insert::unsupported;
    if (::fallocate(fd, FALLOC_FL_INSERT_RANGE, 0, off_t(front)) != 0)
        return errno == EOPNOTSUPP || errno == EINVAL || errno == ENODEV ? Insert::unsupported
                                                                         : Insert::failed;
    const std::uint32_t words[7] = {
        0x46546C67, 2, std::uint32_t(total), std::uint32_t(front - 20), 0x4E4F534A, 0, 0};
    const std::uint32_t bin[2] = {std::uint32_t(binSize), 0x004E4942};
    if (::pwrite(fd, bin, sizeof bin, off_t(front)) != ssize_t(sizeof bin) ||
        std::fseek(out, 0, SEEK_SET) != 0 || !putBytes(out, words, 20) || !json.write(out))
        return Insert::failed;
    if (!putSpaces(out, front - 20 - jsonSize))
        return Insert::failed;
    return std::fflush(out) == 0 ? Insert::done : Insert::failed;
}

// Copies `length` bytes from `offset` of `from` (open for writing only) to `to`.
bool copyRange(ReplacingFile& from, std::uint64_t offset, std::uint64_t length, ReplacingFile& to) {
    if (std::fflush(from.stream()) != 0 || std::fflush(to.stream()) != 0)
        return false;
    // The stream cannot be read; the file is opened again for reading, by its descriptor.
    const std::string self = "/proc/self/fd/" + std::to_string(from.descriptor());
    const int in = ::open(self.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return false;
    loff_t at = loff_t(offset);
    bool ok = true;
    std::vector<char> buffer;
    while (ok && length > 0) {
        ssize_t n = ::copy_file_range(in, &at, to.descriptor(), nullptr, std::size_t(length), 0);
        if (n <= 0) {
            // Not between these two files: through a buffer.
            buffer.resize(std::size_t(1) << 20);
            n = ::pread(in, buffer.data(), std::min<std::size_t>(buffer.size(), length), at);
            ok = n > 0 && ::write(to.descriptor(), buffer.data(), std::size_t(n)) == n;
            at += n;
        }
        length -= std::uint64_t(n > 0 ? n : 0);
    }
    ::close(in);
    return ok;
}

} // namespace

bool exportCityGltf(const VRSceneSource& city, const std::string& path, const CityRecord& record,
                    const ExportOptions& options, Progress* progress, CommitGroup* together) {
    if (path.empty()) {
        errorLog.line("Could not save glTF: no file name given");
        return false;
    }
    const bool glb = options.format == ExportFormat::glb;
    if (!glb && writtenInPlace(path)) {
        reportFailure(path, "a .gltf needs its .bin files beside it; write .glb to a device or "
                            "standard output");
        return false;
    }
    // A companion that is a pipe or a device would take the data and leave the .gltf naming
    // nothing, or wait forever for a reader: refused before anything is written.
    if (!glb) {
        const std::string first = besidePath(path, binEnding(0));
        struct stat st;
        if (::stat(first.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
            reportFailure(path, first + " is not a regular file");
            return false;
        }
    }
    BinaryStore store(path, !glb);
    // The new .glb is opened first, so that a target that cannot be written is reported before
    // the work. When the store held the binary data, the file is written front to back at the
    // end; else the data went into the file as it came, behind its chunk header, and the JSON is
    // put in front of it (below). The target is untouched until the commit.
    std::unique_ptr<ReplacingFile> direct;
    if (glb && !writtenInPlace(path)) {
        direct = std::make_unique<ReplacingFile>(path);
        if (!direct->stream()) {
            reportFailure(path, direct->reason());
            return false;
        }
        store.writeInto(*direct);
    }
    GltfSink sink(path, options, store);
    if (!sink.scratchOk()) {
        reportFailure(path, std::strerror(errno ? errno : EIO));
        return false;
    }
    city.toVrmlScene(options.collapseMode == CollapseMode::building, options.saveRoads, sink,
                     progress);
    sink.finish();
    store.flush();
    auto discardAll = [&] {
        for (auto& file : store.files())
            file->discard();
        if (direct)
            direct->discard();
    };
    if (store.tooLarge()) {
        discardAll();
        reportFailure(path, "the .glb would pass 2 GiB, which most readers cannot load; save it "
                            "as .gltf, which keeps its data in .bin files beside it");
        return false;
    }
    if (store.failed() || !sink.scratchOk()) {
        discardAll();
        const std::string& where = store.failedPath_.empty() ? path : store.failedPath_;
        std::string reason = std::strerror(store.error() ? store.error() : EIO);
        if (!store.files().empty() && !store.files().back()->stream())
            reason = store.files().back()->reason();
        reportFailure(where, reason);
        return false;
    }
    if (progress)
        progress->step("Writing", 0, 1);

    // The finished files take their places together, the .bin files before the .gltf that names
    // them; a failure names the file it happened to.
    std::vector<std::unique_ptr<ReplacingFile>> files;
    const auto place = [&] {
        return CommitGroup::commitOrHand(
            together, std::move(files), [path, options] { logSaved("glTF", path, options); },
            [](const ReplacingFile& failed) { reportFailure(failed.target(), failed.reason()); });
    };
    // A write that failed: the reason its file recorded, else the one errno has.
    const auto writeFailed = [&](const ReplacingFile& file) {
        const int error = file.error() ? file.error() : errno ? errno : EIO;
        discardAll();
        reportFailure(path, std::strerror(error));
        return false;
    };
    errno = 0;
    if (glb) {
        // The JSON chunk comes first: its length is known before anything of it is written.
        const JsonDocument json = sink.json(record, {});
        const std::uint64_t jsonSize = json.size();
        const std::uint64_t jsonPadded = glbFront(jsonSize) - 20;
        const std::uint64_t binSize = store.sizes().empty() ? 0 : store.sizes().front();
        const std::uint64_t total = 12 + 8 + jsonPadded + (binSize ? 8 + binSize : 0);
        if (total > kGlbLimit) {
            discardAll();
            reportFailure(path, "the .glb would pass 2 GiB, which most readers cannot load; "
                                "save it as .gltf, which keeps its data in .bin files beside it");
            return false;
        }
        const bool held = store.held();
        if (direct && binSize > 0 && !held) {
            switch (insertJsonChunk(*direct, json, binSize)) {
            case Insert::done:
                files.push_back(std::move(direct));
                return place();
            case Insert::failed:
                return writeFailed(*direct);
            case Insert::unsupported:
                break;
            }
        }
        // Front to back: into the new file while it is still empty, else into another one.
        std::unique_ptr<ReplacingFile> other;
        ReplacingFile* file = direct.get();
        if (!direct || !held) {
            other = std::make_unique<ReplacingFile>(path);
            file = other.get();
        }
        if (!file->stream()) {
            discardAll();
            reportFailure(path, file->reason());
            return false;
        }
        std::FILE* out = file->stream();
        bool ok = putWord(out, 0x46546C67) && putWord(out, 2) &&
                  putWord(out, std::uint32_t(total)) && putWord(out, std::uint32_t(jsonPadded)) &&
                  putWord(out, 0x4E4F534A) && json.write(out, file->descriptor()) &&
                  putSpaces(out, jsonPadded - jsonSize);
        if (binSize) {
            ok = ok && putWord(out, std::uint32_t(binSize)) && putWord(out, 0x004E4942);
            if (held) {
                ok = ok && store.writeHeld(out);
            } else if (direct) {
                // The file system cannot insert the JSON in front: the data moves into this file.
                ok = ok && copyRange(*direct, 8, binSize, *file);
                direct->discard();
            } else {
                ok = ok && std::fflush(out) == 0 &&
                     appendScratch(store.scratch(), out, file->descriptor());
            }
        }
        if (!ok)
            return writeFailed(*file);
        files.push_back(other ? std::move(other) : std::move(direct));
    } else {
        auto file = std::make_unique<ReplacingFile>(path);
        if (!file->stream()) {
            discardAll();
            reportFailure(path, file->reason());
            return false;
        }
        if (!sink.json(record, store.names()).write(file->stream(), file->descriptor()))
            return writeFailed(*file);
        for (auto& bin : store.files())
            files.push_back(std::move(bin));
        files.push_back(std::move(file));
    }
    return place();
}

} // namespace ombrel
