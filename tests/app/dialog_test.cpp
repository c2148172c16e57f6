#include "DialogFixture.h"
#include "preview/gl/TextureCache.h"

#include "app/AboutBox.h"
#include "app/OmbrelApp.h"
#include "grammar/GenerationContext.h"
#include "grammar/Texture.h"
#include "preview/CityWindow.h"

#include <QAction>
#include <QCheckBox>
#include <QFileInfo>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

namespace ombrel {

using namespace ombrel::test;

class DialogTest : public QObject {
    Q_OBJECT

    std::unique_ptr<ScriptedDialog> dialog_;
    QTemporaryDir tmp_;

    void generateWith(const QString& path) {
        dialog_->cfgEdit->setText(path);
        QTest::mouseClick(dialog_->generateButton, Qt::LeftButton);
    }

private slots:
    void init() { QVERIFY(openDialog(dialog_, true)); }
    void cleanup() { closeDialog(dialog_); }

    void controlsAndTexts() {
        QCOMPARE(dialog_->windowTitle(), QStringLiteral("Ombrel Procedural City Generator"));
        QCOMPARE(dialog_->preview()->windowTitle(), QStringLiteral("City Preview"));
        QCOMPARE(dialog_->preview()->size(), QSize(500, 500));
        QCOMPARE(dialog_->saveButton->toolTip(),
                 QStringLiteral("Export to a VRML 2.0 file (CTRL-CLICK to resave)"));
        QCOMPARE(dialog_->logEdit->toolTip(), QStringLiteral("Execution log window"));
        QVERIFY(dialog_->logEdit->isReadOnly());
        QCOMPARE(dialog_->logEdit->focusPolicy(), Qt::ClickFocus);
        for (QPushButton* b :
             {dialog_->browseButton, dialog_->reloadButton, dialog_->generateButton,
              dialog_->saveButton, dialog_->closeButton}) {
            QVERIFY2(!b->isDefault() && !b->autoDefault(), qPrintable(b->text()));
        }
        // Tab order of the template.
        const QList<QWidget*> order = {
            dialog_->cfgEdit,        dialog_->browseButton, dialog_->reloadButton,
            dialog_->generateButton, dialog_->normalRadio,  dialog_->triangulateCheck,
            dialog_->saveButton,     dialog_->closeButton,  dialog_->saveRoadsCheck};
        for (int i = 0; i + 1 < order.size(); ++i) {
            QWidget* next = order[i]->nextInFocusChain();
            while (next->focusPolicy() == Qt::NoFocus || !next->isVisible() ||
                   (qobject_cast<QRadioButton*>(next) && next != dialog_->normalRadio)) {
                next = next->nextInFocusChain();
            }
            QCOMPARE(next, order[i + 1]);
        }
    }

    void helpMenuOpensTheAboutBox() {
        QAction* about = nullptr;
        for (QAction* a : dialog_->findChildren<QAction*>()) {
            if (a->text() == QStringLiteral("&About Ombrel...")) {
                about = a;
            }
        }
        QVERIFY(about != nullptr);
        QString seenTitle;
        QTimer::singleShot(50, [&seenTitle] {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                if (auto* box = qobject_cast<CAboutBox*>(w); box && box->isVisible()) {
                    seenTitle = box->windowTitle();
                    box->accept();
                }
            }
        });
        about->trigger();
        QCOMPARE(seenTitle, QStringLiteral("About Ombrel"));
    }

    void firstRunShowsTheDefaults() {
        QCOMPARE(dialog_->cfgEdit->text(), QString());
        QVERIFY(dialog_->triangulateCheck->isChecked());
        QVERIFY(dialog_->normalRadio->isChecked());
        QVERIFY(dialog_->saveRoadsCheck->isChecked());
    }

