// SSE2 instruction-set traits for KernelBody.h: four pixels per vector. Included by the SSE2
// unit, and by the SSE4.1 unit, which replaces a few members. Unnamed namespace for the reason
// given in KernelBody.h.
#pragma once

#include <emmintrin.h>

#include "HostInterface/EffectInterface.h"

namespace Ombrel::Kernels {
namespace {

struct Sse2 {
    static constexpr int kLanes = 4;
    using F = __m128;
    using I = __m128i;
    using Mask = __m128; // all ones in the lanes where it holds
    static constexpr bool kMaskedArithmetic = false;

    static void prefetch(const void* p) { _mm_prefetch(static_cast<const char*>(p), _MM_HINT_T0); }
    static F set1(float x) { return _mm_set1_ps(x); }
    static F zero() { return _mm_setzero_ps(); }
    static F add(F a, F b) { return _mm_add_ps(a, b); }
    static F sub(F a, F b) { return _mm_sub_ps(a, b); }
    static F mul(F a, F b) { return _mm_mul_ps(a, b); }
    static F div(F a, F b) { return _mm_div_ps(a, b); }
    static F minps(F a, F b) { return _mm_min_ps(a, b); }
    static F maxps(F a, F b) { return _mm_max_ps(a, b); }
    static F lt(F a, F b) { return _mm_cmplt_ps(a, b); }
    static F gt(F a, F b) { return _mm_cmpgt_ps(a, b); }
    static F ge(F a, F b) { return _mm_cmpge_ps(a, b); }
    static F eq(F a, F b) { return _mm_cmpeq_ps(a, b); }
    static F ne(F a, F b) { return _mm_cmpneq_ps(a, b); }
    static F mandnot(F a, F b) { return _mm_andnot_ps(b, a); }
    static F gtBits(F a, F b) {
        return _mm_castsi128_ps(_mm_cmpgt_epi32(_mm_castps_si128(a), _mm_castps_si128(b)));
    }
    static F select(F m, F yes, F no) {
        return _mm_or_ps(_mm_and_ps(m, yes), _mm_andnot_ps(m, no));
    }
    static F keep(F m, F x) { return _mm_and_ps(m, x); }
    // Through truncation: floor for 0 <= x < 2^31, and +0 for -0.
    static F floor(F x) { return _mm_cvtepi32_ps(_mm_cvttps_epi32(x)); }
    static I cvtt(F x) { return _mm_cvttps_epi32(x); }
    static F bitMask(I i, int k) {
        return _mm_castsi128_ps(_mm_srai_epi32(_mm_sll_epi32(i, _mm_cvtsi32_si128(31 - k)), 31));
    }

    // x / 255.0f for integer lanes x in 0..255, correctly rounded, without a division. With
    // t = x * 65793 (x repeated in three bytes; exact as a float), x / 255 = t * 2^-24 * (1 +
    // 2^-24 + 2^-48 + ...) lies above the midpoint between t * 2^-24 and the next float up, and
    // not above that float (it is that float for x = 255): so the rounded quotient is the next
    // float, whose bits are t's plus one with the exponent lowered by 24. x = 0 gives 0.
    static F dec8FromRepeated(I t) {
        const I bits = _mm_castps_si128(dec8ScaledFromRepeated<0>(t));
        return _mm_castsi128_ps(_mm_andnot_si128(_mm_cmpeq_epi32(t, _mm_setzero_si128()), bits));
    }
    // The same times 2^K, the exponent raised by K, except for x = 0, which gives the bits
    // 1 + (K << 23) - (24 << 23): negative as an integer for K = 0 (dec8FromRepeated's test for
    // zero makes that 0), and just above 2^(K - 151) for K >= 1, which the 8-bit RGB to YUV kernels
    // take as it is (convertRowRgbToYuvScaled8).
    template <int K>
    static F dec8ScaledFromRepeated(I t) {
        return _mm_castsi128_ps(_mm_add_epi32(_mm_castps_si128(_mm_cvtepi32_ps(t)),
                                              _mm_set1_epi32(1 + (K << 23) - (24 << 23))));
    }
    static I repeat3(I x) {
        return _mm_or_si128(x, _mm_or_si128(_mm_slli_epi32(x, 8), _mm_slli_epi32(x, 16)));
    }

