#include "app/SelfTest.h"

#include "app/OmbrelDialog.h"
#include "preview/CityWindow.h"

#include <QElapsedTimer>
#include <QImage>
#include <QLineEdit>
#include <QSaveFile>
#include <QTimer>

#include <memory>

namespace ombrel {

namespace {

constexpr int kPollMs = 50;
constexpr qint64 kPreviewWaitMs = 30000;

QImage drawPreview(COmbrelDialog& dialog) {
    CCityWindow* preview = dialog.preview();
    if (!preview || !preview->isVisible()) {
        return QImage();
    }
    return preview->grabFramebuffer().convertToFormat(QImage::Format_RGB888);
}

// Writes a whole file or nothing; returns the line the report gets.
QString save(const QString& path, const QByteArray& bytes) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        return QStringLiteral("could not write ") + path + QStringLiteral("\n");
    }
    return QString();
}

QString savePicture(const QString& path, const QImage& image) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || !image.save(&file, "PPM") || !file.commit()) {
        return QStringLiteral("could not write ") + path + QStringLiteral("\n");
    }
    return QString();
}

} // namespace

void scheduleSelfTest(COmbrelDialog& dialog, const QString& folder) {
    auto* poll = new QTimer(&dialog);
    auto waited = std::make_shared<QElapsedTimer>();
    waited->start();
    QObject::connect(poll, &QTimer::timeout, &dialog, [&dialog, poll, folder, waited] {
        const QImage before = drawPreview(dialog);
        if (before.isNull() && waited->elapsed() < kPreviewWaitMs) {
            return;
        }
        poll->stop();
        QString report = QStringLiteral("field: ") + dialog.cfgEdit->text() + QStringLiteral("\n");
        if (before.isNull()) {
            report += QStringLiteral("preview: not drawn\n");
        } else {
            report += savePicture(folder + QStringLiteral("/before.ppm"), before);
        }
        dialog.OnGenerate();
        const QImage after = drawPreview(dialog);
        if (!after.isNull()) {
            report += savePicture(folder + QStringLiteral("/after.ppm"), after);
        }
        report += QStringLiteral("log:\n") + dialog.logText();
        if (const QString failed = save(folder + QStringLiteral("/report.txt"), report.toUtf8());
            !failed.isEmpty()) {
            qWarning("%s", qPrintable(failed));
        }
        dialog.OnClose();
    });
    poll->start(kPollMs);
}

} // namespace ombrel
