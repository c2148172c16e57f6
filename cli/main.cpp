#include "cli/ExportTool.h"

#include <iostream>

int main(int argc, char** argv) {
    return ombrel::runExportTool(argc, argv, std::cout, std::cerr);
}
