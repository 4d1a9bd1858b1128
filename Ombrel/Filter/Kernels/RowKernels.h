// Vector row kernels of the conversion filter, one set per x86 path and one for NEON, and the
// process's choice among them.
//
// A row kernel converts `count` pixels of a row, `count` a multiple of `lanes`, a vector at a
// time; the caller handles what is left of a row (RowKernels::lanes pixels at most). Each pixel
// is read whole before its destination is written, so src may equal dst. Bytes are identical to
// the scalar code's for every input.
#pragma once

#include "HostInterface/EffectInterface.h"
#include "Ombrel/OmbrelPixelLayout.h"

namespace Ombrel::Kernels {

// Declared in KernelPath.h, which the instruction-set units must not include (its inline
// functions would be compiled there with their flags).
enum class Path;

template <class Pixel>
using RowKernel = void (*)(const Pixel* src, Pixel* dst, int count);

// The conversions by their rows in the effect's table (Ombrel/Filter/OmbrelConversions.h, which
// RowKernels.cpp checks this against; the instruction-set units cannot include that table, whose
// functions are inline).
enum KernelConversion : int {
    kRgbToYuv = 0,
    kYuvToRgb = 1,
    kRgbToHls = 2,
    kHlsToRgb = 3,
    kRgbToHsb = 4,
    kHsbToRgb = 5,
    kKernelConversions = 6
};

// The widest vector, in pixels.
constexpr int kMaxLanes = 16;

// Indexed by the conversion's row.
struct RowKernels {
    int lanes; // pixels per vector
    RowKernel<PF_Pixel> row8[kKernelConversions];
    RowKernel<PF_Pixel16> row16[kKernelConversions];
    RowKernel<PF_PixelFloat> row32[kKernelConversions];
    // The BGRA worlds' (8 and 32 bits); null where the path has none, which runs the scalar code.
    RowKernel<PixelBGRA8> row8Bgra[kKernelConversions];
    RowKernel<PixelBGRAFloat> row32Bgra[kKernelConversions];
    // The ARGB kernels with streaming stores (past the caches, for frames larger than them): the
    // same bytes, dst aligned to streamAlignment bytes. Null, and streamAlignment 0, on a path
    // without them; stream8 and stream16 null on a path with 32-bit ones only.
    int streamAlignment;
    RowKernel<PF_PixelFloat> stream32[kKernelConversions];
    RowKernel<PF_Pixel> stream8[kKernelConversions];
    RowKernel<PF_Pixel16> stream16[kKernelConversions];
};

// The kernels of a path, or null for the scalar path and for a path this build or CPU lacks.
const RowKernels* rowKernels(Path path);

// Whether frames of 8 and 16 bits larger than the caches take the streaming kernels on this
// processor (32-bit ones take them on every processor). Measured through the simulated host at
// 3840 x 2160: on an Intel Xeon core, memory-bound 8- and 16-bit conversions ran 15 to 50 %
// faster with them (an ordinary store to a line not in the caches reads the line first, and one
// core has too few line fills in flight to hide that); on AMD Zen 3 and Zen 5 cores the 16-bit
// ones ran 8 to 16 % slower, and the 8-bit ones no faster. True on Intel processors only.
bool streams8And16();

// The path chosen once per process (on first call; global setup makes that call) from the CPU
// and OMBREL_KERNEL. Thread-safe.
Path activePath();

} // namespace Ombrel::Kernels
