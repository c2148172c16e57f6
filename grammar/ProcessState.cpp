#include "grammar/ProcessState.h"

namespace ombrel {

ProcessState& processState() {
    static ProcessState state;
    return state;
}

void resetProcessState() { processState() = ProcessState{}; }

} // namespace ombrel
