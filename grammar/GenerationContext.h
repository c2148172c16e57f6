#pragma once

#include "base/Log.h"
#include "base/Vec.h"
#include "grammar/BuildingColour.h"
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

// Everything generation reads and changes besides its arguments: the city random generator, the
// state stack, the last texture picked, the vrmlTag codes, the cell's step budget, the building
// colour source and the block drawables are cut from. The values persist across cells, cities
// and construction files, which is how a file that pushes without popping, or a second Generate,
// carries on where the last one stopped.
//
// There is one current context (see generationContext()); the grammar's fixed interfaces
// (DrawFactory::create(GrammarState&)) reach it through that pointer, as every element of one
// generation shares it. It is touched only from the one thread that runs commands and is not
// guarded.
struct GenerationContext {
    // The city random generator's state; 0 at start, set by loading a construction file,
    // otherwise only advanced.
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
    // The place of the innermost Call running (none outside Calls), and of the one that was
    // running when the first cell of the generation ran out of steps: the warning names it.
    const SourcePlace* runningCall = nullptr;
    SourcePlace firstCutCall;
    // Where building colours come from; never seeded by a construction file.
    BuildingColourSource buildingColours;
    // The block that new drawables are cut from. Drawables may outlive the context.
    DrawableArena drawableArena;
};

namespace detail {
// The context set by setCurrentGenerationContext; null stands for the process's own.
inline GenerationContext* currentGenerationContext = nullptr;
GenerationContext& processGenerationContext();
} // namespace detail

// The current generation context: the one last set with setCurrentGenerationContext, or the
// process's own, made on first use and kept until the process ends. Never null. Defined here so
// that the hot paths that consult it (random draws, texture picks, drawable allocation) inline
// the lookup.
inline GenerationContext& generationContext() {
    GenerationContext* current = detail::currentGenerationContext;
    return current ? *current : detail::processGenerationContext();
}

// Makes `context` current (null: the process's own again) and returns the one that was current
// before, so that a caller can put it back. The caller keeps `context` alive while it is
// current; drawables cut from it may outlive it.
GenerationContext* setCurrentGenerationContext(GenerationContext* context);

} // namespace ombrel
