#include "app/OmbrelApp.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    ombrel::prepareApplication(app);
    ombrel::COmbrelApp program;
    return program.run();
}
