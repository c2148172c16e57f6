#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QString>
#include <QTimer>

#include <functional>

namespace ombrel::test {

// Registers a test class under its name; main() runs the one named on the command line.
using TestFactory = std::function<int(int, char**)>;
bool registerTestClass(const char* name, TestFactory run);

#define OMBREL_TEST_CLASS(Class)                                                                   \
    static const bool registered_##Class =                                                         \
        ::ombrel::test::registerTestClass(#Class, [](int argc, char** argv) {                      \
            Class t;                                                                               \
            return QTest::qExec(&t, argc, argv);                                                   \
        });

// What a message box said before the test closed it.
struct SeenBox {
    QString title;
    QString text;
    bool seen = false;
};

// Watches for the next application-modal message box, records it and presses its first button,
// so commands that ask the user can run unattended. Stops after timeoutMs of wall-clock time,
// before looking again: a watcher left over from a test that saw no box must never touch the
// next test's box (its SeenBox is gone by then), however slowly the timer ticks on a busy
// machine.
inline void dismissNextMessageBox(SeenBox* seen, int timeoutMs = 10000) {
    auto* timer = new QTimer;
    auto* clock = new QElapsedTimer;
    clock->start();
    QObject::connect(timer, &QTimer::timeout, [timer, clock, seen, timeoutMs] {
        const auto stop = [timer, clock] {
            timer->stop();
            timer->deleteLater();
            delete clock;
        };
        if (clock->elapsed() > timeoutMs) {
            stop();
            return;
        }
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<QMessageBox*>(w);
            if (box && box->isVisible()) {
                seen->title = box->windowTitle();
                seen->text = box->text();
                seen->seen = true;
                box->done(QMessageBox::Ok);
                stop();
                return;
            }
        }
    });
    timer->start(20);
}

// The repository's root, where the construction files and the schema are found.
inline QString sourceDir() {
    return QStringLiteral(OMBREL_SOURCE_DIR);
}

} // namespace ombrel::test
