// Inspecting a building in the preview: a click selects it and the log tells what made it; a
// click on the sky or Escape clears it; a new city keeps it while its cell holds a building.

#include "DialogFixture.h"

#include "city/CityDrawable.h"
#include "preview/CityWindow.h"

#include <QFile>
#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

namespace ombrel {

using namespace ombrel::test;

class InspectTest : public QObject {
    Q_OBJECT

    std::unique_ptr<ScriptedDialog> dialog_;
    QTemporaryDir tmp_;
    QString file_;

    // A 3 x 3 city without streets, every cell the same building: a park floor and a box of
    // height 6 with a terrace on top.
    void generate() {
        file_ = tmp_.filePath(QStringLiteral("inspect.xml"));
        QFile out(file_);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write("<Ombrel numCellsX=\"3\" numCellsY=\"3\" cellSizeX=\"10\" cellSizeY=\"10\"\n"
                  "        streetEveryX=\"100\" streetEveryY=\"100\" randomSeed=\"1\">\n"
                  "<Building vrmlTag=\"B_%X_%Y\" material=\"concrete\">\n"
                  "  <DrawFloor surface=\"park\" material=\"vegetation\"/>\n"
                  "  <DrawBox height=\"6\" roofSurface=\"terrace\"/>\n"
                  "</Building>\n"
                  "</Ombrel>\n");
        out.close();
        dialog_->cfgEdit->setText(file_);
        QTest::mouseClick(dialog_->generateButton, Qt::LeftButton);
        QVERIFY(dialog_->city() != nullptr);
    }
    // Looks straight down on the middle of cell (1, 1) from 40 units above its roof.
    void lookDownOnTheMiddleCell() {
        Camera& camera = dialog_->preview()->camera();
        camera.position = Vec3{15.0f, 15.0f, 46.0f};
        camera.orientation = Mat3{1, 0, 0, 0, 0, -1, 0, 1, 0};
    }
    void click(QPoint at) {
        CCityWindow* preview = dialog_->preview();
        QTest::mouseClick(preview, Qt::LeftButton, Qt::NoModifier, at);
    }
    QPoint middle() const {
        return QPoint(dialog_->preview()->width() / 2, dialog_->preview()->height() / 2);
    }
    QStringList expectedLines() const {
        return {
            QStringLiteral("Selected the building in column 1, row 1: height 6, vrmlTag "
                           "name B_1_1, definition %1:3")
                .arg(file_),
            QStringLiteral("Drawn by DrawFloor at %1:4:3: park; material vegetation").arg(file_),
            QStringLiteral("Drawn by DrawBox at %1:5:3: floor, wall, terrace; material "
                           "concrete")
                .arg(file_)};
    }
    // Pixels of the outline's colour in the preview's next frame.
    int outlinePixels() const {
        const QImage frame =
            dialog_->preview()->grabFramebuffer().convertToFormat(QImage::Format_RGB888);
        int n = 0;
        for (int y = 0; y < frame.height(); ++y) {
            for (int x = 0; x < frame.width(); ++x) {
                n += frame.pixel(x, y) == qRgb(255, 0, 255);
            }
        }
        return n;
    }
    QStringList inspectLines() const {
        return logLines(*dialog_, QStringLiteral("Selected the building")) +
               logLines(*dialog_, QStringLiteral("Drawn by ")) +
               logLines(*dialog_, QStringLiteral("Selection cleared"));
    }

private slots:
    void init() {
        QVERIFY(openDialog(dialog_, true));
        QVERIFY(QTest::qWaitForWindowExposed(dialog_->preview()));
    }
    void cleanup() { closeDialog(dialog_); }

    void aClickSelectsTheBuildingAndTheLogTellsWhatMadeIt() {
        generate();
        lookDownOnTheMiddleCell();
        click(middle());
        const auto* city = dynamic_cast<const CityDrawable*>(dialog_->city());
        QVERIFY(city);
        QVERIFY(dialog_->preview()->selectedBuilding().has_value());
        const std::size_t selected = *dialog_->preview()->selectedBuilding();
        QCOMPARE(city->buildingCells[selected].column, 1u);
        QCOMPARE(city->buildingCells[selected].row, 1u);
        QCOMPARE(inspectLines(), expectedLines());
        QVERIFY(outlinePixels() > 100);
    }

    void aClickOnTheSkyClearsIt() {
        generate();
        lookDownOnTheMiddleCell();
        click(middle());
        QVERIFY(dialog_->preview()->selectedBuilding().has_value());
        // Looking level from high above the city: the top of the window is sky.
        Camera& camera = dialog_->preview()->camera();
        camera.position = Vec3{15.0f, -100.0f, 300.0f};
        camera.orientation = identityMat3();
        click(QPoint(middle().x(), 5));
        QVERIFY(!dialog_->preview()->selectedBuilding().has_value());
        QCOMPARE(logLines(*dialog_, QStringLiteral("Selection cleared")),
                 QStringList{QStringLiteral("Selection cleared")});
        // Nothing selected: another click on the sky says nothing.
        click(QPoint(middle().x(), 5));
        QCOMPARE(logLines(*dialog_, QStringLiteral("Selection cleared")).size(), 1);
    }

    void escapeClearsIt() {
        generate();
        lookDownOnTheMiddleCell();
        click(middle());
        QVERIFY(dialog_->preview()->selectedBuilding().has_value());
        QTest::keyClick(dialog_->preview(), Qt::Key_Escape);
        QVERIFY(!dialog_->preview()->selectedBuilding().has_value());
        QCOMPARE(inspectLines(), expectedLines() << QStringLiteral("Selection cleared"));
        QCOMPARE(outlinePixels(), 0);
    }

    void aDragSelectsNothing() {
        generate();
        lookDownOnTheMiddleCell();
        CCityWindow* preview = dialog_->preview();
        QTest::mousePress(preview, Qt::LeftButton, Qt::NoModifier, middle());
        QMouseEvent move(QEvent::MouseMove, QPointF(middle() + QPoint(20, 0)),
                         QPointF(preview->mapToGlobal(middle() + QPoint(20, 0))), Qt::LeftButton,
                         Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(preview, &move);
        QTest::mouseRelease(preview, Qt::LeftButton, Qt::NoModifier, middle());
        QVERIFY(!preview->selectedBuilding().has_value());
        QCOMPARE(inspectLines(), QStringList{});
    }

    void theSelectionSurvivesANewCityWhileItsCellHoldsABuilding() {
        generate();
        lookDownOnTheMiddleCell();
        click(middle());
        QVERIFY(dialog_->preview()->selectedBuilding().has_value());
        QTest::mouseClick(dialog_->generateButton, Qt::LeftButton);
        QVERIFY(dialog_->preview()->selectedBuilding().has_value());
        const auto* city = dynamic_cast<const CityDrawable*>(dialog_->city());
        const std::size_t selected = *dialog_->preview()->selectedBuilding();
        QCOMPARE(city->buildingCells[selected].column, 1u);
        QCOMPARE(city->buildingCells[selected].row, 1u);
        // Told again for the new city's building.
        QCOMPARE(logLines(*dialog_, QStringLiteral("Selected the building")).size(), 2);
    }
};

OMBREL_TEST_CLASS(InspectTest)

} // namespace ombrel

#include "inspect_test.moc"
