// Runs one test class of the Qt layer, named by the first argument (all when none is given).
// The run has a scratch folder of its own, named after the class as CTest names the test
// (app.<class>); TMPDIR points there, so every QTemporaryDir of the tests lands in it and not in
// a folder another test process uses. The settings store is moved into it first, so tests never
// see or change the real user's settings.
#include "TestSupport.h"

#include "app/AppSetup.h"
#include "tests/support/Scratch.h"

#include <QApplication>
#include <QDir>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

namespace ombrel::test {

std::map<std::string, TestFactory>& registry() {
    static std::map<std::string, TestFactory> classes;
    return classes;
}

bool registerTestClass(const char* name, TestFactory run) {
    registry()[name] = std::move(run);
    return true;
}

} // namespace ombrel::test

namespace {

int runClasses(int argc, char** argv) {
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    QStandardPaths::setTestModeEnabled(true);

    QApplication app(argc, argv);
    ombrel::prepareApplication(app);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, config.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, config.path());

    auto& classes = ombrel::test::registry();
    if (argc > 1 && classes.count(argv[1])) {
        const auto& run = classes[argv[1]];
        argv[1] = argv[0];
        return run(argc - 1, argv + 1);
    }
    if (argc > 1 && argv[1][0] != '-') {
        std::fprintf(stderr, "unknown test class %s\n", argv[1]);
        return 2;
    }
    int failures = 0;
    for (auto& [name, run] : classes) {
        failures += run(argc, argv);
    }
    return failures;
}

} // namespace

int main(int argc, char** argv) {
    const bool oneClass = argc > 1 && argv[1][0] != '-';
    ombrel::testsupport::ScratchPerTest scratch;
    scratch.start(oneClass ? std::string("app.") + argv[1] : std::string("app"));
    const int failures = runClasses(argc, argv);
    scratch.finish(failures != 0);
    return failures;
}
