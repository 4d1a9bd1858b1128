#include "JobPool.h"

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

namespace OmbrelRender {

std::size_t runJobs(std::size_t count, std::size_t workers, bool stopAtFailure,
                    const std::function<bool(std::size_t)>& job,
                    const std::function<bool()>& stopped) {
    std::atomic<std::size_t> next{0};
    std::atomic<bool> stop{false};
    std::atomic<std::size_t> failures{0};
    auto worker = [&] {
        while (!stop && !(stopped && stopped())) {
            const std::size_t i = next++;
            if (i >= count)
                return;
            if (!job(i)) {
                ++failures;
                if (stopAtFailure)
                    stop = true;
            }
        }
    };
    const std::size_t threads = std::min(workers, count);
    if (threads <= 1) {
        worker();
    } else {
        std::vector<std::jthread> pool;
        for (std::size_t w = 0; w < threads; ++w)
            pool.emplace_back(worker);
    }
    return failures;
}

} // namespace OmbrelRender
