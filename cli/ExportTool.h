#pragma once

#include <iosfwd>

namespace ombrel {

// Exit statuses of ombrel-export.
enum ExitStatus : int {
    kExitExported = 0,
    kExitLoadFailed = 1, // the construction file is missing or does not load
    kExitUsage = 2,      // unknown option, bad number, missing output
    kExitWriteFailed = 3 // an output could not be written
};
// A SIGINT, SIGTERM or SIGHUP ends the tool with 128 + its number (see installInterruptHandlers).

// The batch exporter: the same steps as the dialog's "Generate" then "Save VRML", driven by the
// command line. Help and version go to out, usage errors to err; the generator log goes to
// standard error unless --quiet.
int runExportTool(int argc, char** argv, std::ostream& out, std::ostream& err);

} // namespace ombrel
