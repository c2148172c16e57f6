#pragma once

#include "app/Label.h"

#include <QDialog>
#include <QPixmap>

namespace ombrel {

// Where the About box's links lead. Neutral placeholders of this project.
inline constexpr const char* kWebAddress = "https://ombrel.example.org/";
inline constexpr const char* kMailAddress = "ombrel@example.org";

// The small modal "About Ombrel" box: name and version, a one-line description, a picture, a
// notice line, and the e-mail and web-page lines as links.
class CAboutBox : public QDialog {
    Q_OBJECT
public:
    explicit CAboutBox(QWidget* parent = nullptr);

    // The box's picture, drawn in code: a small skyline at dusk, 120 x 89 pixels.
    static QPixmap picture();

    CLabel* mailLabel;        // (address), opens "mailto:"
    CLabel* noticeLabel;      // notice line
    CLabel* descriptionLabel; // "Procedural City Generator"
    CLabel* titleLabel;       // "Ombrel V0.9"
    CLabel* webLabel;         // web address, opens itself
};

} // namespace ombrel
