// The AVX-512 row kernels: sixteen pixels per vector. Built with AVX-512 F, BW, DQ and VL and
// nothing beyond them (no FMA), and only called after the CPU and the OS have been found to
// support them.
//
// Comparisons give mask registers, so the scalar code's branches become masked instructions: a
// blend, or an addition, subtraction or division that leaves or zeroes the other lanes.
//
// The 8-bit and 32-bit pixel shuffles work within each 128-bit quarter, so the lanes hold the
// pixels in a permuted order; the stores undo exactly the permutation of the loads. The 16-bit
// loads and stores keep the pixels in order.
// Empty when compiled for another processor (the other slice of a universal macOS build).
#if defined(__x86_64__) || defined(_M_X64)

#include <immintrin.h>

// GCC 12's AVX-512 intrinsics start some results from a deliberately undefined vector, which its
// own -Wmaybe-uninitialized then reports in every caller.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif

#include "Ombrel/Filter/Kernels/KernelBody.h"

namespace Ombrel::Kernels {
namespace {

// Index vectors of the 16-bit shuffles, built at compile time.
struct alignas(64) Index16 {
    short w[32];
};
struct alignas(64) Index32 {
    int d[16];
};
// Word k of pixel j, which is word 4 j + k of the two loaded vectors, into the low half of lane j.
constexpr Index16 channelWordsOf(int k) {
    Index16 x{};
    for (int j = 0; j < 16; ++j)
        x.w[2 * j] = static_cast<short>(4 * j + k);
    return x;
}
// The low words of lane j of two vectors, as the two words of lane j.
constexpr Index16 pairWordsOf() {
    Index16 x{};
    for (int j = 0; j < 16; ++j) {
        x.w[2 * j] = static_cast<short>(2 * j);
        x.w[2 * j + 1] = static_cast<short>(32 + 2 * j);
    }
    return x;
}
// Lanes first to first + 7 of two vectors, alternately.
constexpr Index32 interleaveOf(int first) {
    Index32 x{};
    for (int j = 0; j < 8; ++j) {
        x.d[2 * j] = first + j;
        x.d[2 * j + 1] = 16 + first + j;
    }
    return x;
}
constexpr Index16 kChannelWords[4] = {channelWordsOf(0), channelWordsOf(1), channelWordsOf(2),
                                      channelWordsOf(3)};
constexpr Index16 kPairWords = pairWordsOf();
constexpr Index32 kInterleave[2] = {interleaveOf(0), interleaveOf(8)};

struct Avx512 {
    static constexpr int kLanes = 16;
    using F = __m512;
    using I = __m512i;
    using Mask = __mmask16; // bit i set where lane i holds
    static constexpr bool kMaskedArithmetic = true;

    static F set1(float x) { return _mm512_set1_ps(x); }
    static F zero() { return _mm512_setzero_ps(); }
    static F add(F a, F b) { return _mm512_add_ps(a, b); }
    static F sub(F a, F b) { return _mm512_sub_ps(a, b); }
    static F mul(F a, F b) { return _mm512_mul_ps(a, b); }
    static F div(F a, F b) { return _mm512_div_ps(a, b); }
    static F minps(F a, F b) { return _mm512_min_ps(a, b); }
    static F maxps(F a, F b) { return _mm512_max_ps(a, b); }
    static Mask lt(F a, F b) { return _mm512_cmp_ps_mask(a, b, _CMP_LT_OQ); }
    static Mask gt(F a, F b) { return _mm512_cmp_ps_mask(a, b, _CMP_GT_OQ); }
    static Mask ge(F a, F b) { return _mm512_cmp_ps_mask(a, b, _CMP_GE_OQ); }
    static Mask eq(F a, F b) { return _mm512_cmp_ps_mask(a, b, _CMP_EQ_OQ); }
    static Mask ne(F a, F b) { return _mm512_cmp_ps_mask(a, b, _CMP_NEQ_UQ); }
    static Mask mandnot(Mask a, Mask b) { return _kandn_mask16(b, a); }
    static Mask gtBits(F a, F b) {
        return _mm512_cmpgt_epi32_mask(_mm512_castps_si512(a), _mm512_castps_si512(b));
    }
    static F select(Mask m, F yes, F no) { return _mm512_mask_blend_ps(m, no, yes); }
    static F maskAdd(F src, Mask m, F a, F b) { return _mm512_mask_add_ps(src, m, a, b); }
    static F maskSub(F src, Mask m, F a, F b) { return _mm512_mask_sub_ps(src, m, a, b); }
    static F maskzAdd(Mask m, F a, F b) { return _mm512_maskz_add_ps(m, a, b); }
    static F maskzDiv(Mask m, F a, F b) { return _mm512_maskz_div_ps(m, a, b); }
    static F floor(F x) {
        return _mm512_roundscale_ps(x, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC);
    }
    static I cvtt(F x) { return _mm512_cvttps_epi32(x); }
    static Mask bitMask(I i, int k) { return _mm512_test_epi32_mask(i, _mm512_set1_epi32(1 << k)); }

