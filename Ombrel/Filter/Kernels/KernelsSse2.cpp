// The SSE2 row kernels: every x86-64 processor has them.
#include "Ombrel/Filter/Kernels/Sse2Traits.h"

#include "Ombrel/Filter/Kernels/KernelBody.h"

namespace Ombrel::Kernels {

const RowKernels& sse2Kernels() {
    static const RowKernels kernels = makeRowKernels<Sse2>();
    return kernels;
}

} // namespace Ombrel::Kernels
