#include "base/Log.h"
#include "base/Progress.h"
#include "export/CityExport.h"
#include "export/ImageEmbed.h"
#include "export/Output.h"
#include "export/SceneFaces.h"
#include "vrml/ReplacingFile.h"
#include "vrml/TextureUrl.h"
#include "vrml/Triangulate.h"
#include "vrml/VRSceneSink.h"

#include <array>
#include <bit>
#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#ifndef OMBREL_VERSION
#define OMBREL_VERSION "unknown"
#endif

namespace ombrel {

namespace {

static_assert(std::endian::native == std::endian::little, "the binary data is written as held");

// A new .bin file once the current one holds this much.
constexpr std::uint64_t kBinFileSize = std::uint64_t(1) << 30;
// The largest .glb that most readers load (their lengths are signed 32-bit).
constexpr std::uint64_t kGlbLimit = std::uint64_t(1) << 31;
// Primitives of the roads and of the collapsed model are cut at this many vertices, so that they
// keep 16-bit indices (65535 itself is the primitive restart value).
constexpr std::size_t kChunkVertices = 65535;

constexpr int kArrayBuffer = 34962;
constexpr int kElementArrayBuffer = 34963;
constexpr int kUnsignedShort = 5123;
constexpr int kUnsignedInt = 5125;

struct Vertex {
    float position[3];
    float normal[3];
    float uv[2];
    bool operator==(const Vertex& o) const { return std::memcmp(this, &o, sizeof o) == 0; }
};

// One primitive being gathered: its material's faces as triangles.
struct Batch {
    std::uint32_t material = 0;
    bool textured = false;
    std::vector<Vertex> vertices;
    std::vector<std::uint32_t> indices;
    // The last vertices by hash, to share the corners of neighbouring triangles; a miss only
    // costs a repeated vertex, and the result depends on nothing but the faces.
    std::array<std::int32_t, 256> recent;
    Batch() { recent.fill(-1); }

