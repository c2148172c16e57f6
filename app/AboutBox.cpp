#include "app/AboutBox.h"

#include "app/DialogUnits.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPushButton>

namespace ombrel {

QPixmap CAboutBox::picture() {
    QPixmap pixmap(120, 89);
    QPainter p(&pixmap);
    QLinearGradient sky(0, 0, 0, 89);
    sky.setColorAt(0.0, QColor(20, 40, 110));
    sky.setColorAt(0.7, QColor(240, 150, 80));
    p.fillRect(pixmap.rect(), sky);
    p.setPen(Qt::NoPen);
    // Towers of a few heights, each with lit windows.
    const int towers[][3] = {{4, 40, 14},  {20, 22, 16}, {38, 50, 12}, {52, 12, 18},
                             {72, 34, 14}, {88, 18, 12}, {102, 44, 14}};
    for (const auto& t : towers) {
        const int x = t[0], top = t[1], w = t[2];
        p.setBrush(QColor(35, 35, 50));
        p.drawRect(x, top, w, 89 - top);
        p.setBrush(QColor(255, 220, 120));
        for (int wy = top + 4; wy < 84; wy += 7) {
            for (int wx = x + 3; wx + 3 <= x + w - 2; wx += 5) {
                if (((wx * 7 + wy * 3) % 5) != 0) {
                    p.drawRect(wx, wy, 2, 3);
                }
            }
        }
    }
    p.setBrush(QColor(60, 60, 60));
    p.drawRect(0, 84, 120, 5);
    return pixmap;
}

CAboutBox::CAboutBox(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("About Ombrel"));
    setModal(true);
    const DialogUnits du(*this);
    auto dialogUnits = [&du](int x, int y, int w, int h) { return du.rect(x, y, w, h); };
    setFixedSize(dialogUnits(0, 0, 258, 73).size());

    // Created in the order the box attaches them.
    mailLabel = new CLabel(QStringLiteral("(%1)").arg(QLatin1String(kMailAddress)), this);
    noticeLabel = new CLabel(QStringLiteral("Free to use, change and share."), this);
    descriptionLabel = new CLabel(QStringLiteral("Procedural City Generator"), this);
    // The box's title is a fixed text, not the program's version (base/Version.h, which
    // "ombrel --version" states).
    titleLabel = new CLabel(QStringLiteral("Ombrel V0.9"), this);
    webLabel = new CLabel(QLatin1String(kWebAddress), this);

    titleLabel->setGeometry(dialogUnits(92, 6, 99, 15));
    descriptionLabel->setGeometry(dialogUnits(92, 22, 152, 11));
    noticeLabel->setGeometry(dialogUnits(92, 33, 155, 11));
    mailLabel->setGeometry(dialogUnits(92, 43, 155, 11));
    webLabel->setGeometry(dialogUnits(92, 52, 155, 10));

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setGeometry(dialogUnits(201, 6, 50, 14));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    auto* pictureLabel = new QLabel(this);
    pictureLabel->setGeometry(dialogUnits(7, 6, 80, 60));
    pictureLabel->setPixmap(picture());
    pictureLabel->setAlignment(Qt::AlignCenter);

    const QColor blue(0, 0, 255);
    const QCursor linkCursor(Qt::PointingHandCursor);
    webLabel->MakeOpenLink(true)
        .ApplyTextColour(blue)
        .ApplyUnderline(true)
        .ApplyPointSize(10)
        .ApplyLinkCursor(linkCursor);
    titleLabel->ApplyRaisedText(true, false)
        .ApplyRaisedColour(blue)
        .ApplyFaceName(QStringLiteral("Times New Roman"))
        .ApplyPointSize(16)
        .ApplyBold(true)
        .ApplyUnderline(true);
    descriptionLabel->ApplyPointSize(10).ApplyBold(true);
    noticeLabel->ApplyPointSize(10);
    mailLabel->MakeOpenLink(true)
        .ApplyLinkTarget(QStringLiteral("mailto:") + QLatin1String(kMailAddress))
        .ApplyPointSize(10)
        .ApplyLinkCursor(linkCursor);

    ok->setFocus();
}

} // namespace ombrel
