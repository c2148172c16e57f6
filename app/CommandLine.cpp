#include "app/CommandLine.h"

namespace ombrel {

const char* const kWindowUsageLine = "Usage: ombrel [--help] [--version] [CONSTRUCTION_FILE]\n";

const char* const kWindowHelp =
    "Usage: ombrel [OPTIONS] [CONSTRUCTION_FILE]\n"
    "Opens the Ombrel window: name an XML construction file, generate a city from it, fly\n"
    "through it in the preview and export it as a VRML 2.0 file.\n"
    "\n"
    "  CONSTRUCTION_FILE        named in the window instead of the file of the last run;\n"
    "                           the first Generate loads it\n"
    "  -h, --help               show this help and exit\n"
    "      --version            show the version and exit\n"
    "\n"
    "The options of Qt (such as -platform NAME or -display DISPLAY) are accepted too.\n"
    "Exit status: 0 closed, 2 bad usage, 255 the XML library could not start.\n";

CommandLine parseCommandLine(const std::vector<std::string>& args) {
    CommandLine line;
    bool optionsEnded = false;
    for (const std::string& arg : args) {
        if (!optionsEnded && (arg == "-h" || arg == "--help")) {
            return CommandLine{CommandLine::Action::Help, {}, {}};
        }
        if (!optionsEnded && arg == "--version") {
            return CommandLine{CommandLine::Action::Version, {}, {}};
        }
        if (!optionsEnded && arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (!optionsEnded && arg.size() > 1 && arg[0] == '-') {
            return CommandLine{CommandLine::Action::Usage, {}, "unknown option " + arg};
        }
        if (!line.file.empty()) {
            return CommandLine{CommandLine::Action::Usage,
                               {},
                               "only one construction file can be named, not also " + arg};
        }
        line.file = arg;
    }
    return line;
}

} // namespace ombrel
