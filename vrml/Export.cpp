#include "vrml/Export.h"

#include "base/Log.h"
#include "base/Progress.h"
#include "vrml/CommitGroup.h"
#include "vrml/ReplacingFile.h"
#include "vrml/TextureUrl.h"
#include "vrml/Triangulate.h"
#include "vrml/VRSceneSink.h"
#include "vrml/VRWriter.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

namespace ombrel {

namespace {

// The root's quarter turn about x, clockwise seen from +x: the city's z (up) becomes VRML's +Y
// and its y becomes -Z, so a reader that takes +Y as up shows the city standing on the ground.
constexpr VRRotation kUpright{1, 0, 0, -1.5707964f};
// The Viewpoint inside the turned root undoes the turn: it looks along world -Z with +Y up, the
// VRML default, at the city's origin.
constexpr VRRotation kViewpointTurn{1, 0, 0, 1.5707964f};

// The collapsed model's look: one grey Material, no texture.
void setGrey(VRShape& shape) {
    auto appearance = makeNode<VRAppearance>();
    auto material = makeNode<VRMaterial>();
    material->diffuseColor = {0.5f, 0.5f, 0.5f};
    appearance->setMaterial(std::move(material));
    shape.setAppearance(std::move(appearance));
}

VRRef<VRViewpoint> originViewpoint() {
    auto viewpoint = makeNode<VRViewpoint>();
    viewpoint->position = {0, 0, 0};
    viewpoint->orientation = kViewpointTurn;
    viewpoint->fieldOfView = 1.0471976f;
    viewpoint->description = "Origin";
    return viewpoint;
}

// Rewrites every ImageTexture url below node as the output file will resolve it.
void relocateTextures(VRNode* node, TextureUrls& urls) {
    if (!node)
        return;
    switch (node->type) {
    case VR_GROUP:
    case VR_TRANSFORM:
        for (const VRRef<VRNode>& child : static_cast<VRGroup*>(node)->children)
            relocateTextures(child.get(), urls);
        break;
    case VR_SHAPE:
        relocateTextures(static_cast<VRShape*>(node)->appearance.get(), urls);
        break;
    case VR_APPEARANCE:
        relocateTextures(static_cast<VRAppearance*>(node)->texture.get(), urls);
        break;
    case VR_IMAGE_TEXTURE:
        for (std::string& url : static_cast<VRImageTexture*>(node)->url)
            url = urls.url(url);
        break;
    default:
        break;
    }
}

// Writes each piece of the city as it comes (triangulated first when asked, its texture urls
// made relative to the output when asked) and lets it go.
class WritingSink : public VRSceneSink {
public:
    WritingSink(VRStreamWriter& writer, Triangulator* triangulator, TextureUrls* urls)
        : writer_(writer), triangulator_(triangulator), urls_(urls) {}
    void openGroup(VRRef<VRGroup> group) override { writer_.openGroup(*group); }
    void node(VRRef<VRNode> node) override {
        if (triangulator_)
            triangulateTree(node.get(), *triangulator_);
        if (urls_)
            relocateTextures(node.get(), *urls_);
        writer_.node(node.get());
    }
    void closeGroup() override { writer_.closeGroup(); }

private:
    VRStreamWriter& writer_;
    Triangulator* triangulator_;
    TextureUrls* urls_;
};

// Collapses the city into one Shape as the pieces come, as collapseToShape does for the whole
// tree: every Shape moved into world coordinates, the only one copied whole, or all of them
// merged into one face set. Each piece is let go once its faces are taken over.
class CollapsingSink : public VRSceneSink {
public:
    void openGroup(VRRef<VRGroup>) override {}
    void closeGroup() override {}
    void node(VRRef<VRNode> node) override {
        // Held by a plain group, the node is visited as the whole tree's walk would visit it
        // (its own transformation applied).
        auto holder = makeNode<VRGroup>();
        holder->addChild(std::move(node));
        for (VRRef<VRShape>& shape : collectWorldShapes(holder.get(), false)) {
            if (++shapes_ == 1)
                first_ = shape;
            merger_.add(*shape);
        }
    }
    VRRef<VRShape> result() {
        if (shapes_ == 1)
            return cloneAs(first_.get());
        auto shape = makeNode<VRShape>();
        merger_.finishInto(*shape);
        return shape;
    }

private:
    std::size_t shapes_ = 0;
    VRRef<VRShape> first_;
    FaceSetMerger merger_;
};

} // namespace

bool writeCityVrml(const VRSceneSource& city, const ExportOptions& options, std::FILE* out,
                   const std::string& header, Progress* progress, TextureUrls* urls) {
    std::optional<Triangulator> triangulator;
    if (options.triangulateEverything)
        triangulator.emplace();
    auto root = makeNode<VRTransform>();
    root->rotation = kUpright;
    if (options.collapseMode == CollapseMode::model) {
        CollapsingSink collapsing;
        city.toVrmlScene(false, options.saveRoads, collapsing, progress);
        VRRef<VRShape> shape = collapsing.result();
        setGrey(*shape);
        root->addChild(originViewpoint());
        root->addChild(std::move(shape));
        // One face set: these steps cannot say how far they are, only that they run.
        if (triangulator) {
            if (progress)
                progress->step("Triangulating", 0, 1);
            triangulateTree(root.get(), *triangulator);
        }
        if (progress)
            progress->step("Writing", 0, 1);
        return writeVrml(root.get(), out, header);
    }
    VRStreamWriter writer(out, header);
    writer.openGroup(*root);
    writer.node(originViewpoint().get());
    WritingSink writing(writer, triangulator ? &*triangulator : nullptr, urls);
    const bool collapseBuildings = options.collapseMode == CollapseMode::building;
    city.toVrmlScene(collapseBuildings, options.saveRoads, writing, progress);
    writer.closeGroup();
    return writer.finish();
}

namespace {

void reportFailure(const std::string& path, const std::string& reason) {
    logSaveFailure("VRML", path, reason);
}

} // namespace

void logSaved(std::string_view format, const std::string& path, const ExportOptions& options) {
    infoLog.line("Saved as ", format, " to ", path);
    infoLog.line(describeExport(options));
}

void logSaveFailure(std::string_view format, const std::string& path, const std::string& reason) {
    errorLog.line("Could not save ", format, " to ", path, ": ", reason);
}

CollapseMode collapseModeFromSetting(int value) {
    if (value >= 0 && value <= 2)
        return static_cast<CollapseMode>(value);
    warningLog.line("Unknown collapse mode ", value, ", exporting as Normal (textured)");
    return CollapseMode::normal;
}

std::string describeExport(const ExportOptions& options) {
    std::string text = "(";
    switch (options.collapseMode) {
    case CollapseMode::building:
        text += "collapse to building";
        break;
    case CollapseMode::model:
        text += "collapse model";
        break;
    default:
        text += "normal, textured";
        break;
    }
    const bool triangles = options.triangulateEverything || options.format == ExportFormat::glb ||
                           options.format == ExportFormat::gltf ||
                           options.format == ExportFormat::tiles;
    text += triangles ? ", triangulated" : ", not triangulated";
    text += options.saveRoads ? ", with roads" : ", without roads";
    if (mergesBlocks(options))
        text += ", blocks merged";
    return text + ")";
}

bool mergesBlocks(const ExportOptions& options) {
    return options.merge == MergeMode::blocks && options.format != ExportFormat::vrml &&
           options.format != ExportFormat::tiles && options.collapseMode != CollapseMode::model;
}

std::string exportHeader(const std::string& constructionFile, std::uint32_t randomSeed) {
    std::string file = constructionFile;
    for (char& c : file)
        if (c == '\r' || c == '\n')
            c = ' ';
    char seed[32];
    std::snprintf(seed, sizeof seed, "%08X", unsigned(randomSeed));
    // A fixed text that every export carries, whatever the program's version (base/Version.h):
    // its "V0.8" belongs to the wording.
    return "#\r\n"
           "# Ombrel V0.8 randomly generated urban model\r\n"
           "#[see https://ombrel.example.org/]\r\n"
           "# Configuration:\r\n"
           "# \t" +
           file + "\r\n# \t[randomSeed=0x" + seed + "]\r\n#\r\n";
}

bool exportCity(const VRSceneSource& city, const std::string& path,
                const std::string& constructionFile, std::uint32_t randomSeed,
                const ExportOptions& options, Progress* progress, CommitGroup* together) {
    if (path.empty()) {
        errorLog.line("Could not save VRML: no file name given");
        return false;
    }
    const std::string header = exportHeader(constructionFile, randomSeed);
    const ExportOptions& checked = options;
    if (checked.triangulateEverything)
        infoLog.line("Triangulating the entire model");

    // The scene goes into a new file beside the target, which replaces the target only once it
    // is complete: a failed export never destroys the previous file.
    auto file = std::make_unique<ReplacingFile>(path);
    if (!file->stream()) {
        reportFailure(path, file->reason());
        return false;
    }
    // Texture urls are resolved against the written file's folder, as readers resolve them.
    TextureUrls urls(path);
    if (!writeCityVrml(city, checked, file->stream(), header, progress, &urls)) {
        // The stream keeps the reason of its first failed write.
        const int error = file->error() ? file->error() : EIO;
        file->discard();
        reportFailure(path, std::strerror(error));
        return false;
    }
    std::vector<std::unique_ptr<ReplacingFile>> files;
    files.push_back(std::move(file));
    return CommitGroup::commitOrHand(
        together, std::move(files), [path, checked] { logSaved("VRML", path, checked); },
        [path](const ReplacingFile& failed) { reportFailure(path, failed.reason()); });
}

} // namespace ombrel