    void outOfRangeValues_data() {
        QTest::addColumn<int>("collapse");
        QTest::addColumn<int>("triangulate");
        QTest::addColumn<int>("roads");
        QTest::addColumn<int>("collapseBack");
        QTest::addColumn<int>("triangulateBack");
        QTest::addColumn<int>("roadsBack");
        QTest::newRow("all in range") << 2 << 0 << 1 << 2 << 0 << 1;
        QTest::newRow("collapse above range") << 3 << 1 << 1 << -1 << 1 << 1;
        QTest::newRow("collapse negative") << -4 << 1 << 1 << -1 << 1 << 1;
        QTest::newRow("check boxes above range") << 0 << 7 << 9 << 0 << 0 << 0;
        QTest::newRow("check boxes negative") << 0 << -1 << -2 << 0 << 0 << 0;
        QTest::newRow("check value 2 is ticked") << 0 << 2 << 2 << 0 << 1 << 1;
    }
    void outOfRangeValues() {
        QFETCH(int, collapse);
        QFETCH(int, triangulate);
        QFETCH(int, roads);
        dialog_->collapseMode = collapse;
        dialog_->triangulateEverything = triangulate;
        dialog_->saveRoads = roads;
        dialog_->updateData(false);
        dialog_->updateData(true);
        QTEST(dialog_->collapseMode, "collapseBack");
        QTEST(dialog_->triangulateEverything, "triangulateBack");
        QTEST(dialog_->saveRoads, "roadsBack");
    }

    void generateLoadsTheTypedPathAndPlacesTheCamera() {
        const QString path = examplePath("town");
        generateWith(path);
        QCOMPARE(logLines(*dialog_, QStringLiteral("Parsing ")),
                 QStringList{QStringLiteral("Parsing ") + path + QStringLiteral(" ... ")});
        QCOMPARE(logLines(*dialog_, QStringLiteral("Successfully loaded ")).size(), 1);
        QCOMPARE(logLines(*dialog_, QStringLiteral("Generated city [randomSeed=0x")).size(), 1);
        QVERIFY(dialog_->city() != nullptr);
        CCityWindow* preview = dialog_->preview();
        QCOMPARE(preview->city, dialog_->city());
        const Camera& cam = preview->camera();
        QCOMPARE(cam.position.x, (dialog_->cityMin.x + dialog_->cityMax.x) / 2.0f);
        QCOMPARE(cam.position.y, -400.0f);
        QCOMPARE(cam.position.z, dialog_->cityMax.z);
        QVERIFY(cam.homePosition == cam.position);
        QVERIFY(cam.orientation == identityMat3());
    }

    // When Qt replaces the preview's context, the textures upload again into the new one:
    // the same textured frame comes back.
    void newPreviewContextKeepsTheTextures() {
        generateWith(examplePath("town"));
        CCityWindow* preview = dialog_->preview();
        const auto frame = [preview] {
            return preview->grabFramebuffer().convertToFormat(QImage::Format_RGB888);
        };
        frame();
        const QImage before = frame(); // the one before left a texture bound, like every later one
        QWidget holder;
        holder.resize(preview->size());
        preview->setParent(&holder);
        holder.show();
        const bool exposed = QTest::qWaitForWindowExposed(&holder);
        frame();
        const QImage again = frame();
        const QImage replayed = frame();
        preview->setParent(nullptr); // the holder must not take the preview with it
        QVERIFY(exposed);
        QVERIFY(again == before);
        QVERIFY(replayed == before);
    }

    void generatedCityShowsInThePreview() {
        generateWith(examplePath("town"));
        const QImage frame =
            dialog_->preview()->grabFramebuffer().convertToFormat(QImage::Format_RGB888);
        // Below the horizon the backdrop is white; the city covers part of it.
        int notWhite = 0;
        for (int y = frame.height() / 2 + 10; y < frame.height(); y += 4) {
            for (int x = 0; x < frame.width(); x += 4) {
                notWhite += frame.pixelColor(x, y) != QColor(255, 255, 255);
            }
        }
        QVERIFY2(notWhite > 100, qPrintable(QString::number(notWhite)));
    }

