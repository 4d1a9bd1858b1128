// Runs a region filter over a region of a layer in horizontal bands, one band per iteration of
// the host's iterate_generic, on the host's worker threads.
//
// Band i of n over a region of h rows covers rows top + i*h/n up to (excluding)
// top + (i+1)*h/n: contiguous, disjoint, covering every row once, heights differing by at most
// one (h = 10, n = 4 gives rows 0-1, 2-4, 5-6, 7-9).
#pragma once

#include <cstdint>
#include <type_traits>

#include "HostInterface/SuiteInterface.h"
#include "Ombrel/Filter/OmbrelFilter.h"
#include "Ombrel/OmbrelGeneral.h"
#include "Ombrel/OmbrelLayer.h"
#include "Util/AEGP_SuiteHandler.h"

namespace Ombrel {

// What every iteration reads; lives on the stack of FilterMulti while iterate_generic runs.
template <class F>
struct FilterJob {
    PF_InData* inData;
    F* filter;
    Layer* src;
    Layer* dst;
    Rect region;
    int count; // bands, equal to the iterations requested
};

// One band. A filter reports no errors, so a band returns 0, unless the filter throws:
// nothing may unwind into the host's worker threads, so that is caught and returned as
// PF_Err_INTERNAL_STRUCT_DAMAGED, which iterate_generic passes on as the frame's result.
template <class F>
static PF_Err ExecuteFilter(void* refcon, A_long /*thread_index*/, A_long i,
                            A_long /*iterations*/) {
    const FilterJob<F>& job = *static_cast<const FilterJob<F>*>(refcon);
    const std::int64_t n = job.count;
    const std::int64_t h = job.region.bottom - job.region.top;
    // 64-bit products: i * h overflows 32 bits on tall regions split many ways.
    const int top = job.region.top + static_cast<int>(i * h / n);
    const int bottom = job.region.top + static_cast<int>((i + 1) * h / n);
    try {
        job.filter->execute(*job.src, *job.dst,
                            Rect(job.region.left, top, job.region.right, bottom));
    } catch (...) {
        return PF_Err_INTERNAL_STRUCT_DAMAGED;
    }
    return PF_Err_NONE;
}

// Whether F decides per-frame work once, before the bands (F::prepare(src, dst)).
template <class F, class = void>
struct HasPrepare : std::false_type {};
template <class F>
struct HasPrepare<F, std::void_t<decltype(std::declval<F&>().prepare(
                         std::declval<Layer&>(), std::declval<Layer&>()))>> : std::true_type {};

// Runs F over region of dst, reading src, in `count` bands. An empty region returns 0 without
// touching the host. The count is the host's thread count: one below 1 renders in a single band
// (the frame must not be left unwritten), and one above the region's rows is cut to the rows
// (surplus bands would be empty work). A missing iterate suite throws PF_Err 516 from the suite
// handler. Returns what iterate_generic returns.
template <class F>
int FilterMulti(PF_InData* in_data, Layer& src, Layer& dst, const Rect& region, int count,
                const typename F::Parameter& param) {
    if (region.isEmpty())
        return PF_Err_NONE;
    const int rows = region.getHeight();
    if (count < 1)
        count = 1;
    if (count > rows)
        count = rows;

    AEGP_SuiteHandler suites(in_data->pica_basicP);
    F filter(param);
    if constexpr (HasPrepare<F>::value)
        filter.prepare(src, dst);
    FilterJob<F> job{in_data, &filter, &src, &dst, region, count};
    const PF_Iterate8Suite1* iterate = suites.Iterate8Suite1();
    return iterate->iterate_generic(count, &job, ExecuteFilter<F>);
}

} // namespace Ombrel
