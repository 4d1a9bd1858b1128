// The SSE4.1 row kernels: SSE2's, with blends, an exact floor, byte shuffles to spread the 8-bit
// channels and unsigned 16-bit packing.
// Empty when compiled for another processor (the other slice of a universal macOS build).
#if defined(__x86_64__) || defined(_M_X64)

#include <smmintrin.h>

#include "Ombrel/Filter/Kernels/Sse2Traits.h"

#include "Ombrel/Filter/Kernels/KernelBody.h"

namespace Ombrel::Kernels {
namespace {

struct Sse41 : Sse2 {
    static F select(F m, F yes, F no) { return _mm_blendv_ps(no, yes, m); }
    static F floor(F x) { return _mm_floor_ps(x); }
    // Only the sign bit matters to blendv.
    static F bitMask(I i, int k) {
        return _mm_castsi128_ps(_mm_sll_epi32(i, _mm_cvtsi32_si128(31 - k)));
    }

    // Zero for x = 0: the sum is then negative as an integer.
    static F dec8FromRepeated(I t) {
        const I bits = _mm_castps_si128(dec8ScaledFromRepeated<0>(t));
        return _mm_castsi128_ps(_mm_max_epi32(bits, _mm_setzero_si128()));
    }
    // Each colour byte repeated into the three low bytes of its lane (see dec8FromRepeated), in
    // memory order around the alpha byte at A (0 or 3).
    template <int A>
    static void load8At(const PF_Pixel* p, I& raw, F& x, F& y, F& z) {
        constexpr char first = A == 0 ? 1 : 0;
        raw = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        x = dec8FromRepeated(_mm_shuffle_epi8(raw, spread(first)));
        y = dec8FromRepeated(_mm_shuffle_epi8(raw, spread(first + 1)));
        z = dec8FromRepeated(_mm_shuffle_epi8(raw, spread(first + 2)));
    }
    template <int A, int KX, int KY, int KZ>
    static void load8ScaledAt(const PF_Pixel* p, I& raw, F& x, F& y, F& z) {
        constexpr char first = A == 0 ? 1 : 0;
        raw = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        x = dec8ScaledFromRepeated<KX>(_mm_shuffle_epi8(raw, spread(first)));
        y = dec8ScaledFromRepeated<KY>(_mm_shuffle_epi8(raw, spread(first + 1)));
        z = dec8ScaledFromRepeated<KZ>(_mm_shuffle_epi8(raw, spread(first + 2)));
    }
    static I spread(char c) {
        const char z = -1; // shuffle index with the top bit set: a zero byte
        return _mm_setr_epi8(c, c, c, z, char(c + 4), char(c + 4), char(c + 4), z, char(c + 8),
                             char(c + 8), char(c + 8), z, char(c + 12), char(c + 12), char(c + 12),
                             z);
    }

    // The quantiser with its lower clamp left to the saturating packs: v > m gives m; NaN
    // (truncated to INT_MIN) and negatives end as 0; the rest is truncated.
    static I truncBelow(F v, float m) { return _mm_cvttps_epi32(_mm_min_ps(_mm_set1_ps(m), v)); }

    // At 8 bits the packs do the whole quantiser: every value that reaches it from 8-bit pixels
    // is finite and far below 2^31 (kernel_equality_tests checks all of them), so truncation
    // keeps it, and the packs' saturation maps negatives and NaN (INT_MIN) to 0 and anything
    // above 255 to 255.
    template <int A>
    static void store8At(PF_Pixel* p, I raw, F x, F y, F z) {
        // Planes of the four channels in memory order, interleaved into pixels.
        I planes;
        if constexpr (A == 0) {
            const I a = _mm_and_si128(raw, _mm_set1_epi32(0xFF));
            planes = _mm_packus_epi16(_mm_packs_epi32(a, _mm_cvttps_epi32(x)),
                                      _mm_packs_epi32(_mm_cvttps_epi32(y), _mm_cvttps_epi32(z)));
        } else {
            const I a = _mm_srli_epi32(raw, 24);
            planes = _mm_packus_epi16(_mm_packs_epi32(_mm_cvttps_epi32(x), _mm_cvttps_epi32(y)),
                                      _mm_packs_epi32(_mm_cvttps_epi32(z), a));
        }
        const I order = _mm_setr_epi8(0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15);
        put(p, _mm_shuffle_epi8(planes, order));
    }
    static void store16(PF_Pixel16* p, I a, F r, F g, F b) {
        store16Packed(p, _mm_packus_epi32(a, truncBelow(r, 32768.0f)),
                      _mm_packus_epi32(truncBelow(g, 32768.0f), truncBelow(b, 32768.0f)));
    }
};

} // namespace

const RowKernels& sse41Kernels() {
    static const RowKernels kernels = makeRowKernels<Sse41>();
    return kernels;
}

} // namespace Ombrel::Kernels

#endif // x86-64