    void generateTwiceGoesOnWithTheSequence() {
        generateWith(examplePath("town"));
        QTest::mouseClick(dialog_->generateButton, Qt::LeftButton);
        const QStringList seeds = logLines(*dialog_, QStringLiteral("Generated city"));
        QCOMPARE(seeds.size(), 2);
        QVERIFY2(seeds[0] != seeds[1], qPrintable(seeds.join(QLatin1Char('|'))));
        QCOMPARE(logLines(*dialog_, QStringLiteral("Parsing ")).size(), 1);
    }

    void caseOnlyChangeIsAnotherFile() {
        // Two files whose names differ only in case, beside a link to the bundled textures.
        QVERIFY(QFile::link(sourceDir() + QStringLiteral("/examples/textures"),
                            tmp_.filePath(QStringLiteral("textures"))) ||
                QFile::exists(tmp_.filePath(QStringLiteral("textures"))));
        QDir(tmp_.path()).mkpath(QStringLiteral("case"));
        const QString lower = tmp_.filePath(QStringLiteral("case/city.xml"));
        const QString upper = tmp_.filePath(QStringLiteral("case/City.xml"));
        QFile::remove(lower);
        QFile::remove(upper);
        QVERIFY(QFile::copy(examplePath("town"), lower));
        QVERIFY(QFile::copy(examplePath("town"), upper));
        generateWith(lower);
        generateWith(upper);
        const QStringList parsed = logLines(*dialog_, QStringLiteral("Parsing "));
        QCOMPARE(parsed.size(), 2);
        QVERIFY(parsed[1].contains(QStringLiteral("City.xml")));
    }

    void missingFileIsReported_data() {
        QTest::addColumn<bool>("reload");
        QTest::newRow("Generate") << false;
        QTest::newRow("Reload Cfg") << true;
    }
    void missingFileIsReported() {
        QFETCH(bool, reload);
        dialog_->cfgEdit->setText(QStringLiteral("/no/such/folder/city.xml"));
        SeenBox box;
        dismissNextMessageBox(&box);
        QTest::mouseClick(reload ? dialog_->reloadButton : dialog_->generateButton, Qt::LeftButton);
        QVERIFY(box.seen);
        QCOMPARE(box.title, QStringLiteral("Ombrel"));
        QCOMPARE(box.text, QStringLiteral("Specified configuration file doesn't exist"));
        QCOMPARE(dialog_->city(), nullptr);
        QVERIFY(logLines(*dialog_, QStringLiteral("Parsing ")).isEmpty());
    }

    void reloadUsesTheTypedPathAndKeepsTheCity() {
        generateWith(examplePath("town"));
        const CityFactory::CityDrawable* city = dialog_->city();
        dialog_->cfgEdit->setText(examplePath("downtown"));
        QTest::mouseClick(dialog_->reloadButton, Qt::LeftButton);
        QCOMPARE(logLines(*dialog_, QStringLiteral("Parsing ")).last(),
                 QStringLiteral("Parsing ") + examplePath("downtown") + QStringLiteral(" ... "));
        QCOMPARE(dialog_->city(), city);
        QCOMPARE(dialog_->preview()->city, city);
        // The city built before the reload still draws and exports.
        dialog_->preview()->grabFramebuffer();
        dialog_->saveAnswer = tmp_.filePath(QStringLiteral("after-reload.wrl"));
        QTest::mouseClick(dialog_->saveButton, Qt::LeftButton);
        QVERIFY(readAll(dialog_->saveAnswer).startsWith("#VRML V2.0 utf8\r\n"));
    }

