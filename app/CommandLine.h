#pragma once

#include <string>
#include <vector>

namespace ombrel {

// What the arguments of the window program ask for.
struct CommandLine {
    enum class Action { Run, Help, Version, Usage };
    Action action = Action::Run;
    std::string file;    // Run: the construction file to name in the dialog, empty for none
    std::string message; // Usage: what is wrong with the arguments
};

// Reads the arguments that follow the program's name, in order: "-h" or "--help", "--version",
// and at most one construction file ("--" makes every later argument a file; "-" alone is a
// file). The options of Qt (-platform NAME, -display NAME, -style=NAME, -reverse, ...) are passed
// over with their values, so the arguments can be read before the application object exists.
// The first unknown option or a second file gives Usage with a message.
CommandLine parseCommandLine(const std::vector<std::string>& args);

// The one-line usage, ending in "\n".
extern const char* const kWindowUsageLine;
// The whole "--help" text.
extern const char* const kWindowHelp;

} // namespace ombrel
