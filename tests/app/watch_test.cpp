#include "DialogFixture.h"

#include "app/DocumentWindow.h"
#include "app/FileWatcher.h"
#include "preview/CityWindow.h"

#include <QAction>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <QUrl>

#include <cstdio>

namespace ombrel {

using namespace ombrel::test;

namespace {

// A one-building city whose box is `height` high; `extra` goes inside the Building.
QByteArray cityFile(int height, const QByteArray& extra = {}) {
    return "<Ombrel numCellsX=\"2\" numCellsY=\"2\" cellSizeX=\"10\" cellSizeY=\"10\" "
           "randomSeed=\"1a2b\"><Building><DrawBox height=\"[" +
           QByteArray::number(height) + "," + QByteArray::number(height + 10) + "]\"/>" + extra +
           "</Building></Ombrel>\n";
}

bool writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

// As editors that save safely do: a new file renamed over the old one.
bool replaceFile(const QString& path, const QByteArray& bytes) {
    const QString fresh = path + QStringLiteral(".new");
    return writeFile(fresh, bytes) && std::rename(QFile::encodeName(fresh).constData(),
                                                  QFile::encodeName(path).constData()) == 0;
}

// A picture the test can tell apart by its colour.
bool writePicture(const QString& path, QColor colour) {
    QImage image(8, 8, QImage::Format_RGB32);
    image.fill(colour);
    return image.save(path, "PNG");
}

// Generous: the window must react within 2 s on a loaded machine and never flake.
constexpr int kWait = 15000;

} // namespace

class WatchTest : public QObject {
    Q_OBJECT

    std::unique_ptr<ScriptedDialog> dialog_;
    std::unique_ptr<QTemporaryDir> tmp_;
    QString file_;

    int generations() const {
        return logLines(*dialog_, QStringLiteral("Generated city [randomSeed=")).size();
    }
    void generate() {
        dialog_->cfgEdit->setText(file_);
        QTest::mouseClick(dialog_->generateButton, Qt::LeftButton);
    }

private slots:
    void init() {
        tmp_ = std::make_unique<QTemporaryDir>();
        file_ = tmp_->filePath(QStringLiteral("town.xml"));
        QVERIFY(writeFile(file_, cityFile(10)));
        QVERIFY(openDialog(dialog_, true));
    }
    void cleanup() {
        closeDialog(dialog_);
        tmp_.reset();
    }

    void editingRegeneratesFromTheFileSeedAndKeepsTheCamera_data() {
        QTest::addColumn<bool>("byRename");
        QTest::newRow("written in place") << false;
        QTest::newRow("renamed over") << true;
    }
    void editingRegeneratesFromTheFileSeedAndKeepsTheCamera() {
        QFETCH(bool, byRename);
        generate();
        // A second Generate goes on with the sequence; the edit starts from the file's seed again.
        QTest::mouseClick(dialog_->generateButton, Qt::LeftButton);
        QCOMPARE(generations(), 2);
        QCOMPARE(dialog_->fileWatcher()->files(), QStringList{file_});
        const float top = dialog_->cityMax.z;
        const QImage before = dialog_->preview()->grabFramebuffer();
        Camera& camera = dialog_->preview()->camera();
        camera.position = Vec3{1.0f, 2.0f, 3.0f};

        QVERIFY(byRename ? replaceFile(file_, cityFile(100)) : writeFile(file_, cityFile(100)));
        QTRY_VERIFY_WITH_TIMEOUT(generations() == 3, kWait);
        QCOMPARE(logLines(*dialog_, QStringLiteral("Generated city")).last(),
                 QStringLiteral("Generated city [randomSeed=0x00001A2B]"));
        QVERIFY2(dialog_->cityMax.z > top, qPrintable(QString::number(dialog_->cityMax.z)));
        QCOMPARE(dialog_->preview()->city, dialog_->city());
        QVERIFY(camera.position == (Vec3{1.0f, 2.0f, 3.0f}));
        camera.position = dialog_->preview()->camera().homePosition;
        QVERIFY(dialog_->preview()->grabFramebuffer() != before);
        // Still followed after the rename: a second edit regenerates again.
        QVERIFY(replaceFile(file_, cityFile(10)));
        QTRY_VERIFY_WITH_TIMEOUT(generations() == 4, kWait);
    }

