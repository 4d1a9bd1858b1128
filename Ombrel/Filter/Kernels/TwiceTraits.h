// Two vectors of an instruction-set traits struct S side by side, as one traits struct of twice
// the lanes for KernelBody.h: every operation is S's, done on both halves one after the other.
// The two halves' instructions then reach the processor interleaved, so one half's long chains
// (a division, then blends, then the quantiser) overlap the other's instead of waiting for the
// out-of-order window to reach the next vector. Same bytes as S, pixel by pixel.
#pragma once

#include "HostInterface/EffectInterface.h"

namespace Ombrel::Kernels {
namespace {

template <class S>
struct Twice {
    static constexpr int kLanes = 2 * S::kLanes;
    struct F {
        typename S::F lo, hi;
    };
    struct I {
        typename S::I lo, hi;
    };
    struct Mask {
        typename S::Mask lo, hi;
    };
    static constexpr bool kMaskedArithmetic = S::kMaskedArithmetic;
    static constexpr int kStreamAlignment = S::kStreamAlignment;
    static constexpr bool kStreams8And16 = HasStreams8And16<S>::value;

    static void prefetch(const void* p) { S::prefetch(p); }
    static F set1(float x) { return {S::set1(x), S::set1(x)}; }
    static F zero() { return {S::zero(), S::zero()}; }
#define OMBREL_TWICE2(R, name)                                                                     \
    template <class A, class B>                                                                    \
    static R name(A a, B b) {                                                                      \
        return {S::name(a.lo, b.lo), S::name(a.hi, b.hi)};                                         \
    }
    OMBREL_TWICE2(F, add)
    OMBREL_TWICE2(F, sub)
    OMBREL_TWICE2(F, mul)
    OMBREL_TWICE2(F, div)
    OMBREL_TWICE2(F, minps)
    OMBREL_TWICE2(F, maxps)
    OMBREL_TWICE2(Mask, lt)
    OMBREL_TWICE2(Mask, gt)
    OMBREL_TWICE2(Mask, ge)
    OMBREL_TWICE2(Mask, eq)
    OMBREL_TWICE2(Mask, ne)
    OMBREL_TWICE2(Mask, gtBits)
    OMBREL_TWICE2(Mask, mandnot)
    OMBREL_TWICE2(F, keep)
#undef OMBREL_TWICE2
    static F select(Mask m, F yes, F no) {
        return {S::select(m.lo, yes.lo, no.lo), S::select(m.hi, yes.hi, no.hi)};
    }
    static F floor(F x) {
        return {S::floor(x.lo), S::floor(x.hi)};
    }
    static I cvtt(F x) {
        return {S::cvtt(x.lo), S::cvtt(x.hi)};
    }
    static Mask bitMask(I i, int k) {
        return {S::bitMask(i.lo, k), S::bitMask(i.hi, k)};
    }
    static F clampUnit(F v) {
        return {S::clampUnit(v.lo), S::clampUnit(v.hi)};
    }

    template <int A>
    static void load8At(const PF_Pixel* p, I& raw, F& x, F& y, F& z) {
        S::template load8At<A>(p, raw.lo, x.lo, y.lo, z.lo);
        S::template load8At<A>(p + S::kLanes, raw.hi, x.hi, y.hi, z.hi);
    }
    template <int A, int KX, int KY, int KZ>
    static void load8ScaledAt(const PF_Pixel* p, I& raw, F& x, F& y, F& z) {
        S::template load8ScaledAt<A, KX, KY, KZ>(p, raw.lo, x.lo, y.lo, z.lo);
        S::template load8ScaledAt<A, KX, KY, KZ>(p + S::kLanes, raw.hi, x.hi, y.hi, z.hi);
    }
    template <int A>
    static void load8UnitsAt(const PF_Pixel* p, I& raw, F& x, F& y, F& z) {
        S::template load8UnitsAt<A>(p, raw.lo, x.lo, y.lo, z.lo);
        S::template load8UnitsAt<A>(p + S::kLanes, raw.hi, x.hi, y.hi, z.hi);
    }
    template <int A, bool kStream = false>
    static void store8At(PF_Pixel* p, I raw, F x, F y, F z) {
        S::template store8At<A, kStream>(p, raw.lo, x.lo, y.lo, z.lo);
        S::template store8At<A, kStream>(p + S::kLanes, raw.hi, x.hi, y.hi, z.hi);
    }
    template <int A>
    static void load8YuvAt(const PF_Pixel* p, I& raw, F& y, F& u, F& v) {
        S::template load8YuvAt<A>(p, raw.lo, y.lo, u.lo, v.lo);
        S::template load8YuvAt<A>(p + S::kLanes, raw.hi, y.hi, u.hi, v.hi);
    }
    template <int A, bool kStream = false>
    static void store8NearestAt(PF_Pixel* p, I raw, F x, F y, F z) {
        S::template store8NearestAt<A, kStream>(p, raw.lo, x.lo, y.lo, z.lo);
        S::template store8NearestAt<A, kStream>(p + S::kLanes, raw.hi, x.hi, y.hi, z.hi);
    }
    static void load16(const PF_Pixel16* p, I& a, F& r, F& g, F& b) {
        S::load16(p, a.lo, r.lo, g.lo, b.lo);
        S::load16(p + S::kLanes, a.hi, r.hi, g.hi, b.hi);
    }
    static void load16Units(const PF_Pixel16* p, I& a, F& r, F& g, F& b) {
        S::load16Units(p, a.lo, r.lo, g.lo, b.lo);
        S::load16Units(p + S::kLanes, a.hi, r.hi, g.hi, b.hi);
    }
    template <bool kStream = false>
    static void store16(PF_Pixel16* p, I a, F r, F g, F b) {
        S::template store16<kStream>(p, a.lo, r.lo, g.lo, b.lo);
        S::template store16<kStream>(p + S::kLanes, a.hi, r.hi, g.hi, b.hi);
    }
    static void load16YuvUnits(const PF_Pixel16* p, I& a, F& y, F& u, F& v) {
        S::load16YuvUnits(p, a.lo, y.lo, u.lo, v.lo);
        S::load16YuvUnits(p + S::kLanes, a.hi, y.hi, u.hi, v.hi);
    }
    template <bool kStream = false>
    static void store16Bounded(PF_Pixel16* p, I a, F r, F g, F b) {
        S::template store16Bounded<kStream>(p, a.lo, r.lo, g.lo, b.lo);
        S::template store16Bounded<kStream>(p + S::kLanes, a.hi, r.hi, g.hi, b.hi);
    }
    static void load32(const PF_PixelFloat* p, F& a, F& r, F& g, F& b) {
        S::load32(p, a.lo, r.lo, g.lo, b.lo);
        S::load32(p + S::kLanes, a.hi, r.hi, g.hi, b.hi);
    }
    template <bool kStream = false>
    static void store32(PF_PixelFloat* p, F a, F r, F g, F b) {
        S::template store32<kStream>(p, a.lo, r.lo, g.lo, b.lo);
        S::template store32<kStream>(p + S::kLanes, a.hi, r.hi, g.hi, b.hi);
    }
};

} // namespace
} // namespace Ombrel::Kernels
