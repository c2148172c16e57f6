#pragma once

#include "app/AppSetup.h"

namespace ombrel {

// The program: builds the main dialog, restores the six settings, runs the dialog until it
// closes and stores the settings again.
class COmbrelApp {
public:
    // Returns the process exit status: 0, or -1 when the XML library could not start.
    int run();
};

} // namespace ombrel
