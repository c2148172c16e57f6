#pragma once

#include <QFontMetrics>
#include <QRect>
#include <QWidget>

namespace ombrel {

// Converts the classic dialog units (a quarter of the average character width across, an
// eighth of the character height down) of a widget's font into pixels, so that controls placed
// by them fit whatever font the desktop gives.
class DialogUnits {
public:
    explicit DialogUnits(const QWidget& widget) {
        const QFontMetrics fm(widget.font());
        const QString sample =
            QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
        baseX_ = (fm.horizontalAdvance(sample) / 26 + 1) / 2;
        baseY_ = fm.height();
    }
    int x(int units) const { return units * baseX_ / 4; }
    int y(int units) const { return units * baseY_ / 8; }
    QRect rect(int ux, int uy, int uw, int uh) const { return QRect(x(ux), y(uy), x(uw), y(uh)); }

private:
    int baseX_ = 6;
    int baseY_ = 13;
};

} // namespace ombrel
