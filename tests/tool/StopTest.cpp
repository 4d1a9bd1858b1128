#include <gtest/gtest.h>

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <thread>

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

TEST(Stop, ACallBlockedWhenTheSignalComesIsInterruptedNotRestarted) {
    // Opening a FIFO for reading waits for a writer; the signal must end the wait. Should it
    // restart instead, a writer comes after a few seconds and the open succeeds.
    char folder[] = "/tmp/ombrel-stop-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string fifo = std::string(folder) + "/fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    catchStopSignals();
    clearStopRequest();
    std::atomic<bool> opened{false};
    std::atomic<int> error{0};
    std::thread blocked([&] {
        const int fd = open(fifo.c_str(), O_RDONLY);
        error = fd < 0 ? errno : 0;
        if (fd >= 0)
            close(fd);
        opened = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    pthread_kill(blocked.native_handle(), SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (!opened && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const int writer = opened ? -1 : open(fifo.c_str(), O_WRONLY | O_NONBLOCK); // the way out
    blocked.join();
    if (writer >= 0)
        close(writer);
    EXPECT_EQ(error, EINTR) << "the open was restarted after the signal";
    EXPECT_EQ(stopSignal(), SIGTERM);
    std::signal(SIGINT, SIG_DFL);
    clearStopRequest();
    unlink(fifo.c_str());
    rmdir(folder);
}
