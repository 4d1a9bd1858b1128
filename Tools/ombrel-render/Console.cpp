#include "Console.h"

#include <cstdio>

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

namespace OmbrelRender {

namespace {

std::shared_mutex& consoleMutex() {
    static std::shared_mutex mutex;
    return mutex;
}

#ifndef _WIN32
// Redirection state, changed only under `stateMutex`.
std::mutex stateMutex;
int quietCount = 0;
int savedStderr = -1;
#endif

} // namespace

QuietStderr::QuietStderr() {
    consoleMutex().lock_shared();
#ifndef _WIN32
    std::lock_guard lock(stateMutex);
    if (quietCount++ == 0) {
        std::fflush(stderr);
        const int null = ::open("/dev/null", O_WRONLY);
        savedStderr = null >= 0 ? ::dup(STDERR_FILENO) : -1;
        if (savedStderr >= 0)
            ::dup2(null, STDERR_FILENO);
        if (null >= 0)
            ::close(null);
    }
#endif
}

QuietStderr::~QuietStderr() {
#ifndef _WIN32
    {
        std::lock_guard lock(stateMutex);
        if (--quietCount == 0 && savedStderr >= 0) {
            std::fflush(stderr);
            ::dup2(savedStderr, STDERR_FILENO);
            ::close(savedStderr);
            savedStderr = -1;
        }
    }
#endif
    consoleMutex().unlock_shared();
}

std::unique_lock<std::shared_mutex> lockConsole() {
    return std::unique_lock(consoleMutex());
}

} // namespace OmbrelRender
