#include "DialogFixture.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextLayout>

#include <string>

namespace ombrel {

using namespace ombrel::test;

class LogTest : public QObject {
    Q_OBJECT

    std::unique_ptr<ScriptedDialog> dialog_;

private slots:
    void init() { QVERIFY(openDialog(dialog_, false)); }
    void cleanup() { closeDialog(dialog_); }

    void piecesFormLines_data() {
        QTest::addColumn<QStringList>("pieces");
        QTest::addColumn<QString>("text");
        QTest::newRow("one message")
            << QStringList{"Parsing ", "a.xml", " ... ", "\r\n"} << "Parsing a.xml ... \n";
        QTest::newRow("partial line")
            << QStringList{"Parsing ", "a.xml", " ... "} << "Parsing a.xml ... ";
        QTest::newRow("empty piece") << QStringList{"a", "", "b"} << "ab";
        QTest::newRow("line end split over two writes")
            << QStringList{"one\r", "\ntwo\r\n"} << "one\ntwo\n";
        QTest::newRow("bare line feed")
            << QStringList{"An error occurred during parsing\n ", "\r\n"}
            << "An error occurred during parsing\n \n";
        QTest::newRow("utf-8") << QStringList{"Adding 'caf\u00e9.png'", "\r\n"}
                               << "Adding 'caf\u00e9.png'\n";
    }
    void piecesFormLines() {
        QFETCH(QStringList, pieces);
        QFETCH(QString, text);
        for (const QString& p : pieces) {
            dialog_->AppendToLog(p.toStdString());
        }
        QCOMPARE(dialog_->logText(), text);
    }

    void errorsAndWarningsShowTheirLabelAndColour() {
        infoLog << "Parsing "
                << "x.xml"
                << " ... ";
        warningLog << "continued"
                   << "\r\n";
        errorLog << "Failed parsing input file - fix errors and reload"
                 << "\r\n";
        infoLog << 42 << " " << 0.1234567 << "\r\n";
        const SourcePlace place{std::make_shared<const std::string>("town.xml"), 12, 5};
        infoLog << "open";
        warningLog.at(place).line("Unknown DrawBox closed value 'true' - ignored");
        warningLog.line("Last texture group used with no last texture");
        QCOMPARE(dialog_->logText(),
                 QStringLiteral("Parsing x.xml ... continued\n"
                                "ERROR  : Failed parsing input file - fix errors and reload\n"
                                "42 0.123457\n"
                                "open\n"
                                "town.xml:12:5: warning: Unknown DrawBox closed value 'true' - "
                                "ignored\n"
                                "WARNING: Last texture group used with no last texture\n"));
        // The colour of each line's first character: info in the field's own colour.
        QStringList colours;
        for (QTextBlock b = dialog_->logEdit->document()->begin(); b.isValid(); b = b.next()) {
            if (!b.text().isEmpty()) {
                QTextCursor c(b);
                c.movePosition(QTextCursor::NextCharacter);
                colours << (c.charFormat().hasProperty(QTextFormat::ForegroundBrush)
                                ? c.charFormat().foreground().color().name()
                                : QStringLiteral("plain"));
            }
        }
        QCOMPARE(colours,
                 QStringList({"plain", "#c00000", "plain", "plain", "#b86e00", "#b86e00"}));
    }

    void aLogWriteKeepsWhatTheUserTyped() {
        dialog_->cfgEdit->setText(QStringLiteral("being typed"));
        dialog_->cfgEdit->setCursorPosition(5);
        dialog_->normalRadio->setChecked(false);
        dialog_->collapseModelRadio->click();
        infoLog << "line"
                << "\r\n";
        QCOMPARE(dialog_->cfgEdit->text(), QStringLiteral("being typed"));
        QCOMPARE(dialog_->cfgEdit->cursorPosition(), 5);
        QVERIFY(dialog_->collapseModelRadio->isChecked());
        // ... and brings the values up to date with the controls.
        QCOMPARE(dialog_->cfgFile, QStringLiteral("being typed"));
        QCOMPARE(dialog_->collapseMode, 2);
    }

    void scrollsToTheNewestLine() {
        for (int i = 0; i < 500; ++i) {
            infoLog << "line " << i << "\r\n";
        }
        QScrollBar* bar = dialog_->logEdit->verticalScrollBar();
        QVERIFY(bar->maximum() > 0);
        QCOMPARE(bar->value(), bar->maximum());
        QVERIFY(dialog_->logText().endsWith(QStringLiteral("line 499\n")));
    }

    // A line longer than the field is wrapped, not cut: all of it is in view without scrolling
    // sideways.
    void longLinesWrap() {
        const std::string path = "/home/someone/" + std::string(300, 'x') + "/town.xml";
        warningLog.line("Failed loading texture ", path, " (it will not be used)");
        QCoreApplication::processEvents();
        const QTextBlock line = dialog_->logEdit->document()->lastBlock().previous();
        QVERIFY(line.text().startsWith(QStringLiteral("WARNING: Failed loading texture")));
        QVERIFY(line.layout()->lineCount() > 2);
        QCOMPARE(dialog_->logEdit->horizontalScrollBar()->maximum(), 0);
    }

    void writesBeforeTheDialogAreKept() {
        setLogSink(nullptr);
        infoLog << "early"
                << "\r\n";
        setLogSink(dialog_.get());
        QCOMPARE(dialog_->logText(), QStringLiteral("early\n"));
    }
};

OMBREL_TEST_CLASS(LogTest)

} // namespace ombrel

#include "log_test.moc"
