// The conversion filter's row kernels written once over an instruction-set traits struct S, and
// included by each instruction-set unit (KernelsSse2.cpp, KernelsSse41.cpp, KernelsAvx2.cpp,
// KernelsAvx512.cpp, KernelsNeon.cpp).
//
// Everything here is in an unnamed namespace on purpose: each unit is compiled with its own ISA
// flags, and an inline function shared between units could be kept by the linker in its AVX2
// form and run on a CPU without AVX2. For the same reason these units include nothing with inline
// code of the effect's (no Colorsys, no ColorFloat, no standard containers or algorithms).
//
// Every lane does the IEEE single-precision operations of the scalar code (OmbrelColorsys.h and
// the filter's decode and encode), in the same order, with no fused multiply-add: the units are
// built with -ffp-contract=off and without -mfma, and each operator below is one instruction.
// std::max(a, b) is (a < b ? b : a), which is maxps(b, a); std::min(a, b) is minps(b, a).
//
// What reaches the conversions: the loads decode every colour channel to a finite value in
// [0, 2] (8 bits: x / 255 in [0, 1]; 16 bits: x * 2^-15 in [0, 65535 / 32768]; 32 bits: limited
// to [0, 1] with NaN read as 0, -0 kept). The scalar code's tests for values outside that range
// (a negative L or S, a hue that fmodf would change) never hold for such inputs, so the kernels
// leave them out; each place that relies on the range says so.
//
// S provides (F: float vector, I: 32-bit integer vector, Mask: a comparison result, kLanes
// pixels per vector):
//   set1, zero, add, sub, mul, div, minps (a < b ? a : b), maxps (a > b ? a : b),
//   lt, gt, ge, eq (ordered: false for NaN), ne (its complement), mandnot (a & ~b), gtBits (a > b
//   between the bit patterns as signed 32-bit integers),
//   select(m, yes, no), floor (exact for 0 <= x < 2^31 except that -0 may give +0), cvtt
//   (truncation), bitMask(i, k) (set where bit k of the integer lane is), clampUnit
//   (ColorFloat::clamp(1) of one channel, then NaN read as 0), kMaskedArithmetic and either
//   maskAdd, maskSub (src, m, a, b: m ? a op b : src), maskzAdd and maskzDiv (m, a, b: m ? a op b
//   : +0), or keep(m, x) (m ? x : +0),
//   load8At<A>/store8At<A>, load16/store16, load32/store32 (pixels to channel vectors and back;
//   the 8- and 16-bit stores take the quantiser's inputs: each is clamped to 0..M, NaN giving 0,
//   and truncated, as the scalar quantiser does, for every value 8- and 16-bit pixels lead to);
//   optionally load8ScaledAt<A, KX, KY, KZ> (load8At with the channels times 2^KX, 2^KY and
//   2^KZ, a zero byte giving just above 2^(K - 151)), which the 8-bit RGB to YUV kernels use,
//   optionally load16Units (load16 without the final 2^-15: the channels as integer-valued
//   floats), which the 16-bit YUV kernels use, and load8UnitsAt<A> (load8At without the division
//   by 255), which the 8-bit YUV to RGB kernels use, or in its place both load8YuvAt<A> (Y, U
//   and V by channel, U and V less 127.5) and store8NearestAt<A> (store8At of v + 0.5 given v, for
//   the values these kernels produce), optionally load16YuvUnits (load16Units with U and V
//   less 2^14) and store16Bounded (store16 for values below 2^31 in size and never NaN), and
//   optionally kStreamAlignment with a store32
//   template whose <true> form writes with streaming stores to addresses aligned to
//   kStreamAlignment bytes (the 32-bit row kernels for frames larger than the caches), with
//   kStreams8And16 = true also store8At<A, true> and store16<true>, and optionally prefetch(p)
//   (a hint to fetch the cache line at p; never faults).
//
// Channel order: the loads and stores work by memory position, so the body names the vectors for
// the world's order. load32 and store32 hand over the four positions; in BGRA worlds position 0
// is blue and 3 alpha, the reverse of ARGB, and that naming is all a BGRA kernel changes. At 8
// bits load8At<A> and store8At<A> keep the loaded alpha byte at position A (0 in ARGB, 3 in
// BGRA) and take the other three positions in memory order. A traits struct with only the ARGB
// forms load8(p, raw, r, g, b) and store8 gets 8-bit ARGB kernels and no 8-bit BGRA ones (those
// frames run the scalar code).
#pragma once

#include <cstdint>
#include <cstring>

#include "HostInterface/EffectInterface.h"
#include "Ombrel/Filter/Kernels/RowKernels.h"

