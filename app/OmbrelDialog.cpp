#include "app/OmbrelDialog.h"

#include "app/AboutBox.h"
#include "app/DialogUnits.h"
#include "app/DocumentWindow.h"
#include "app/FileWatcher.h"
#include "export/CityExport.h"
#include "grammar/Texture.h"
#include "preview/CityWindow.h"
#include "preview/gl/Camera.h"
#include "preview/gl/TextureCache.h"
#include "vrml/Export.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>

namespace ombrel {

namespace {

// Shows the busy cursor while long work blocks the window.
class BusyCursor {
public:
    BusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~BusyCursor() { QApplication::restoreOverrideCursor(); }
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;
};

std::string toNarrow(const QString& s) {
    return s.toStdString();
}

// The one local file a drag carries, or empty.
QString droppedFile(const QMimeData* data) {
    if (!data || !data->hasUrls() || data->urls().size() != 1 ||
        !data->urls().first().isLocalFile()) {
        return QString();
    }
    return QFileInfo(data->urls().first().toLocalFile()).absoluteFilePath();
}

} // namespace

COmbrelDialog::COmbrelDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Ombrel Procedural City Generator"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setWindowIcon(QIcon(CAboutBox::picture().copy(16, 0, 89, 89)));

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    // The About entry lives in a Help menu: X11 window managers have no window menu to extend.
    auto* menuBar = new QMenuBar(this);
    QMenu* options = menuBar->addMenu(QStringLiteral("&Options"));
    watchAction = options->addAction(QStringLiteral("Regenerate when the file changes"));
    watchAction->setCheckable(true);
    watchAction->setChecked(true);
    QMenu* help = menuBar->addMenu(QStringLiteral("&Help"));
    referenceAction = help->addAction(QStringLiteral("Construction file reference"), this,
                                      &COmbrelDialog::showReference);
    tutorialAction =
        help->addAction(QStringLiteral("Tutorial"), this, &COmbrelDialog::showTutorial);
    keysAction =
        help->addAction(QStringLiteral("Keys and mouse"), this, &COmbrelDialog::showKeysAndMouse);
    help->addSeparator();
    help->addAction(QStringLiteral("&About Ombrel..."), this, &COmbrelDialog::showAbout);
    outer->setMenuBar(menuBar);

    auto* form = new QWidget(this);
    outer->addWidget(form);
    const DialogUnits du(*form);
    form->setFixedSize(du.rect(0, 0, 300, 230).size());

    // Frames first, so the controls inside them stay on top.
    auto* vrmlBox = new QGroupBox(QStringLiteral("VRML Options"), form);
    vrmlBox->setGeometry(du.rect(18, 36, 199, 68));
    auto* modesBox = new QGroupBox(QStringLiteral("Model Collapse Modes "), form);
    modesBox->setGeometry(du.rect(31, 51, 89, 49));
    auto* fileLabel = new QLabel(QStringLiteral("XML construction file:"), form);
    fileLabel->setGeometry(du.rect(7, 7, 69, 8).adjusted(0, -2, 40, 2));
    auto* logLabel = new QLabel(QStringLiteral("Generator log:"), form);
    logLabel->setGeometry(du.rect(7, 111, 46, 8).adjusted(0, -2, 40, 2));