    void aBrokenFileKeepsTheCityUntilItIsFixed() {
        generate();
        const CityFactory::CityDrawable* city = dialog_->city();
        QVERIFY(writeFile(file_, "<Ombrel numCellsX=\"2\"><Building>"));
        QTRY_VERIFY_WITH_TIMEOUT(
            !logLines(*dialog_, QStringLiteral("Kept the previous city")).isEmpty(), kWait);
        const QStringList lines = dialog_->logText().split(QLatin1Char('\n'));
        const qsizetype kept = lines.indexOf(QStringLiteral("Kept the previous city"));
        QCOMPARE(lines[kept - 1],
                 QStringLiteral("ERROR  : Failed parsing input file - fix errors and reload"));
        QCOMPARE(dialog_->city(), city);
        QCOMPARE(dialog_->preview()->city, city);
        dialog_->saveAnswer = tmp_->filePath(QStringLiteral("kept.wrl"));
        QTest::mouseClick(dialog_->saveButton, Qt::LeftButton);
        QVERIFY(readAll(dialog_->saveAnswer).contains("randomSeed=0x00001A2B"));
        QVERIFY(readAll(dialog_->saveAnswer).contains("# \t" + file_.toUtf8() + "\r\n"));

        QVERIFY(writeFile(file_, cityFile(50)));
        QTRY_VERIFY_WITH_TIMEOUT(generations() == 2, kWait);
        QVERIFY(dialog_->city() != nullptr);
        QCOMPARE(dialog_->preview()->city, dialog_->city());
    }

    void aChangedTextureRegenerates() {
        const QString picture = tmp_->filePath(QStringLiteral("wall.png"));
        QVERIFY(writePicture(picture, Qt::red));
        QVERIFY(writeFile(file_, cityFile(10, "<DrawBox height=\"5\"><Texture imageURL=\"" +
                                                  QFile::encodeName(picture) + "\"/></DrawBox>")));
        generate();
        QCOMPARE(dialog_->fileWatcher()->files(), (QStringList{file_, picture}));
        QVERIFY(writePicture(picture, Qt::blue));
        QTRY_VERIFY_WITH_TIMEOUT(generations() == 2, kWait);
    }

    void theMenuItemTurnsWatchingOff() {
        QVERIFY(dialog_->watchAction->isCheckable());
        QVERIFY(dialog_->watchAction->isChecked());
        QCOMPARE(dialog_->watchAction->text(), QStringLiteral("Regenerate when the file changes"));
        generate();
        QCOMPARE(dialog_->fileWatcher()->files(), QStringList{file_});
        dialog_->watchAction->trigger();
        QCOMPARE(dialog_->values().watchFile, 0);
        QVERIFY(dialog_->fileWatcher()->files().isEmpty());
        dialog_->watchAction->trigger();
        QCOMPARE(dialog_->values().watchFile, 1);
        QCOMPARE(dialog_->fileWatcher()->files(), QStringList{file_});
    }

    void aDroppedFileIsNamedAndGenerated() {
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(file_)});
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton,
                              Qt::NoModifier);
        QApplication::sendEvent(dialog_.get(), &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(dialog_.get(), &drop);
        QCOMPARE(dialog_->cfgEdit->text(), file_);
        QCOMPARE(generations(), 1);
        QVERIFY(dialog_->city() != nullptr);
    }

    void theMissingFileBoxAlsoLogsThePath() {
        SeenBox box;
        dismissNextMessageBox(&box);
        dialog_->cfgEdit->setText(QStringLiteral("/no/such/folder/city.xml"));
        QTest::mouseClick(dialog_->generateButton, Qt::LeftButton);
        QVERIFY(box.seen);
        QCOMPARE(
            logLines(*dialog_, QStringLiteral("ERROR  : Specified")),
            QStringList{QStringLiteral(
                "ERROR  : Specified configuration file doesn't exist: /no/such/folder/city.xml")});
    }
};

// The Help menu's two new entries.
class HelpMenuTest : public QObject {
    Q_OBJECT

    class Dialog : public ScriptedDialog {
    public:
        QStringList opened;

