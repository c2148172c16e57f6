#include "app/AppSetup.h"

#include <QApplication>
#include <QSettings>

#include <clocale>

namespace ombrel {

void prepareApplication(QApplication& app) {
    QCoreApplication::setOrganizationName(QStringLiteral("Ombrel"));
    QCoreApplication::setApplicationName(QStringLiteral("Ombrel"));
    // The desktop matches the windows to the menu entry (ombrel.desktop) and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("ombrel"));
    // The program ends when the main dialog closes, not when some window happens to be last.
    app.setQuitOnLastWindowClosed(false);
    std::setlocale(LC_NUMERIC, "C");
}

std::unique_ptr<QSettings> openSettingsStore() {
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                       QStringLiteral("Ombrel"), QStringLiteral("Ombrel"));
}

} // namespace ombrel