    void saveVrmlWritesTheChosenFile_data() {
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("triangulate");
        QTest::addColumn<bool>("roads");
        QTest::newRow("normal") << 0 << true << true;
        QTest::newRow("collapse to building") << 1 << false << true;
        QTest::newRow("collapse model") << 2 << true << false;
    }
    void saveVrmlWritesTheChosenFile() {
        QFETCH(int, mode);
        QFETCH(bool, triangulate);
        QFETCH(bool, roads);
        const QString tag = QString::fromLatin1(QTest::currentDataTag());
        QRadioButton* radio = mode == 0   ? dialog_->normalRadio
                              : mode == 1 ? dialog_->collapseBuildingRadio
                                          : dialog_->collapseModelRadio;
        generateWith(examplePath("town"));
        radio->click();
        dialog_->triangulateCheck->setChecked(triangulate);
        dialog_->saveRoadsCheck->setChecked(roads);
        const QString out = tmp_.filePath(tag + QStringLiteral(".wrl"));
        QFile::remove(out);
        dialog_->saveAnswer = out;
        QTest::mouseClick(dialog_->saveButton, Qt::LeftButton);
        QCOMPARE(dialog_->saveAsked, 1);
        QCOMPARE(dialog_->lastSavedPath, out);
        const QByteArray bytes = readAll(out);
        QVERIFY(bytes.startsWith("#VRML V2.0 utf8\r\n#\r\n"));
        QVERIFY(bytes.contains("# \t" + examplePath("town").toUtf8() + "\r\n"));
        QCOMPARE(bytes.contains("Roads"), roads);
        QCOMPARE(logLines(*dialog_, QStringLiteral("Saved as VRML to ")),
                 QStringList{QStringLiteral("Saved as VRML to ") + out});
        const QString options = mode == 0   ? QStringLiteral("(normal, textured")
                                : mode == 1 ? QStringLiteral("(collapse to building")
                                            : QStringLiteral("(collapse model");
        QCOMPARE(logLines(*dialog_, QStringLiteral("(")),
                 QStringList{options +
                             (triangulate ? QStringLiteral(", triangulated")
                                          : QStringLiteral(", not triangulated")) +
                             (roads ? QStringLiteral(", with roads)")
                                    : QStringLiteral(", without roads)"))});
        QCOMPARE(logLines(*dialog_, QStringLiteral("Triangulating the entire model")).size(),
                 triangulate ? 1 : 0);
    }

    void mergeBlocksReachesTheGltfExport() {
        generateWith(examplePath("town"));
        dialog_->normalRadio->click();
        dialog_->triangulateCheck->setChecked(true);
        dialog_->saveRoadsCheck->setChecked(true);
        QVERIFY(!dialog_->mergeBlocksCheck->isChecked());
        dialog_->mergeBlocksCheck->setChecked(true);
        const QString out = tmp_.filePath(QStringLiteral("merged.glb"));
        QFile::remove(out);
        dialog_->saveAnswer = out;
        QTest::mouseClick(dialog_->saveButton, Qt::LeftButton);
        QCOMPARE(dialog_->mergeBlocks, 1);
        QCOMPARE(dialog_->values().mergeBlocks, 1);
        QVERIFY(readAll(out).contains("\"name\":\"block_1_1\""));
        QCOMPARE(logLines(*dialog_, QStringLiteral("(")),
                 QStringList{QStringLiteral(
                     "(normal, textured, triangulated, with roads, blocks merged)")});
        dialog_->mergeBlocksCheck->setChecked(false);
    }

