// iterate_generic on the host's persistent pool: every index once, concurrently, on the same
// threads from call to call, from several frames at once.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "Host/CommandRecords.h"
#include "Host/OmbrelHost.h"
#include "Host/WorkerPool.h"

namespace {

using OmbrelHost::CommandRecords;
using OmbrelHost::Host;

const PF_Iterate8Suite1* iterateSuite(CommandRecords& records) {
    const void* suite = nullptr;
    records.inData()->pica_basicP->AcquireSuite(kPFIterate8Suite, 1, &suite);
    return static_cast<const PF_Iterate8Suite1*>(suite);
}

struct Record {
    std::mutex mutex;
    std::vector<int> calls;                     // per index
    std::map<A_long, std::thread::id> threadOf; // thread_index -> thread
    bool threadIndexMoved = false;              // one index seen on two threads
    A_long iterationsSeen = -1;
    // Rendezvous: each call waits until `meet` calls have arrived (0: no waiting).
    int meet = 0;
    int arrived = 0;
    std::condition_variable cv;
    bool allMet = true;
};

PF_Err recordCall(void* refcon, A_long thread, A_long i, A_long iterations) {
    auto& r = *static_cast<Record*>(refcon);
    std::unique_lock lock(r.mutex);
    ++r.calls.at(static_cast<std::size_t>(i));
    r.iterationsSeen = iterations;
    auto [it, inserted] = r.threadOf.emplace(thread, std::this_thread::get_id());
    if (!inserted && it->second != std::this_thread::get_id())
        r.threadIndexMoved = true;
    if (r.meet > 0) {
        ++r.arrived;
        r.cv.notify_all();
        // A generous bound only so that a broken pool fails instead of hanging.
        if (!r.cv.wait_for(lock, std::chrono::seconds(20), [&] { return r.arrived >= r.meet; }))
            r.allMet = false;
    }
    return PF_Err_NONE;
}

TEST(IterateGeneric, RunsEveryIndexOnceConcurrentlyOnAPersistentPool) {
    Host host({.threads = 4});
    CommandRecords records(host);
    const PF_Iterate8Suite1* suite = iterateSuite(records);
    ASSERT_NE(suite, nullptr);

    // Four iterations that only finish once all four run at the same time: the pool (three
    // workers and the caller) must run them concurrently.
    Record first;
    first.calls.assign(4, 0);
    first.meet = 4;
    ASSERT_EQ(suite->iterate_generic(4, &first, recordCall), PF_Err_NONE);
    EXPECT_TRUE(first.allMet);
    EXPECT_EQ(first.calls, std::vector<int>(4, 1));
    EXPECT_EQ(first.iterationsSeen, 4);
    EXPECT_EQ(first.threadOf.size(), 4u);
    EXPECT_EQ(first.threadOf.at(0), std::this_thread::get_id()); // the caller helps

    Record second;
    second.calls.assign(4, 0);
    second.meet = 4;
    ASSERT_EQ(suite->iterate_generic(4, &second, recordCall), PF_Err_NONE);
    // The same thread behind each thread index: the pool was not made anew.
    EXPECT_EQ(second.threadOf, first.threadOf);

    Record many;
    many.calls.assign(1000, 0);
    ASSERT_EQ(suite->iterate_generic(1000, &many, recordCall), PF_Err_NONE);
    EXPECT_EQ(many.calls, std::vector<int>(1000, 1));
    EXPECT_FALSE(many.threadIndexMoved);
    for (const auto& [index, id] : many.threadOf)
        EXPECT_EQ(id, first.threadOf.at(index));
    long total = 0;
    for (long n : host.iterationsPerThread())
        total += n;
    EXPECT_EQ(total, 1008);
    records.inData()->pica_basicP->ReleaseSuite(kPFIterate8Suite, 1);
}

TEST(IterateGeneric, NoIterationsMakeNoCall) {
    Host host({.threads = 2});
    CommandRecords records(host);
    const PF_Iterate8Suite1* suite = iterateSuite(records);
    Record r;
    EXPECT_EQ(suite->iterate_generic(0, &r, recordCall), PF_Err_NONE);
    EXPECT_EQ(suite->iterate_generic(-3, &r, recordCall), PF_Err_NONE);
    EXPECT_TRUE(r.threadOf.empty());
    EXPECT_EQ(suite->iterate_generic(1, &r, nullptr), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(host.callCount("iterate_generic"), 3);
    records.inData()->pica_basicP->ReleaseSuite(kPFIterate8Suite, 1);
}

TEST(IterateGeneric, ReturnsTheFirstErrorAndStopsStartingIterations) {
    Host host({.threads = 1});
    CommandRecords records(host);
    const PF_Iterate8Suite1* suite = iterateSuite(records);
    std::atomic<int> calls{0};
    auto failAtThree = [](void* refcon, A_long, A_long i, A_long) -> PF_Err {
        ++*static_cast<std::atomic<int>*>(refcon);
        return i == 3 ? PF_Err_OUT_OF_MEMORY : PF_Err_NONE;
    };
    EXPECT_EQ(suite->iterate_generic(10, &calls, failAtThree), PF_Err_OUT_OF_MEMORY);
    EXPECT_EQ(calls.load(), 4); // one thread runs them in order
    auto throws = [](void*, A_long, A_long, A_long) -> PF_Err { throw 1; };
    EXPECT_EQ(suite->iterate_generic(2, nullptr, throws), PF_Err_INTERNAL_STRUCT_DAMAGED);
    EXPECT_FALSE(host.held().misuse.empty());
    records.inData()->pica_basicP->ReleaseSuite(kPFIterate8Suite, 1);
}

struct Nested {
    const PF_Iterate8Suite1* suite;
    std::atomic<int> inner{0};
};

TEST(IterateGeneric, SeveralFramesAndNestedCallsComplete) {
    Host host({.threads = 3});
    CommandRecords records(host);
    const PF_Iterate8Suite1* suite = iterateSuite(records);

    // Four frames share the pool, each with more iterations than there are threads.
    std::vector<Record> frames(4);
    std::vector<std::thread> threads;
    for (Record& r : frames) {
        r.calls.assign(50, 0);
        threads.emplace_back([&r, suite] {
            for (int round = 0; round < 20; ++round)
                suite->iterate_generic(50, &r, recordCall);
        });
    }
    for (std::thread& t : threads)
        t.join();
    for (const Record& r : frames)
        EXPECT_EQ(r.calls, std::vector<int>(50, 20));

    // An iteration that iterates again does not wait for a worker that never comes.
    Nested nested{suite};
    auto outer = [](void* refcon, A_long, A_long, A_long) -> PF_Err {
        auto& n = *static_cast<Nested*>(refcon);
        auto inner = [](void* c, A_long, A_long, A_long) -> PF_Err {
            ++*static_cast<std::atomic<int>*>(c);
            return PF_Err_NONE;
        };
        return n.suite->iterate_generic(5, &n.inner, inner);
    };
    EXPECT_EQ(suite->iterate_generic(6, &nested, outer), PF_Err_NONE);
    EXPECT_EQ(nested.inner.load(), 30);
    records.inData()->pica_basicP->ReleaseSuite(kPFIterate8Suite, 1);
}

// Workers kept polling: a job still reaches all of them (rest() ends the polling, a second
// warm() starts it again), and a pool destroyed while they poll does not wait for the deadline
// (the test's timeout catches that).
TEST(WorkerPool, PollingWorkersRunJobsAndStop) {
    for (bool restFirst : {false, true}) {
        OmbrelHost::detail::WorkerPool pool(3);
        pool.warm(std::chrono::hours(1));
        if (restFirst) {
            pool.rest();
            pool.warm(std::chrono::hours(1));
        }
        Record r;
        r.calls.assign(3, 0);
        r.meet = 3;
        bool threw = true;
        EXPECT_EQ(pool.run(3, &r, recordCall, threw), PF_Err_NONE);
        EXPECT_FALSE(threw);
        EXPECT_TRUE(r.allMet);
        EXPECT_EQ(r.calls, std::vector<int>(3, 1));
        pool.warm(std::chrono::hours(1));
        std::this_thread::sleep_for(std::chrono::milliseconds(50)); // the workers are polling
    }
}

} // namespace
