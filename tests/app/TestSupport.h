#pragma once

#include <QApplication>
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
// so commands that ask the user can run unattended. Stops after timeoutMs.
inline void dismissNextMessageBox(SeenBox* seen, int timeoutMs = 10000) {
    auto* timer = new QTimer;
    auto* elapsed = new int(0);
    QObject::connect(timer, &QTimer::timeout, [timer, elapsed, seen, timeoutMs] {
        *elapsed += 20;
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<QMessageBox*>(w);
            if (box && box->isVisible()) {
                seen->title = box->windowTitle();
                seen->text = box->text();
                seen->seen = true;
                box->done(QMessageBox::Ok);
                timer->stop();
                timer->deleteLater();
                delete elapsed;
                return;
            }
        }
        if (*elapsed > timeoutMs) {
            timer->stop();
            timer->deleteLater();
            delete elapsed;
        }
    });
    timer->start(20);
}

// The repository's root, where the construction files and the schema are found.
inline QString sourceDir() {
    return QStringLiteral(OMBREL_SOURCE_DIR);
}

} // namespace ombrel::test