    // ColorFloat::clamp(1) (v > 1 gives 1, then v < 0 gives 0, so -0 stays), then NaN read as 0.
    static F clampUnit(F v) {
        const Mask number = _mm512_cmp_ps_mask(v, v, _CMP_ORD_Q);
        return _mm512_maskz_max_ps(number, _mm512_setzero_ps(),
                                   _mm512_min_ps(_mm512_set1_ps(1.0f), v));
    }

    static void put(void* p, I v) { _mm512_storeu_si512(p, v); }
    // Streaming stores, for store32<true>: see Sse2Traits.h.
    static constexpr int kStreamAlignment = 64;
    template <bool kStream>
    static void putAs(void* p, I v) {
        if constexpr (kStream)
            _mm512_stream_si512(static_cast<__m512i*>(p), v);
        else
            put(p, v);
    }

    // x / 255.0f from x repeated in the three low bytes of each lane: see Sse2Traits.h.
    static F dec8FromRepeated(I t) {
        const I bits = _mm512_castps_si512(dec8ScaledFromRepeated<0>(t));
        return _mm512_castsi512_ps(_mm512_max_epi32(bits, _mm512_setzero_si512())); // 0 for x = 0
    }
    // The same times 2^K, and x = 0 as in Sse2Traits.h.
    template <int K>
    static F dec8ScaledFromRepeated(I t) {
        return _mm512_castsi512_ps(_mm512_add_epi32(_mm512_castps_si512(_mm512_cvtepi32_ps(t)),
                                                    _mm512_set1_epi32(1 + (K << 23) - (24 << 23))));
    }
    // Channel byte c of each pixel repeated into the three low bytes of its lane.
    static I spread(char c) {
        const char z = -1; // shuffle index with the top bit set: a zero byte
        const char c4 = char(c + 4), c8 = char(c + 8), c12 = char(c + 12);
        return _mm512_broadcast_i32x4(
            _mm_setr_epi8(c, c, c, z, c4, c4, c4, z, c8, c8, c8, z, c12, c12, c12, z));
    }
    // The colour bytes in memory order around the alpha byte at A (0 or 3).
    template <int A>
    static void load8At(const PF_Pixel* p, I& raw, F& x, F& y, F& z) {
        constexpr char first = A == 0 ? 1 : 0;
        raw = _mm512_loadu_si512(p);
        x = dec8FromRepeated(_mm512_shuffle_epi8(raw, spread(first)));
        y = dec8FromRepeated(_mm512_shuffle_epi8(raw, spread(first + 1)));
        z = dec8FromRepeated(_mm512_shuffle_epi8(raw, spread(first + 2)));
    }
    template <int A, int KX, int KY, int KZ>
    static void load8ScaledAt(const PF_Pixel* p, I& raw, F& x, F& y, F& z) {
        constexpr char first = A == 0 ? 1 : 0;
        raw = _mm512_loadu_si512(p);
        x = dec8ScaledFromRepeated<KX>(_mm512_shuffle_epi8(raw, spread(first)));
        y = dec8ScaledFromRepeated<KY>(_mm512_shuffle_epi8(raw, spread(first + 1)));
        z = dec8ScaledFromRepeated<KZ>(_mm512_shuffle_epi8(raw, spread(first + 2)));
    }
    // The saturating packs do the whole quantiser at 8 bits: see KernelsSse41.cpp. The packed
    // planes hold each quarter's three colour channels in memory order (the last twice); a
    // shuffle puts them in pixel order around the alpha byte at A (0 or 3), and the loaded alpha
    // bytes are blended in.
    template <int A>
    static void store8At(PF_Pixel* p, I raw, F x, F y, F z) {
        const I last = _mm512_cvttps_epi32(z);
        const I planes =
            _mm512_packus_epi16(_mm512_packs_epi32(_mm512_cvttps_epi32(x), _mm512_cvttps_epi32(y)),
                                _mm512_packs_epi32(last, last));
        const char n = -1; // the alpha byte, blended in below
        const I order = A == 0 ? _mm512_broadcast_i32x4(_mm_setr_epi8(n, 0, 4, 8, n, 1, 5, 9, n, 2,
                                                                      6, 10, n, 3, 7, 11))
                               : _mm512_broadcast_i32x4(_mm_setr_epi8(0, 4, 8, n, 1, 5, 9, n, 2, 6,
                                                                      10, n, 3, 7, 11, n));
        const I colours = _mm512_shuffle_epi8(planes, order);
        const __mmask64 alphaBytes = A == 0 ? 0x1111111111111111ull : 0x8888888888888888ull;
        put(p, _mm512_mask_blend_epi8(alphaBytes, colours, raw));
    }

