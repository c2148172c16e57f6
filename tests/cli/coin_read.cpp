// Reads a VRML 2.0 file with Coin3D and prints what it found: "shapes N faces M", or with
// --bounds the world bounding box of the whole scene, every transformation applied:
// "bounds MINX MINY MINZ MAXX MAXY MAXZ". Fails (exit status 1) on any read error, which it
// prints to standard error.
#include <Inventor/SbLinear.h>
#include <Inventor/SbViewportRegion.h>
#include <Inventor/SoDB.h>
#include <Inventor/SoInput.h>
#include <Inventor/VRMLnodes/SoVRMLIndexedFaceSet.h>
#include <Inventor/VRMLnodes/SoVRMLShape.h>
#include <Inventor/actions/SoGetBoundingBoxAction.h>
#include <Inventor/actions/SoSearchAction.h>
#include <Inventor/errors/SoReadError.h>
#include <Inventor/nodes/SoSeparator.h>

#include <cstdio>
#include <cstring>

// Coin keeps its type system and caches until the process ends; under AddressSanitizer that is
// not a leak of ours.
extern "C" const char* __asan_default_options() {
    return "detect_leaks=0";
}
// ASAN_OPTIONS in the environment (the sanitizer test run sets detect_leaks=1) overrides the
// default above; the suppression still holds then.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libCoin\n";
}

namespace {

int readErrors = 0;

void onReadError(const SoError* error, void*) {
    ++readErrors;
    std::fprintf(stderr, "Coin read error: %s\n", error->getDebugString().getString());
}

} // namespace

int main(int argc, char** argv) {
    const bool bounds = argc == 3 && std::strcmp(argv[1], "--bounds") == 0;
    if (argc != 2 && !bounds) {
        std::fprintf(stderr, "usage: coin_read [--bounds] FILE.wrl\n");
        return 2;
    }
    const char* file = argv[argc - 1];
    SoDB::init();
    SoReadError::setHandlerCallback(onReadError, nullptr);
    SoInput in;
    if (!in.openFile(file)) {
        std::fprintf(stderr, "Coin cannot open %s\n", file);
        return 1;
    }
    SoSeparator* root = SoDB::readAll(&in);
    if (!root || readErrors > 0)
        return 1;
    root->ref();
    if (!in.isFileVRML2()) {
        std::fprintf(stderr, "not read as VRML 2.0\n");
        return 1;
    }
    if (bounds) {
        SoGetBoundingBoxAction box(SbViewportRegion(640, 480));
        box.apply(root);
        float x0, y0, z0, x1, y1, z1;
        box.getBoundingBox().getBounds(x0, y0, z0, x1, y1, z1);
        std::printf("bounds %g %g %g %g %g %g\n", x0, y0, z0, x1, y1, z1);
        root->unref();
        return 0;
    }
    SoSearchAction search;
    search.setType(SoVRMLShape::getClassTypeId());
    search.setInterest(SoSearchAction::ALL);
    search.setSearchingAll(TRUE);
    search.apply(root);
    const int shapes = search.getPaths().getLength();

    long faces = 0;
    for (int i = 0; i < shapes; ++i) {
        SoNode* tail = search.getPaths()[i]->getTail();
        if (!tail || !tail->isOfType(SoVRMLShape::getClassTypeId()))
            continue;
        SoNode* geometry = static_cast<SoVRMLShape*>(tail)->geometry.getValue();
        if (!geometry || !geometry->isOfType(SoVRMLIndexedFaceSet::getClassTypeId()))
            continue;
        auto* set = static_cast<SoVRMLIndexedFaceSet*>(geometry);
        const int n = set->coordIndex.getNum();
        const int32_t* index = set->coordIndex.getValues(0);
        for (int k = 0; k < n; ++k)
            if (index[k] == -1 || k == n - 1)
                ++faces;
    }
    std::printf("shapes %d faces %ld\n", shapes, faces);
    root->unref();
    return 0;
}
