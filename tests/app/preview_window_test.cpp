#include "TestSupport.h"

#include "city/CityDrawable.h"
#include "grammar/DrawFactory.h"
#include "grammar/Drawables.h"
#include "preview/CityWindow.h"
#include "vrml/VRNode.h"

#include <GL/gl.h>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QSignalSpy>
#include <QTest>
#include <QVector3D>
#include <QWheelEvent>

#include <cmath>
#include <functional>
#include <memory>

namespace ombrel {
namespace {

// A flat magenta square on the ground around the origin.
class GroundSquare : public Drawable {
public:
    void render() const override {
        glColor3ub(255, 0, 255);
        glBegin(GL_QUADS);
        glVertex3f(-50, -50, 0);
        glVertex3f(50, -50, 0);
        glVertex3f(50, 50, 0);
        glVertex3f(-50, 50, 0);
        glEnd();
    }
    VRRef<VRNode> toVrml() const override { return nullptr; }
};

// The same square as the drawables make it, so that it can be drawn from buffers: a
// magenta-ish floor (colour bytes 127, 0, 127).
std::unique_ptr<DrawFloor> groundFloor() {
    auto floor = std::make_unique<DrawFloor>();
    floor->corners = {Vec2{-50, -50}, Vec2{-50, 50}, Vec2{50, 50}, Vec2{50, -50}};
    floor->colour = 0x7F007F;
    return floor;
}

// 40 x 40 cells of ground squares of 10 units: 9 blocks of buffers.
std::unique_ptr<CityDrawable> groundCells() {
    auto city = std::make_unique<CityDrawable>();
    for (int x = 0; x < 40; ++x) {
        for (int y = 0; y < 40; ++y) {
            auto floor = std::make_unique<DrawFloor>();
            const float x0 = -200.0f + 10.0f * x;
            const float y0 = -200.0f + 10.0f * y;
            floor->corners = {Vec2{x0, y0}, Vec2{x0, y0 + 9}, Vec2{x0 + 9, y0 + 9},
                              Vec2{x0 + 9, y0}};
            floor->colour = 0x7F007F;
            city->buildingDrawables.push_back(std::move(floor));
            city->buildingColours.push_back(0x7F007F);
        }
    }
    return city;
}

QKeyEvent nativeKey(QEvent::Type type, int key, quint32 scanCode,
                    Qt::KeyboardModifiers mods = Qt::NoModifier, const QString& text = {}) {
    return QKeyEvent(type, key, mods, scanCode, 0, 0, text);
}

} // namespace

class PreviewWindowTest : public QObject {
    Q_OBJECT

    std::unique_ptr<CCityWindow> window_;

    // The window's current frame; rows counted from the top.
    QImage frame() { return window_->grabFramebuffer().convertToFormat(QImage::Format_RGB888); }

private slots:
    void init() {
        window_ = std::make_unique<CCityWindow>(24);
        window_->setWindowTitle(QStringLiteral("City Preview"));
        QVERIFY(window_->CreateGLContext());
        window_->resize(120, 100);
        window_->show();
        QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
    }
    void cleanup() { window_.reset(); }

    void startsWithTheBackdropOn() {
        QCOMPARE(window_->camera().toggles[1], std::uint8_t(1));
        QCOMPARE(window_->city, nullptr);
        QCOMPARE(window_->camera().moveSpeed, 15.0f);
        QCOMPARE(window_->camera().rotateStep, 1.0f);
    }

    void backdropRows_data() {
        QTest::addColumn<int>("row");
        QTest::addColumn<QColor>("expected");
        QTest::newRow("top row") << 0 << QColor(82, 207, 250);
        QTest::newRow("second row") << 1 << QColor(86, 208, 250);
        QTest::newRow("row 51 white") << 50 << QColor(255, 255, 255);
        QTest::newRow("bottom row white") << 99 << QColor(255, 255, 255);
    }
    void backdropRows() {
        QFETCH(int, row);
        QFETCH(QColor, expected);
        const QImage image = frame();
        QCOMPARE(image.height(), 100);
        QCOMPARE(image.pixelColor(2, row), expected);
    }

    void typingOneTurnsTheBackdropOff() {
        QTest::keyClick(window_.get(), Qt::Key_1, Qt::NoModifier);
        QCOMPARE(window_->camera().toggles[1], std::uint8_t(0));
        const QImage image = frame();
        QCOMPARE(image.pixelColor(2, 0), QColor(0, 0, 0));
        QCOMPARE(image.pixelColor(2, 99), QColor(0, 0, 0));
        QTest::keyClick(window_.get(), Qt::Key_A, Qt::NoModifier);
        QCOMPARE(window_->camera().toggles[1], std::uint8_t(0));
        QTest::keyClick(window_.get(), Qt::Key_1, Qt::NoModifier);
        QCOMPARE(window_->camera().toggles[1], std::uint8_t(1));
    }

