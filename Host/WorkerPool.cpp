#include "Host/WorkerPool.h"

#if defined(__x86_64__) || defined(_M_X64) || defined(__i386__)
#include <immintrin.h>
#endif

namespace OmbrelHost::detail {

namespace {

std::int64_t ticksNow() {
    return std::chrono::steady_clock::now().time_since_epoch().count();
}

// A hint to the core that this thread is polling.
void pauseBriefly() {
#if defined(__x86_64__) || defined(_M_X64) || defined(__i386__)
    _mm_pause();
#elif defined(__aarch64__)
    __asm__ __volatile__("yield");
#endif
}

} // namespace

struct WorkerPool::Job {
    A_long iterations = 0;
    void* refcon = nullptr;
    PF_IterateGenericFunc fn = nullptr;
    A_long claimed = 0;  // next index to claim
    A_long finished = 0; // iterations done or skipped
    PF_Err err = PF_Err_NONE;
    bool threw = false;
    bool queued = false;
    bool uncounted = false;
    Job* next = nullptr;
};

WorkerPool::WorkerPool(int threads)
    : threads_(threads < 1 ? 1 : threads),
      perThread_(std::make_unique<std::atomic<long>[]>(static_cast<std::size_t>(threads_))) {
    for (int t = 0; t < threads_; ++t)
        perThread_[static_cast<std::size_t>(t)] = 0;
    workers_.reserve(static_cast<std::size_t>(threads_ - 1));
    for (int t = 1; t < threads_; ++t)
        workers_.emplace_back([this, t] { workerLoop(t); });
}

WorkerPool::~WorkerPool() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    work_.notify_all();
    for (std::thread& t : workers_)
        t.join();
}

std::vector<long> WorkerPool::iterationsPerThread() const {
    std::vector<long> counts(static_cast<std::size_t>(threads_));
    for (std::size_t t = 0; t < counts.size(); ++t)
        counts[t] = perThread_[t].load();
    return counts;
}

void WorkerPool::enqueue(Job& job) {
    Job** tail = &head_;
    while (*tail != nullptr)
        tail = &(*tail)->next;
    *tail = &job;
    job.queued = true;
    hasWork_ = true;
}

void WorkerPool::unlink(Job& job) {
    if (!job.queued)
        return;
    for (Job** link = &head_; *link != nullptr; link = &(*link)->next) {
        if (*link == &job) {
            *link = job.next;
            break;
        }
    }
    job.queued = false;
    hasWork_ = head_ != nullptr;
}

void WorkerPool::warm(std::chrono::steady_clock::duration d) {
    if (workers_.empty())
        return;
    {
        // Under the mutex, so that a worker between its check of the deadline and its wait
        // cannot miss the notification.
        std::lock_guard lock(mutex_);
        const std::int64_t until = ticksNow() + d.count();
        if (until > warmUntil_)
            warmUntil_ = until;
    }
    work_.notify_all();
}

bool WorkerPool::claim(Job& job, A_long& i) {
    if (job.claimed >= job.iterations)
        return false;
    i = job.claimed++;
    if (job.claimed >= job.iterations)
        unlink(job);
    return true;
}

void WorkerPool::runOne(Job& job, A_long i, int threadIndex) {
    bool skip;
    {
        std::lock_guard lock(mutex_);
        skip = job.err != PF_Err_NONE;
    }
    PF_Err err = PF_Err_NONE;
    bool threw = false;
    if (!skip) {
        if (!job.uncounted)
            perThread_[static_cast<std::size_t>(threadIndex)].fetch_add(1);
        try {
            err = job.fn(job.refcon, threadIndex, i, job.iterations);
        } catch (...) {
            err = PF_Err_INTERNAL_STRUCT_DAMAGED;
            threw = true;
        }
    }
    std::lock_guard lock(mutex_);
    if (err != PF_Err_NONE && job.err == PF_Err_NONE)
        job.err = err;
    job.threw = job.threw || threw;
    // Notify under the lock: the caller may destroy the job as soon as it sees it finished.
    if (++job.finished == job.iterations)
        done_.notify_all();
}

void WorkerPool::rest() {
    std::lock_guard lock(mutex_);
    warmUntil_ = 0;
}

void WorkerPool::workerLoop(int index) {
    std::unique_lock lock(mutex_);
    for (;;) {
        if (stopping_)
            return;
        if (head_ == nullptr) {
            if (ticksNow() < warmUntil_) {
                lock.unlock();
                while (!hasWork_ && !stopping_ && ticksNow() < warmUntil_)
                    for (int k = 0; k < 32; ++k)
                        pauseBriefly();
                lock.lock();
            } else {
                work_.wait(lock);
            }
            continue;
        }
        Job& job = *head_;
        A_long i = 0;
        if (!claim(job, i))
            continue;
        lock.unlock();
        runOne(job, i, index);
        lock.lock();
    }
}

PF_Err WorkerPool::run(A_long iterations, void* refcon, PF_IterateGenericFunc fn, bool& threw,
                       bool uncounted) {
    threw = false;
    if (iterations <= 0)
        return PF_Err_NONE;
    Job job;
    job.iterations = iterations;
    job.refcon = refcon;
    job.fn = fn;
    job.uncounted = uncounted;
    job.claimed = 1; // iteration 0 is the caller's, whoever else is free first
    if (iterations > 1 && !workers_.empty()) {
        {
            std::lock_guard lock(mutex_);
            enqueue(job);
            if (!uncounted) // the effect's bands: the workers sleep again once they are done
                warmUntil_ = 0;
        }
        work_.notify_all();
    }
    runOne(job, 0, 0);
    std::unique_lock lock(mutex_);
    for (;;) {
        A_long i = 0;
        if (!claim(job, i))
            break;
        lock.unlock();
        runOne(job, i, 0);
        lock.lock();
    }
    done_.wait(lock, [&job] { return job.finished == job.iterations; });
    threw = job.threw;
    return job.err;
}

} // namespace OmbrelHost::detail