    cfgEdit = new QLineEdit(form);
    cfgEdit->setGeometry(du.rect(17, 17, 227, 14));
    browseButton = new QPushButton(QStringLiteral("..."), form);
    browseButton->setGeometry(du.rect(251, 17, 16, 14));
    reloadButton = new QPushButton(QStringLiteral("Reload Cfg"), form);
    reloadButton->setGeometry(du.rect(219, 43, 60, 14));
    generateButton = new QPushButton(QStringLiteral("Generate"), form);
    generateButton->setGeometry(du.rect(219, 66, 60, 14));
    normalRadio = new QRadioButton(QStringLiteral("Normal (textured)"), form);
    normalRadio->setGeometry(du.rect(38, 62, 69, 10).adjusted(0, 0, 20, 0));
    collapseBuildingRadio = new QRadioButton(QStringLiteral("Collapse to building"), form);
    collapseBuildingRadio->setGeometry(du.rect(38, 73, 77, 10).adjusted(0, 0, 12, 0));
    collapseModelRadio = new QRadioButton(QStringLiteral("Collapse model"), form);
    collapseModelRadio->setGeometry(du.rect(38, 84, 63, 10).adjusted(0, 0, 20, 0));
    triangulateCheck = new QCheckBox(QStringLiteral("Triangulate everything"), form);
    triangulateCheck->setGeometry(du.rect(129, 58, 86, 10).adjusted(0, 0, 6, 0));
    saveButton = new QPushButton(QStringLiteral("Save VRML"), form);
    saveButton->setGeometry(du.rect(142, 84, 60, 14));
    closeButton = new QPushButton(QStringLiteral("Close"), form);
    closeButton->setGeometry(du.rect(219, 89, 60, 14));
    logEdit = new QPlainTextEdit(form);
    logEdit->setGeometry(du.rect(6, 121, 287, 102));
    saveRoadsCheck = new QCheckBox(QStringLiteral("Save roads"), form);
    saveRoadsCheck->setGeometry(du.rect(129, 71, 52, 10).adjusted(0, 0, 20, 0));
    mergeBlocksCheck = new QCheckBox(QStringLiteral("Merge blocks"), form);
    mergeBlocksCheck->setGeometry(du.rect(129, 45, 60, 10).adjusted(0, 0, 20, 0));

    collapseGroup_ = new QButtonGroup(this);
    collapseGroup_->addButton(normalRadio, 0);
    collapseGroup_->addButton(collapseBuildingRadio, 1);
    collapseGroup_->addButton(collapseModelRadio, 2);

    logEdit->setReadOnly(true);
    // Long lines (a path, a place and a message) wrap at the field's width, long words and
    // paths anywhere, so nothing of them is out of sight.
    logEdit->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    logEdit->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    logEdit->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    logEdit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    logEdit->setFocusPolicy(Qt::ClickFocus);
    logEdit->setUndoRedoEnabled(false);

    cfgEdit->setToolTip(QStringLiteral("The XML Ombrel configuration file"));
    browseButton->setToolTip(QStringLiteral("Browse"));
    reloadButton->setToolTip(QStringLiteral("Reload and reparse the configuration file"));
    generateButton->setToolTip(QStringLiteral("Generate a city"));
    normalRadio->setToolTip(
        QStringLiteral("Each building is composed of multiple shapes with textures and colors"));
    collapseBuildingRadio->setToolTip(QStringLiteral(
        "Each building is a separate single shape with a different color (no texture)"));
    collapseModelRadio->setToolTip(
        QStringLiteral("The entire model is a single shape in a single color (no texture)"));
    triangulateCheck->setToolTip(QStringLiteral("Create a VRML with only triangle primitives"));
    saveRoadsCheck->setToolTip(QStringLiteral("Include the roads in the VRML"));
    mergeBlocksCheck->setToolTip(QStringLiteral(
        "In glTF and OBJ, make the buildings of each street block one object, each building "
        "still told apart inside it"));
    saveButton->setToolTip(QStringLiteral("Export to a VRML 2.0 file (CTRL-CLICK to resave)"));
    logEdit->setToolTip(QStringLiteral("Execution log window"));

    // No button is the default: Enter outside a focused button closes the dialog as "Close".
    for (QPushButton* b : {browseButton, reloadButton, generateButton, saveButton, closeButton}) {
        b->setAutoDefault(false);
        b->setDefault(false);
    }
    QWidget::setTabOrder(cfgEdit, browseButton);
    QWidget::setTabOrder(browseButton, reloadButton);
    QWidget::setTabOrder(reloadButton, generateButton);
    QWidget::setTabOrder(generateButton, normalRadio);
    QWidget::setTabOrder(normalRadio, triangulateCheck);
    QWidget::setTabOrder(triangulateCheck, saveButton);
    QWidget::setTabOrder(saveButton, closeButton);
    QWidget::setTabOrder(closeButton, saveRoadsCheck);
    QWidget::setTabOrder(saveRoadsCheck, mergeBlocksCheck);

