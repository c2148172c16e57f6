#pragma once

#include <memory>

class QApplication;
class QSettings;

namespace ombrel {

// Prepares a freshly made QApplication the way Ombrel runs: names for the settings store and
// the message boxes, and the "C" rules for numbers in the C library, which Qt has just set
// from the desktop's locale, so files read and written never depend on it.
void prepareApplication(QApplication& app);

// The per-user settings store: Ombrel/Ombrel under the user's configuration folder
// (~/.config/Ombrel/Ombrel.conf), the same one ./scripts/run seeds on a first run.
std::unique_ptr<QSettings> openSettingsStore();

} // namespace ombrel
