#include <gtest/gtest.h>

#include <csignal>

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
