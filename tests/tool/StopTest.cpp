#include <gtest/gtest.h>

#include <csignal>

#include "Schedule.h"
#include "Stop.h"

using namespace OmbrelRender;

TEST(Stop, ASignalIsRecordedOnceAndTheNextOneIsNotCaught) {
    catchStopSignals();
    clearStopRequest();
    ASSERT_FALSE(stopRequested());
    std::raise(SIGTERM); // recorded, the process goes on
    EXPECT_EQ(stopSignal(), SIGTERM);
    EXPECT_THROW(throwIfStopped(), Stopped);
    EXPECT_STREQ(signalName(stopSignal()), "SIGTERM");

    struct sigaction now {};
    sigaction(SIGTERM, nullptr, &now);
    EXPECT_EQ(now.sa_handler, SIG_DFL) << "a second SIGTERM must end the process";
    sigaction(SIGINT, nullptr, &now);
    EXPECT_NE(now.sa_handler, SIG_DFL) << "SIGINT is still caught";

    std::signal(SIGINT, SIG_DFL);
    clearStopRequest();
    EXPECT_NO_THROW(throwIfStopped());
}

TEST(Schedule, NoFrameStartsAfterAStopRequest) {
    for (const std::size_t workers : {1u, 3u}) {
        std::atomic<bool> stop{false};
        std::atomic<std::size_t> started{0};
        const std::size_t failures = runScheduled(
            100, workers, false,
            [&](std::size_t i) {
                ++started;
                if (i == 4)
                    stop = true;
                return true;
            },
            [&] { return stop.load(); });
        EXPECT_EQ(failures, 0u);
        // Frame 4 asks; at most the frames other workers had already taken run after it.
        EXPECT_GE(started, 5u);
        EXPECT_LE(started, 4u + workers) << workers << " workers";
    }
}
