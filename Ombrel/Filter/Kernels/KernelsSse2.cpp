// The SSE2 row kernels: every x86-64 processor has them.
// Empty when compiled for another processor (the other slice of a universal macOS build).
#if defined(__x86_64__) || defined(_M_X64)

#include "Ombrel/Filter/Kernels/Sse2Traits.h"

#include "Ombrel/Filter/Kernels/KernelBody.h"

namespace Ombrel::Kernels {

const RowKernels& sse2Kernels() {
    static const RowKernels kernels = makeRowKernels<Sse2>();
    return kernels;
}

} // namespace Ombrel::Kernels

#endif // x86-64