    void texturesAreFreedOnceNothingUsesThem() {
        generateWith(examplePath("town"));
        dialog_->preview()->grabFramebuffer(); // draws, so the textures are uploaded
        std::vector<std::shared_ptr<Texture>> old;
        for (const auto& [name, group] : dialog_->cityFactory().textureGroups) {
            for (const auto& entry : group->textures.entries()) {
                old.push_back(entry.item);
            }
        }
        QVERIFY(!old.empty());
        int uploaded = 0;
        for (const auto& t : old) {
            uploaded += TextureCache::glName(*t) != 0;
        }
        QVERIFY(uploaded > 0);
        // Reloading keeps the shown city's textures; the next city lets them go.
        QTest::mouseClick(dialog_->reloadButton, Qt::LeftButton);
        int stillUploaded = 0;
        for (const auto& t : old) {
            stillUploaded += TextureCache::glName(*t) != 0;
        }
        QCOMPARE(stillUploaded, uploaded);
        QTest::mouseClick(dialog_->generateButton, Qt::LeftButton);
        for (const auto& t : old) {
            QCOMPARE(TextureCache::glName(*t), 0u);
        }
        dialog_->preview()->grabFramebuffer();
        // Closing frees the rest in the preview's context; nothing is left for a later one.
        old.clear();
        setLogSink(nullptr);
        dialog_.reset();
        QCOMPARE(TextureCache::releasedCount(), std::size_t(0));
    }

    void saveWithoutACitySaysSo() {
        SeenBox box;
        dismissNextMessageBox(&box);
        QTest::mouseClick(dialog_->saveButton, Qt::LeftButton);
        QVERIFY(box.seen);
        QCOMPARE(box.title, QStringLiteral("Can not save"));
        QCOMPARE(box.text, QStringLiteral("Generate a city first and then save"));
        QCOMPARE(dialog_->saveAsked, 0);
    }

    void ctrlClickResaves() {
        generateWith(examplePath("town"));
        // CTRL with no earlier export still asks.
        dialog_->ctrl = true;
        dialog_->saveAnswer = tmp_.filePath(QStringLiteral("first.wrl"));
        QTest::mouseClick(dialog_->saveButton, Qt::LeftButton);
        QCOMPARE(dialog_->saveAsked, 1);
        QFile::remove(dialog_->saveAnswer);
        QTest::mouseClick(dialog_->generateButton, Qt::LeftButton);
        QTest::mouseClick(dialog_->saveButton, Qt::LeftButton);
        QCOMPARE(dialog_->saveAsked, 1);
        QVERIFY(QFile::exists(tmp_.filePath(QStringLiteral("first.wrl"))));
        QCOMPARE(logLines(*dialog_, QStringLiteral("Saved as VRML to ")).size(), 2);
    }

    void cancelledSaveChangesNothing() {
        generateWith(examplePath("town"));
        dialog_->lastSavedPath = QStringLiteral("/tmp/earlier.wrl");
        dialog_->saveAnswer.clear();
        QTest::mouseClick(dialog_->saveButton, Qt::LeftButton);
        QCOMPARE(dialog_->saveAsked, 1);
        QCOMPARE(dialog_->lastSavedPath, QStringLiteral("/tmp/earlier.wrl"));
        QVERIFY(logLines(*dialog_, QStringLiteral("Saved as VRML")).isEmpty());
    }

    void otherFormatsAreSavedAndResavedByTheirEnding() {
        generateWith(examplePath("town"));
        const struct {
            const char* leaf;
            const char* logged;
            QByteArray start;
        } cases[] = {
            {"city.glb", "Saved as glTF to ", "glTF"},
            {"city.gltf", "Saved as glTF to ", "{\"asset\":"},
            {"city.obj", "Saved as OBJ to ", "# Ombrel"},
            {"city.xodr", "Saved as OpenDRIVE to ", "<?xml"},
            {"tiles/tileset.json", "Saved as 3D Tiles to ", "{\"asset\":{\"version\":\"1.1\""}};
        for (const auto& c : cases) {
            const QString out = tmp_.filePath(QString::fromLatin1(c.leaf));
            dialog_->ctrl = false;
            dialog_->saveAnswer = out;
            QTest::mouseClick(dialog_->saveButton, Qt::LeftButton);
            QVERIFY2(readAll(out).startsWith(c.start), c.leaf);
            QCOMPARE(dialog_->lastSavedPath, out);
            // CTRL-click writes the same format to the same file again. A tileset goes whole:
            // a folder of tiles without its tileset.json is no tileset to replace.
            if (QString::fromLatin1(c.leaf).contains(QLatin1Char('/')))
                QDir(QFileInfo(out).path()).removeRecursively();
            else
                QFile::remove(out);
            dialog_->ctrl = true;
            QTest::mouseClick(dialog_->saveButton, Qt::LeftButton);
            QVERIFY2(readAll(out).startsWith(c.start), c.leaf);
            QCOMPARE(logLines(*dialog_, QString::fromLatin1(c.logged) + out).size(), 2);
        }
    }

