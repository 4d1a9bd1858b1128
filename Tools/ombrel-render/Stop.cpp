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
    // The next one is not caught: a user who asks twice gets the immediate end.
    std::signal(signal, SIG_DFL);
}

} // namespace

void catchStopSignals() {
    std::signal(SIGINT, onStopSignal);
    std::signal(SIGTERM, onStopSignal);
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