    // Channel units (see Sse2Traits.h) times 2^-15, exact.
    static F dec16(F units) { return _mm512_mul_ps(units, _mm512_set1_ps(1.0f / 32768.0f)); }
    static I channelWords(int k) { return _mm512_load_si512(kChannelWords[k].w); }
    static void load16(const PF_Pixel16* p, I& a, F& r, F& g, F& b) {
        load16Units(p, a, r, g, b);
        r = dec16(r);
        g = dec16(g);
        b = dec16(b);
    }
    static void load16Units(const PF_Pixel16* p, I& a, F& r, F& g, F& b) {
        const I v0 = _mm512_loadu_si512(p);
        const I v1 = _mm512_loadu_si512(p + 8);
        const __mmask32 low = 0x55555555u;
        a = _mm512_maskz_permutex2var_epi16(low, v0, channelWords(0), v1);
        r = _mm512_cvtepi32_ps(_mm512_maskz_permutex2var_epi16(low, v0, channelWords(1), v1));
        g = _mm512_cvtepi32_ps(_mm512_maskz_permutex2var_epi16(low, v0, channelWords(2), v1));
        b = _mm512_cvtepi32_ps(_mm512_maskz_permutex2var_epi16(low, v0, channelWords(3), v1));
    }
    // The quantiser: v > 32768 gives 32768, the rest is truncated, and negatives and NaN (which
    // truncates to INT_MIN) end as 0.
    static I quantise16(F v) {
        return _mm512_max_epi32(_mm512_cvttps_epi32(_mm512_min_ps(_mm512_set1_ps(32768.0f), v)),
                                _mm512_setzero_si512());
    }
    static I pairWords(I x, I y) {
        return _mm512_permutex2var_epi16(x, _mm512_load_si512(kPairWords.w), y);
    }
    // Pixels 0 to 7 (half 0) or 8 to 15 (half 1) from their alpha and red pairs and their green
    // and blue pairs.
    static I interleave(I ar, I gb, int half) {
        return _mm512_permutex2var_epi32(ar, _mm512_load_si512(kInterleave[half].d), gb);
    }
    static void store16(PF_Pixel16* p, I a, F r, F g, F b) {
        const I ar = pairWords(a, quantise16(r));
        const I gb = pairWords(quantise16(g), quantise16(b));
        put(p, interleave(ar, gb, 0));
        put(p + 8, interleave(ar, gb, 1));
    }

    // A 4 x 4 transpose in each quarter: its own inverse.
    static void transpose(F& a, F& b, F& c, F& d) {
        const F t0 = _mm512_unpacklo_ps(a, b), t1 = _mm512_unpackhi_ps(a, b);
        const F t2 = _mm512_unpacklo_ps(c, d), t3 = _mm512_unpackhi_ps(c, d);
        a = _mm512_shuffle_ps(t0, t2, _MM_SHUFFLE(1, 0, 1, 0));
        b = _mm512_shuffle_ps(t0, t2, _MM_SHUFFLE(3, 2, 3, 2));
        c = _mm512_shuffle_ps(t1, t3, _MM_SHUFFLE(1, 0, 1, 0));
        d = _mm512_shuffle_ps(t1, t3, _MM_SHUFFLE(3, 2, 3, 2));
    }
    static void load32(const PF_PixelFloat* p, F& a, F& r, F& g, F& b) {
        const float* f = reinterpret_cast<const float*>(p);
        a = _mm512_loadu_ps(f);
        r = _mm512_loadu_ps(f + 16);
        g = _mm512_loadu_ps(f + 32);
        b = _mm512_loadu_ps(f + 48);
        transpose(a, r, g, b);
    }
    template <bool kStream = false>
    static void store32(PF_PixelFloat* p, F a, F r, F g, F b) {
        transpose(a, r, g, b);
        putAs<kStream>(p, _mm512_castps_si512(a));
        putAs<kStream>(p + 4, _mm512_castps_si512(r));
        putAs<kStream>(p + 8, _mm512_castps_si512(g));
        putAs<kStream>(p + 12, _mm512_castps_si512(b));
    }
};

} // namespace

const RowKernels& avx512Kernels() {
    static const RowKernels kernels = makeRowKernels<Avx512>();
    return kernels;
}

} // namespace Ombrel::Kernels

#endif // x86-64
