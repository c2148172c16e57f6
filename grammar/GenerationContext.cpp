#include "grammar/GenerationContext.h"

namespace ombrel {

GenerationContext& detail::processGenerationContext() {
    // Made on first use and never destroyed: textures and drawables that the process still holds
    // at exit may reach it from their destructors.
    static GenerationContext* context = new GenerationContext;
    return *context;
}

GenerationContext* setCurrentGenerationContext(GenerationContext* context) {
    GenerationContext* previous = &generationContext();
    detail::currentGenerationContext = context;
    return previous;
}

} // namespace ombrel