    protected:
        bool openDocument(const QString& path) override {
            opened.append(path);
            return true;
        }
    };

private slots:
    // The reference opens in a window of the program, rendered, with a link to its folder.
    void theReferenceOpensInTheProgramsWindow() {
        Dialog dialog;
        QCOMPARE(dialog.referenceAction->text(), QStringLiteral("Construction file reference"));
        dialog.referenceAction->trigger();
        QVERIFY(dialog.opened.isEmpty());
        CDocumentWindow* window = dialog.documentWindow();
        QVERIFY(window);
        QVERIFY(QTest::qWaitForWindowExposed(window));
        QCOMPARE(window->windowTitle(), QStringLiteral("Construction file reference"));
        QVERIFY2(window->documentPath().endsWith(QStringLiteral("/docs/construction-files.md")),
                 qPrintable(window->documentPath()));
        // Rendered, not shown as source: the heading's text without its "#".
        const QString text = window->browser->toPlainText();
        QVERIFY(text.startsWith(QStringLiteral("Construction files")));
        QVERIFY(!text.contains(QStringLiteral("# ")));
        // A link to a heading of the same document scrolls there.
        QCOMPARE(window->browser->verticalScrollBar()->value(), 0);
        emit window->browser->anchorClicked(QUrl(QStringLiteral("#the-seed")));
        QVERIFY(window->browser->verticalScrollBar()->value() > 0);
        QVERIFY(!window->scrollToHeading(QStringLiteral("no-such-heading")));
        const QString folder = QFileInfo(window->documentPath()).absolutePath();
        QVERIFY2(window->folderLink->text().contains(folder),
                 qPrintable(window->folderLink->text()));
        emit window->folderLink->linkActivated(QUrl::fromLocalFile(folder).toString());
        QCOMPARE(dialog.opened, QStringList{folder});
    }

    // The tutorial shows with its pictures; a link to the reference opens it in the same window,
    // a link to a folder goes to the desktop.
    void theTutorialShowsItsPicturesAndFollowsLinks() {
        Dialog dialog;
        QCOMPARE(dialog.tutorialAction->text(), QStringLiteral("Tutorial"));
        dialog.tutorialAction->trigger();
        CDocumentWindow* window = dialog.documentWindow();
        QVERIFY(window);
        QCOMPARE(window->windowTitle(), QStringLiteral("Tutorial"));
        const QVariant picture = window->browser->loadResource(
            QTextDocument::ImageResource, QUrl(QStringLiteral("pictures/tutorial-1.png")));
        QVERIFY(picture.isValid());
        QVERIFY(!QImage::fromData(picture.toByteArray()).isNull() ||
                !picture.value<QImage>().isNull());
        emit window->browser->anchorClicked(QUrl(QStringLiteral("construction-files.md")));
        QVERIFY(window->documentPath().endsWith(QStringLiteral("/docs/construction-files.md")));
        QVERIFY(dialog.opened.isEmpty());
        emit window->browser->anchorClicked(QUrl(QStringLiteral("examples/")));
        QCOMPARE(dialog.opened.size(), 1);
        QVERIFY2(dialog.opened.first().endsWith(QStringLiteral("/docs/examples/")),
                 qPrintable(dialog.opened.first()));
    }

    void keysAndMouseShowsTheTable() {
        Dialog dialog;
        QCOMPARE(dialog.keysAction->text(), QStringLiteral("Keys and mouse"));
        SeenBox box;
        dismissNextMessageBox(&box);
        dialog.keysAction->trigger();
        QVERIFY(box.seen);
        QCOMPARE(box.title, QStringLiteral("Keys and mouse"));
        for (const char* row : {"arrow up / down", "Home / End", "keypad + / -", "left drag",
                                "right or middle drag", "wheel", "frames the city"}) {
            QVERIFY2(box.text.contains(QLatin1String(row)), row);
        }
        // F is a key: its row comes before the mouse's heading.
        QVERIFY(box.text.indexOf(QLatin1String("frames the city")) <
                box.text.indexOf(QLatin1String(">mouse<")));
    }
};

OMBREL_TEST_CLASS(WatchTest)
OMBREL_TEST_CLASS(HelpMenuTest)

} // namespace ombrel

#include "watch_test.moc"
