#pragma once

#include <QDialog>
#include <QString>
#include <QUrl>

#include <functional>

class QLabel;
class QTextBrowser;

namespace ombrel {

// A window of the program that shows one of the bundled documents (the construction-file
// reference, the tutorial), written in Markdown, with its pictures. A link to another Markdown
// document opens it in the same window; a link to anything else (a folder of examples, a web
// page) goes to `openOutside`, as does the link under the text to the documents' folder.
class CDocumentWindow : public QDialog {
public:
    // `openOutside` hands a local path or a URL to the desktop; false when nothing took it.
    CDocumentWindow(QWidget* parent, std::function<bool(const QUrl&)> openOutside);

    // Shows the Markdown file at `path` and names the window `title`. False, with nothing
    // changed, when the file cannot be read.
    bool showDocument(const QString& path, const QString& title);

    // The file shown, absolute; empty before the first.
    QString documentPath() const;

    // Brings the heading that `anchor` names (as links name headings: "the-root-ombrel") to the
    // top of the view; false when the document has no such heading.
    bool scrollToHeading(const QString& anchor);

    QTextBrowser* browser;
    QLabel* folderLink;

private:
    void followLink(const QUrl& url);
    void updateFolderLink();

    std::function<bool(const QUrl&)> openOutside_;
};

} // namespace ombrel