namespace Ombrel::Kernels {
namespace {

// A float vector whose operators are single instructions, so that formulas read as the scalar
// ones they repeat.
template <class S>
struct V {
    typename S::F v;
};
// A comparison result: set in the lanes where it holds.
template <class S>
struct M {
    typename S::Mask m;
};

template <class S>
V<S> splat(float x) {
    return {S::set1(x)};
}

template <class S>
V<S> operator+(V<S> a, V<S> b) {
    return {S::add(a.v, b.v)};
}
template <class S>
V<S> operator-(V<S> a, V<S> b) {
    return {S::sub(a.v, b.v)};
}
template <class S>
V<S> operator*(V<S> a, V<S> b) {
    return {S::mul(a.v, b.v)};
}
template <class S>
V<S> operator/(V<S> a, V<S> b) {
    return {S::div(a.v, b.v)};
}
template <class S>
V<S> operator+(V<S> a, float b) {
    return a + splat<S>(b);
}
template <class S>
V<S> operator-(V<S> a, float b) {
    return a - splat<S>(b);
}
template <class S>
V<S> operator-(float a, V<S> b) {
    return splat<S>(a) - b;
}
template <class S>
V<S> operator*(V<S> a, float b) {
    return a * splat<S>(b);
}
template <class S>
V<S> operator*(float a, V<S> b) {
    return splat<S>(a) * b;
}
template <class S>
V<S> operator/(V<S> a, float b) {
    return a / splat<S>(b);
}

template <class S>
M<S> operator<(V<S> a, float b) {
    return {S::lt(a.v, S::set1(b))};
}
template <class S>
M<S> operator>(V<S> a, float b) {
    return {S::gt(a.v, S::set1(b))};
}
template <class S>
M<S> operator>=(V<S> a, float b) {
    return {S::ge(a.v, S::set1(b))};
}
template <class S>
M<S> operator==(V<S> a, V<S> b) {
    return {S::eq(a.v, b.v)};
}
template <class S>
M<S> operator==(V<S> a, float b) {
    return {S::eq(a.v, S::set1(b))};
}
template <class S>
M<S> operator!=(V<S> a, V<S> b) {
    return {S::ne(a.v, b.v)};
}
template <class S>
M<S> operator!=(V<S> a, float b) {
    return {S::ne(a.v, S::set1(b))};
}
// The float just below c > 0 (c's bit pattern less one).
inline float floatBelow(float c) {
    std::uint32_t bits;
    std::memcpy(&bits, &c, sizeof bits);
    --bits;
    float below;
    std::memcpy(&below, &bits, sizeof below);
    return below;
}
// x >= c for a constant c > 0 and any x but NaN, as x > (the float below c) by the bit patterns
// as signed integers: they order the non-negative floats as the floats are ordered, and every
// float with its sign bit set (-0 included) below them, as x >= c does for c > 0. One integer
// instruction, which some processors run on more pipes than a float comparison. It is x > K with
// K a constant: GCC 12 made the mirrored K > x a minimum and an equality test, two instructions.
template <class S>
M<S> atLeast(V<S> x, float c) {
    return {S::gtBits(x.v, S::set1(floatBelow(c)))};
}
// a and not b
template <class S>
M<S> butNot(M<S> a, M<S> b) {
    return {S::mandnot(a.m, b.m)};
}
template <class S>
V<S> select(M<S> m, V<S> yes, V<S> no) {
    return {S::select(m.m, yes.v, no.v)};
}
template <class S>
V<S> select(M<S> m, float yes, V<S> no) {
    return select(m, splat<S>(yes), no);
}
template <class S>
V<S> select(M<S> m, float yes, float no) {
    return select(m, splat<S>(yes), splat<S>(no));
}
// m ? a + b : no, and the like: one masked instruction where the instruction set has them, the
// operation and a blend or a mask elsewhere.
template <class S>
V<S> selectAdd(M<S> m, V<S> a, float b, V<S> no) {
    if constexpr (S::kMaskedArithmetic)
        return {S::maskAdd(no.v, m.m, a.v, S::set1(b))};
    else
        return select(m, a + b, no);
}
template <class S>
V<S> selectSub(M<S> m, V<S> a, V<S> b, V<S> no) {
    if constexpr (S::kMaskedArithmetic)
        return {S::maskSub(no.v, m.m, a.v, b.v)};
    else
        return select(m, a - b, no);
}
template <class S>
V<S> selectSub(M<S> m, V<S> a, float b, V<S> no) {
    return selectSub(m, a, splat<S>(b), no);
}
// m ? a + b : +0 and m ? a / b : +0
template <class S>
V<S> addOrZero(M<S> m, V<S> a, V<S> b) {
    if constexpr (S::kMaskedArithmetic)
        return {S::maskzAdd(m.m, a.v, b.v)};
    else
        return {S::keep(m.m, S::add(a.v, b.v))};
}
template <class S>
V<S> divOrZero(M<S> m, V<S> a, V<S> b) {
    if constexpr (S::kMaskedArithmetic)
        return {S::maskzDiv(m.m, a.v, b.v)};
    else
        return {S::keep(m.m, S::div(a.v, b.v))};
}
// std::max(a, b) and std::min(a, b), NaN and signed zeros included.
template <class S>
V<S> stdMax(V<S> a, V<S> b) {
    return {S::maxps(b.v, a.v)};
}
template <class S>
V<S> stdMin(V<S> a, V<S> b) {
    return {S::minps(b.v, a.v)};
}

template <class S>
struct Rgb {
    V<S> r, g, b;
};

// ---- The six conversions ----------------------------------------------------------------------

template <class S>
void rgbToYuv(const Rgb<S>& c, Rgb<S>& o) {
    o.r = (0.299f * c.r + 0.587f * c.g) + 0.114f * c.b;
    o.g = (-0.169f * c.r + -0.331f * c.g) + 0.5f * c.b;
    o.b = (0.5f * c.r + -0.419f * c.g) + -0.081f * c.b;
}

// From the decoded Y, U and V.
template <class S>
void yuvToRgbCentred(V<S> y, V<S> u, V<S> v, Rgb<S>& o) {
    o.r = 1.402f * v + y;
    o.g = (-0.344f * u + y) + -0.714f * v;
    o.b = 1.772f * u + y;
}

// Decodes the stored U + 0.5 and V + 0.5 first (half: 0.5 in the channels' units).
template <class S>
void yuvToRgb(const Rgb<S>& c, Rgb<S>& o, float half = 0.5f) {
    yuvToRgbCentred(c.r, c.g + -half, c.b + -half, o);
}

template <class S>
V<S> max3(const Rgb<S>& c) {
    return stdMax(stdMax(c.b, c.g), c.r);
}
template <class S>
V<S> min3(const Rgb<S>& c) {
    return stdMin(stdMin(c.b, c.g), c.r);
}

// Hue in degrees, from max, min, their difference d and the lanes where they differ. With
// channels in [0, 2] the quotient lies in [-60, 60] (rounding is monotonic and the numerator is
// at most d in size), so the hue before wrapping lies in [-60, 300] and the scalar fmodf(h, 360)
// returns it unchanged.
template <class S>
V<S> hue(const Rgb<S>& c, V<S> max, V<S> d, M<S> notGrey) {
    // isG also holds where red is the maximum too: both of its selects sit under isR's.
    const M<S> isR = max == c.r, isG = max == c.g;
    V<S> num = selectSub(isG, c.b, c.r, c.r - c.g);
    num = selectSub(isR, c.g, c.b, num);
    const V<S> q = (num * 60.0f) / d;
    // The red branch adds -0, which leaves every value as it is (q + 0 would turn -0 into +0).
    const V<S> h = addOrZero(notGrey, q, select(isR, -0.0f, select(isG, 120.0f, 240.0f)));
    return selectAdd(h < 0.0f, h, 360.0f, h);
}

template <class S>
void rgbToHls(const Rgb<S>& c, Rgb<S>& o) {
    const V<S> max = max3(c), min = min3(c), d = max - min;
    const M<S> notGrey = max != min;
    o.r = hue(c, max, d, notGrey);
    const V<S> sum = max + min;
    o.g = sum * 0.5f;
    o.b = divOrZero(notGrey, d, select(o.g < 0.5f, sum, (2.0f - max) - min));
}

template <class S>
void rgbToHsb(const Rgb<S>& c, Rgb<S>& o) {
    const V<S> max = max3(c), min = min3(c), d = max - min;
    o.r = hue(c, max, d, max != min);
    o.g = divOrZero(max != 0.0f, d, max);
    o.b = max;
}

// m1 and the HLS ramp at x degrees (0 <= x <= 60, never NaN), dm being m2 - m1.
template <class S>
V<S> hlsRamp(V<S> m1, V<S> dm, V<S> x) {
    return (dm * x) / 60.0f + m1;
}

// Decodes the stored hue fraction to degrees first. The hues lie in [0, 720), where fmodf(H,
// 360) is H or the exact difference H - 360, never negative; L and S are never below 0. With
// kBits, the depth decoded: at 8 and 32 bits the channels are at most 1, so L and S need no limit
// to 1, and the hue no wrapping, as it is at most 360, and 360 gives each channel the value 0
// does (m2 for red, m1 for green and blue, below). Only at 32 bits can L be -0.
//
// Each channel is the scalar chain over its angle a (below 60 the rising ramp of a, below 180
// m2, below 240 the falling ramp of 240 - a, else m1) as one select: m2 where 60 <= a < 180,
// elsewhere one ramp whose argument is a, 240 - a or 0, picked by minima and maxima. The ramp of
// 0 is m1 exactly: (dm * 0) / 60 is a zero, and adding a zero leaves m1, which is never -0 (l + l
// = -0 needs l = -0, which gives m2 = (s + 1) * -0 = -0, and -0 - -0 is +0). Where S = 0 (the
// scalar code's grey case, which returns l) m2, m1 and every channel are l too: m2 = 1 * l or (0 +
// l) - l * 0, m1 = 2l - l, dm = +0 and the ramp (+0 * x) / 60 + l. The exception is l = -0,
// whose ramp is +0, so at 32 bits grey lanes are given l.
template <class S, int kBits>
void hlsToRgb(const Rgb<S>& c, Rgb<S>& o) {
    constexpr bool kAtMostOne = kBits != 16;
    const V<S> hueIn = c.r * 360.0f;
    const V<S> h = kAtMostOne ? hueIn : selectSub(hueIn >= 360.0f, hueIn, 360.0f, hueIn);
    const V<S> one = splat<S>(1.0f), zero = splat<S>(0.0f);
    const V<S> l = kAtMostOne ? c.g : stdMin(one, c.g);
    const V<S> s = kAtMostOne ? c.b : stdMin(one, c.b);
    const V<S> m2 = select(atLeast(l, 0.5f), (s + l) - l * s, (s + 1.0f) * l);
    const V<S> m1 = (l + l) - m2;
    const V<S> dm = m2 - m1;
    // Red: h + 120 in [120, 480], from which the scalar code takes 360 (exactly) above 360,
    // leaving the rising ramp below 420 and m2 from there. Below 360 it is m2 up to 180, then the
    // falling ramp, then m1.
    const V<S> ar = h + 120.0f;
    const V<S> xr = stdMax(stdMax(240.0f - ar, ar - 360.0f), zero);
    const M<S> rampR = butNot(atLeast(ar, 180.0f), atLeast(ar, 420.0f));
    o.r = select(rampR, hlsRamp(m1, dm, xr), m2);
    // Green: h itself.
    const V<S> xg = stdMax(stdMin(h, 240.0f - h), zero);
    const M<S> flatG = butNot(atLeast(h, 60.0f), atLeast(h, 180.0f));
    o.g = select(flatG, m2, hlsRamp(m1, dm, xg));
    // Blue: h - 120 in [-120, 240]. Below 0 the scalar code adds 360, which gives at least 240
    // and so m1, the ramp of 0.
    const V<S> ab = h - 120.0f;
    const V<S> xb = stdMax(stdMin(ab, 240.0f - ab), zero);
    const M<S> flatB = butNot(atLeast(ab, 60.0f), atLeast(ab, 180.0f));
    o.b = select(flatB, m2, hlsRamp(m1, dm, xb));
    if constexpr (kBits == 32) {
        const M<S> grey = s == 0.0f;
        o = {select(grey, l, o.r), select(grey, l, o.g), select(grey, l, o.b)};
    }
}

// Decodes the stored hue fraction to degrees first. H / 60 lies in [0, 12), where the sector
// fmodf is H / 60's floor or that less 6, both exact. Where floor gives +0 for -0 (the SSE2
// path) only f's sign changes, and f enters q and t only as 1 - s * f and 1 - f, which are 1
// either way.
template <class S>
void hsbToRgb(const Rgb<S>& c, Rgb<S>& o) {
    const V<S> h6 = (c.r * 360.0f) / 60.0f, s = c.g, v = c.b;
    const V<S> floor6{S::floor(h6.v)};
    const V<S> sector = selectSub(floor6 >= 6.0f, floor6, 6.0f, floor6);
    const V<S> f = h6 - floor6;
    const V<S> p = (1.0f - s) * v;
    const V<S> q = (1.0f - s * f) * v;
    const V<S> t = (1.0f - (1.0f - f) * s) * v;
    // The sector's bits as select masks: bit 2 for sectors 4 and 5, bit 1 for 2 and 3, bit 0 for
    // the odd ones.
    const typename S::I i = S::cvtt(sector.v);
    const M<S> b0{S::bitMask(i, 0)}, b1{S::bitMask(i, 1)}, b2{S::bitMask(i, 2)};
    // Sector:       0  1  2  3  4  5
    // red           v  q  p  p  t  v
    // green         t  v  v  q  p  p
    // blue          p  p  t  v  v  q
    // With S = 0 (the scalar code's grey case, which returns v) p, q and t are v already: 1 - 0,
    // 1 - 0 * f and 1 - (1 - f) * 0 are exactly 1 for every f in [0, 1), and 1 * v is v.
    const V<S> vt = select(b0, v, t), qv = select(b0, q, v);
    o.r = select(b2, vt, select(b1, p, qv));
    o.g = select(b2, p, select(b1, qv, vt));
    o.b = select(b2, qv, select(b1, vt, p));
}

// kBits: the depth the channels were decoded from.
template <int T, int kBits, class S>
void convert(const Rgb<S>& c, Rgb<S>& o) {
    if constexpr (T == kRgbToYuv)
        rgbToYuv(c, o);
    else if constexpr (T == kYuvToRgb)
        yuvToRgb(c, o);
    else if constexpr (T == kRgbToHls)
        rgbToHls(c, o);
    else if constexpr (T == kHlsToRgb)
        hlsToRgb<S, kBits>(c, o);
    else if constexpr (T == kRgbToHsb)
        rgbToHsb(c, o);
    else
        hsbToRgb(c, o);
}

// ---- Depths: decode on load, encode on store ------------------------------------------------

// The values given to the quantiser at 8 and 16 bits, M the channel scale and K the hue scale.
template <int T, class S>
Rgb<S> quantiserInputs(const Rgb<S>& o, float m, float k) {
    if constexpr (T == kRgbToYuv)
        return {o.r * m + 0.5f, (o.g + 0.5f) * m + 0.5f, (o.b + 0.5f) * m + 0.5f};
    else if constexpr (T == kRgbToHls || T == kRgbToHsb)
        return {o.r * k + 0.5f, o.g * m + 0.5f, o.b * m + 0.5f};
    else
        return {o.r * m + 0.5f, o.g * m + 0.5f, o.b * m + 0.5f};
}

struct Depth8 {
    using Pixel = PF_Pixel;
    static constexpr int kBits = 8;
    static constexpr float kMax = 255.0f;
    static constexpr float kHueScale = 255.0f / 360.0f;
};
struct Depth8Bgra : Depth8 {
    using Pixel = PixelBGRA8;
};
struct Depth16 {
    using Pixel = PF_Pixel16;
    static constexpr int kBits = 16;
    static constexpr float kMax = 32768.0f;
    static constexpr float kHueScale = 32768.0f / 360.0f;
};

// Declares Name<S>, whose value is true when the void expressions after the name are well-formed
// for the traits struct S: whether S has the optional members they name.
#define OMBREL_KERNEL_TRAIT(Name, ...)                                                             \
    template <class S, class = void>                                                               \
    struct Name {                                                                                  \
        static constexpr bool value = false;                                                       \
    };                                                                                             \
    template <class S>                                                                             \
    struct Name<S, decltype(__VA_ARGS__)> {                                                        \
        static constexpr bool value = true;                                                        \
    };

// Whether S has the 8-bit loads and stores of either channel order (load8At, store8At).
OMBREL_KERNEL_TRAIT(HasPositional8, void(&S::template load8At<0>))

constexpr bool isBgra(ChannelOrder o) {
    return o == ChannelOrder::BGRA;
}

// The float pixel record of a channel order.
template <ChannelOrder O>
struct Pixel32Of {
    using Type = PF_PixelFloat;
};
template <>
struct Pixel32Of<ChannelOrder::BGRA> {
    using Type = PixelBGRAFloat;
};

template <class S, ChannelOrder O>
void load8(const void* p, typename S::I& raw, Rgb<S>& c) {
    const auto* pixels = static_cast<const PF_Pixel*>(p);
    if constexpr (isBgra(O))
        S::template load8At<3>(pixels, raw, c.b.v, c.g.v, c.r.v);
    else if constexpr (HasPositional8<S>::value)
        S::template load8At<0>(pixels, raw, c.r.v, c.g.v, c.b.v);
    else
        S::load8(pixels, raw, c.r.v, c.g.v, c.b.v);
}
template <class S, ChannelOrder O, bool kStream = false>
void store8(void* p, typename S::I raw, const Rgb<S>& q) {
    auto* pixels = static_cast<PF_Pixel*>(p);
    if constexpr (kStream)
        S::template store8At<0, true>(pixels, raw, q.r.v, q.g.v, q.b.v);
    else if constexpr (isBgra(O))
        S::template store8At<3>(pixels, raw, q.b.v, q.g.v, q.r.v);
    else if constexpr (HasPositional8<S>::value)
        S::template store8At<0>(pixels, raw, q.r.v, q.g.v, q.b.v);
    else
        S::store8(pixels, raw, q.r.v, q.g.v, q.b.v);
}

template <class S, bool kStream = false>
void store16(PF_Pixel16* p, typename S::I alpha, const Rgb<S>& q) {
    if constexpr (kStream)
        S::template store16<true>(p, alpha, q.r.v, q.g.v, q.b.v);
    else
        S::store16(p, alpha, q.r.v, q.g.v, q.b.v);
}

// Whether S has load8UnitsAt.
OMBREL_KERNEL_TRAIT(HasLoad8Units, void(&S::template load8UnitsAt<0>))

// Whether S has load16Units.
OMBREL_KERNEL_TRAIT(HasLoad16Units, void(&S::load16Units))

// Whether S has streaming stores (kStreamAlignment and store32<true>).
OMBREL_KERNEL_TRAIT(HasStreamingStores, void(S::kStreamAlignment))

// Whether S has streaming stores at 8 and 16 bits too (kStreams8And16).
template <class S, class = void>
struct HasStreams8And16 {
    static constexpr bool value = false;
};
template <class S>
struct HasStreams8And16<S, decltype(void(S::kStreams8And16))> {
    static constexpr bool value = S::kStreams8And16;
};

// Whether S has prefetch.
OMBREL_KERNEL_TRAIT(HasPrefetch, void(&S::prefetch))

// How far ahead of the pixels being read, in bytes, the row kernels ask for the source: a loop
// with this much arithmetic per pixel keeps too few loads in flight for the hardware prefetchers
// alone to hide the memory's latency once a frame is larger than the caches. On a Zen 3 core
// this made 16- and 32-bit YUV frames 10 to 15 % faster and cached rows no slower; distances of
// 1024 to 4096 bytes were within 5 % of each other. Prefetches past a row's end are harmless.
constexpr std::uintptr_t kPrefetchBytes = 2048;

// Asks for the lines of the pixels kPrefetchBytes after those at p[x], one step's worth: every
// line of it when a step reads at least a line, else one every line's worth of steps.
template <class S, class P>
void prefetchAhead(const P* p, int x) {
    if constexpr (HasPrefetch<S>::value) {
        constexpr int kLine = 64, kStepBytes = S::kLanes * int(sizeof(P));
        const std::uintptr_t ahead = reinterpret_cast<std::uintptr_t>(p + x) + kPrefetchBytes;
        if constexpr (kStepBytes >= kLine) {
            for (int l = 0; l < kStepBytes; l += kLine)
                S::prefetch(reinterpret_cast<const void*>(ahead + l));
        } else if (x % (kLine / kStepBytes * S::kLanes) == 0) {
            S::prefetch(reinterpret_cast<const void*>(ahead));
        }
    }
}

// Whether S has load16YuvUnits.
OMBREL_KERNEL_TRAIT(HasLoad16YuvUnits, void(&S::load16YuvUnits))

// Whether S has store16Bounded.
OMBREL_KERNEL_TRAIT(HasStore16Bounded, void(&S::template store16Bounded<false>))

// 16-bit YUV in channel units, 2^15 times the decoded values: the decode's multiplication by
// 2^-15 and the quantiser's by 32768 drop out. Both formulas are sums and products by constants
// of the channels (and of the offset 1/2, here 2^14), so every intermediate is 2^15 times the
// decoded one; an exactly rounded sum or product of values scaled by a power of two is the scaled
// exactly rounded result, as long as neither side leaves the normal floats. Neither does: a
// nonzero decoded intermediate is a sum of channel products that are multiples of 2^-15 times
// constants near 1, so at least about 2^-43 in size, and none exceeds 8. Zeros keep their sign.
// The results, at most 8 * 2^15 in size and never NaN, suit store16Bounded where S has it.
template <int T>
constexpr bool kYuvInUnits16 = T == kRgbToYuv || T == kYuvToRgb;

template <class S, int T, bool kStream>
void convertRowYuvUnits16(const PF_Pixel16* src, PF_Pixel16* dst, int count) {
    constexpr float kHalf = 16384.0f;
    for (int x = 0; x < count; x += S::kLanes) {
        prefetchAhead<S>(src, x);
        typename S::I alpha;
        Rgb<S> c, o, q;
        if constexpr (T == kRgbToYuv) {
            S::load16Units(src + x, alpha, c.r.v, c.g.v, c.b.v);
            rgbToYuv(c, o);
            q = {o.r + 0.5f, (o.g + kHalf) + 0.5f, (o.b + kHalf) + 0.5f};
        } else {
            if constexpr (HasLoad16YuvUnits<S>::value) {
                S::load16YuvUnits(src + x, alpha, c.r.v, c.g.v, c.b.v);
                yuvToRgbCentred(c.r, c.g, c.b, o);
            } else {
                S::load16Units(src + x, alpha, c.r.v, c.g.v, c.b.v);
                yuvToRgb(c, o, kHalf);
            }
            q = {o.r + 0.5f, o.g + 0.5f, o.b + 0.5f};
        }
        if constexpr (HasStore16Bounded<S>::value)
            S::template store16Bounded<kStream>(dst + x, alpha, q.r.v, q.g.v, q.b.v);
        else
            store16<S, kStream>(dst + x, alpha, q);
    }
}

// Whether S has load8YuvAt and store8NearestAt.
OMBREL_KERNEL_TRAIT(HasYuv8, void(&S::template load8YuvAt<0>),
                    void(&S::template store8NearestAt<0>))

// 8-bit YUV to RGB in channel units, 255 times the decoded values: the stored bytes as they are,
// U and V centred by subtracting 127.5 (exact), and each result + 0.5 handed to the quantiser,
// with no division by 255 before and no multiplication by 255 after. Unlike the 16-bit case these
// are not the decoded form's roundings scaled, but they give the same bytes: all 2^24 colours
// were compared with the scalar code, and the exhaustive 8-bit kernel test keeps doing so. (RGB
// to YUV in units gives other bytes for 1156 to 5012 colours a channel, so it stays decoded.)
// Where S has store8NearestAt the results are rounded to nearest instead of truncated after
// + 0.5: no result of these kernels is a tie or 0.5 - 2^-25 (every colour compared, as above),
// which is where the two differ.
template <class S, class P, ChannelOrder O, bool kStream>
void convertRowYuvToRgbUnits8(const P* src, P* dst, int count) {
    constexpr int kAlpha = isBgra(O) ? 3 : 0;
    for (int x = 0; x < count; x += S::kLanes) {
        prefetchAhead<S>(src, x);
        typename S::I alpha;
        Rgb<S> c, o;
        const auto* pixels = reinterpret_cast<const PF_Pixel*>(src + x);
        auto* out = reinterpret_cast<PF_Pixel*>(dst + x);
        if constexpr (HasYuv8<S>::value) {
            S::template load8YuvAt<kAlpha>(pixels, alpha, c.r.v, c.g.v, c.b.v);
            yuvToRgbCentred(c.r, c.g, c.b, o);
            if constexpr (isBgra(O))
                S::template store8NearestAt<3, kStream>(out, alpha, o.b.v, o.g.v, o.r.v);
            else
                S::template store8NearestAt<0, kStream>(out, alpha, o.r.v, o.g.v, o.b.v);
        } else {
            if constexpr (isBgra(O))
                S::template load8UnitsAt<3>(pixels, alpha, c.b.v, c.g.v, c.r.v);
            else
                S::template load8UnitsAt<0>(pixels, alpha, c.r.v, c.g.v, c.b.v);
            yuvToRgb(c, o, 127.5f);
            store8<S, O, kStream>(dst + x, alpha, {o.r + 0.5f, o.g + 0.5f, o.b + 0.5f});
        }
    }
}

// Whether S has load8ScaledAt.
OMBREL_KERNEL_TRAIT(HasLoad8Scaled, void(&S::template load8ScaledAt<0, 1, 1, 1>))

// 8-bit RGB to YUV on channels decoded times a power of two, 2^kScale for green and half that
// for red and blue, which gives the decoded form's bytes with three maxima and two products
// fewer per vector:
// - Scaling by a power of two commutes with every rounding while the values stay normal, so
//   each product and sum is the decoded form's times the same power. Red's and blue's half
//   scale takes their products by 0.5 for free, and the other coefficients are doubled (2 * c is
//   exact).
// - A zero byte decodes to just above 2^(kScale - 152) (red, blue) or 2^(kScale - 151) (green)
//   in place of 0, so the decode needs no maximum. Its products lie far below half a unit in the
//   last place of every nonzero value they meet (the smallest nonzero product is 0.081 / 255
//   times the scale), so they vanish from each sum with a nonzero term. A sum that is 0 in the
//   decoded form may be left that small instead, and the quantisers' first addition, of 0.5
//   times the scale, absorbs it.
// - The results are scaled back by folding 2^-kScale into the quantisers' products, after that
//   addition: no value scaled back is then below 0.5, so none ends subnormal (which some
//   processors compute slowly).
// All 2^24 colours give the decoded form's bytes, and the exhaustive 8-bit test keeps checking so.
template <class S, class P, ChannelOrder O, bool kStream>
void convertRowRgbToYuvScaled8(const P* src, P* dst, int count) {
    constexpr int kScale = 60;
    constexpr float kUp = float(1ull << kScale), kDown = 1.0f / kUp, kHalf = 0.5f * kUp;
    constexpr float kDown255 = 255.0f * kDown;
    for (int x = 0; x < count; x += S::kLanes) {
        prefetchAhead<S>(src, x);
        typename S::I alpha;
        Rgb<S> c, o;
        const auto* pixels = reinterpret_cast<const PF_Pixel*>(src + x);
        if constexpr (isBgra(O))
            S::template load8ScaledAt<3, kScale - 1, kScale, kScale - 1>(pixels, alpha, c.b.v,
                                                                         c.g.v, c.r.v);
        else
            S::template load8ScaledAt<0, kScale - 1, kScale, kScale - 1>(pixels, alpha, c.r.v,
                                                                         c.g.v, c.b.v);
        o.r = ((2 * 0.299f) * c.r + 0.587f * c.g) + (2 * 0.114f) * c.b;
        o.g = ((2 * -0.169f) * c.r + -0.331f * c.g) + c.b;
        o.b = (c.r + -0.419f * c.g) + (2 * -0.081f) * c.b;
        store8<S, O, kStream>(dst + x, alpha,
                              {(o.r * 255.0f + kHalf) * kDown, (o.g + kHalf) * kDown255 + 0.5f,
                               (o.b + kHalf) * kDown255 + 0.5f});
    }
}

// Converts count pixels, a multiple of the vector width. O is ARGB at 16 bits. With kStream
// (ARGB only) dst is aligned to S::kStreamAlignment.
template <class S, class D, int T, ChannelOrder O = ChannelOrder::ARGB, bool kStream = false>
void convertRow(const typename D::Pixel* src, typename D::Pixel* dst, int count) {
    static_assert(!kStream || !isBgra(O), "streaming stores are made for ARGB worlds only");
    if constexpr (D::kBits == 16 && kYuvInUnits16<T> && HasLoad16Units<S>::value) {
        convertRowYuvUnits16<S, T, kStream>(src, dst, count);
        return;
    }
    if constexpr (D::kBits == 8 && T == kRgbToYuv && HasLoad8Scaled<S>::value) {
        convertRowRgbToYuvScaled8<S, typename D::Pixel, O, kStream>(src, dst, count);
        return;
    }
    if constexpr (D::kBits == 8 && T == kYuvToRgb && HasLoad8Units<S>::value) {
        convertRowYuvToRgbUnits8<S, typename D::Pixel, O, kStream>(src, dst, count);
        return;
    }
    for (int x = 0; x < count; x += S::kLanes) {
        prefetchAhead<S>(src, x);
        typename S::I alpha;
        Rgb<S> c, o;
        if constexpr (D::kBits == 8)
            load8<S, O>(src + x, alpha, c);
        else
            S::load16(src + x, alpha, c.r.v, c.g.v, c.b.v);
        convert<T, D::kBits>(c, o);
        const Rgb<S> q = quantiserInputs<T>(o, D::kMax, D::kHueScale);
        if constexpr (D::kBits == 8)
            store8<S, O, kStream>(dst + x, alpha, q);
        else
            store16<S, kStream>(dst + x, alpha, q);
    }
}

// clampUnit with -0 read as +0 too: maxps(v, 0) gives 0 for NaN, negatives and both zeros.
template <class S>
typename S::F clampUnitAnyZero(typename S::F v) {
    return S::minps(S::maxps(v, S::zero()), S::set1(1.0f));
}

// Whether the sign of a zero in 32-bit input channel k (0 red or H or Y, 1 green or L or S or U,
// 2 blue or B or S or V) can reach conversion T's results. Where it cannot, the channel is
// clamped without keeping -0, two operations fewer:
// - RGB to HLS and RGB to HSB, red: max3 and min3 compare red last and keep the other operand
//   where the comparison fails, so a zero red is never the maximum, and is the minimum only
//   under a nonzero maximum, to which it is added or from which it is subtracted: the maximum
//   either way. The hue takes red's branch only where red is the maximum (nonzero, or grey);
//   elsewhere a zero red enters a difference to which 120 or 240 is then added.
// - YUV to RGB, U and V: they enter only as U - 0.5 and V - 0.5, -0.5 for either zero.
// - HLS to RGB, H: h = H * 360 enters h + 120, h - 120 and comparisons, none of which sees the
//   sign, and green's ramp argument, where it ends as a zero product (dm * +-0) / 60 added to
//   m1, which is never -0, so m1 either way. S: it enters as s + 1 (1 for either zero), in
//   s == 0 (true for both), and, where l >= 0.5, as s + l and l * s subtracted from it.
// - HSB to RGB, H: h6 = (H * 360) / 60 goes through floor, the sector and f = h6 - floor(h6),
//   whose sign may already vary (see hsbToRgb). S: it enters as 1 - s, 1 - s * f and
//   1 - (1 - f) * s, each 1 for either zero.
// Everywhere else a zero's sign can reach a result: Y from each of R, G and B, L and V from the
// last channel min3 and max3 take, the hue's red branch g - b, and the backward conversions'
// Y, L and B through their products.
constexpr bool keepsZeroSign(int t, int k) {
    switch (t) {
    case kRgbToHls:
    case kRgbToHsb:
        return k != 0;
    case kYuvToRgb:
        return k == 0;
    case kHlsToRgb:
        return k == 1;
    case kHsbToRgb:
        return k == 2;
    default:
        return true;
    }
}
template <class S, int T, int k>
typename S::F clampInput(typename S::F v) {
    if constexpr (keepsZeroSign(T, k))
        return S::clampUnit(v);
    else
        return clampUnitAnyZero<S>(v);
}

// With kStream, dst is aligned to S::kStreamAlignment.
template <class S, int T, ChannelOrder O = ChannelOrder::ARGB, bool kStream = false>
void convertRow32(const typename Pixel32Of<O>::Type* src, typename Pixel32Of<O>::Type* dst,
                  int count) {
    static_assert(!kStream || !isBgra(O), "streaming stores are made for ARGB worlds only");
    for (int x = 0; x < count; x += S::kLanes) {
        prefetchAhead<S>(src, x);
        // The four channels by memory position, named for the order.
        typename S::F p0, p1, p2, p3;
        S::load32(reinterpret_cast<const PF_PixelFloat*>(src + x), p0, p1, p2, p3);
        typename S::F& alpha = isBgra(O) ? p3 : p0;
        Rgb<S> c, o;
        c.r.v = isBgra(O) ? p2 : p1;
        c.g.v = isBgra(O) ? p1 : p2;
        c.b.v = isBgra(O) ? p0 : p3;
        c = {{clampInput<S, T, 0>(c.r.v)},
             {clampInput<S, T, 1>(c.g.v)},
             {clampInput<S, T, 2>(c.b.v)}};
        convert<T, 32>(c, o);
        if constexpr (T == kRgbToYuv)
            o = {o.r, o.g + 0.5f, o.b + 0.5f};
        else if constexpr (T == kRgbToHls || T == kRgbToHsb)
            o.r = o.r / 360.0f;
        auto* out = reinterpret_cast<PF_PixelFloat*>(dst + x);
        if constexpr (kStream)
            S::template store32<true>(out, alpha, o.r.v, o.g.v, o.b.v);
        else if constexpr (isBgra(O))
            S::store32(out, o.b.v, o.g.v, o.r.v, alpha);
        else
            S::store32(out, alpha, o.r.v, o.g.v, o.b.v);
    }
}

template <class S, int T>
void addConversion(RowKernels& k) {
    k.row8[T] = convertRow<S, Depth8, T>;
    k.row16[T] = convertRow<S, Depth16, T>;
    k.row32[T] = convertRow32<S, T>;
    if constexpr (HasPositional8<S>::value)
        k.row8Bgra[T] = convertRow<S, Depth8Bgra, T, ChannelOrder::BGRA>;
    k.row32Bgra[T] = convertRow32<S, T, ChannelOrder::BGRA>;
    if constexpr (HasStreamingStores<S>::value)
        k.stream32[T] = convertRow32<S, T, ChannelOrder::ARGB, true>;
    if constexpr (HasStreams8And16<S>::value) {
        k.stream8[T] = convertRow<S, Depth8, T, ChannelOrder::ARGB, true>;
        k.stream16[T] = convertRow<S, Depth16, T, ChannelOrder::ARGB, true>;
    }
}

template <class S>
RowKernels makeRowKernels() {
    static_assert(S::kLanes <= kMaxLanes);
    RowKernels k{};
    k.lanes = S::kLanes;
    if constexpr (HasStreamingStores<S>::value)
        k.streamAlignment = S::kStreamAlignment;
    addConversion<S, kRgbToYuv>(k);
    addConversion<S, kYuvToRgb>(k);
    addConversion<S, kRgbToHls>(k);
    addConversion<S, kHlsToRgb>(k);
    addConversion<S, kRgbToHsb>(k);
    addConversion<S, kHsbToRgb>(k);
    return k;
}

} // namespace
} // namespace Ombrel::Kernels

#undef OMBREL_KERNEL_TRAIT
