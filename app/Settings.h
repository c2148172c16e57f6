#pragma once

#include <QString>

class QSettings;

namespace ombrel {

// The seven values kept from one run to the next, in the group "Settings" of the per-user store.
struct Settings {
    QString cfgFile;               // "cfgFile": construction file named at the last close
    QString lastSavedPath;         // "lastSavedPath": target of the last VRML export
    int triangulateEverything = 1; // "triangulateEverything": 0 off, 1 on
    int collapseMode = 0;          // "collapseMode": 0 normal, 1 per building, 2 whole model
    int saveRoads = 1;             // "saveRoads": 0 off, 1 on
    int watchFile = 1;             // "watchFile": 0 off, 1 regenerate when the file changes
    int mergeBlocks = 0; // "mergeBlocks": 1 a street block's buildings one object (glTF, OBJ)

    friend bool operator==(const Settings&, const Settings&) = default;
};

// Reads the seven keys; an absent or unreadable text is empty, an absent or unreadable integer
// takes its default. Values are taken as stored, out-of-range ones included.
Settings readSettings(QSettings& store);
// Writes all seven keys, changed or not; a failed write is ignored.
void writeSettings(QSettings& store, const Settings& settings);

} // namespace ombrel
