#pragma once

#include <QString>

namespace ombrel {

class COmbrelDialog;

// A run driven from outside, for the test of an installed program: with the environment
// variable OMBREL_SELFTEST naming a folder, once the windows are up the program draws the
// preview into <folder>/before.ppm, presses "Generate", draws it again into <folder>/after.ppm,
// writes the construction-file field and the generator log to <folder>/report.txt, and closes
// as "Close" does. A preview that has not drawn within 30 seconds (or none at all) is reported
// as such and the pictures are left out.
void scheduleSelfTest(COmbrelDialog& dialog, const QString& folder);

} // namespace ombrel