    connect(browseButton, &QPushButton::clicked, this, &COmbrelDialog::OnBrowse);
    connect(reloadButton, &QPushButton::clicked, this, &COmbrelDialog::OnReloadCfg);
    connect(generateButton, &QPushButton::clicked, this, &COmbrelDialog::OnGenerate);
    connect(saveButton, &QPushButton::clicked, this, &COmbrelDialog::SaveVrml);
    connect(closeButton, &QPushButton::clicked, this, &COmbrelDialog::OnClose);

    watcher_ = new FileWatcher(this);
    connect(watcher_, &FileWatcher::changed, this, &COmbrelDialog::regenerateFromWatchedFile);
    connect(watchAction, &QAction::toggled, this, [this](bool on) {
        watchFile = on ? 1 : 0;
        updateWatchedFiles();
    });
    setAcceptDrops(true);

    setFixedSize(sizeHint());
    session_ = std::make_unique<CitySession>();
    session_->setTextureReleaser(
        [this](const std::vector<std::shared_ptr<Texture>>& gone) { releaseTextures(gone); });
}

COmbrelDialog::~COmbrelDialog() {
    if (logSink() == this) {
        setLogSink(nullptr);
    }
    // The preview goes first: it refers to the city. Its texture objects are freed while its
    // context still exists, so the textures that outlive it leave nothing behind.
    if (preview_ && preview_->MakeCurrent()) {
        for (const auto& t : session_->heldTextures()) {
            TextureCache::release(*t);
        }
    }
    delete preview_;
    preview_ = nullptr;
    session_.reset();
}

Settings COmbrelDialog::values() const {
    return Settings{cfgFile,   lastSavedPath, triangulateEverything, collapseMode, saveRoads,
                    watchFile, mergeBlocks};
}

void COmbrelDialog::setValues(const Settings& s) {
    cfgFile = s.cfgFile;
    lastSavedPath = s.lastSavedPath;
    triangulateEverything = s.triangulateEverything;
    collapseMode = s.collapseMode;
    saveRoads = s.saveRoads;
    watchFile = s.watchFile;
    mergeBlocks = s.mergeBlocks;
}

void COmbrelDialog::updateData(bool saveAndValidate) {
    if (saveAndValidate) {
        cfgFile = cfgEdit->text();
        triangulateEverything = triangulateCheck->isChecked() ? 1 : 0;
        collapseMode = collapseGroup_->checkedId(); // -1 when none is selected
        saveRoads = saveRoadsCheck->isChecked() ? 1 : 0;
        mergeBlocks = mergeBlocksCheck->isChecked() ? 1 : 0;
        return;
    }
    if (cfgEdit->text() != cfgFile) {
        cfgEdit->setText(cfgFile);
    }
    // Values outside 0..2 are not check states; they are shown, and so kept, as 0.
    if (triangulateEverything < 0 || triangulateEverything > 2) {
        triangulateEverything = 0;
    }
    triangulateCheck->setChecked(triangulateEverything != 0);
    if (saveRoads < 0 || saveRoads > 2) {
        saveRoads = 0;
    }
    saveRoadsCheck->setChecked(saveRoads != 0);
    if (mergeBlocks < 0 || mergeBlocks > 2) {
        mergeBlocks = 0;
    }
    mergeBlocksCheck->setChecked(mergeBlocks != 0);
    watchAction->setChecked(watchFile != 0);
    if (collapseMode >= 0 && collapseMode <= 2) {
        collapseGroup_->button(collapseMode)->setChecked(true);
    } else {
        collapseGroup_->setExclusive(false);
        for (QAbstractButton* b : collapseGroup_->buttons()) {
            b->setChecked(false);
        }
        collapseGroup_->setExclusive(true);
    }
}

void COmbrelDialog::createPreview() {
    if (preview_) {
        return;
    }
    auto* window = new CCityWindow(24);
    window->setWindowTitle(QStringLiteral("City Preview"));
    if (!window->CreateGLContext()) {
        // Told already; the dialog goes on without a preview.
        delete window;
        return;
    }
    preview_ = window;
    connect(preview_, &COpenGLWindow::contextGoing, this, &COmbrelDialog::releasePreviewTextures);
    preview_->resize(500, 500);
    preview_->show();
    preview_->MakeCurrent();
}

void COmbrelDialog::initDialog() {
    updateData(false);
    controlsReady_ = true;
}

