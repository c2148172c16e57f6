#include "DialogFixture.h"

#include <QLineEdit>
#include <QProcess>
#include <QProcessEnvironment>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <clocale>
#include <cstdio>

namespace ombrel {

using namespace ombrel::test;

namespace {

// Run in a child process: loads, generates and exports one city through the dialog, the way a
// user would, and prints the locale that Qt took from the environment.
int exportInChild(int argc, char** argv) {
    if (argc < 3) {
        return 2;
    }
    std::printf("ctype=%s\n", std::setlocale(LC_CTYPE, nullptr));
    std::fflush(stdout);
    ScriptedDialog dialog;
    setLogSink(&dialog);
    dialog.createPreview();
    dialog.initDialog();
    dialog.show();
    dialog.cfgEdit->setText(QString::fromLocal8Bit(argv[1]));
    dialog.generateButton->click();
    dialog.saveAnswer = QString::fromLocal8Bit(argv[2]);
    dialog.saveButton->click();
    setLogSink(nullptr);
    return QFile::exists(dialog.saveAnswer) ? 0 : 1;
}

const bool registeredChild = registerTestClass("LocaleExportChild", exportInChild);

} // namespace

class LocaleTest : public QObject {
    Q_OBJECT

    QTemporaryDir tmp_;

    QByteArray exportUnder(const QString& locale, QByteArray* ctype) {
        const QString out = tmp_.filePath(locale + QStringLiteral(".wrl"));
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("LANG"), locale);
        env.insert(QStringLiteral("LC_ALL"), locale);
        child.setProcessEnvironment(env);
        child.setWorkingDirectory(sourceDir());
        child.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("LocaleExportChild"), examplePath("town"), out});
        if (!child.waitForFinished(120000) || child.exitCode() != 0) {
            qWarning() << child.readAllStandardError();
            return QByteArray();
        }
        const QByteArray said = child.readAllStandardOutput();
        *ctype = said.mid(said.indexOf("ctype=") + 6).trimmed();
        return readAll(out);
    }

private slots:
    void exportIsTheSameUnderACommaLocale() {
        QByteArray ctypeC, ctypeDe;
        const QByteArray c = exportUnder(QStringLiteral("C"), &ctypeC);
        const QByteArray de = exportUnder(QStringLiteral("de_DE.UTF-8"), &ctypeDe);
        QVERIFY2(!c.isEmpty(), "export under C");
        QVERIFY2(ctypeDe.startsWith("de_DE"),
                 "the child really ran under the German locale: " + ctypeDe);
        QVERIFY2(c.contains("1.5708"), "numbers use a decimal point");
        QVERIFY(c == de);
    }
};

OMBREL_TEST_CLASS(LocaleTest)

} // namespace ombrel

#include "locale_test.moc"
