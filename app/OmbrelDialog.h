#pragma once

#include "app/Settings.h"
#include "base/Log.h"
#include "base/Vec.h"
#include "config/CitySession.h"

#include <QDialog>

#include <cstdint>
#include <memory>
#include <vector>

class QAction;
class QButtonGroup;
class QCheckBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;

namespace ombrel {

class CCityWindow;
class CDocumentWindow;
class FileWatcher;
class Texture;

// The program's main window: the construction file, "Reload Cfg", "Generate", the export
// options and "Save VRML", and the generator log. It owns the construction-file holder, the last
// generated city and the preview window, and is the sink of the generator log.
class COmbrelDialog : public QDialog, public LogSink {
    Q_OBJECT
public:
    explicit COmbrelDialog(QWidget* parent = nullptr);
    ~COmbrelDialog() override;

    // The dialog's values, exchanged with its controls by updateData().
    QString cfgFile;
    int triangulateEverything = 1;
    int collapseMode = 0;
    int saveRoads = 1;
    QString lastSavedPath;
    int watchFile = 1;   // the "Regenerate when the file changes" menu item: 0 off, 1 on
    int mergeBlocks = 0; // the "Merge blocks" check box: 0 off, 1 on

    Settings values() const;
    void setValues(const Settings& settings);

    // Copies every control into the values (true) or every value into the controls (false).
    // A collapse mode outside 0..2 selects no button and reads back as -1; a check-box value
    // outside 0..2 is shown (and so read back) as 0.
    void updateData(bool saveAndValidate);

    // Creates the preview window (500 x 500, "City Preview"), shows it and makes its context
    // current. When its OpenGL set-up fails the user is told and the dialog runs without it.
    void createPreview();
    // Puts the values into the controls; called once before the dialog is first shown.
    void initDialog();
    // createPreview, initDialog, show, and wait until the dialog closes. Other windows (the
    // preview) keep taking input meanwhile. Returns Accepted for "Close", Rejected otherwise.
    int runModal();

    // The commands.
    void OnBrowse();
    void OnReloadCfg();
    void OnGenerate();
    void SaveVrml();
    void OnClose();
    void showAbout();
    // Help menu: shows the construction-file reference or the tutorial in the program's document
    // window (a box says so when it cannot be found), and the preview's keys and mouse controls.
    void showReference();
    void showTutorial();
    void showKeysAndMouse();
    // The document window; null until a document was shown.
    CDocumentWindow* documentWindow() const { return documentWindow_; }

    // The watched construction file or one of its images changed: reloads it and generates from
    // its seed as a fresh start would, leaving the preview's camera where it is. A reload that
    // fails keeps the last city for the preview and "Save VRML". Waits while a box or chooser
    // is open.
    void regenerateFromWatchedFile();
    FileWatcher* fileWatcher() const { return watcher_; }

    // Where the construction-file reference is: beside the program, in the installed
    // <prefix>/share/doc/ombrel/ or in the source tree. Empty when none is there.
    static QString referencePath();
    // The same for any of the documents ("tutorial.md").
    static QString documentPath(const QString& name);

    // Appends text to the generator log at once and scrolls to its end; the user's edits in the
    // other controls are kept. Text of errors is shown red, of warnings amber.
    void AppendToLog(std::string_view text, LogSeverity severity = LogSeverity::info);
    // A line of an error or a warning starts with its channel's label; a message about a place
    // starts its own line with the place instead, as the batch tool writes it
    // ("town.xml:12:5: warning: ...").
    void append(const LogChannel& channel, std::string_view text) override;
    void appendAt(const LogChannel& channel, const SourcePlace& place,
                  std::string_view text) override;

    // The whole log with "\n" line ends.
    QString logText() const;

    // The path the Save As dialog's choice stands for: the chosen path when its ending names an
    // export format, otherwise the path with the ending of the chosen filter (one of
    // exportFilters()) added.
    static QString exportPathForFilter(const QString& path, const QString& filter);
    // The Save As dialog's file types: "VRML 2.0 (*.wrl)", "glTF binary (*.glb)", "glTF (*.gltf)",
    // "Wavefront OBJ (*.obj)".
    static QStringList exportFilters();
    // The folder the Save As dialog opens in: that of the last export, else that of the
    // construction file; empty (the current directory) when neither names an existing folder.
    QString exportFolder() const;

    CitySession& session() { return *session_; }
    CityFactory& cityFactory() { return session_->factory(); }
    CCityWindow* preview() const { return preview_; }
    const CityFactory::CityDrawable* city() const { return session_->city(); }
    // The shown city's bounding box.
    Vec3 cityMin;
    Vec3 cityMax;

    // The controls, for tests and tab order.
    QLineEdit* cfgEdit;
    QPushButton* browseButton;
    QPushButton* reloadButton;
    QPushButton* generateButton;
    QRadioButton* normalRadio;
    QRadioButton* collapseBuildingRadio;
    QRadioButton* collapseModelRadio;
    QCheckBox* triangulateCheck;
    QPushButton* saveButton;
    QPushButton* closeButton;
    QPlainTextEdit* logEdit;
    QCheckBox* saveRoadsCheck;
    QCheckBox* mergeBlocksCheck;
    QAction* watchAction;
    QAction* referenceAction;
    QAction* tutorialAction;
    QAction* keysAction;

protected:
    // Seams for the platform's choosers and key state, replaced in tests.
    virtual QString chooseConstructionFile(const QString& initial);
    virtual QString chooseExportFile();
    virtual bool ctrlHeld() const;
    // Hands a document to the desktop's viewer; false when none took it.
    virtual bool openDocument(const QString& path);

    void keyPressEvent(QKeyEvent* event) override;
    // A construction file dropped onto the dialog is named in the field and generated.
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    // Loads the named file as `reload` says, showing the missing-file box when it is not there.
    bool loadConstructionFile(CitySession::Reload reload);
    void showMissingFile();
    // Hands the session's last city to the preview; `placeCamera` puts the camera in front of
    // it, otherwise only the home position (the R key) moves.
    void showCity(bool placeCamera);
    // Follows the files of the last load when the menu item is on, nothing otherwise.
    void updateWatchedFiles();
    // Frees the OpenGL objects of textures the session no longer uses.
    void releaseTextures(const std::vector<std::shared_ptr<Texture>>& gone);
    // The preview's context is going (Qt replaces it): texture objects go with it and upload
    // again into the next one.
    void releasePreviewTextures();
    // Shows the document `name` in the document window titled `title`, or a box saying it is
    // not installed.
    void showBundledDocument(const QString& name, const QString& title);

    std::unique_ptr<CitySession> session_;
    CCityWindow* preview_ = nullptr;
    QButtonGroup* collapseGroup_;
    FileWatcher* watcher_;
    CDocumentWindow* documentWindow_ = nullptr;
    bool pendingCarriageReturn_ = false;
    bool controlsReady_ = false;
};

} // namespace ombrel