    void axesAndCityAreDrawn() {
        GroundSquare square;
        window_->city = &square;
        window_->setCameraHome(cameraFacingCity({-50, -50, 0}, {50, 50, 100}));
        const QImage image = frame();
        QCOMPARE(image.pixelColor(60 - 15, 81), QColor(255, 0, 255));
        int red = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                red += image.pixelColor(x, y) == QColor(255, 0, 0);
            }
        }
        QVERIFY2(red > 0, "the x axis lies on the square");
        window_->city = nullptr;
    }

    // The city's buffers live in the window's context: when Qt replaces the context (the window
    // moves into another one), they go with the old one and are made again.
    void newContextBuildsTheCityAgain() {
        const std::unique_ptr<DrawFloor> square = groundFloor();
        window_->setCity(square.get());
        window_->setCameraHome(cameraFacingCity({-50, -50, 0}, {50, 50, 100}));
        const QImage before = frame();
        QCOMPARE(before.pixelColor(60 - 15, 81), QColor(255, 1, 255));
        frame();
        frame();
        QCOMPARE(window_->sceneView().cityBuilds(), std::uint64_t(1));
        auto holder = std::make_unique<QWidget>();
        holder->resize(120, 100);
        window_->setParent(holder.get());
        // Whatever fails below, the window goes back to being its own before the holder goes.
        const std::unique_ptr<QWidget, std::function<void(QWidget*)>> giveBack(
            holder.get(), [this](QWidget*) {
                window_->setParent(nullptr);
                window_->setCity(nullptr);
            });
        holder->show();
        QVERIFY(QTest::qWaitForWindowExposed(holder.get()));
        for (int i = 0; i < 3; ++i) {
            const QImage again = frame();
            QCOMPARE(again.size(), before.size());
            QVERIFY2(again == before,
                     qPrintable(QStringLiteral("frame %1 in the new context").arg(i)));
        }
        QCOMPARE(window_->sceneView().cityBuilds(), std::uint64_t(2));
    }

    // Frames that run out of time for building show the blocks built, the busy cursor, and
    // come again by themselves until every block in view is built: then the frame is the
    // one of the city built whole, and the cursor is back.
    void blocksLeftToBuildComeInLaterFrames() {
        const std::unique_ptr<CityDrawable> city = groundCells();
        window_->setCameraHome(cameraFacingCity({-200, -200, 0}, {200, 200, 100}));
        window_->setCity(city.get());
        const QImage whole = frame();
        QVERIFY(!window_->building());

        window_->setBatchLimits(1, 0.0);
        window_->setCity(city.get());
        frame();
        QVERIFY(window_->building());
        QVERIFY(QGuiApplication::overrideCursor() != nullptr);
        QCOMPARE(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
        QTRY_VERIFY_WITH_TIMEOUT(!window_->building(), 5000);
        QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
        QVERIFY(window_->sceneView().batch().blocksBuilt() > 1);
        QVERIFY(frame() == whole);
        window_->setCity(nullptr);
    }

    // A left drag turns about the world's up axis and the camera's right axis, a right or
    // middle drag pans, the wheel moves by the speed.
    void mouseFliesTheCamera_data() {
        QTest::addColumn<int>("button");
        QTest::addColumn<QPoint>("drag");
        QTest::addColumn<int>("wheel");
        QTest::addColumn<QVector3D>("position");
        QTest::addColumn<QVector3D>("view"); // row 1 of the orientation
        QTest::newRow("left drag right turns right")
            << int(Qt::LeftButton) << QPoint(40, 0) << 0 << QVector3D(0, 0, 0)
            << QVector3D(std::sin(0.17453293f), std::cos(0.17453293f), 0);
        QTest::newRow("left drag up looks up")
            << int(Qt::LeftButton) << QPoint(0, -40) << 0 << QVector3D(0, 0, 0)
            << QVector3D(0, std::cos(0.17453293f), std::sin(0.17453293f));
        QTest::newRow("right drag pans") << int(Qt::RightButton) << QPoint(20, 10) << 0
                                         << QVector3D(-30, 0, 15) << QVector3D(0, 1, 0);
        QTest::newRow("middle drag pans") << int(Qt::MiddleButton) << QPoint(-10, 0) << 0
                                          << QVector3D(15, 0, 0) << QVector3D(0, 1, 0);
        QTest::newRow("wheel forward")
            << 0 << QPoint() << 240 << QVector3D(0, 30, 0) << QVector3D(0, 1, 0);
        QTest::newRow("wheel back")
            << 0 << QPoint() << -120 << QVector3D(0, -15, 0) << QVector3D(0, 1, 0);
    }
    void mouseFliesTheCamera() {
        QFETCH(int, button);
        QFETCH(QPoint, drag);
        QFETCH(int, wheel);
        QFETCH(QVector3D, position);
        QFETCH(QVector3D, view);
        window_->setCameraHome(CameraState{});
        const QPoint from(60, 50);
        if (button != 0) {
            const auto b = static_cast<Qt::MouseButton>(button);
            QTest::mousePress(window_.get(), b, Qt::NoModifier, from);
            QMouseEvent move(QEvent::MouseMove, QPointF(from + drag),
                             window_->mapToGlobal(QPointF(from + drag)), Qt::NoButton, b,
                             Qt::NoModifier);
            QApplication::sendEvent(window_.get(), &move);
            QTest::mouseRelease(window_.get(), b, Qt::NoModifier, from + drag);
        }
        if (wheel != 0) {
            QWheelEvent w(QPointF(from), window_->mapToGlobal(QPointF(from)), QPoint(),
                          QPoint(0, wheel), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
            QApplication::sendEvent(window_.get(), &w);
        }
        const Camera& c = window_->camera();
        const QVector3D got(c.position.x, c.position.y, c.position.z);
        const QVector3D gotView(c.orientation[3], c.orientation[4], c.orientation[5]);
        QVERIFY2(
            (got - position).length() < 1e-3f,
            qPrintable(QStringLiteral("position %1 %2 %3").arg(got.x()).arg(got.y()).arg(got.z())));
        QVERIFY2((gotView - view).length() < 1e-5f, qPrintable(QStringLiteral("view %1 %2 %3")
                                                                   .arg(gotView.x())
                                                                   .arg(gotView.y())
                                                                   .arg(gotView.z())));
    }

    // F backs the camera off along its view until the city's box fills the view.
    void fFramesTheCity() {
        const std::unique_ptr<DrawFloor> square = groundFloor();
        window_->setCity(square.get());
        window_->setCameraHome(CameraState{{0, -3000, 500}, identityMat3()});
        QTest::keyClick(window_.get(), Qt::Key_F);
        const Camera& c = window_->camera();
        // The box is 100 wide and flat: along +y it must lie 50 / tan(22.5 degrees) * 100 / 120
        // units ahead of the camera (the window is 120 x 100), centred.
        QCOMPARE(c.position.x, 0.0f);
        QCOMPARE(c.position.z, 0.0f);
        QVERIFY2(std::fabs(c.position.y - (-50.0f - 50.0f / std::tan(0.39269908f) / 1.2f)) < 0.01f,
                 qPrintable(QString::number(c.position.y)));
        window_->setCity(nullptr);
    }

    // A key pressed and released between two ticks still moves the camera once.
    void quickTapMovesOneTick() {
        window_->setCameraHome(CameraState{});
        QTest::keyPress(window_.get(), Qt::Key_Up);
        QTest::keyRelease(window_.get(), Qt::Key_Up);
        QTRY_COMPARE_WITH_TIMEOUT(window_->camera().position.y, 15.0f, 2000);
        QTest::qWait(50);
        QCOMPARE(window_->camera().position.y, 15.0f);
    }

    void heldKeysMoveTheCameraOnTheTimer() {
        window_->setCameraHome(CameraState{});
        QTest::keyPress(window_.get(), Qt::Key_Up);
        QTRY_VERIFY_WITH_TIMEOUT(window_->camera().position.y >= 30.0f, 2000);
        QTest::keyRelease(window_.get(), Qt::Key_Up);
        const float stopped = window_->camera().position.y;
        QTest::qWait(50);
        QCOMPARE(window_->camera().position.y, stopped);
        QTest::keyPress(window_.get(), Qt::Key_R);
        QTRY_COMPARE_WITH_TIMEOUT(window_->camera().position.y, 0.0f, 2000);
        QTest::keyRelease(window_.get(), Qt::Key_R);
    }

    void autoRepeatReleaseKeepsTheKeyHeld() {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Left, Qt::NoModifier);
        QApplication::sendEvent(window_.get(), &press);
        QKeyEvent repeatRelease(QEvent::KeyRelease, Qt::Key_Left, Qt::NoModifier, QString(), true);
        QApplication::sendEvent(window_.get(), &repeatRelease);
        QVERIFY(window_->camera().held(keys::Left));
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_Left, Qt::NoModifier);
        QApplication::sendEvent(window_.get(), &release);
        QVERIFY(!window_->camera().held(keys::Left));
    }

    void losingFocusReleasesEveryKey() {
        QTest::keyPress(window_.get(), Qt::Key_Up);
        QTest::keyPress(window_.get(), Qt::Key_Home);
        QVERIFY(window_->camera().held(keys::Up));
        QFocusEvent out(QEvent::FocusOut, Qt::ActiveWindowFocusReason);
        QApplication::sendEvent(window_.get(), &out);
        QVERIFY(!window_->camera().held(keys::Up));
        QVERIFY(!window_->camera().held(keys::Home));
    }

    void keypadKeysChangeTheSpeed() {
        QTest::keyClick(window_.get(), Qt::Key_Minus, Qt::KeypadModifier);
        QCOMPARE(window_->camera().moveSpeed, 5.0f);
        QTest::keyClick(window_.get(), Qt::Key_Minus, Qt::KeypadModifier);
        QCOMPARE(window_->camera().moveSpeed, 5.0f);
        QTest::keyClick(window_.get(), Qt::Key_Plus, Qt::KeypadModifier);
        QCOMPARE(window_->camera().moveSpeed, 15.0f);
        // The main keyboard's + is another key.
        QTest::keyClick(window_.get(), Qt::Key_Plus, Qt::NoModifier);
        QCOMPARE(window_->camera().moveSpeed, 15.0f);
    }

    // While the speed or the step changes, the title says what they are; later it is the
    // window's own again.
    void theTitleShowsSpeedAndStepWhileTheyChange() {
        const QString own = window_->windowTitle();
        QTest::keyClick(window_.get(), Qt::Key_Plus, Qt::KeypadModifier);
        QCOMPARE(window_->windowTitle(),
                 own + QStringLiteral(" - speed 25, turning step 1 degrees"));
        QTest::keyClick(window_.get(), Qt::Key_Plus, Qt::KeypadModifier);
        QCOMPARE(window_->windowTitle(),
                 own + QStringLiteral(" - speed 35, turning step 1 degrees"));
        QTRY_COMPARE_WITH_TIMEOUT(window_->windowTitle(), own, 20000);
    }

    void keyCodes_data() {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<int>("code");
        QTest::newRow("up") << int(Qt::Key_Up) << 0 << keys::Up;
        QTest::newRow("down") << int(Qt::Key_Down) << 0 << keys::Down;
        QTest::newRow("left") << int(Qt::Key_Left) << 0 << keys::Left;
        QTest::newRow("right") << int(Qt::Key_Right) << 0 << keys::Right;
        QTest::newRow("home") << int(Qt::Key_Home) << 0 << keys::Home;
        QTest::newRow("end") << int(Qt::Key_End) << 0 << keys::End;
        QTest::newRow("keypad home") << int(Qt::Key_Home) << int(Qt::KeypadModifier) << keys::Home;
        QTest::newRow("r") << int(Qt::Key_R) << 0 << keys::R;
        QTest::newRow("keypad plus")
            << int(Qt::Key_Plus) << int(Qt::KeypadModifier) << keys::NumpadAdd;
        QTest::newRow("keypad minus")
            << int(Qt::Key_Minus) << int(Qt::KeypadModifier) << keys::NumpadSubtract;
        QTest::newRow("main plus") << int(Qt::Key_Plus) << 0 << 0xBB;
        QTest::newRow("digit") << int(Qt::Key_5) << 0 << int('5');
        QTest::newRow("untracked") << int(Qt::Key_F5) << 0 << -1;
    }
    void keyCodes() {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(int, code);
        const QKeyEvent e(QEvent::KeyPress, key, Qt::KeyboardModifiers(modifiers));
        QCOMPARE(COpenGLTraversableWindow::keyCode(e), code);
    }

    void leftShiftIsToldFromRightShift_data() {
        QTest::addColumn<quint32>("scanCode");
        QTest::addColumn<bool>("left");
        QTest::newRow("left shift") << quint32(50) << true;
        QTest::newRow("right shift") << quint32(62) << false;
        QTest::newRow("synthetic shift") << quint32(0) << false;
    }
    void leftShiftIsToldFromRightShift() {
        QFETCH(quint32, scanCode);
        QFETCH(bool, left);
        const QKeyEvent e = nativeKey(QEvent::KeyPress, Qt::Key_Shift, scanCode, Qt::ShiftModifier);
        QCOMPARE(COpenGLTraversableWindow::isLeftShift(e), left);
    }

    void closingOnlyHides() {
        window_->close();
        QVERIFY(!window_->isVisible());
        window_->show();
        QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
        QCOMPARE(frame().pixelColor(2, 0), QColor(82, 207, 250));
    }

    void makeCurrentKeepsTheContext() {
        QVERIFY(window_->MakeCurrent());
        QVERIFY(window_->IsCurrent());
        QVERIFY(window_->MakeCurrent());
    }
};

OMBREL_TEST_CLASS(PreviewWindowTest)

} // namespace ombrel

#include "preview_window_test.moc"
