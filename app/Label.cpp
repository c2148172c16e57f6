#include "app/Label.h"

#include <QDesktopServices>
#include <QEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QUrl>

#include <algorithm>

namespace ombrel {

CLabel::CLabel(QWidget* parent) : QLabel(parent) {
    init();
}

CLabel::CLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {
    init();
}

void CLabel::init() {
    textColour_ = palette().color(QPalette::WindowText);
    flashTimer_.setInterval(500);
    connect(&flashTimer_, &QTimer::timeout, this, [this] {
        flashOn_ = !flashOn_;
        update();
    });
}

void CLabel::repaintNow() {
    if (isVisible()) {
        repaint();
    }
}

CLabel& CLabel::ApplyBackground(QColor colour, QColor endColour, bool gradient) {
    gradientStart_ = colour;
    gradientEnd_ = endColour;
    gradient_ = gradient;
    background_ = gradient ? std::nullopt : std::optional<QColor>(colour);
    repaintNow();
    return *this;
}

CLabel& CLabel::ApplyTextColour(QColor colour) {
    textColour_ = colour;
    repaintNow();
    return *this;
}

CLabel& CLabel::ApplyText(const QString& text) {
    setText(text);
    repaintNow();
    return *this;
}

CLabel& CLabel::ApplyBold(bool bold) {
    QFont f = font();
    f.setWeight(bold ? QFont::Bold : QFont::Normal);
    setFont(f);
    repaintNow();
    return *this;
}

CLabel& CLabel::ApplyFaceName(const QString& face) {
    QFont f = font();
    f.setFamilies({face});
    setFont(f);
    repaintNow();
    return *this;
}

CLabel& CLabel::ApplyUnderline(bool underline) {
    QFont f = font();
    f.setUnderline(underline);
    setFont(f);
    repaintNow();
    return *this;
}

CLabel& CLabel::ApplyItalic(bool italic) {
    QFont f = font();
    f.setItalic(italic);
    setFont(f);
    repaintNow();
    return *this;
}

CLabel& CLabel::ApplyPointSize(int points) {
    QFont f = font();
    f.setPointSize(std::max(points, 1));
    setFont(f);
    repaintNow();
    return *this;
}

CLabel& CLabel::ApplySunkenEdge(bool sunken) {
    setFrameStyle(sunken ? (QFrame::Panel | QFrame::Sunken) : QFrame::NoFrame);
    return *this;
}

CLabel& CLabel::ApplyBorder(bool border) {
    setFrameStyle(border ? (QFrame::Box | QFrame::Plain) : QFrame::NoFrame);
    return *this;
}

CLabel& CLabel::ApplyTransparency(bool transparent) {
    transparent_ = transparent;
    setAttribute(Qt::WA_TranslucentBackground, transparent);
    repaintNow();
    return *this;
}

CLabel& CLabel::StartTextFlash(bool flash) {
    flashTimer_.stop();
    flashOn_ = false;
    flashMode_ = flash ? FlashText : FlashNone;
    if (flash) {
        flashTimer_.start();
    }
    return *this;
}

CLabel& CLabel::StartBackgroundFlash(bool flash) {
    flashTimer_.stop();
    flashOn_ = false;
    if (flash) {
        flashMode_ = FlashBackground;
        flashTimer_.start();
    }
    return *this;
}

CLabel& CLabel::MakeOpenLink(bool link, bool notify) {
    linkType_ = link ? LinkOpen : LinkNone;
    notify_ = notify;
    return *this;
}

CLabel& CLabel::MakeMailLink(bool link, bool notify) {
    linkType_ = link ? LinkMail : LinkNone;
    notify_ = notify;
    return *this;
}

CLabel& CLabel::ApplyLinkCursor(const QCursor& cursor) {
    linkCursor_ = cursor;
    setCursor(cursor);
    return *this;
}

CLabel& CLabel::ApplyRaisedText(bool raised, bool direction) {
    raised_ = raised;
    raisedDirection_ = direction;
    repaintNow();
    return *this;
}

CLabel& CLabel::ApplyRotation(int degrees, bool rotate) {
    rotation_ = degrees;
    rotate_ = rotate;
    repaintNow();
    return *this;
}

CLabel& CLabel::ApplyRaisedColour(QColor colour) {
    raisedColour_ = colour;
    return *this;
}

CLabel& CLabel::ApplyLogFont(const QFont& f) {
    setFont(f);
    repaintNow();
    return *this;
}

CLabel& CLabel::ApplyLinkTarget(const QString& target) {
    linkTarget_ = target;
    return *this;
}

QString CLabel::clickTarget() const {
    switch (linkType_) {
    case LinkOpen:
        return linkTarget_.isEmpty() ? text() : linkTarget_;
    case LinkMail:
        return QStringLiteral("mailto:") + text();
    case LinkNone:
        break;
    }
    return QString();
}

void CLabel::paintEvent(QPaintEvent*) {
    // Qt paints into a back buffer already, so the label never flickers.
    QPainter p(this);
    const QRect r = contentsRect();
    if (!transparent_) {
        if (gradient_) {
            const int bands = std::max(1, std::min(100, r.width()));
            for (int i = 0; i < bands; ++i) {
                const double t = bands > 1 ? static_cast<double>(i) / (bands - 1) : 0.0;
                const QColor c(
                    static_cast<int>(gradientStart_.red() +
                                     t * (gradientEnd_.red() - gradientStart_.red())),
                    static_cast<int>(gradientStart_.green() +
                                     t * (gradientEnd_.green() - gradientStart_.green())),
                    static_cast<int>(gradientStart_.blue() +
                                     t * (gradientEnd_.blue() - gradientStart_.blue())));
                const int x0 = r.left() + r.width() * i / bands;
                const int x1 = r.left() + r.width() * (i + 1) / bands;
                p.fillRect(QRect(x0, r.top(), x1 - x0, r.height()), c);
            }
        } else {
            p.fillRect(r, background_.value_or(palette().color(QPalette::Window)));
        }
    }

    QColor colour = textColour_;
    if (flashMode_ == FlashText && !flashOn_) {
        colour = background_.value_or(QColor(0, 0, 0));
    }
    p.setFont(font());
    int flags = static_cast<int>(alignment());
    if (wordWrap()) {
        flags |= Qt::TextWordWrap;
    }
    if (text().contains(QLatin1Char('\t'))) {
        flags |= Qt::TextExpandTabs;
    }
    if (rotate_) {
        p.translate(r.center());
        p.rotate(-rotation_);
        p.setPen(colour);
        p.drawText(QPoint(0, 0), text());
        return;
    }
    p.setPen(colour);
    p.drawText(r, flags, text());
    if (raised_) {
        const int d = raisedDirection_ ? 1 : -1;
        p.setPen(raisedColour_);
        p.drawText(r.translated(d, d), flags, text());
    }
}

void CLabel::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        if (notify_) {
            emit clicked();
        } else if (linkType_ != LinkNone) {
            QDesktopServices::openUrl(QUrl::fromUserInput(clickTarget()));
        }
    }
    QLabel::mousePressEvent(event);
}

void CLabel::changeEvent(QEvent* event) {
    // New desktop colours: the default background follows the button face.
    if (event->type() == QEvent::PaletteChange) {
        update();
    }
    QLabel::changeEvent(event);
}

} // namespace ombrel
