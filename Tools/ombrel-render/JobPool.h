// The job pool: calls a job for each frame of a run on up to --jobs threads at once, and stops
// starting new ones at a failure or a stop request.
#pragma once

#include <cstddef>
#include <functional>

namespace OmbrelRender {

// Calls job(i) once for each i in 0..count-1, started in index order, on up to `workers`
// threads at once (the calling thread alone when workers <= 1). `job` returns false for a
// failed frame and reports the failure itself; it must not throw. With `stopAtFailure`, no
// frame starts after one has failed (frames already started finish); likewise none starts once
// `stopped`, when given, returns true. Returns the number of failed frames.
std::size_t runJobs(std::size_t count, std::size_t workers, bool stopAtFailure,
                    const std::function<bool(std::size_t)>& job,
                    const std::function<bool()>& stopped = {});

} // namespace OmbrelRender
