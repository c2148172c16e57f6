#include "cli/Interrupts.h"

#include "vrml/ReplacingFile.h"
#include "vrml/StagedFolder.h"

#include <csignal>
#include <unistd.h>

namespace ombrel {

namespace {

void onInterrupt(int signal) {
    ReplacingFile::removeTemporaries();
    StagedFolder::removeTemporaries();
    ::_exit(128 + signal);
}

} // namespace

void installInterruptHandlers() {
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    // A second signal waits until the first one's handler has ended the process.
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&action.sa_mask, signal);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction previous {};
        if (::sigaction(signal, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN)
            continue;
        ::sigaction(signal, &action, nullptr);
    }
}

} // namespace ombrel
