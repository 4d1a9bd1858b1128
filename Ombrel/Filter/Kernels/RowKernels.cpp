#include "Ombrel/Filter/Kernels/RowKernels.h"

#include "Ombrel/Filter/Kernels/KernelPath.h"
#include "Ombrel/Filter/OmbrelConversions.h"

namespace Ombrel::Kernels {

// The kernels' rows are the table's first rows (a row added later runs the scalar code).
static_assert(kKernelConversions <= kConversionCount);
static_assert(kConversions[kRgbToYuv].type == RGB_TO_YUV);
static_assert(kConversions[kYuvToRgb].type == YUV_TO_RGB);
static_assert(kConversions[kRgbToHls].type == RGB_TO_HLS);
static_assert(kConversions[kHlsToRgb].type == HLS_TO_RGB);
static_assert(kConversions[kRgbToHsb].type == RGB_TO_HSB);
static_assert(kConversions[kHsbToRgb].type == HSB_TO_RGB);

#if OMBREL_KERNELS_X86
// One per instruction-set unit, each built with its own flags.
const RowKernels& sse2Kernels();
const RowKernels& sse41Kernels();
const RowKernels& avx2Kernels();
const RowKernels& avx512Kernels();
#elif OMBREL_KERNELS_NEON
const RowKernels& neonKernels();
#endif

const RowKernels* rowKernels(Path path) {
#if OMBREL_KERNELS_X86
    static const Path best = cpuBestPath();
    if (!runsOn(path, best))
        return nullptr;
    switch (path) {
    case Path::Sse2:
        return &sse2Kernels();
    case Path::Sse41:
        return &sse41Kernels();
    case Path::Avx2:
        return &avx2Kernels();
    case Path::Avx512:
        return &avx512Kernels();
    case Path::Scalar:
    case Path::Neon:
        break;
    }
#elif OMBREL_KERNELS_NEON
    if (path == Path::Neon)
        return &neonKernels();
#else
    (void)path;
#endif
    return nullptr;
}

bool streams8And16() {
#if OMBREL_KERNELS_X86
    static const bool intel = readCpuid().intel;
    return intel;
#else
    return false;
#endif
}

Path activePath() {
    static const Path path = choosePath().path;
    return path;
}

} // namespace Ombrel::Kernels
