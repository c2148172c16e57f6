#pragma once

#include "TestSupport.h"

#include "app/OmbrelDialog.h"

#include <QDir>
#include <QFile>
#include <QStringList>
#include <QTest>

#include <memory>

namespace ombrel::test {

// The main dialog with the file choosers and the CTRL key replaced by scripted answers.
class ScriptedDialog : public COmbrelDialog {
public:
    QString openAnswer; // empty: the user cancels
    QString saveAnswer; // empty: the user cancels
    bool ctrl = false;
    int openAsked = 0;
    int saveAsked = 0;
    QString openInitial;

protected:
    QString chooseConstructionFile(const QString& initial) override {
        ++openAsked;
        openInitial = initial;
        return openAnswer;
    }
    QString chooseExportFile() override {
        ++saveAsked;
        return saveAnswer;
    }
    bool ctrlHeld() const override { return ctrl; }
};

// Makes the dialog as the program does (the log's sink, and the preview when asked for), shows
// it and waits until it is on screen. False when the preview or the window did not come up.
inline bool openDialog(std::unique_ptr<ScriptedDialog>& dialog, bool withPreview) {
    dialog = std::make_unique<ScriptedDialog>();
    setLogSink(dialog.get());
    if (withPreview) {
        dialog->createPreview();
        if (!dialog->preview()) {
            return false;
        }
    }
    dialog->initDialog();
    dialog->show();
    return QTest::qWaitForWindowExposed(dialog.get());
}

inline void closeDialog(std::unique_ptr<ScriptedDialog>& dialog) {
    setLogSink(nullptr);
    dialog.reset();
}

// A bundled example city, by absolute path.
inline QString examplePath(const char* name) {
    return sourceDir() + QStringLiteral("/examples/%1/%1.xml").arg(QLatin1String(name));
}

// The log's lines (without line ends) that start with prefix.
inline QStringList logLines(const COmbrelDialog& dialog, const QString& prefix) {
    QStringList out;
    for (const QString& line : dialog.logText().split(QLatin1Char('\n'))) {
        if (line.startsWith(prefix)) {
            out.append(line);
        }
    }
    return out;
}

inline QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace ombrel::test
