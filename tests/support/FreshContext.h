#pragma once

// A generation context of its own for each test, so that no test sees what another left in the
// random state, the state stack or the last texture.

#include "grammar/GenerationContext.h"

namespace ombrel::testsupport {

// Makes a new generation context current, with every value as at start-up, and drops the one
// the previous call made. Drawables made in the dropped context stay valid.
inline void useFreshGenerationContext() {
    static GenerationContext* held = nullptr;
    GenerationContext* fresh = new GenerationContext;
    setCurrentGenerationContext(fresh);
    delete held;
    held = fresh;
}

} // namespace ombrel::testsupport
