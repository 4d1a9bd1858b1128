// The host's persistent worker threads behind iterate_generic.
//
// A pool made for N threads starts N - 1 workers once and keeps them until it is destroyed. A
// call to run() queues its job, then the calling thread runs iterations of its own job too (as
// thread index 0, always iteration 0 first) while the workers (indexes 1..N-1) take the
// others. So a job always makes progress even when every worker is busy with other frames' jobs
// or the caller is itself a worker (an iteration that calls iterate_generic again), and N
// threads at most run one job. thread_index is unique among the iterations of one job running
// at the same moment.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "HostInterface/SuiteInterface.h"

namespace OmbrelHost::detail {

class WorkerPool {
public:
    explicit WorkerPool(int threads);
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    // Calls fn(refcon, thread_index, i, iterations) once for each i in 0..iterations-1 and
    // returns when all calls have finished. After the first non-zero result no further
    // iteration is started and that result is returned. An exception out of fn counts as
    // PF_Err_INTERNAL_STRUCT_DAMAGED and sets `threw`.
    // Iterations of `uncounted` jobs (the host's own work) are left out of
    // iterationsPerThread().
    PF_Err run(A_long iterations, void* refcon, PF_IterateGenericFunc fn, bool& threw,
               bool uncounted = false);

    // Keeps idle workers awake (polling, not sleeping) for up to `d` or until the next job
    // arrives, whichever comes first. The host calls it as it starts preparing a frame: a worker
    // that sleeps on the condition variable takes 80 to 110 us to start once woken on a virtual
    // machine, longer after a long sleep, which is a noticeable part of a 2 ms frame's bands.
    void warm(std::chrono::steady_clock::duration d);
    // Ends warm() early: idle workers sleep again.
    void rest();

    int threads() const { return threads_; }
    std::vector<long> iterationsPerThread() const;

private:
    struct Job;
    void workerLoop(int index);
    void runOne(Job& job, A_long i, int threadIndex);
    bool claim(Job& job, A_long& i); // with mutex_ held
    void enqueue(Job& job);          // with mutex_ held
    void unlink(Job& job);           // with mutex_ held

    int threads_;
    std::vector<std::thread> workers_;
    mutable std::mutex mutex_;
    std::condition_variable work_; // a job was queued, or the pool is stopping
    std::condition_variable done_; // some job finished its last iteration
    // Jobs with iterations not yet claimed, oldest first; linked through the jobs themselves so
    // that queuing allocates nothing.
    Job* head_ = nullptr;
    // Written with the mutex held; read without it by workers that poll (warm()).
    std::atomic<bool> stopping_{false};
    std::atomic<bool> hasWork_{false};       // head_ != nullptr
    std::atomic<std::int64_t> warmUntil_{0}; // steady_clock ticks: idle workers poll until then
    std::unique_ptr<std::atomic<long>[]> perThread_;
};

} // namespace OmbrelHost::detail