    void saveAsAddsTheEndingOfTheChosenType() {
        const QStringList filters = COmbrelDialog::exportFilters();
        QCOMPARE(
            filters,
            (QStringList{QStringLiteral("VRML 2.0 (*.wrl)"), QStringLiteral("glTF binary (*.glb)"),
                         QStringLiteral("glTF (*.gltf)"), QStringLiteral("Wavefront OBJ (*.obj)"),
                         QStringLiteral("OpenDRIVE (*.xodr)"),
                         QStringLiteral("3D Tiles (tileset.json)")}));
        QCOMPARE(COmbrelDialog::exportPathForFilter(QStringLiteral("/a/city"), filters[1]),
                 QStringLiteral("/a/city.glb"));
        QCOMPARE(COmbrelDialog::exportPathForFilter(QStringLiteral("/a/city.v2"), filters[3]),
                 QStringLiteral("/a/city.v2.obj"));
        QCOMPARE(COmbrelDialog::exportPathForFilter(QStringLiteral("/a/city.GLTF"), filters[0]),
                 QStringLiteral("/a/city.GLTF"));
        QCOMPARE(COmbrelDialog::exportPathForFilter(QStringLiteral("/a/city.wrl"), filters[2]),
                 QStringLiteral("/a/city.wrl"));
        QCOMPARE(COmbrelDialog::exportPathForFilter(QStringLiteral("/a/city"), filters[4]),
                 QStringLiteral("/a/city.xodr"));
        QCOMPARE(COmbrelDialog::exportPathForFilter(QStringLiteral("/a/city"), filters[5]),
                 QStringLiteral("/a/city/tileset.json"));
        QCOMPARE(COmbrelDialog::exportPathForFilter(QStringLiteral("/a/city.json"), filters[5]),
                 QStringLiteral("/a/city/tileset.json"));
        QCOMPARE(COmbrelDialog::exportPathForFilter(QStringLiteral("/a/tileset.json"), filters[5]),
                 QStringLiteral("/a/tileset.json"));
    }

