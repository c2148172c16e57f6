#include "TestSupport.h"

#include "app/AboutBox.h"

#include <QDesktopServices>
#include <QTest>
#include <QUrl>

namespace ombrel {

// Receives the links the About box asks the desktop to open.
class UrlRecorder : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened.append(url); }
};

class AboutBoxTest : public QObject {
    Q_OBJECT

    UrlRecorder recorder_;

private slots:
    void initTestCase() {
        for (const char* scheme : {"http", "https", "mailto"}) {
            QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), &recorder_, "open");
        }
    }
    void cleanupTestCase() {
        for (const char* scheme : {"http", "https", "mailto"}) {
            QDesktopServices::unsetUrlHandler(QString::fromLatin1(scheme));
        }
    }
    void init() { recorder_.opened.clear(); }

    void showsItsLines() {
        CAboutBox box;
        QCOMPARE(box.windowTitle(), QStringLiteral("About Ombrel"));
        QCOMPARE(box.titleLabel->text(), QStringLiteral("Ombrel V0.9"));
        QCOMPARE(box.descriptionLabel->text(), QStringLiteral("Procedural City Generator"));
        QCOMPARE(box.webLabel->text(), QString::fromLatin1(kWebAddress));
        QCOMPARE(box.mailLabel->text(),
                 QStringLiteral("(") + QLatin1String(kMailAddress) + QStringLiteral(")"));
        QVERIFY(!box.noticeLabel->text().isEmpty());
    }

    void linkLinesOnlyShowTheLinkCursor_data() {
        QTest::addColumn<QString>("line");
        QTest::addColumn<bool>("link");
        QTest::newRow("web") << "web" << true;
        QTest::newRow("mail") << "mail" << true;
        QTest::newRow("title") << "title" << false;
        QTest::newRow("description") << "description" << false;
        QTest::newRow("notice") << "notice" << false;
    }
    void linkLinesOnlyShowTheLinkCursor() {
        QFETCH(QString, line);
        QFETCH(bool, link);
        CAboutBox box;
        CLabel* label = line == "web"      ? box.webLabel
                        : line == "mail"   ? box.mailLabel
                        : line == "title"  ? box.titleLabel
                        : line == "notice" ? box.noticeLabel
                                           : box.descriptionLabel;
        QCOMPARE(label->hasLinkCursor(), link);
        QCOMPARE(label->cursor().shape(), link ? Qt::PointingHandCursor : Qt::ArrowCursor);
    }

    void clickingTheWebLineOpensItsText() {
        CAboutBox box;
        box.show();
        QVERIFY(QTest::qWaitForWindowExposed(&box));
        QTest::mouseClick(box.webLabel, Qt::LeftButton);
        QCOMPARE(recorder_.opened.size(), 1);
        QCOMPARE(recorder_.opened.first().toString(), QString::fromLatin1(kWebAddress));
    }

    void clickingTheMailLineOpensItsTarget() {
        CAboutBox box;
        box.show();
        QVERIFY(QTest::qWaitForWindowExposed(&box));
        QTest::mouseClick(box.mailLabel, Qt::LeftButton);
        QCOMPARE(recorder_.opened.size(), 1);
        QCOMPARE(recorder_.opened.first().toString(),
                 QStringLiteral("mailto:") + QLatin1String(kMailAddress));
    }

    void clickingPlainLinesOpensNothing() {
        CAboutBox box;
        box.show();
        QVERIFY(QTest::qWaitForWindowExposed(&box));
        QTest::mouseClick(box.titleLabel, Qt::LeftButton);
        QTest::mouseClick(box.noticeLabel, Qt::LeftButton);
        QVERIFY(recorder_.opened.isEmpty());
    }

    void notifyingLabelReportsInsteadOfOpening() {
        CLabel label(QStringLiteral("https://example.org/x"));
        label.MakeOpenLink(true, true);
        label.show();
        QVERIFY(QTest::qWaitForWindowExposed(&label));
        int clicks = 0;
        connect(&label, &CLabel::clicked, this, [&clicks] { ++clicks; });
        QTest::mouseClick(&label, Qt::LeftButton);
        QCOMPARE(clicks, 1);
        QVERIFY(recorder_.opened.isEmpty());
    }

    void mailLinkTargetsTheText() {
        CLabel label(QStringLiteral("someone@example.org"));
        label.MakeMailLink(true);
        QCOMPARE(label.clickTarget(), QStringLiteral("mailto:someone@example.org"));
        label.MakeMailLink(false);
        QCOMPARE(label.clickTarget(), QString());
    }

    void paintsItsBackgroundAndText() {
        CLabel label(QStringLiteral("XXXX"));
        label.resize(80, 20);
        label.ApplyBackground(QColor(0, 128, 0)).ApplyTextColour(QColor(255, 255, 0));
        const QImage image = label.grab().toImage();
        QCOMPARE(image.pixelColor(78, 1), QColor(0, 128, 0));
        bool yellow = false;
        for (int x = 0; x < 40 && !yellow; ++x) {
            for (int y = 0; y < 20 && !yellow; ++y) {
                yellow = image.pixelColor(x, y) == QColor(255, 255, 0);
            }
        }
        QVERIFY2(yellow, "text drawn in its colour");
    }

    void raisedTextShowsItsHighlight() {
        CAboutBox box;
        box.show();
        QVERIFY(QTest::qWaitForWindowExposed(&box));
        const QImage image = box.titleLabel->grab().toImage();
        int blue = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                blue += image.pixelColor(x, y) == QColor(0, 0, 255);
            }
        }
        QVERIFY2(blue > 20, "the blue copy one pixel up and left");
    }
};

OMBREL_TEST_CLASS(AboutBoxTest)

} // namespace ombrel

#include "about_box_test.moc"
