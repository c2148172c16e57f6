#pragma once

#include <QColor>
#include <QCursor>
#include <QLabel>
#include <QString>
#include <QTimer>

#include <optional>

namespace ombrel {

// A static text that paints itself: its own text and background colours (solid or a gradient),
// font, a one-pixel raised-text effect, rotation, flashing, and links that open with the
// desktop's handler. Every setter returns the label so calls chain; setters that change how it
// looks repaint it at once.
class CLabel : public QLabel {
    Q_OBJECT
public:
    enum LinkType { LinkNone = 0, LinkOpen = 1, LinkMail = 2 };
    enum FlashMode { FlashNone, FlashText, FlashBackground };

    explicit CLabel(QWidget* parent = nullptr);
    explicit CLabel(const QString& text, QWidget* parent = nullptr);

    virtual CLabel& ApplyBackground(QColor colour, QColor endColour = QColor(),
                                    bool gradient = false);
    virtual CLabel& ApplyTextColour(QColor colour);
    virtual CLabel& ApplyText(const QString& text);
    virtual CLabel& ApplyBold(bool bold);
    virtual CLabel& ApplyFaceName(const QString& face);
    virtual CLabel& ApplyUnderline(bool underline);
    virtual CLabel& ApplyItalic(bool italic);
    virtual CLabel& ApplyPointSize(int points);
    virtual CLabel& ApplySunkenEdge(bool sunken);
    virtual CLabel& ApplyBorder(bool border);
    virtual CLabel& ApplyTransparency(bool transparent);
    virtual CLabel& StartTextFlash(bool flash);
    virtual CLabel& StartBackgroundFlash(bool flash);
    // notify: report clicks with clicked() instead of opening the link.
    virtual CLabel& MakeOpenLink(bool link, bool notify = false);
    virtual CLabel& ApplyLinkCursor(const QCursor& cursor);
    // direction true draws the highlight one pixel down-right, false one pixel up-left.
    virtual CLabel& ApplyRaisedText(bool raised, bool direction = false);
    virtual CLabel& ApplyRotation(int degrees, bool rotate);
    virtual CLabel& ApplyRaisedColour(QColor colour);
    virtual CLabel& ApplyLogFont(const QFont& font);
    virtual CLabel& MakeMailLink(bool link, bool notify = false);
    // Opened instead of the label's own text.
    virtual CLabel& ApplyLinkTarget(const QString& target);

    LinkType linkType() const { return linkType_; }
    QColor textColour() const { return textColour_; }
    QColor raisedColour() const { return raisedColour_; }
    bool raisedText() const { return raised_; }
    bool raisedDirection() const { return raisedDirection_; }
    QString linkTarget() const { return linkTarget_; }
    bool hasLinkCursor() const { return linkCursor_.has_value(); }
    // What a click opens: the link target, or the text ("mailto:" and the text for a mail link).
    QString clickTarget() const;

signals:
    // A click on a label made with the notify flag.
    void clicked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void init();
    void repaintNow();

    QColor textColour_;
    QColor raisedColour_{255, 255, 255};
    std::optional<QColor> background_; // none: the dialog-face colour
    QColor gradientStart_;
    QColor gradientEnd_;
    bool gradient_ = false;
    bool transparent_ = false;
    bool rotate_ = false;
    int rotation_ = 0;
    bool raised_ = false;
    bool raisedDirection_ = false;
    bool flashOn_ = false;
    FlashMode flashMode_ = FlashNone;
    QTimer flashTimer_;
    LinkType linkType_ = LinkNone;
    bool notify_ = false;
    std::optional<QCursor> linkCursor_;
    QString linkTarget_;
};

} // namespace ombrel
