#pragma once

// Reading what a test wrote.

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace ombrel::testsupport {

// The whole file, byte for byte; "" when it cannot be read.
inline std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

} // namespace ombrel::testsupport
