#include "app/DocumentWindow.h"

#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextCursor>
#include <QVBoxLayout>

namespace ombrel {

namespace {

// The anchor a Markdown heading gets on the usual web renderings, which the documents link to:
// lower case, punctuation dropped, blanks turned into hyphens ("The root: `Ombrel`" gives
// "the-root-ombrel").
QString headingAnchor(const QString& heading) {
    QString anchor;
    for (const QChar c : heading.toLower()) {
        if (c.isLetterOrNumber() || c == QLatin1Char('-') || c == QLatin1Char('_')) {
            anchor += c;
        } else if (c.isSpace()) {
            anchor += QLatin1Char('-');
        }
    }
    return anchor;
}

bool isMarkdown(const QString& path) {
    const QString suffix = QFileInfo(path).suffix().toLower();
    return suffix == QLatin1String("md") || suffix == QLatin1String("markdown");
}

} // namespace

CDocumentWindow::CDocumentWindow(QWidget* parent, std::function<bool(const QUrl&)> openOutside)
    : QDialog(parent), openOutside_(std::move(openOutside)) {
    setWindowFlags(Qt::Window);
    setModal(false);
    resize(760, 820);
    auto* layout = new QVBoxLayout(this);
    browser = new QTextBrowser(this);
    // Links are followed here, so that only Markdown stays in the window.
    browser->setOpenLinks(false);
    browser->setOpenExternalLinks(false);
    layout->addWidget(browser);
    folderLink = new QLabel(this);
    folderLink->setTextFormat(Qt::RichText);
    folderLink->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    layout->addWidget(folderLink);
    connect(browser, &QTextBrowser::anchorClicked, this, &CDocumentWindow::followLink);
    connect(folderLink, &QLabel::linkActivated, this,
            [this](const QString& link) { openOutside_(QUrl(link)); });
}

bool CDocumentWindow::showDocument(const QString& path, const QString& title) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return false;
    }
    file.close();
    // Pictures and links are relative to the document's own folder.
    browser->setSource(QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()),
                       QTextDocument::MarkdownResource);
    setWindowTitle(title);
    updateFolderLink();
    return true;
}

QString CDocumentWindow::documentPath() const {
    return browser->source().isLocalFile() ? browser->source().toLocalFile() : QString();
}

void CDocumentWindow::followLink(const QUrl& link) {
    if (link.scheme().isEmpty() && link.path().isEmpty()) {
        scrollToHeading(link.fragment());
        return;
    }
    const QUrl url = browser->source().resolved(link);
    if (url.isLocalFile() && isMarkdown(url.toLocalFile()) &&
        QFileInfo(url.toLocalFile()).isFile()) {
        QUrl document = url;
        document.setFragment(QString());
        browser->setSource(document, QTextDocument::MarkdownResource);
        updateFolderLink();
        scrollToHeading(url.fragment());
        return;
    }
    openOutside_(url);
}

bool CDocumentWindow::scrollToHeading(const QString& anchor) {
    if (anchor.isEmpty()) {
        return false;
    }
    for (QTextBlock block = browser->document()->begin(); block.isValid(); block = block.next()) {
        if (block.blockFormat().headingLevel() > 0 && headingAnchor(block.text()) == anchor) {
            // The heading at the top of the view: go to the end first, then back to it.
            browser->moveCursor(QTextCursor::End);
            browser->setTextCursor(QTextCursor(block));
            browser->ensureCursorVisible();
            return true;
        }
    }
    return false;
}

void CDocumentWindow::updateFolderLink() {
    const QString folder = QFileInfo(documentPath()).absolutePath();
    folderLink->setText(
        QStringLiteral("<a href=\"%1\">Open the folder of the documents</a>: %2")
            .arg(QUrl::fromLocalFile(folder).toString(QUrl::FullyEncoded), folder.toHtmlEscaped()));
}

} // namespace ombrel
