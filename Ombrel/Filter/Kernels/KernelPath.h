// Which conversion kernels run: the rule the effect applies once per process, from the CPU and
// the environment variable OMBREL_KERNEL. Dependency-free (the standard C library and the
// compiler's CPUID access only), so that ombrel-render can say what a module built from the same
// sources will choose without reaching into the effect.
//
//   OMBREL_KERNEL unset, empty or "auto"   the fastest path this CPU and build have
//   OMBREL_KERNEL=scalar|sse2|sse41|avx2|avx512 (x86-64), scalar|neon (AArch64)
//                                          that path; one the CPU or build lacks falls back to the
//                                          fastest one below it (an x86 path asked for on AArch64,
//                                          or neon on x86-64, to the fastest the CPU has); an
//                                          unknown value counts as auto
//
// Every path gives the same bytes; the scalar one is the reference the others are tested against.
#pragma once

#include <cstdlib>
#include <cstring>

#if !defined(OMBREL_SIMD_OFF) && (defined(__x86_64__) || defined(_M_X64))
#define OMBREL_KERNELS_X86 1
#if defined(_MSC_VER)
#include <intrin.h>
#else
#include <cpuid.h>
#endif
#else
#define OMBREL_KERNELS_X86 0
#endif

// NEON is part of every AArch64 processor: no run-time check.
#if !defined(OMBREL_SIMD_OFF) && (defined(__aarch64__) || defined(_M_ARM64))
#define OMBREL_KERNELS_NEON 1
#else
#define OMBREL_KERNELS_NEON 0
#endif