int COmbrelDialog::runModal() {
    createPreview();
    initDialog();
    setModal(false);
    show();
    raise();
    activateWindow();
    QEventLoop loop;
    connect(this, &QDialog::finished, &loop, &QEventLoop::quit);
    loop.exec();
    return result();
}

QString COmbrelDialog::chooseConstructionFile(const QString& initial) {
    QFileDialog chooser(this, QString(), initial);
    chooser.setAcceptMode(QFileDialog::AcceptOpen);
    chooser.setFileMode(QFileDialog::ExistingFile);
    chooser.setDefaultSuffix(QStringLiteral("xml"));
    chooser.setNameFilters(
        {QStringLiteral("XML Files (*.xml)"), QStringLiteral("All Files (*.*)")});
    if (!initial.isEmpty()) {
        chooser.selectFile(initial);
    }
    if (chooser.exec() != QDialog::Accepted || chooser.selectedFiles().isEmpty()) {
        return QString();
    }
    return QFileInfo(chooser.selectedFiles().first()).absoluteFilePath();
}

QStringList COmbrelDialog::exportFilters() {
    return {QStringLiteral("VRML 2.0 (*.wrl)"),   QStringLiteral("glTF binary (*.glb)"),
            QStringLiteral("glTF (*.gltf)"),      QStringLiteral("Wavefront OBJ (*.obj)"),
            QStringLiteral("OpenDRIVE (*.xodr)"), QStringLiteral("3D Tiles (tileset.json)")};
}

namespace {

// The name of a tileset's JSON file, which its Save As filter names.
const QString kTilesetName = QStringLiteral("tileset.json");

// The ending a Save As filter adds: the text between "(*." and ")"; none for a tileset, which is
// named by its folder.
QString filterSuffix(const QString& filter) {
    if (filter.endsWith(QStringLiteral("(") + kTilesetName + QStringLiteral(")")))
        return QString();
    const qsizetype start = filter.lastIndexOf(QStringLiteral("(*."));
    const qsizetype end = filter.lastIndexOf(QLatin1Char(')'));
    if (start < 0 || end <= start + 3)
        return QStringLiteral("wrl");
    return filter.mid(start + 3, end - start - 3);
}

} // namespace

QString COmbrelDialog::exportPathForFilter(const QString& path, const QString& filter) {
    if (formatForPath(toNarrow(path)))
        return path;
    // A tileset chosen by the name of its folder (a ".json" ending dropped) goes inside it.
    if (filterSuffix(filter).isEmpty() && filter.contains(kTilesetName)) {
        QString folder = path;
        if (folder.endsWith(QStringLiteral(".json"), Qt::CaseInsensitive))
            folder.chop(5);
        return folder + QLatin1Char('/') + kTilesetName;
    }
    return path + QLatin1Char('.') + filterSuffix(filter);
}

QString COmbrelDialog::exportFolder() const {
    for (const QString& file : {lastSavedPath, cfgFile}) {
        if (file.isEmpty()) {
            continue;
        }
        const QFileInfo info(file);
        if (info.absoluteDir().exists()) {
            return info.absolutePath();
        }
    }
    return QString();
}

QString COmbrelDialog::chooseExportFile() {
    QFileDialog chooser(this, QStringLiteral("Save As"), exportFolder());
    chooser.setAcceptMode(QFileDialog::AcceptSave);
    chooser.setFileMode(QFileDialog::AnyFile);
    const QStringList filters = exportFilters();
    chooser.setNameFilters(filters);
    // The type of the last export is offered first.
    QString filter = filters.front();
    if (const auto format = formatForPath(toNarrow(lastSavedPath)))
        filter = filters.at(static_cast<qsizetype>(*format));
    chooser.selectNameFilter(filter);
    chooser.setDefaultSuffix(filterSuffix(filter));
    connect(&chooser, &QFileDialog::filterSelected, &chooser,
            [&chooser](const QString& chosen) { chooser.setDefaultSuffix(filterSuffix(chosen)); });
    // Asking before overwriting is the chooser's default.
    if (chooser.exec() != QDialog::Accepted || chooser.selectedFiles().isEmpty()) {
        return QString();
    }
    return exportPathForFilter(QFileInfo(chooser.selectedFiles().first()).absoluteFilePath(),
                               chooser.selectedNameFilter());
}

