#pragma once

#include "app/AppSetup.h"

#include <QString>

#include <utility>

namespace ombrel {

// The program: builds the main dialog, restores the six settings, runs the dialog until it
// closes and stores the settings again.
class COmbrelApp {
public:
    // A construction file given here is named in the dialog instead of the stored "cfgFile", as
    // if the user had typed it; the first Generate loads it.
    explicit COmbrelApp(QString constructionFile = {})
        : constructionFile_(std::move(constructionFile)) {}

    // Returns the process exit status: 0, or -1 when the XML library could not start.
    int run();

private:
    QString constructionFile_;
};

} // namespace ombrel
