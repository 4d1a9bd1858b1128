// The NEON row kernels of AArch64, four pixels per vector: every AArch64 processor has them, so
// no run-time check guards them.
//
// Where NEON's own instructions differ from the scalar code they are not used:
//   - vmaxq_f32 and vminq_f32 give NaN for a NaN operand, and vmaxnmq_f32 and vminnmq_f32 the
//     other operand; both order -0 below +0. std::max and std::min keep their first operand for
//     NaN and for equal zeros, so maxps and minps are a comparison and a select, in x86's operand
//     order (maxps(a, b) is a > b ? a : b).
//   - vfmaq_f32 and vmlaq_f32 are never written, and the unit, like every other, is built with
//     -ffp-contract=off so that the compiler does not fuse a * b + c into fmla either.
//   - Divisions are vdivq_f32, correctly rounded; never the reciprocal estimates.
//   - Denormals are kept: AArch64 starts with flush-to-zero off, and nothing here turns it on.
//   - Float-to-integer conversion saturates (NaN gives 0) where x86's gives 0x80000000 for NaN
//     and for values out of range. The kernels convert only hue sectors 0..5, where the two
//     agree, and quantiser inputs, where the saturation is what the scalar quantiser does:
//     negatives and NaN to 0, anything above M to M.
// Empty when compiled for another processor (the other slice of a universal macOS build).
#if defined(__aarch64__) || defined(_M_ARM64)

#include <arm_neon.h>

#include <cstdint>

#include "HostInterface/EffectInterface.h"

#include "Ombrel/Filter/Kernels/KernelBody.h"

namespace Ombrel::Kernels {
namespace {

struct Neon {
    static constexpr int kLanes = 4;
    using F = float32x4_t;
    using I = uint32x4_t;
    using Mask = uint32x4_t; // all ones in the lanes where it holds
    static constexpr bool kMaskedArithmetic = false;

    static F set1(float x) { return vdupq_n_f32(x); }
    static F zero() { return vdupq_n_f32(0.0f); }
    static F add(F a, F b) { return vaddq_f32(a, b); }
    static F sub(F a, F b) { return vsubq_f32(a, b); }
    static F mul(F a, F b) { return vmulq_f32(a, b); }
    static F div(F a, F b) { return vdivq_f32(a, b); }
    static F minps(F a, F b) { return vbslq_f32(vcltq_f32(a, b), a, b); }
    static F maxps(F a, F b) { return vbslq_f32(vcgtq_f32(a, b), a, b); }
    static Mask lt(F a, F b) { return vcltq_f32(a, b); }
    static Mask gt(F a, F b) { return vcgtq_f32(a, b); }
    static Mask ge(F a, F b) { return vcgeq_f32(a, b); }
    static Mask eq(F a, F b) { return vceqq_f32(a, b); }
    static Mask ne(F a, F b) { return vmvnq_u32(vceqq_f32(a, b)); }
    static Mask mandnot(Mask a, Mask b) { return vbicq_u32(a, b); }
    static Mask gtBits(F a, F b) {
        return vcgtq_s32(vreinterpretq_s32_f32(a), vreinterpretq_s32_f32(b));
    }
    static F select(Mask m, F yes, F no) { return vbslq_f32(m, yes, no); }
    static F keep(Mask m, F x) {
        return vreinterpretq_f32_u32(vandq_u32(m, vreinterpretq_u32_f32(x)));
    }
    // Round toward minus infinity: exact, -0 kept.
    static F floor(F x) { return vrndmq_f32(x); }
    // Truncation toward zero, for the hue sectors 0..5 only (negatives would give 0).
    static I cvtt(F x) { return vcvtq_u32_f32(x); }
    static Mask bitMask(I i, int k) { return vtstq_u32(i, vdupq_n_u32(1u << k)); }

    // x / 255.0f for integer lanes x in 0..255 from t = x * 65793, as the SSE2 traits explain:
    // t's float bits plus one, the exponent lowered by 24; zero for x = 0.
    static F dec8(I x) {
        const I bits = vreinterpretq_u32_f32(dec8Scaled<0>(x));
        return vreinterpretq_f32_u32(vbicq_u32(bits, vceqzq_u32(x)));
    }
    // The same times 2^K, and x = 0 as in the SSE2 traits: just above 2^(K - 151) for K >= 1,
    // which the 8-bit RGB to YUV kernels take as it is (convertRowRgbToYuvScaled8).
    template <int K>
    static F dec8Scaled(I x) {
        const I t = vmulq_n_u32(x, 65793u);
        return vreinterpretq_f32_u32(
            vaddq_u32(vreinterpretq_u32_f32(vcvtq_f32_u32(t)),
                      vdupq_n_u32(std::uint32_t(1 + (K << 23) - (24 << 23)))));
    }

    // ColorFloat::clamp(1) (v > 1 gives 1, then v < 0 gives 0, so -0 stays), then NaN read as 0.
    static F clampUnit(F v) {
        const F x = maxps(zero(), minps(set1(1.0f), v));
        return keep(vceqq_f32(x, x), x);
    }

    // v clamped to 0..m and truncated, NaN giving 0: the saturating conversion does the lower
    // end and NaN, the minimum the upper end.
    static I quantise(F v, float m) {
        return vminq_u32(vcvtq_u32_f32(v), vdupq_n_u32(static_cast<std::uint32_t>(m)));
    }