bool COmbrelDialog::ctrlHeld() const {
    return QGuiApplication::queryKeyboardModifiers().testFlag(Qt::ControlModifier);
}

bool COmbrelDialog::openDocument(const QString& path) {
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

void COmbrelDialog::OnBrowse() {
    updateData(true);
    const QString chosen = chooseConstructionFile(cfgFile);
    if (chosen.isEmpty()) {
        return;
    }
    cfgFile = chosen;
    updateData(false);
}

void COmbrelDialog::showMissingFile() {
    QMessageBox box(QMessageBox::Warning, QCoreApplication::applicationName(),
                    QString::fromUtf8(CitySession::kMissingFile.data(),
                                      static_cast<qsizetype>(CitySession::kMissingFile.size())),
                    QMessageBox::Ok, this);
    box.exec();
}

void COmbrelDialog::releaseTextures(const std::vector<std::shared_ptr<Texture>>& gone) {
    // Texture objects live in the preview's context; without it there is nothing to free.
    const bool current = preview_ && preview_->MakeCurrent();
    for (const auto& t : gone) {
        if (current) {
            TextureCache::release(*t);
        } else {
            TextureCache::forget(*t);
        }
    }
}

void COmbrelDialog::releasePreviewTextures() {
    const bool current = preview_ && preview_->IsCurrent();
    for (const auto& t : session_->heldTextures()) {
        if (current) {
            TextureCache::release(*t);
        } else {
            TextureCache::forget(*t);
        }
    }
    if (current) {
        TextureCache::deleteReleased();
    }
}

bool COmbrelDialog::loadConstructionFile(CitySession::Reload reload) {
    CitySession::LoadResult result;
    {
        BusyCursor busy;
        // Images are stretched to what the preview's context (current here) can hold.
        result = session_->load(toNarrow(cfgFile), TextureCache::largestSize(), reload);
    }
    if (result == CitySession::LoadResult::missing) {
        showMissingFile();
    } else {
        updateWatchedFiles();
    }
    return result == CitySession::LoadResult::loaded;
}

void COmbrelDialog::OnReloadCfg() {
    // Reload what the field shows, as Generate does.
    updateData(true);
    loadConstructionFile(CitySession::Reload::always);
}

void COmbrelDialog::OnGenerate() {
    updateData(true);
    if (!loadConstructionFile(CitySession::Reload::ifChanged)) {
        return;
    }
    {
        BusyCursor busy;
        session_->generate();
    }
    showCity(true);
}

void COmbrelDialog::showCity(bool placeCamera) {
    cityMin = session_->minCorner();
    cityMax = session_->maxCorner();
    if (preview_) {
        // Building the preview's vertex buffers takes a while for a big city.
        BusyCursor busy;
        preview_->setCity(session_->city());
        const CameraState home = cameraFacingCity(cityMin, cityMax);
        if (placeCamera) {
            preview_->setCameraHome(home);
        } else {
            preview_->camera().homePosition = home.position;
        }
    }
    if (preview_ && preview_->isVisible()) {
        preview_->update();
    }
}

void COmbrelDialog::updateWatchedFiles() {
    QStringList files;
    if (watchFile != 0) {
        for (const std::string& file : session_->watchedFiles()) {
            files.append(QString::fromStdString(file));
        }
    }
    watcher_->watch(files);
}

void COmbrelDialog::regenerateFromWatchedFile() {
    // A box or chooser of a command is open: the command is not over yet.
    if (QApplication::activeModalWidget() != nullptr) {
        watcher_->retryLater();
        return;
    }
    // The file as it was named, so that the exports' headers keep naming it that way.
    const std::string file = session_->constructionFile();
    if (file.empty() || watchFile == 0) {
        return;
    }
    const bool hadCity = session_->city() != nullptr;
    CitySession::LoadResult result;
    {
        BusyCursor busy;
        result = session_->regenerate(file, TextureCache::largestSize());
    }
    if (result == CitySession::LoadResult::loaded) {
        showCity(!hadCity);
    }
    updateWatchedFiles();
}

void COmbrelDialog::dragEnterEvent(QDragEnterEvent* event) {
    if (!droppedFile(event->mimeData()).isEmpty()) {
        event->acceptProposedAction();
    }
}

void COmbrelDialog::dropEvent(QDropEvent* event) {
    const QString file = droppedFile(event->mimeData());
    if (file.isEmpty()) {
        return;
    }
    event->acceptProposedAction();
    cfgEdit->setText(file);
    OnGenerate();
}

void COmbrelDialog::SaveVrml() {
    if (!session_->city()) {
        QMessageBox box(QMessageBox::Critical, QStringLiteral("Can not save"),
                        QStringLiteral("Generate a city first and then save"), QMessageBox::Ok,
                        this);
        box.exec();
        return;
    }
    updateData(true);
    QString path;
    if (ctrlHeld() && !lastSavedPath.isEmpty()) {
        path = lastSavedPath;
    } else {
        path = chooseExportFile();
        if (path.isEmpty()) {
            return;
        }
        lastSavedPath = path;
    }
    ExportOptions options;
    // The path's ending says the format; a path from before the other formats is VRML.
    options.format = formatForPath(toNarrow(path)).value_or(ExportFormat::vrml);
    options.collapseMode = collapseModeFromSetting(collapseMode);
    options.triangulateEverything = triangulateEverything != 0;
    options.saveRoads = saveRoads == 1;
    options.merge = mergeBlocks != 0 ? MergeMode::blocks : MergeMode::none;
    BusyCursor busy;
    session_->save(toNarrow(path), options);
}

void COmbrelDialog::OnClose() {
    updateData(true);
    accept();
}

void COmbrelDialog::showAbout() {
    CAboutBox box(this);
    box.exec();
}

QString COmbrelDialog::referencePath() {
    return documentPath(QStringLiteral("construction-files.md"));
}

QString COmbrelDialog::documentPath(const QString& name) {
    const QDir program(QCoreApplication::applicationDirPath());
    QStringList candidates = {
        program.filePath(name),
        program.filePath(QStringLiteral("../share/doc/ombrel/docs/") + name),
        program.filePath(QStringLiteral("../docs/") + name),
        program.filePath(QStringLiteral("../../docs/") + name),
    };
#ifdef OMBREL_SOURCE_DOCS
    candidates.append(QStringLiteral(OMBREL_SOURCE_DOCS "/") + name);
#endif
    for (const QString& candidate : candidates) {
        if (QFileInfo(candidate).isFile()) {
            return QFileInfo(candidate).canonicalFilePath();
        }
    }
    return QString();
}

void COmbrelDialog::showReference() {
    showBundledDocument(QStringLiteral("construction-files.md"),
                        QStringLiteral("Construction file reference"));
}

void COmbrelDialog::showTutorial() {
    showBundledDocument(QStringLiteral("tutorial.md"), QStringLiteral("Tutorial"));
}

void COmbrelDialog::showBundledDocument(const QString& name, const QString& title) {
    const QString path = documentPath(name);
    if (!documentWindow_) {
        documentWindow_ = new CDocumentWindow(this, [this](const QUrl& url) {
            return url.isLocalFile() ? openDocument(url.toLocalFile())
                                     : QDesktopServices::openUrl(url);
        });
    }
    if (!path.isEmpty() && documentWindow_->showDocument(path, title)) {
        documentWindow_->show();
        documentWindow_->raise();
        documentWindow_->activateWindow();
        return;
    }
    QMessageBox box(QMessageBox::Warning, QCoreApplication::applicationName(),
                    path.isEmpty()
                        ? QStringLiteral("The ") + title.toLower() + QStringLiteral(" (") + name +
                              QStringLiteral(") is not installed")
                        : QStringLiteral("Cannot read ") + path,
                    QMessageBox::Ok, this);
    box.exec();
}

void COmbrelDialog::showKeysAndMouse() {
    const QString table = QStringLiteral(
        "<table cellspacing='0' cellpadding='3'>"
        "<tr><th align='left'>key</th><th align='left'>without Shift</th>"
        "<th align='left'>with left Shift</th></tr>"
        "<tr><td>arrow up / down</td><td>forward / back</td><td>pitch</td></tr>"
        "<tr><td>arrow right / left</td><td>right / left</td><td>yaw</td></tr>"
        "<tr><td>Home / End</td><td>up / down</td><td>roll</td></tr>"
        "<tr><td>keypad + / -</td><td>speed +10 / -10 (at least 5)</td>"
        "<td>turning step +5 / -5 degrees (at least 1)</td></tr>"
        "<tr><td>R</td><td>back to the start, facing the city</td><td></td></tr>"
        "<tr><td>0 to 9</td><td>display toggles (1: sky backdrop on / off)</td><td></td></tr>"
        "<tr><td>F</td><td>frames the city</td><td></td></tr>"
        "<tr><th align='left'>mouse</th><th align='left' colspan='2'></th></tr>"
        "<tr><td>left drag</td><td colspan='2'>turns the camera</td></tr>"
        "<tr><td>right or middle drag</td><td colspan='2'>pans</td></tr>"
        "<tr><td>wheel</td><td colspan='2'>moves forward / back</td></tr>"
        "</table>"
        "<p>Click into the \"City Preview\" window first so that it gets the keys.</p>");
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Keys and mouse"), table, QMessageBox::Ok,
                    this);
    box.setTextFormat(Qt::RichText);
    box.exec();
}