    // ColorFloat::clamp(1) (v > 1 gives 1, then v < 0 gives 0, so -0 stays), then NaN read as 0.
    static F clampUnit(F v) {
        const F x = _mm_max_ps(_mm_setzero_ps(), _mm_min_ps(_mm_set1_ps(1.0f), v));
        return _mm_and_ps(x, _mm_cmpeq_ps(x, x));
    }

    static void put(void* p, I v) { _mm_storeu_si128(static_cast<__m128i*>(p), v); }
    // Streaming stores, for store32<true>: p aligned to the vector (store32 writes whole vectors
    // at offsets that keep it so once the row's first pixel is aligned).
    static constexpr int kStreamAlignment = 16;
    template <bool kStream>
    static void putAs(void* p, I v) {
        if constexpr (kStream)
            _mm_stream_si128(static_cast<__m128i*>(p), v);
        else
            put(p, v);
    }

    // Byte k (0..3) of each 32-bit lane, which holds one pixel.
    template <int K>
    static I byteAt(I raw) {
        if constexpr (K == 3)
            return _mm_srli_epi32(raw, 24);
        else if constexpr (K == 0)
            return _mm_and_si128(raw, _mm_set1_epi32(0xFF));
        else
            return _mm_and_si128(_mm_srli_epi32(raw, 8 * K), _mm_set1_epi32(0xFF));
    }
    // The three colour bytes of each pixel, in memory order, around the alpha byte at A (0 or 3).
    template <int A>
    static void load8At(const PF_Pixel* p, I& raw, F& x, F& y, F& z) {
        constexpr int first = A == 0 ? 1 : 0;
        raw = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        x = dec8FromRepeated(repeat3(byteAt<first>(raw)));
        y = dec8FromRepeated(repeat3(byteAt<first + 1>(raw)));
        z = dec8FromRepeated(repeat3(byteAt<first + 2>(raw)));
    }
    // load8At with the three bytes decoded times 2^KX, 2^KY and 2^KZ (dec8ScaledFromRepeated).
    template <int A, int KX, int KY, int KZ>
    static void load8ScaledAt(const PF_Pixel* p, I& raw, F& x, F& y, F& z) {
        constexpr int first = A == 0 ? 1 : 0;
        raw = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        x = dec8ScaledFromRepeated<KX>(repeat3(byteAt<first>(raw)));
        y = dec8ScaledFromRepeated<KY>(repeat3(byteAt<first + 1>(raw)));
        z = dec8ScaledFromRepeated<KZ>(repeat3(byteAt<first + 2>(raw)));
    }
    // The same bytes as integer-valued floats, 0..255.
    template <int A>
    static void load8UnitsAt(const PF_Pixel* p, I& raw, F& x, F& y, F& z) {
        constexpr int first = A == 0 ? 1 : 0;
        raw = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        x = _mm_cvtepi32_ps(byteAt<first>(raw));
        y = _mm_cvtepi32_ps(byteAt<first + 1>(raw));
        z = _mm_cvtepi32_ps(byteAt<first + 2>(raw));
    }
    // v clamped to 0..m and truncated; NaN and negatives give 0 (maxps keeps its second operand
    // then).
    static I quantise(F v, float m) { return cvtt(minps(maxps(v, zero()), set1(m))); }

    // The colour bytes around the alpha byte at A, which is the loaded pixels' own.
    template <int A>
    static void store8At(PF_Pixel* p, I raw, F x, F y, F z) {
        constexpr int first = A == 0 ? 1 : 0;
        const I qx = quantise(x, 255.0f), qy = quantise(y, 255.0f), qz = quantise(z, 255.0f);
        const I alpha = _mm_and_si128(raw, _mm_set1_epi32(static_cast<int>(0xFFu << (8 * A))));
        const I pixels = _mm_or_si128(
            _mm_or_si128(alpha, _mm_slli_epi32(qx, 8 * first)),
            _mm_or_si128(_mm_slli_epi32(qy, 8 * (first + 1)), _mm_slli_epi32(qz, 8 * (first + 2))));
        put(p, pixels);
    }

