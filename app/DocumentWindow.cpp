#include "app/DocumentWindow.h"

#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QTextBrowser>
#include <QVBoxLayout>

namespace ombrel {

namespace {

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
        // An anchor in the same document.
        browser->scrollToAnchor(link.fragment());
        return;
    }
    const QUrl url = browser->source().resolved(link);
    if (url.isLocalFile() && isMarkdown(url.toLocalFile()) &&
        QFileInfo(url.toLocalFile()).isFile()) {
        browser->setSource(url, QTextDocument::MarkdownResource);
        updateFolderLink();
        return;
    }
    openOutside_(url);
}

void CDocumentWindow::updateFolderLink() {
    const QString folder = QFileInfo(documentPath()).absolutePath();
    folderLink->setText(
        QStringLiteral("<a href=\"%1\">Open the folder of the documents</a>: %2")
            .arg(QUrl::fromLocalFile(folder).toString(QUrl::FullyEncoded), folder.toHtmlEscaped()));
}

} // namespace ombrel
