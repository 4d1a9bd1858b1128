// The SSE4.1 row kernels: SSE2's, with blends, an exact floor, byte shuffles to spread the 8-bit
// channels and unsigned 16-bit packing.
#include <smmintrin.h>

#include "Ombrel/Filter/Kernels/Sse2Traits.h"

#include "Ombrel/Filter/Kernels/KernelBody.h"

namespace Ombrel::Kernels {
namespace {

struct Sse41 : Sse2 {
    static F select(F m, F yes, F no) { return _mm_blendv_ps(no, yes, m); }
    static F floor(F x) { return _mm_floor_ps(x); }

    // Each channel byte repeated into the three low bytes of its lane (see dec8FromRepeated).
    static void load8(const PF_Pixel* p, I& raw, F& r, F& g, F& b) {
        raw = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        r = dec8FromRepeated(_mm_shuffle_epi8(raw, spread(1)));
        g = dec8FromRepeated(_mm_shuffle_epi8(raw, spread(2)));
        b = dec8FromRepeated(_mm_shuffle_epi8(raw, spread(3)));
    }
    static I spread(char c) {
        const char z = -1; // shuffle index with the top bit set: a zero byte
        return _mm_setr_epi8(c, c, c, z, char(c + 4), char(c + 4), char(c + 4), z, char(c + 8),
                             char(c + 8), char(c + 8), z, char(c + 12), char(c + 12), char(c + 12),
                             z);
    }

    static void store16(PF_Pixel16* p, I a, I r, I g, I b) {
        store16Packed(p, _mm_packus_epi32(a, r), _mm_packus_epi32(g, b));
    }
};

} // namespace

const RowKernels& sse41Kernels() {
    static const RowKernels kernels = makeRowKernels<Sse41>();
    return kernels;
}

} // namespace Ombrel::Kernels
