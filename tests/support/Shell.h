#pragma once

// Running shell commands from a test: other readers of an export, the tools that drive them.

#include "tests/support/Files.h"

#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/wait.h>

namespace ombrel::testsupport {

// `s` in single quotes, as one word of a shell command, whatever it holds.
inline std::string shellQuote(const std::string& s) {
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

struct ShellResult {
    int status = -1; // the exit status; -1 when the command did not exit normally
    std::string out; // standard output and error together
};

// Runs `command` with /bin/sh in the folder `from`, its output gathered in a file of `scratch`
// (removed afterwards).
inline ShellResult runShell(const std::string& command, const std::filesystem::path& from,
                            const std::filesystem::path& scratch) {
    const std::filesystem::path out = scratch / "output.txt";
    const std::string line = "cd " + shellQuote(from.string()) + " && " + command + " >" +
                             shellQuote(out.string()) + " 2>&1";
    const int raw = std::system(line.c_str());
    ShellResult r;
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.out = readFile(out);
    std::filesystem::remove(out);
    return r;
}

} // namespace ombrel::testsupport
