#include "grammar/ProcessState.h"

namespace ombrel {

void resetProcessState() { processState() = ProcessState{}; }

} // namespace ombrel
