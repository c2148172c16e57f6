#include "app/OmbrelApp.h"

#include "app/OmbrelDialog.h"
#include "app/SelfTest.h"
#include "app/Settings.h"
#include "base/Log.h"

#include <QApplication>
#include <QMessageBox>
#include <QSettings>

namespace ombrel {

int COmbrelApp::run() {
    std::unique_ptr<QSettings> store = openSettingsStore();

    std::unique_ptr<COmbrelDialog> dialog;
    try {
        dialog = std::make_unique<COmbrelDialog>();
    } catch (const XmlStartError& e) {
        // The XML library could not start; nothing is read or written after it.
        QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Ombrel Xerces Error:"),
                        QString::fromUtf8(e.what()), QMessageBox::Ok);
        box.exec();
        return -1;
    }

    setLogSink(dialog.get());
    Settings settings = readSettings(*store);
    if (!constructionFile_.isEmpty()) {
        settings.cfgFile = constructionFile_;
    }
    dialog->setValues(settings);
    const QString selfTestFolder = qEnvironmentVariable("OMBREL_SELFTEST");
    if (!selfTestFolder.isEmpty()) {
        scheduleSelfTest(*dialog, selfTestFolder);
    }
    dialog->runModal();

    writeSettings(*store, dialog->values());
    setLogSink(nullptr);
    dialog.reset();
    return 0;
}

} // namespace ombrel
