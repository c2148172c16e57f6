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

namespace {

// The options QApplication takes out of the arguments itself (with one dash or two), and those
// of them that take the next argument as their value. Knowing them lets the arguments be judged
// before the application object exists, which on X11 needs a display.
const char* const kQtOptionsWithValue[] = {"platform",
                                           "platformpluginpath",
                                           "platformtheme",
                                           "plugin",
                                           "qwindowgeometry",
                                           "qwindowicon",
                                           "qwindowtitle",
                                           "style",
                                           "stylesheet",
                                           "session",
                                           "display",
                                           "geometry",
                                           "title",
                                           "name",
                                           "visual",
                                           "ncols",
                                           "cmap",
                                           "qmljsdebugger"};
const char* const kQtFlags[] = {"reverse", "widgetcount", "nograb",
                                "dograb",  "sync",        "testability"};

// The option's name without its dashes and any "=value"; empty for no option.
std::string optionName(const std::string& arg) {
    std::size_t start = 0;
    while (start < arg.size() && start < 2 && arg[start] == '-') {
        ++start;
    }
    if (start == 0 || start == arg.size()) {
        return {};
    }
    return arg.substr(start, arg.find('=') == std::string::npos ? std::string::npos
                                                                : arg.find('=') - start);
}

} // namespace

CommandLine parseCommandLine(const std::vector<std::string>& args) {
    CommandLine line;
    bool optionsEnded = false;
    bool skipValue = false;
    for (const std::string& arg : args) {
        if (skipValue) {
            skipValue = false;
            continue;
        }
        if (!optionsEnded && arg.size() > 1 && arg[0] == '-') {
            const std::string name = optionName(arg);
            bool qt = false;
            for (const char* option : kQtOptionsWithValue) {
                if (name == option) {
                    qt = true;
                    skipValue = arg.find('=') == std::string::npos;
                }
            }
            for (const char* option : kQtFlags) {
                qt = qt || name == option;
            }
            if (qt) {
                continue;
            }
        }
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