    // Save As opens beside the last export, else beside the construction file.
    void saveAsOpensBesideTheLastFile() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("exports")));
        QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("city")));
        dialog_->lastSavedPath.clear();
        dialog_->cfgFile.clear();
        QCOMPARE(dialog_->exportFolder(), QString());
        dialog_->cfgFile = dir.filePath(QStringLiteral("city/town.xml"));
        QCOMPARE(dialog_->exportFolder(), dir.filePath(QStringLiteral("city")));
        dialog_->lastSavedPath = dir.filePath(QStringLiteral("exports/town.glb"));
        QCOMPARE(dialog_->exportFolder(), dir.filePath(QStringLiteral("exports")));
        // A folder that has gone is passed over.
        dialog_->lastSavedPath = dir.filePath(QStringLiteral("gone/town.glb"));
        QCOMPARE(dialog_->exportFolder(), dir.filePath(QStringLiteral("city")));
        dialog_->lastSavedPath.clear();
        dialog_->cfgFile.clear();
    }

    void browse() {
        dialog_->cfgEdit->setText(QStringLiteral("typed.xml"));
        dialog_->openAnswer.clear();
        QTest::mouseClick(dialog_->browseButton, Qt::LeftButton);
        QCOMPARE(dialog_->openInitial, QStringLiteral("typed.xml"));
        QCOMPARE(dialog_->cfgEdit->text(), QStringLiteral("typed.xml"));
        QVERIFY(logLines(*dialog_, QStringLiteral("Parsing")).isEmpty());
        dialog_->openAnswer = examplePath("town");
        QTest::mouseClick(dialog_->browseButton, Qt::LeftButton);
        QCOMPARE(dialog_->cfgEdit->text(), examplePath("town"));
        QCOMPARE(dialog_->cfgFile, examplePath("town"));
        QVERIFY2(logLines(*dialog_, QStringLiteral("Parsing")).isEmpty(), "nothing is loaded");
    }

    void enterInThePathFieldClosesLikeClose() {
        dialog_->cfgEdit->setFocus();
        dialog_->cfgEdit->setText(QStringLiteral("entered.xml"));
        QTest::keyClick(dialog_->cfgEdit, Qt::Key_Return);
        QCOMPARE(dialog_->result(), int(QDialog::Accepted));
        QVERIFY(!dialog_->isVisible());
        QCOMPARE(dialog_->cfgFile, QStringLiteral("entered.xml"));
    }

    void escapeClosesWithoutCopying() {
        dialog_->cfgFile = QStringLiteral("kept.xml");
        dialog_->updateData(false);
        dialog_->cfgEdit->setText(QStringLiteral("typed.xml"));
        QTest::keyClick(dialog_.get(), Qt::Key_Escape);
        QCOMPARE(dialog_->result(), int(QDialog::Rejected));
        QCOMPARE(dialog_->cfgFile, QStringLiteral("kept.xml"));
    }
};

// The dialog goes on when the preview's OpenGL set-up failed.
class NoPreviewTest : public QObject {
    Q_OBJECT

private slots:
    void generateAndSaveWorkWithoutAPreview() {
        QTemporaryDir tmp;
        ScriptedDialog dialog;
        setLogSink(&dialog);
        dialog.initDialog();
        dialog.show();
        QCOMPARE(dialog.preview(), nullptr);
        dialog.cfgEdit->setText(examplePath("town"));
        QTest::mouseClick(dialog.generateButton, Qt::LeftButton);
        QVERIFY(dialog.city() != nullptr);
        QTest::mouseClick(dialog.reloadButton, Qt::LeftButton);
        QTest::mouseClick(dialog.generateButton, Qt::LeftButton);
        dialog.saveAnswer = tmp.filePath(QStringLiteral("city.wrl"));
        QTest::mouseClick(dialog.saveButton, Qt::LeftButton);
        QVERIFY(QFile::exists(dialog.saveAnswer));
        setLogSink(nullptr);
    }

    void aWindowNotYetShownHasNothingToActivate() {
        CCityWindow window(24);
        SeenBox box;
        dismissNextMessageBox(&box, 200);
        QVERIFY(!window.MakeCurrent());
        QTest::qWait(300);
        QVERIFY(!box.seen);
    }

    void unsuitableFormatIsReported() {
        // A depth buffer no implementation offers.
        class DeepWindow : public COpenGLWindow {
        public:
            DeepWindow() : COpenGLWindow(24, 99, 0) {}
            void ResizeGL(int, int, int) override {}
            void InitGL() override {}
        } window;
        SeenBox box;
        dismissNextMessageBox(&box);
        QVERIFY(!window.CreateGLContext());
        QVERIFY(box.seen);
        QCOMPARE(box.title, QStringLiteral("ERROR"));
        QCOMPARE(box.text, QStringLiteral("Can't Find A Suitable PixelFormat."));
        QVERIFY(!window.glUsable());
        QVERIFY(!window.MakeCurrent());
    }
};

// The whole program run: settings read at start, written at close.
class AppRunTest : public QObject {
    Q_OBJECT

