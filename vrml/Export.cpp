#include "vrml/Export.h"

#include "grammar/Log.h"
#include "vrml/ReplacingFile.h"
#include "vrml/Triangulate.h"
#include "vrml/VRWriter.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace ombrel {

namespace {

// A quarter turn about x: the city's z axis becomes VRML's y axis.
constexpr VRRotation kUpright{1, 0, 0, 1.5707964f};

void triangulateTree(VRNode* node, Triangulator& triangulator) {
    if (!node)
        return;
    switch (node->type) {
    case VR_GROUP:
    case VR_TRANSFORM:
        for (const VRRef<VRNode>& child : static_cast<VRGroup*>(node)->children)
            triangulateTree(child.get(), triangulator);
        break;
    case VR_SHAPE:
        triangulateTree(static_cast<VRShape*>(node)->geometry.get(), triangulator);
        break;
    case VR_INDEXED_FACE_SET:
        triangulator.triangulate(static_cast<VRIndexedFaceSet&>(*node));
        break;
    default:
        break;
    }
}

VRRef<VRNode> cityNode(const CityFactory::CityDrawable& city, int mode, bool saveRoads) {
    switch (mode) {
    case 1:
        return city.toVrmlScene(true, saveRoads);
    case 2: {
        // The whole model as one grey Shape without texture.
        VRRef<VRNode> scene = city.toVrmlScene(false, saveRoads);
        VRRef<VRShape> shape = collapseToShape(scene.get());
        scene.reset();
        auto appearance = makeNode<VRAppearance>();
        auto material = makeNode<VRMaterial>();
        material->diffuseColor = {0.5f, 0.5f, 0.5f};
        appearance->setMaterial(std::move(material));
        shape->setAppearance(std::move(appearance));
        return shape;
    }
    default:
        return city.toVrmlScene(false, saveRoads);
    }
}

void reportFailure(const std::string& path, int error) {
    errorLog << "Could not save VRML to " << path << ": " << std::strerror(error) << "\r\n";
}

} // namespace

std::string exportHeader(const std::string& constructionFile, std::uint32_t randomSeed) {
    std::string file = constructionFile;
    for (char& c : file)
        if (c == '\r' || c == '\n')
            c = ' ';
    char seed[32];
    std::snprintf(seed, sizeof seed, "%08X", unsigned(randomSeed));
    return "#\r\n"
           "# Ombrel V0.8 randomly generated urban model\r\n"
           "#[see https://ombrel.example.org/]\r\n"
           "# Configuration:\r\n"
           "# \t" +
           file + "\r\n# \t[randomSeed=0x" + seed + "]\r\n#\r\n";
}

VRRef<VRTransform> exportScene(const CityFactory::CityDrawable& city,
                               const ExportOptions& options) {
    int mode = options.collapseMode;
    if (mode < 0 || mode > 2) {
        warningLog << "Unknown collapse mode " << mode << ", exporting as Normal (textured)"
                   << "\r\n";
        mode = 0;
    }
    auto root = makeNode<VRTransform>();
    root->rotation = kUpright;
    auto viewpoint = makeNode<VRViewpoint>();
    viewpoint->position = {0, 0, 0};
    viewpoint->orientation = kUpright;
    viewpoint->fieldOfView = 1.0471976f;
    viewpoint->description = "Origin";
    root->addChild(std::move(viewpoint));
    root->addChild(cityNode(city, mode, options.saveRoads));

    if (options.triangulateEverything) {
        infoLog << "Triangulating the entire model"
                << "\r\n";
        Triangulator triangulator;
        triangulateTree(root.get(), triangulator);
    }
    return root;
}

bool exportCity(const CityFactory::CityDrawable& city, const std::string& path,
                const std::string& constructionFile, std::uint32_t randomSeed,
                const ExportOptions& options) {
    if (path.empty()) {
        errorLog << "Could not save VRML: no file name given"
                 << "\r\n";
        return false;
    }
    const std::string header = exportHeader(constructionFile, randomSeed);
    VRRef<VRTransform> root = exportScene(city, options);

    // The scene goes into a new file beside the target, which replaces the target only once it
    // is complete: a failed export never destroys the previous file.
    ReplacingFile file(path);
    if (!file.stream()) {
        reportFailure(path, file.error());
        return false;
    }
    errno = 0;
    if (!writeVrml(root.get(), file.stream(), header)) {
        const int error = errno ? errno : EIO;
        file.discard();
        reportFailure(path, error);
        return false;
    }
    root.reset();
    if (!file.commit()) {
        reportFailure(path, file.error());
        return false;
    }
    infoLog << "Saved as VRML to " << path << "\r\n";
    return true;
}

} // namespace ombrel