    // A channel in channel units (0..65535, exact as a float) times 2^-15, exact.
    static F dec16(F units) { return _mm_mul_ps(units, _mm_set1_ps(1.0f / 32768.0f)); }
    static void load16(const PF_Pixel16* p, I& a, F& r, F& g, F& b) {
        load16Units(p, a, r, g, b);
        r = dec16(r);
        g = dec16(g);
        b = dec16(b);
    }
    // Four pixels into alpha (zero-extended) and three channels in channel units. Each pixel is
    // two 32-bit words, alpha | red << 16 and green | blue << 16: one shuffle gathers each kind
    // of word and shifts and masks take the channels out (two shuffles, not eight unpacks).
    static void load16Units(const PF_Pixel16* p, I& a, F& r, F& g, F& b) {
        const F v0 = _mm_loadu_ps(reinterpret_cast<const float*>(p));
        const F v1 = _mm_loadu_ps(reinterpret_cast<const float*>(p + 2));
        const I ar = _mm_castps_si128(_mm_shuffle_ps(v0, v1, _MM_SHUFFLE(2, 0, 2, 0)));
        const I gb = _mm_castps_si128(_mm_shuffle_ps(v0, v1, _MM_SHUFFLE(3, 1, 3, 1)));
        const I low = _mm_set1_epi32(0xFFFF);
        a = _mm_and_si128(ar, low);
        r = _mm_cvtepi32_ps(_mm_srli_epi32(ar, 16));
        g = _mm_cvtepi32_ps(_mm_and_si128(gb, low));
        b = _mm_cvtepi32_ps(_mm_srli_epi32(gb, 16));
    }
    // Lanes in 0..65535 to 16 bits: shifted into the signed range so that packs cannot saturate.
    static I pack16(I x, I y) {
        const I bias = _mm_set1_epi32(32768);
        return _mm_xor_si128(_mm_packs_epi32(_mm_sub_epi32(x, bias), _mm_sub_epi32(y, bias)),
                             _mm_set1_epi16(static_cast<short>(0x8000)));
    }
    static void store16(PF_Pixel16* p, I a, F r, F g, F b) {
        store16Packed(p, pack16(a, quantise(r, 32768.0f)),
                      pack16(quantise(g, 32768.0f), quantise(b, 32768.0f)));
    }
    // ar: alphas then reds of four pixels as 16-bit values; gb: greens then blues.
    static void store16Packed(PF_Pixel16* p, I ar, I gb) {
        const I s0 = _mm_unpacklo_epi16(ar, gb), s1 = _mm_unpackhi_epi16(ar, gb);
        put(p, _mm_unpacklo_epi16(s0, s1));
        put(p + 2, _mm_unpackhi_epi16(s0, s1));
    }

    static void load32(const PF_PixelFloat* p, F& a, F& r, F& g, F& b) {
        const float* f = reinterpret_cast<const float*>(p);
        a = _mm_loadu_ps(f);
        r = _mm_loadu_ps(f + 4);
        g = _mm_loadu_ps(f + 8);
        b = _mm_loadu_ps(f + 12);
        _MM_TRANSPOSE4_PS(a, r, g, b);
    }
    template <bool kStream = false>
    static void store32(PF_PixelFloat* p, F a, F r, F g, F b) {
        _MM_TRANSPOSE4_PS(a, r, g, b);
        putAs<kStream>(p, _mm_castps_si128(a));
        putAs<kStream>(p + 1, _mm_castps_si128(r));
        putAs<kStream>(p + 2, _mm_castps_si128(g));
        putAs<kStream>(p + 3, _mm_castps_si128(b));
    }
};

} // namespace
} // namespace Ombrel::Kernels
