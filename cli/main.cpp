#include "base/Memory.h"
#include "cli/ExportTool.h"
#include "cli/Interrupts.h"

#include <iostream>

int main(int argc, char** argv) {
    ombrel::keepFreedMemory();
    ombrel::installInterruptHandlers();
    return ombrel::runExportTool(argc, argv, std::cout, std::cerr);
}