namespace Ombrel::Kernels {

// The x86 paths in order of speed, each needing the instruction sets of those before it; then
// AArch64's one.
enum class Path { Scalar = 0, Sse2 = 1, Sse41 = 2, Avx2 = 3, Avx512 = 4, Neon = 5 };
inline constexpr int kPathCount = 6;

// Every path of this build's processor family, slowest first, and the vector ones among them.
#if OMBREL_KERNELS_NEON
inline constexpr Path kPaths[] = {Path::Scalar, Path::Neon};
inline constexpr Path kVectorPaths[] = {Path::Neon};
#else
inline constexpr Path kPaths[] = {Path::Scalar, Path::Sse2, Path::Sse41, Path::Avx2, Path::Avx512};
inline constexpr Path kVectorPaths[] = {Path::Sse2, Path::Sse41, Path::Avx2, Path::Avx512};
#endif

// The path's name, as OMBREL_KERNEL takes it.
inline const char* pathName(Path path) {
    static const char* const names[kPathCount] = {"scalar", "sse2",   "sse41",
                                                  "avx2",   "avx512", "neon"};
    const int i = static_cast<int>(path);
    return i >= 0 && i < kPathCount ? names[i] : "scalar";
}

// Whether a processor whose fastest path is `best` runs `path`: scalar everywhere, neon only
// beside neon, an x86 path where best is that one or a faster one.
inline bool runsOn(Path path, Path best) {
    if (path == Path::Scalar)
        return true;
    if (path == Path::Neon || best == Path::Neon)
        return path == best;
    return path <= best;
}

// What the path rule reads of the processor: CPUID leaves 1 and 7 (sub-leaf 0), and XCR0, the
// register in which the operating system says which register state it saves on context switches.
struct CpuidValues {
    unsigned maxLeaf = 0;             // CPUID leaf 0's eax: leaf 7 means nothing when it is below 7
    bool intel = false;               // leaf 0's vendor string is "GenuineIntel"
    unsigned leaf1[4] = {0, 0, 0, 0}; // eax, ebx, ecx, edx
    unsigned leaf7[4] = {0, 0, 0, 0};
    unsigned long long xcr0 = 0; // read with XGETBV, which exists only when leaf 1 says OSXSAVE
};

// The fastest path a processor with these values can run and its operating system supports:
// AVX2 registers need the OS to save the YMM state on context switches, AVX-512 ones the opmask
// and all of the ZMM state too.
inline Path bestPath(const CpuidValues& v) {
    const bool sse2 = (v.leaf1[3] >> 26) & 1u;
    const bool sse41 = (v.leaf1[2] >> 19) & 1u;
    const bool osxsave = (v.leaf1[2] >> 27) & 1u;
    const bool avx = (v.leaf1[2] >> 28) & 1u;
    const unsigned leaf7ebx = v.maxLeaf >= 7 ? v.leaf7[1] : 0u;
    const bool avx2 = (leaf7ebx >> 5) & 1u;
    // AVX-512 Foundation, Doubleword and Quadword, Byte and Word, Vector Length.
    const bool avx512 = ((leaf7ebx >> 16) & 1u) && ((leaf7ebx >> 17) & 1u) &&
                        ((leaf7ebx >> 30) & 1u) && ((leaf7ebx >> 31) & 1u);
    // XCR0 bits 1 and 2: the OS saves the SSE and the upper YMM halves; bits 5 to 7: the opmask
    // registers, the upper halves of ZMM0-15 and ZMM16-31.
    const bool osYmm = osxsave && avx && (v.xcr0 & 6u) == 6u;
    const bool osZmm = osYmm && (v.xcr0 & 0xE0u) == 0xE0u;
    if (sse2 && sse41 && avx2 && avx512 && osZmm)
        return Path::Avx512;
    if (sse2 && sse41 && avx2 && osYmm)
        return Path::Avx2;
    if (sse2 && sse41)
        return Path::Sse41;
    if (sse2)
        return Path::Sse2;
    return Path::Scalar;
}

#if OMBREL_KERNELS_X86
// Leaf 0's vendor string, in ebx, edx, ecx order: "Genu", "ineI", "ntel".
inline bool isIntel(unsigned ebx, unsigned edx, unsigned ecx) {
    return ebx == 0x756E6547u && edx == 0x49656E69u && ecx == 0x6C65746Eu;
}

// This processor's values.
inline CpuidValues readCpuid() {
    CpuidValues v;
#if defined(_MSC_VER)
    int r[4];
    __cpuid(r, 0);
    v.maxLeaf = static_cast<unsigned>(r[0]);
    v.intel = isIntel(static_cast<unsigned>(r[1]), static_cast<unsigned>(r[3]),
                      static_cast<unsigned>(r[2]));
    __cpuid(r, 1);
    for (int i = 0; i < 4; ++i)
        v.leaf1[i] = static_cast<unsigned>(r[i]);
    if (v.maxLeaf >= 7) {
        __cpuidex(r, 7, 0);
        for (int i = 0; i < 4; ++i)
            v.leaf7[i] = static_cast<unsigned>(r[i]);
    }
#else
    unsigned ebx = 0, ecx = 0, edx = 0;
    __get_cpuid(0, &v.maxLeaf, &ebx, &ecx, &edx);
    v.intel = isIntel(ebx, edx, ecx);
    __get_cpuid(1, &v.leaf1[0], &v.leaf1[1], &v.leaf1[2], &v.leaf1[3]);
    if (v.maxLeaf >= 7)
        __cpuid_count(7, 0, v.leaf7[0], v.leaf7[1], v.leaf7[2], v.leaf7[3]);
#endif
    if ((v.leaf1[2] >> 27) & 1u) { // OSXSAVE: XGETBV may be executed
#if defined(_MSC_VER)
        v.xcr0 = _xgetbv(0);
#else
        unsigned lo = 0, hi = 0;
        __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
        v.xcr0 = (static_cast<unsigned long long>(hi) << 32) | lo;
#endif
    }
    return v;
}
#endif

// The fastest path this processor can run: neon on AArch64. Scalar when the vector paths are not
// built (OMBREL_SIMD off, or neither an x86-64 nor an AArch64 target).
inline Path cpuBestPath() {
#if OMBREL_KERNELS_NEON
    return Path::Neon;
#elif OMBREL_KERNELS_X86
    return bestPath(readCpuid());
#else
    return Path::Scalar;
#endif
}

struct PathChoice {
    Path path;
    const char* reason; // one line, for ombrel-render --info
};

// The rule itself, given the CPU's best path and the variable's value (null when unset).
inline PathChoice choosePath(Path best, const char* request) {
    const bool automatic = request == nullptr || *request == '\0' || !std::strcmp(request, "auto");
    if (automatic) {
        return {best, best == Path::Scalar ? "no vector path in this build or on this CPU"
                                           : "the fastest path this CPU has"};
    }
    for (int i = 0; i < kPathCount; ++i) {
        const Path p = static_cast<Path>(i);
        if (std::strcmp(request, pathName(p)) != 0)
            continue;
        if (runsOn(p, best))
            return {p, "OMBREL_KERNEL asks for it"};
        return {best, "OMBREL_KERNEL asks for a path this CPU or build lacks; the fastest below"};
    }
    return {best, "OMBREL_KERNEL has an unknown value; the fastest path this CPU has"};
}

// What the effect chooses in this process's environment.
inline PathChoice choosePath() {
#if defined(_MSC_VER)
#pragma warning(suppress : 4996) // getenv: read once, not kept
#endif
    const char* request = std::getenv("OMBREL_KERNEL");
    return choosePath(cpuBestPath(), request);
}

} // namespace Ombrel::Kernels