    // Byte k (0..3) of each little-endian 32-bit lane, which holds one pixel.
    template <int K>
    static I byteAt(I raw) {
        if constexpr (K == 3)
            return vshrq_n_u32(raw, 24);
        else if constexpr (K == 0)
            return vandq_u32(raw, vdupq_n_u32(0xFF));
        else
            return vandq_u32(vshrq_n_u32(raw, 8 * K), vdupq_n_u32(0xFF));
    }
    // The three colour bytes of each pixel, in memory order, around the alpha byte at A (0 in
    // ARGB, 3 in BGRA).
    template <int A>
    static void load8At(const PF_Pixel* p, I& raw, F& x, F& y, F& z) {
        constexpr int first = A == 0 ? 1 : 0;
        raw = vld1q_u32(reinterpret_cast<const std::uint32_t*>(p));
        x = dec8(byteAt<first>(raw));
        y = dec8(byteAt<first + 1>(raw));
        z = dec8(byteAt<first + 2>(raw));
    }
    // load8At with the three bytes decoded times 2^KX, 2^KY and 2^KZ (dec8Scaled).
    template <int A, int KX, int KY, int KZ>
    static void load8ScaledAt(const PF_Pixel* p, I& raw, F& x, F& y, F& z) {
        constexpr int first = A == 0 ? 1 : 0;
        raw = vld1q_u32(reinterpret_cast<const std::uint32_t*>(p));
        x = dec8Scaled<KX>(byteAt<first>(raw));
        y = dec8Scaled<KY>(byteAt<first + 1>(raw));
        z = dec8Scaled<KZ>(byteAt<first + 2>(raw));
    }
    // The same bytes as integer-valued floats, 0..255.
    template <int A>
    static void load8UnitsAt(const PF_Pixel* p, I& raw, F& x, F& y, F& z) {
        constexpr int first = A == 0 ? 1 : 0;
        raw = vld1q_u32(reinterpret_cast<const std::uint32_t*>(p));
        x = vcvtq_f32_u32(byteAt<first>(raw));
        y = vcvtq_f32_u32(byteAt<first + 1>(raw));
        z = vcvtq_f32_u32(byteAt<first + 2>(raw));
    }
    // The colour bytes (each at most 255) around the alpha byte at A, the loaded pixels' own.
    template <int A>
    static void store8At(PF_Pixel* p, I raw, F x, F y, F z) {
        constexpr int first = A == 0 ? 1 : 0;
        const I alpha = vandq_u32(raw, vdupq_n_u32(0xFFu << (8 * A)));
        const I pixels = vorrq_u32(vorrq_u32(alpha, vshlq_n_u32(quantise(x, 255.0f), 8 * first)),
                                   vorrq_u32(vshlq_n_u32(quantise(y, 255.0f), 8 * (first + 1)),
                                             vshlq_n_u32(quantise(z, 255.0f), 8 * (first + 2))));
        vst1q_u32(reinterpret_cast<std::uint32_t*>(p), pixels);
    }

    // Channel c as an integer-valued float, and c * 2^-15, exact.
    static F units16(uint16x4_t c) { return vcvtq_f32_u32(vmovl_u16(c)); }
    static F dec16(uint16x4_t c) { return vmulq_n_f32(units16(c), 1.0f / 32768.0f); }
    static void load16(const PF_Pixel16* p, I& a, F& r, F& g, F& b) {
        const uint16x4x4_t v = vld4_u16(reinterpret_cast<const std::uint16_t*>(p));
        a = vmovl_u16(v.val[0]);
        r = dec16(v.val[1]);
        g = dec16(v.val[2]);
        b = dec16(v.val[3]);
    }
    // load16 without the scaling by 2^-15 (the 16-bit YUV kernels work in channel units).
    static void load16Units(const PF_Pixel16* p, I& a, F& r, F& g, F& b) {
        const uint16x4x4_t v = vld4_u16(reinterpret_cast<const std::uint16_t*>(p));
        a = vmovl_u16(v.val[0]);
        r = units16(v.val[1]);
        g = units16(v.val[2]);
        b = units16(v.val[3]);
    }
    // The quantised channels are at most 32768 and alpha at most 65535: narrowing keeps them.
    static void store16(PF_Pixel16* p, I a, F r, F g, F b) {
        uint16x4x4_t v;
        v.val[0] = vmovn_u32(a);
        v.val[1] = vmovn_u32(quantise(r, 32768.0f));
        v.val[2] = vmovn_u32(quantise(g, 32768.0f));
        v.val[3] = vmovn_u32(quantise(b, 32768.0f));
        vst4_u16(reinterpret_cast<std::uint16_t*>(p), v);
    }

    static void load32(const PF_PixelFloat* p, F& a, F& r, F& g, F& b) {
        const float32x4x4_t v = vld4q_f32(reinterpret_cast<const float*>(p));
        a = v.val[0];
        r = v.val[1];
        g = v.val[2];
        b = v.val[3];
    }
    static void store32(PF_PixelFloat* p, F a, F r, F g, F b) {
        float32x4x4_t v;
        v.val[0] = a;
        v.val[1] = r;
        v.val[2] = g;
        v.val[3] = b;
        vst4q_f32(reinterpret_cast<float*>(p), v);
    }
};

} // namespace

const RowKernels& neonKernels() {
    static const RowKernels kernels = makeRowKernels<Neon>();
    return kernels;
}

} // namespace Ombrel::Kernels

#endif // AArch64
