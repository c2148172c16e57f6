#include "app/OmbrelApp.h"

#include "app/OmbrelDialog.h"
#include "app/Settings.h"
#include "grammar/Log.h"

#include <QApplication>
#include <QMessageBox>
#include <QSettings>

#include <exception>

namespace ombrel {

int COmbrelApp::run() {
    std::unique_ptr<QSettings> store = openSettingsStore();

    std::unique_ptr<COmbrelDialog> dialog;
    try {
        dialog = std::make_unique<COmbrelDialog>();
    } catch (const std::exception& e) {
        // Only the XML library's start can fail here; nothing is read or written after it.
        QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Ombrel Xerces Error:"),
                        QStringLiteral("Error during Xerces-c Initialization.\n") +
                            QStringLiteral("  Exception message:") + QString::fromUtf8(e.what()) +
                            QStringLiteral("\n"),
                        QMessageBox::Ok);
        box.exec();
        return -1;
    }

    setLogSink(dialog.get());
    dialog->setValues(readSettings(*store));
    dialog->runModal();

    writeSettings(*store, dialog->values());
    setLogSink(nullptr);
    dialog.reset();
    return 0;
}

} // namespace ombrel
