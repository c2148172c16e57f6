#include "app/CommandLine.h"
#include "app/OmbrelApp.h"
#include "base/Memory.h"
#include "base/Version.h"

#include <QApplication>
#include <QFileInfo>

#include <iostream>
#include <string>
#include <vector>

namespace {

std::vector<std::string> arguments(int argc, char** argv) {
    return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

// Answers help and version; returns -1 when the window is to run.
int answer(const ombrel::CommandLine& line) {
    using Action = ombrel::CommandLine::Action;
    switch (line.action) {
    case Action::Help:
        std::cout << ombrel::kWindowHelp;
        return 0;
    case Action::Version:
        std::cout << "ombrel " << ombrel::kVersion << "\n";
        return 0;
    case Action::Usage:
        std::cerr << "ombrel: " << line.message << "\n" << ombrel::kWindowUsageLine;
        return 2;
    case Action::Run:
        break;
    }
    return -1;
}

} // namespace

int main(int argc, char** argv) {
    // Help, version and usage mistakes need no display, so they are answered before Qt reaches
    // for one (the parser passes over Qt's own options, -platform, -display, ...).
    const ombrel::CommandLine early = ombrel::parseCommandLine(arguments(argc, argv));
    if (early.action != ombrel::CommandLine::Action::Run) {
        return answer(early);
    }
    ombrel::keepFreedMemory();
    QApplication app(argc, argv);
    const ombrel::CommandLine line = ombrel::parseCommandLine(arguments(argc, argv));
    if (const int status = answer(line); status >= 0) {
        return status;
    }
    ombrel::prepareApplication(app);
    // Named as the file chooser names files, so the setting stays good from any folder.
    const QString file = line.file.empty()
                             ? QString()
                             : QFileInfo(QFile::decodeName(line.file.c_str())).absoluteFilePath();
    ombrel::COmbrelApp program(file);
    return program.run();
}
