// Runs one test class of the Qt layer, named by the first argument (all when none is given).
// The settings store is moved to a temporary folder first, so tests never see or change the
// real user's settings.
#include "TestSupport.h"

#include "app/AppSetup.h"

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

int main(int argc, char** argv) {
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