    std::uint32_t add(const Vertex& v) {
        std::uint32_t h = 2166136261u;
        const auto* bytes = reinterpret_cast<const unsigned char*>(&v);
        for (std::size_t i = 0; i < (textured ? sizeof v : 24); ++i)
            h = (h ^ bytes[i]) * 16777619u;
        std::int32_t& slot = recent[(h ^ (h >> 8)) & 255];
        if (slot >= 0 && vertices[std::size_t(slot)] == v)
            return std::uint32_t(slot);
        slot = std::int32_t(vertices.size());
        vertices.push_back(v);
        return std::uint32_t(slot);
    }
};

void appendUint(std::string& out, std::uint64_t value) {
    out += std::to_string(value);
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

// Where the binary data goes: a scratch file that becomes the .glb's BIN chunk, or a row of .bin
// files beside the .gltf, a new one every kBinFileSize bytes. Every block starts 4-aligned.
class BinaryStore {
public:
    BinaryStore(const std::string& output, bool separateFiles)
        : output_(output), separate_(separateFiles) {}

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
            scratch_ = openScratch(output_);
            if (!scratch_)
                error_ = errno ? errno : EIO;
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

    void write(const void* data, std::size_t n) {
        if (failed() || n == 0)
            return;
        if (std::fwrite(data, 1, n, stream()) != n)
            error_ = errno ? errno : EIO;
        sizes_.back() += n;
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
    std::FILE* stream() { return separate_ ? files_.back()->stream() : scratch_; }

    void openFile() {
        const std::string path = besidePath(output_, binEnding(files_.size()));
        files_.push_back(std::make_unique<ReplacingFile>(path));
        names_.push_back(fileNameOf(path));
        sizes_.push_back(0);
        if (!files_.back()->stream()) {
            error_ = files_.back()->error() ? files_.back()->error() : EIO;
            failedPath_ = path;
        }
    }

    std::string output_;
    bool separate_;
    std::vector<std::uint64_t> sizes_;
    std::vector<std::unique_ptr<ReplacingFile>> files_;
    std::vector<std::string> names_;
    std::FILE* scratch_ = nullptr;
    int error_ = 0;
    bool tooLarge_ = false;

public:
    std::string failedPath_;
};

// A JSON array written element by element into a scratch file, so that the city's nodes,
// meshes, accessors and buffer views are never held whole.
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
    std::uint32_t add(const std::string& element) {
        if (!file_)
            return count_++;
        if (count_ > 0)
            std::fputc(',', file_);
        std::fwrite(element.data(), 1, element.size(), file_);
        return count_++;
    }
    std::uint32_t count() const { return count_; }
    bool ok() const { return file_ && !std::ferror(file_); }
    std::FILE* file() const { return file_; }

private:
    std::FILE* file_;
    std::uint32_t count_ = 0;
};

// Collects the city piece by piece and writes its binary data as it goes.
class GltfSink : public VRSceneSink, public FaceSink {
public:
    GltfSink(const std::string& path, const ExportOptions& options, BinaryStore& store)
        : path_(path), options_(options), store_(store), urls_(path), nodes_(path), meshes_(path),
          accessors_(path), bufferViews_(path) {}

    void openGroup(VRRef<VRGroup>) override {}
    void closeGroup() override {}
    void piece(const VRPiece& piece) override { piece_ = piece; }

    void node(VRRef<VRNode> node) override {
        const std::optional<VRPiece> piece = piece_;
        piece_.reset();
        if (store_.failed())
            return;
        if (options_.collapseMode == CollapseMode::model) {
            const FaceMaterial grey = greyMaterial();
            target_ = &model_;
            forEachFace(std::move(node), &triangulator_, *this, &grey);
            return;
        }
        if (piece && piece->kind == VRPiece::Kind::road) {
            target_ = &roads_;
            hadRoads_ = true;
            forEachFace(std::move(node), &triangulator_, *this);
            return;
        }
        std::string name;
        const bool named = node && node->name;
        if (named)
            name = *node->name;
        target_ = &building_;
        forEachFace(std::move(node), &triangulator_, *this);
        std::string json = "{";
        if (named) {
            json += "\"name\":";
            appendJsonString(json, name);
            json += ',';
        }
        std::vector<std::string> primitives = flush(building_.batches);
        building_.batches.clear();
        if (!primitives.empty()) {
            json += "\"mesh\":";
            appendUint(json, addMesh(primitives));
            json += ',';
        }
        json += "\"extras\":{\"column\":";
        appendUint(json, piece ? piece->column : 0);
        json += ",\"row\":";
        appendUint(json, piece ? piece->row : 0);
        json += ",\"height\":";
        appendShortFloat(json, piece ? piece->height : 0.0f);
        json += "}}";
        nodes_.add(json);
        ++buildings_;
    }

    void face(const FaceMaterial& material, const Vec3* points, const Vec2* uv,
              std::size_t n) override {
        const std::uint32_t m = materialIndex(material);
        const bool textured = uv && materials_[m].texture >= 0;
        Batch* batch = nullptr;
        for (Batch& b : target_->batches)
            if (b.material == m) {
                batch = &b;
                break;
            }
        // A face of n corners adds at most 3 (n - 2) vertices.
        if (batch && target_->chunked && batch->vertices.size() + 3 * (n - 2) > kChunkVertices) {
            std::vector<Batch> full(1);
            full.front() = std::move(*batch);
            for (std::string& p : flush(full))
                target_->primitives.push_back(std::move(p));
            *batch = Batch();
            batch->material = m;
            batch->textured = textured;
        }
        if (!batch) {
            target_->batches.emplace_back();
            batch = &target_->batches.back();
            batch->material = m;
            batch->textured = textured;
        }
        // The corners of each triangle of a fan from the first corner; faces from the
        // triangulation are triangles already.
        for (std::size_t t = 1; t + 1 < n; ++t) {
            const std::size_t corner[3] = {0, t, t + 1};
            Vec3 p[3];
            for (int k = 0; k < 3; ++k)
                p[k] = toYUp(points[corner[k]]);
            Vec3 normal{0, 1, 0};
            triangleNormal(p[0], p[1], p[2], normal);
            for (int k = 0; k < 3; ++k) {
                Vertex v{{p[k].x, p[k].y, p[k].z}, {normal.x, normal.y, normal.z}, {0, 0}};
                if (batch->textured) {
                    // glTF's images start at the top left, VRML's at the bottom left.
                    v.uv[0] = uv[corner[k]].x;
                    v.uv[1] = 1.0f - uv[corner[k]].y;
                }
                batch->indices.push_back(batch->add(v));
            }
        }
    }

    // Writes what the roads and the model gathered; called once the city is handed over.
    void finish() {
        for (Gathered* g : {&roads_, &model_}) {
            for (std::string& p : flush(g->batches))
                g->primitives.push_back(std::move(p));
            g->batches.clear();
        }
    }

    // Writes the whole JSON document to out; `bufferUris` empty for a .glb.
    bool writeJson(std::FILE* out, const CityRecord& record,
                   const std::vector<std::string>& bufferUris) {
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
            if (!model_.primitives.empty()) {
                cityJson += ",\"mesh\":";
                appendUint(cityJson, addMesh(model_.primitives));
            }
        } else {
            if (!roads_.primitives.empty() || hadRoads_) {
                std::string json = "{\"name\":\"Roads\"";
                if (!roads_.primitives.empty()) {
                    json += ",\"mesh\":";
                    appendUint(json, addMesh(roads_.primitives));
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

        std::string head = "{\"asset\":{\"version\":\"2.0\",\"generator\":\"Ombrel " OMBREL_VERSION
                           "\",\"extras\":{\"constructionFile\":";
        appendJsonString(head, record.constructionFile);
        head += ",\"seed\":";
        appendUint(head, record.seed);
        head += "}},\"scene\":0,\"scenes\":[{\"nodes\":[";
        appendUint(head, homeNode);
        head += ',';
        appendUint(head, originNode);
        head += ',';
        appendUint(head, cityNode);
        head += "]}],\"nodes\":[";
        bool ok = put(out, head) && appendScratch(nodes_.file(), out) && put(out, tail + "]");

        std::string middle;
        if (meshes_.count() > 0) {
            ok = ok && put(out, ",\"meshes\":[") && appendScratch(meshes_.file(), out) &&
                 put(out, "]");
        }
        middle += ",\"materials\":[";
        for (std::size_t i = 0; i < materials_.size(); ++i) {
            const Material& m = materials_[i];
            if (i > 0)
                middle += ',';
            middle += "{\"pbrMetallicRoughness\":{\"baseColorFactor\":[";
            appendShortFloat(middle, m.key.colour.x);
            middle += ',';
            appendShortFloat(middle, m.key.colour.y);
            middle += ',';
            appendShortFloat(middle, m.key.colour.z);
            middle += ",1]";
            if (m.texture >= 0) {
                middle += ",\"baseColorTexture\":{\"index\":";
                appendUint(middle, std::uint64_t(m.texture));
                middle += '}';
            }
            middle += ",\"metallicFactor\":0,\"roughnessFactor\":1}}";
        }
        middle += ']';
        if (materials_.empty())
            middle.clear();
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
        ok = ok && put(out, middle);
        if (accessors_.count() > 0)
            ok = ok && put(out, ",\"accessors\":[") && appendScratch(accessors_.file(), out) &&
                 put(out, "]");
        if (bufferViews_.count() > 0)
            ok = ok && put(out, ",\"bufferViews\":[") && appendScratch(bufferViews_.file(), out) &&
                 put(out, "]");
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
        return ok && put(out, buffers + "}");
    }

    bool scratchOk() const {
        return nodes_.ok() && meshes_.ok() && accessors_.ok() && bufferViews_.ok();
    }

private:
    struct Material {
        FaceMaterial key;
        std::int32_t texture = -1; // the glTF texture (and image) index; -1 for none
    };
    struct Gathered {
        std::vector<Batch> batches;
        std::vector<std::string> primitives;
        bool chunked = true;
    };

    static bool put(std::FILE* out, const std::string& text) {
        return std::fwrite(text.data(), 1, text.size(), out) == text.size();
    }

    std::uint32_t addMesh(const std::vector<std::string>& primitives) {
        std::string json = "{\"primitives\":[";
        for (std::size_t i = 0; i < primitives.size(); ++i) {
            if (i > 0)
                json += ',';
            json += primitives[i];
        }
        return meshes_.add(json + "]}");
    }

    std::uint32_t materialIndex(const FaceMaterial& key) {
        std::string text = key.image;
        text.push_back('\0');
        text.append(reinterpret_cast<const char*>(&key.colour), sizeof key.colour);
        text.push_back(key.noColor ? 1 : 0);
        const auto [it, added] = materialLookup_.try_emplace(std::move(text), 0);
        if (!added)
            return it->second;
        Material m;
        m.key = key;
        if (key.noColor)
            m.key.colour = {1, 1, 1};
        if (!key.image.empty())
            m.texture = imageIndex(key.image);
        it->second = std::uint32_t(materials_.size());
        materials_.push_back(m);
        return it->second;
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
        view += ",\"target\":";
        appendUint(view, std::uint64_t(target));
        return view + "}";
    }

    // Writes the batches' vertices (textured ones interleaved with their texture coordinates in
    // one view, plain ones in another) and indices (a third view) as one block, and returns the
    // primitives that name them.
    std::vector<std::string> flush(std::vector<Batch>& batches) {
        std::vector<std::string> primitives;
        std::uint64_t textured = 0, plain = 0, indexBytes = 0;
        for (const Batch& b : batches) {
            if (b.indices.empty())
                continue;
            (b.textured ? textured : plain) += b.vertices.size() * (b.textured ? 32 : 24);
            const bool small = b.vertices.size() <= 65535;
            indexBytes += (b.indices.size() * (small ? 2 : 4) + 3) / 4 * 4;
        }
        if (indexBytes == 0)
            return primitives;
        std::uint32_t buffer = 0;
        std::uint64_t offset = 0;
        if (!store_.block(textured + plain + indexBytes, buffer, offset))
            return primitives;
        std::int64_t texturedView = -1, plainView = -1;
        if (textured)
            texturedView = bufferViews_.add(viewJson(buffer, offset, textured, 32, kArrayBuffer));
        if (plain)
            plainView =
                bufferViews_.add(viewJson(buffer, offset + textured, plain, 24, kArrayBuffer));
        const std::uint32_t indexView = bufferViews_.add(
            viewJson(buffer, offset + textured + plain, indexBytes, 0, kElementArrayBuffer));
        std::vector<std::string> attributes(batches.size());
        std::uint64_t at[2] = {0, 0}; // offsets inside the textured and the plain view
        for (int pass = 0; pass < 2; ++pass) {
            const bool texturedPass = pass == 0;
            for (std::size_t i = 0; i < batches.size(); ++i) {
                const Batch& b = batches[i];
                if (b.indices.empty() || b.textured != texturedPass)
                    continue;
                float lo[3], hi[3];
                for (int k = 0; k < 3; ++k)
                    lo[k] = hi[k] = b.vertices.front().position[k];
                for (const Vertex& v : b.vertices) {
                    for (int k = 0; k < 3; ++k) {
                        lo[k] = std::min(lo[k], v.position[k]);
                        hi[k] = std::max(hi[k], v.position[k]);
                    }
                    store_.write(&v, b.textured ? 32 : 24);
                }
                const std::uint64_t view = std::uint64_t(b.textured ? texturedView : plainView);
                const std::uint64_t base = at[pass];
                at[pass] += b.vertices.size() * (b.textured ? 32 : 24);
                auto accessor = [&](std::uint64_t byteOffset, const char* type, bool bounds) {
                    std::string json = "{\"bufferView\":";
                    appendUint(json, view);
                    if (byteOffset) {
                        json += ",\"byteOffset\":";
                        appendUint(json, byteOffset);
                    }
                    json += ",\"componentType\":5126,\"count\":";
                    appendUint(json, b.vertices.size());
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
                appendUint(a, accessor(base, "VEC3", true));
                a += ",\"NORMAL\":";
                appendUint(a, accessor(base + 12, "VEC3", false));
                if (b.textured) {
                    a += ",\"TEXCOORD_0\":";
                    appendUint(a, accessor(base + 24, "VEC2", false));
                }
                attributes[i] = a + "}";
            }
        }
        std::uint64_t indexAt = 0;
        std::vector<std::uint16_t> shorts;
        for (std::size_t i = 0; i < batches.size(); ++i) {
            const Batch& b = batches[i];
            if (b.indices.empty())
                continue;
            const bool small = b.vertices.size() <= 65535;
            std::string json = "{\"bufferView\":";
            appendUint(json, indexView);
            if (indexAt) {
                json += ",\"byteOffset\":";
                appendUint(json, indexAt);
            }
            json += ",\"componentType\":";
            appendUint(json, small ? kUnsignedShort : kUnsignedInt);
            json += ",\"count\":";
            appendUint(json, b.indices.size());
            json += ",\"type\":\"SCALAR\"}";
            const std::uint32_t indexAccessor = accessors_.add(json);
            if (small) {
                shorts.assign(b.indices.begin(), b.indices.end());
                store_.write(shorts.data(), shorts.size() * 2);
            } else {
                store_.write(b.indices.data(), b.indices.size() * 4);
            }
            store_.pad();
            indexAt += (b.indices.size() * (small ? 2 : 4) + 3) / 4 * 4;
            std::string primitive = "{\"attributes\":" + attributes[i] + ",\"indices\":";
            appendUint(primitive, indexAccessor);
            primitive += ",\"material\":";
            appendUint(primitive, b.material);
            primitives.push_back(primitive + "}");
        }
        return primitives;
    }

    std::string path_;
    ExportOptions options_;
    BinaryStore& store_;
    TextureUrls urls_;
    Triangulator triangulator_;
    std::optional<VRPiece> piece_;
    JsonArray nodes_, meshes_, accessors_, bufferViews_;
    Gathered building_{{}, {}, false}, roads_, model_;
    Gathered* target_ = &building_;
    bool hadRoads_ = false;
    std::uint32_t buildings_ = 0;
    std::vector<Material> materials_;
    std::unordered_map<std::string, std::uint32_t> materialLookup_;
    std::unordered_map<std::string, std::int32_t> imageLookup_;
    std::vector<std::string> images_;
};

void reportFailure(const std::string& path, const std::string& reason) {
    errorLog.line("Could not save glTF to ", path, ": ", reason);
}

bool putBytes(std::FILE* out, const void* data, std::size_t n) {
    return std::fwrite(data, 1, n, out) == n;
}

bool putWord(std::FILE* out, std::uint32_t word) {
    return putBytes(out, &word, 4);
}

} // namespace

bool exportCityGltf(const VRSceneSource& city, const std::string& path, const CityRecord& record,
                    const ExportOptions& options, Progress* progress) {
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
    BinaryStore store(path, !glb);
    GltfSink sink(path, options, store);
    if (!sink.scratchOk()) {
        reportFailure(path, std::strerror(errno ? errno : EIO));
        return false;
    }
    city.toVrmlScene(options.collapseMode == CollapseMode::building, options.saveRoads, sink,
                     progress);
    sink.finish();
    auto discardAll = [&] {
        for (auto& file : store.files())
            file->discard();
    };
    if (store.tooLarge()) {
        reportFailure(path, "the .glb would pass 2 GiB, which most readers cannot load; save it "
                            "as .gltf, which keeps its data in .bin files beside it");
        return false;
    }
    if (store.failed() || !sink.scratchOk()) {
        discardAll();
        const std::string& where = store.failedPath_.empty() ? path : store.failedPath_;
        std::string reason = std::strerror(store.error() ? store.error() : EIO);
        if (!store.files().empty() && store.files().back()->readOnly())
            reason = "the file is read-only";
        reportFailure(where, reason);
        return false;
    }
    if (progress)
        progress->step("Writing", 0, 1);

    errno = 0;
    if (glb) {
        // The JSON chunk comes first, so the whole document is put together before the file is
        // opened; the size is known before anything is written.
        std::FILE* json = openScratch(path);
        if (!json || !sink.writeJson(json, record, {})) {
            if (json)
                std::fclose(json);
            reportFailure(path, std::strerror(errno ? errno : EIO));
            return false;
        }
        std::fflush(json);
        const long jsonSize = std::ftell(json);
        const std::uint64_t jsonPadded = (std::uint64_t(jsonSize) + 3) / 4 * 4;
        const std::uint64_t binSize = store.sizes().empty() ? 0 : store.sizes().front();
        const std::uint64_t total = 12 + 8 + jsonPadded + (binSize ? 8 + binSize : 0);
        if (total > kGlbLimit) {
            std::fclose(json);
            reportFailure(path, "the .glb would pass 2 GiB, which most readers cannot load; "
                                "save it as .gltf, which keeps its data in .bin files beside it");
            return false;
        }
        ReplacingFile file(path);
        if (!file.stream()) {
            std::fclose(json);
            reportFailure(path, file.reason());
            return false;
        }
        std::FILE* out = file.stream();
        bool ok = putWord(out, 0x46546C67) && putWord(out, 2) &&
                  putWord(out, std::uint32_t(total)) && putWord(out, std::uint32_t(jsonPadded)) &&
                  putWord(out, 0x4E4F534A) && appendScratch(json, out) &&
                  putBytes(out, "   ", std::size_t(jsonPadded - std::uint64_t(jsonSize)));
        std::fclose(json);
        if (binSize)
            ok = ok && putWord(out, std::uint32_t(binSize)) && putWord(out, 0x004E4942) &&
                 appendScratch(store.scratch(), out);
        if (!ok) {
            const int error = errno ? errno : EIO;
            file.discard();
            reportFailure(path, std::strerror(error));
            return false;
        }
        if (!file.commit()) {
            reportFailure(path, file.reason());
            return false;
        }
    } else {
        ReplacingFile file(path);
        if (!file.stream()) {
            discardAll();
            reportFailure(path, file.reason());
            return false;
        }
        if (!sink.writeJson(file.stream(), record, store.names())) {
            const int error = errno ? errno : EIO;
            file.discard();
            discardAll();
            reportFailure(path, std::strerror(error));
            return false;
        }
        // The .bin files are put in place first, so the new .gltf never names missing data.
        for (std::size_t i = 0; i < store.files().size(); ++i) {
            if (!store.files()[i]->commit()) {
                const std::string reason = store.files()[i]->reason();
                for (std::size_t k = i + 1; k < store.files().size(); ++k)
                    store.files()[k]->discard();
                file.discard();
                reportFailure(besidePath(path, binEnding(i)), reason);
                return false;
            }
        }
        if (!file.commit()) {
            reportFailure(path, file.reason());
            return false;
        }
    }
    infoLog.line("Saved as glTF to ", path);
    infoLog.line(describeExport(options));
    return true;
}

} // namespace ombrel
