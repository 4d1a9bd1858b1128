// Stopping a run on SIGINT or SIGTERM: the signal only records the request; frames that have not
// started are not started, frames in progress are abandoned at their next step, every temporary
// is removed by its owner, global setdown runs, and the program exits with 128 + the signal's
// number (130, 143). A second signal of the same kind ends the process at once. On POSIX a call
// blocked when the signal comes is interrupted (EINTR), not restarted.
#pragma once

namespace OmbrelRender {

// Routes SIGINT and SIGTERM to the stop request. Called once, early in main().
void catchStopSignals();

// The signal that asked the run to stop, or 0.
int stopSignal();
inline bool stopRequested() {
    return stopSignal() != 0;
}
// "SIGINT", "SIGTERM", or "a signal".
const char* signalName(int signal);

// Thrown where a frame notices the request; never reported as the frame's failure, and on
// purpose not a std::exception, so that handlers of failures let it through.
struct Stopped {};
inline void throwIfStopped() {
    if (stopRequested())
        throw Stopped();
}

// For tests: records a request as the signal would, or forgets it.
void requestStop(int signal);
void clearStopRequest();

} // namespace OmbrelRender