    // Runs the program; act is done on its dialog once it shows, then it is closed by key.
    static void runProgram(const std::function<void(COmbrelDialog&)>& act, int closeKey) {
        QTimer::singleShot(0, [act, closeKey] {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                if (auto* d = qobject_cast<COmbrelDialog*>(w)) {
                    QTRY_VERIFY(d->isVisible());
                    act(*d);
                    if (closeKey == Qt::Key_Escape) {
                        QTest::keyClick(d, Qt::Key_Escape);
                    } else {
                        QTest::mouseClick(d->closeButton, Qt::LeftButton);
                    }
                    return;
                }
            }
            QFAIL("no main dialog");
        });
        COmbrelApp program;
        QCOMPARE(program.run(), 0);
    }

private slots:
    void init() { openSettingsStore()->clear(); }

    void firstRunWritesTheDefaults() {
        QVERIFY(openSettingsStore()->allKeys().isEmpty());
        bool sawDefaults = false;
        runProgram(
            [&sawDefaults](COmbrelDialog& d) {
                sawDefaults = d.cfgEdit->text().isEmpty() && d.triangulateCheck->isChecked() &&
                              d.normalRadio->isChecked() && d.saveRoadsCheck->isChecked();
            },
            Qt::Key_Close);
        QVERIFY(sawDefaults);
        std::unique_ptr<QSettings> store = openSettingsStore();
        QCOMPARE(store->value(QStringLiteral("Settings/cfgFile")).toString(), QString());
        QCOMPARE(store->value(QStringLiteral("Settings/lastSavedPath")).toString(), QString());
        QCOMPARE(store->value(QStringLiteral("Settings/triangulateEverything")).toInt(), 1);
        QCOMPARE(store->value(QStringLiteral("Settings/collapseMode")).toInt(), 0);
        QCOMPARE(store->value(QStringLiteral("Settings/saveRoads")).toInt(), 1);
    }

    void changesAreKeptAfterClose() {
        runProgram(
            [](COmbrelDialog& d) {
                d.cfgEdit->setText(QStringLiteral("/data/my city.xml"));
                d.collapseModelRadio->click();
                d.saveRoadsCheck->setChecked(false);
            },
            Qt::Key_Close);
        Settings restored;
        runProgram(
            [&restored](COmbrelDialog& d) {
                d.updateData(true);
                restored = d.values();
            },
            Qt::Key_Close);
        QCOMPARE(restored.cfgFile, QStringLiteral("/data/my city.xml"));
        QCOMPARE(restored.collapseMode, 2);
        QCOMPARE(restored.saveRoads, 0);
        QCOMPARE(restored.triangulateEverything, 1);
    }

    void escapeAfterAnEditKeepsThePreviousPath() {
        {
            std::unique_ptr<QSettings> store = openSettingsStore();
            store->setValue(QStringLiteral("Settings/cfgFile"), QStringLiteral("before.xml"));
        }
        runProgram([](COmbrelDialog& d) { d.cfgEdit->setText(QStringLiteral("after.xml")); },
                   Qt::Key_Escape);
        QCOMPARE(openSettingsStore()->value(QStringLiteral("Settings/cfgFile")).toString(),
                 QStringLiteral("before.xml"));
        QVERIFY(openSettingsStore()->contains(QStringLiteral("Settings/saveRoads")));
    }

    void outOfRangeCollapseModeIsWrittenAsMinusOne() {
        openSettingsStore()->setValue(QStringLiteral("Settings/collapseMode"), 9);
        runProgram([](COmbrelDialog&) {}, Qt::Key_Close);
        QCOMPARE(openSettingsStore()->value(QStringLiteral("Settings/collapseMode")).toInt(), -1);
    }
};

OMBREL_TEST_CLASS(DialogTest)
OMBREL_TEST_CLASS(AppRunTest)
OMBREL_TEST_CLASS(NoPreviewTest)

} // namespace ombrel

#include "dialog_test.moc"
