#pragma once

#include "base/Vec.h"
#include "grammar/DrawableArena.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace ombrel {

class Texture;

// One saved grammar state on the stack that Push fills and Pop drains.
struct PushedState {
    Vec2 v0, v1, v2, v3;
    float height = 0.0f;
    Colour colour = 0;
    std::uint32_t randomState = 0;
};

// The replacement texts that vrmlTag naming uses while a cell is generated.
struct VrmlTagCodes {
    std::map<char, std::string> codes; // 'X' -> column index, 'Y' -> row index
    std::string lastError;             // empty when the last tag expanded well
};

// The generator's process-wide values. They are touched only from the one thread that runs
// commands; they are not guarded. Nothing else in the program is global, except the three
// log channels and their sink (grammar/Log.h).
struct ProcessState {
    // OpenGL texture objects whose Texture died while they were still uploaded, each with the
    // tag of the context it lives in; deleted the next time a texture is bound in that context.
    // Declared first so that it outlives lastTexture when the process ends.
    struct ReleasedTexture {
        const void* context;
        unsigned int name;
    };
    std::vector<ReleasedTexture> releasedTextures;
    // Tags the OpenGL context that uploads textures now; the preview window and the headless
    // context each set their own, and null stands for a program's only context.
    const void* glContextTag = nullptr;
    // Counts every texture upload and every texture object deleted or forgotten, so that
    // whatever recorded texture names (the preview's compiled city) can tell they may be stale.
    // Only ever grows, across resetProcessState too.
    std::uint64_t textureObjectChanges = 0;

    // The city random generator's state; 0 at process start, set by loading a construction
    // file, otherwise only advanced.
    std::uint32_t randomState = 0;
    // Entries pushed and not popped stay for the next building, city and construction file.
    std::vector<PushedState> stateStack;
    // The texture that the most recent pick of an ordinary texture group returned.
    std::shared_ptr<Texture> lastTexture;
    VrmlTagCodes vrmlTagCodes;
    // Grammar steps the current cell has taken (see CityCellFactory::takeStep), and the cells of
    // the current generation that ran out of steps.
    std::uint32_t cellSteps = 0;
    std::uint32_t cellsCut = 0;
    // The block that new drawables are cut from.
    DrawableArena drawableArena;
};

// Defined here so that the hot paths that consult it (random draws, texture picks, drawable
// allocation) inline the lookup.
inline ProcessState& processState() {
    static ProcessState state;
    return state;
}

// Puts every process-wide value back to its start-up state. For tests; the program never
// calls it.
void resetProcessState();

} // namespace ombrel
