#include "Stop.h"

#include <atomic>
#include <csignal>

namespace OmbrelRender {

namespace {

// Written by the signal handler, so lock-free (the handler may only touch such objects).
std::atomic<int> requested{0};
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void onStopSignal(int signal) {
    int none = 0;
    requested.compare_exchange_strong(none, signal);
#ifdef _WIN32
    // The next one is not caught: a user who asks twice gets the immediate end.
    std::signal(signal, SIG_DFL);
#endif
}

} // namespace

void catchStopSignals() {
#ifdef _WIN32
    std::signal(SIGINT, onStopSignal);
    std::signal(SIGTERM, onStopSignal);
#else
    // Without SA_RESTART: a call blocked when the signal comes (opening a FIFO, reading a pipe)
    // returns EINTR instead of being restarted, so the run ends instead of waiting on. With
    // SA_RESETHAND the next signal is not caught: a user who asks twice gets the immediate end.
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
#endif
}

int stopSignal() {
    return requested.load();
}

const char* signalName(int signal) {
    switch (signal) {
    case SIGINT:
        return "SIGINT";
    case SIGTERM:
        return "SIGTERM";
    default:
        break;
    }
    return "a signal";
}

void requestStop(int signal) {
    requested = signal;
}

void clearStopRequest() {
    requested = 0;
}

} // namespace OmbrelRender