void COmbrelDialog::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        // A focused push button takes Enter; anywhere else Enter means "Close".
        if (auto* button = qobject_cast<QPushButton*>(focusWidget())) {
            button->click();
        } else {
            OnClose();
        }
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

namespace {

QTextCharFormat logFormat(LogSeverity severity) {
    QTextCharFormat format;
    if (severity == LogSeverity::error) {
        format.setForeground(QColor(0xC0, 0x00, 0x00));
    } else if (severity == LogSeverity::warning) {
        format.setForeground(QColor(0xB8, 0x6E, 0x00));
    }
    return format;
}

} // namespace

void COmbrelDialog::append(const LogChannel& channel, std::string_view text) {
    if (pendingCarriageReturn_ && !text.empty() && text.front() == '\n') {
        // The end of a line split over two writes.
        AppendToLog(text.substr(0, 1));
        text.remove_prefix(1);
    }
    const bool lineStart = logEdit->document()->lastBlock().text().isEmpty();
    if (channel.severity() != LogSeverity::info && lineStart) {
        std::string labelled = channel.label();
        labelled += text;
        AppendToLog(labelled, channel.severity());
    } else {
        AppendToLog(text, channel.severity());
    }
}

void COmbrelDialog::appendAt(const LogChannel& channel, const SourcePlace& place,
                             std::string_view text) {
    std::string line;
    if (!logEdit->document()->lastBlock().text().isEmpty()) {
        line = "\r\n"; // the place starts its own line
    }
    line += compilerStyleStart(channel, place);
    line += text;
    AppendToLog(line, channel.severity());
}

