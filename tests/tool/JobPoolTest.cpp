#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "JobPool.h"

using namespace OmbrelRender;

TEST(JobPool, EveryFrameRunsExactlyOnceWithAnyNumberOfWorkers) {
    for (const std::size_t count : {0u, 1u, 7u, 40u})
        for (const std::size_t workers : {0u, 1u, 3u, 64u}) {
            std::vector<std::atomic<int>> runs(count);
            const std::size_t failures = runJobs(count, workers, false, [&](std::size_t i) {
                ++runs[i];
                return i % 5 != 2;
            });
            for (std::size_t i = 0; i < count; ++i)
                EXPECT_EQ(runs[i], 1) << "frame " << i << " of " << count << ", " << workers;
            EXPECT_EQ(failures, (count + 2) / 5) << count << " frames, " << workers << " workers";
        }
}

TEST(JobPool, StopAtFailureStartsNothingAfterTheFailedFrame) {
    std::vector<std::size_t> started;
    const std::size_t failures = runJobs(6, 1, true, [&](std::size_t i) {
        started.push_back(i);
        return i != 2;
    });
    EXPECT_EQ(failures, 1u);
    EXPECT_EQ(started, (std::vector<std::size_t>{0, 1, 2}));

    // Without it, a failure does not stop the others.
    started.clear();
    EXPECT_EQ(runJobs(6, 1, false,
                      [&](std::size_t i) {
                          started.push_back(i);
                          return i != 2;
                      }),
              1u);
    EXPECT_EQ(started.size(), 6u);
}

TEST(JobPool, SeveralWorkersRunFramesAtTheSameTime) {
    // Each of the first two frames waits for the other to start: only concurrent workers let
    // both through. The wait is bounded so a serial schedule fails instead of hanging.
    std::mutex mutex;
    std::condition_variable arrived;
    int running = 0;
    const std::size_t failures = runJobs(2, 2, false, [&](std::size_t) {
        std::unique_lock lock(mutex);
        ++running;
        arrived.notify_all();
        return arrived.wait_for(lock, std::chrono::seconds(10), [&] { return running == 2; });
    });
    EXPECT_EQ(failures, 0u);
}

TEST(JobPool, NoFrameStartsAfterAStopRequest) {
    for (const std::size_t workers : {1u, 3u}) {
        std::atomic<bool> stop{false};
        std::atomic<std::size_t> started{0};
        const std::size_t failures = runJobs(
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
