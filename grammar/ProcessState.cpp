#include "grammar/ProcessState.h"

namespace ombrel {

void resetProcessState() {
    // Texture objects left behind are forgotten with the rest: that is a change too.
    const std::uint64_t changes = processState().textureObjectChanges + 1;
    processState() = ProcessState{};
    processState().textureObjectChanges = changes;
}

} // namespace ombrel