void COmbrelDialog::AppendToLog(std::string_view text, LogSeverity severity) {
    // Bring the values up to date with what the user has typed or clicked; the controls are
    // left as they are, so nothing typed is lost.
    if (controlsReady_) {
        updateData(true);
    }
    // Lines end in "\r\n", which may arrive split over two writes; a lone CR or LF also ends a
    // line.
    std::string piece;
    piece.reserve(text.size());
    for (char c : text) {
        if (c == '\r') {
            piece.push_back('\n');
            pendingCarriageReturn_ = true;
            continue;
        }
        if (c == '\n' && pendingCarriageReturn_) {
            pendingCarriageReturn_ = false;
            continue;
        }
        pendingCarriageReturn_ = false;
        piece.push_back(c);
    }
    if (!piece.empty()) {
        QTextCursor cursor(logEdit->document());
        cursor.movePosition(QTextCursor::End);
        cursor.insertText(QString::fromUtf8(piece.data(), static_cast<qsizetype>(piece.size())),
                          logFormat(severity));
    }
    QScrollBar* bar = logEdit->verticalScrollBar();
    bar->setValue(bar->maximum());
    // Show the text now, even while a long load keeps the event loop waiting.
    if (logEdit->isVisible()) {
        logEdit->viewport()->repaint();
    }
}

QString COmbrelDialog::logText() const {
    return logEdit->toPlainText();
}

} // namespace ombrel
