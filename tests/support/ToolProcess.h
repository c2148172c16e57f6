#pragma once

// Starting a program of the build as a child, the way a shell started from a terminal would.

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/types.h>
#include <unistd.h>
#include <vector>

namespace ombrel::testsupport {

// Forks and runs `program` with `args` in `folder`, its standard output going nowhere and its
// standard error into the file `err`. The interrupt signals reach it with their default
// actions, whatever the test runner left ignored or blocked. Returns the child's pid (negative
// when fork failed); the child exits 126 when it cannot be set up and 127 when the program
// cannot be run.
inline pid_t startTool(const std::string& program, const std::vector<std::string>& args,
                       const std::filesystem::path& err, const std::filesystem::path& folder) {
    const pid_t pid = ::fork();
    if (pid != 0) {
        return pid;
    }
    sigset_t all;
    sigemptyset(&all);
    for (int s : {SIGINT, SIGTERM, SIGHUP}) {
        std::signal(s, SIG_DFL);
        sigaddset(&all, s);
    }
    sigprocmask(SIG_UNBLOCK, &all, nullptr);
    const int null = ::open("/dev/null", O_WRONLY);
    const int log = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (null < 0 || log < 0 || ::dup2(null, 1) < 0 || ::dup2(log, 2) < 0 ||
        ::chdir(folder.c_str()) != 0) {
        ::_exit(126);
    }
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
}

} // namespace ombrel::testsupport
