// The conversion filter's row kernels written once over an instruction-set traits struct S, and
// included by each instruction-set unit (KernelsSse2.cpp, KernelsSse41.cpp, KernelsAvx2.cpp).
//
// Everything here is in an unnamed namespace on purpose: each unit is compiled with its own ISA
// flags, and an inline function shared between units could be kept by the linker in its AVX2
// form and run on a CPU without AVX2. For the same reason these units include nothing with inline
// code of the effect's (no Colorsys, no ColorFloat, no standard containers or algorithms).
//
// Every lane does the IEEE single-precision operations of the scalar code (OmbrelColorsys.h and
// the filter's decode and encode), in the same order, with no fused multiply-add: the units are
// built with -ffp-contract=off and without -mfma, and each operator below is one instruction.
// std::max(a, b) is (a < b ? b : a), which is maxps(b, a); std::min(a, b) is minps(b, a). The
// few places where a cheaper instruction replaces the scalar one say why they are equal for the
// values that reach them; a vector holding any other value is left to the scalar code.
//
// S provides (F: float vector, I: 32-bit integer vector, kLanes pixels per vector):
//   set1, zero, add, sub, mul, div, minps (a < b ? a : b), maxps (a > b ? a : b),
//   lt, gt, ge, eq (ordered: false for NaN), band, bor, bandnot (~a & b), select(m, yes, no),
//   all(mask), floor (exact for 0 <= x < 2^31 except that -0 may give +0), cvtt (truncation),
//   bitMask(i, k) (a mask select can use, set where bit k of the integer lane is),
//   load8/store8, load16/store16, load32/store32 (pixels to channel vectors and back; the 8- and
//   16-bit stores take the quantiser's inputs: each is clamped to 0..M, NaN giving 0, and
//   truncated, as the scalar quantiser does, for every value 8- and 16-bit pixels lead to).
#pragma once

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
// A comparison result: all ones in the lanes where it holds.
template <class S>
struct M {
    typename S::F m;
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
M<S> operator&(M<S> a, M<S> b) {
    return {S::band(a.m, b.m)};
}
template <class S>
M<S> operator|(M<S> a, M<S> b) {
    return {S::bor(a.m, b.m)};
}
// a and not b
template <class S>
M<S> butNot(M<S> a, M<S> b) {
    return {S::bandnot(b.m, a.m)};
}
template <class S>
bool all(M<S> m) {
    return S::all(m.m);
}
template <class S>
V<S> select(M<S> m, V<S> yes, V<S> no) {
    return {S::select(m.m, yes.v, no.v)};
}
template <class S>
V<S> select(M<S> m, float yes, V<S> no) {
    return select(m, splat<S>(yes), no);
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

// ---- The six conversions: false when a lane is outside the exact range ----------------------

template <class S>
bool rgbToYuv(const Rgb<S>& c, Rgb<S>& o) {
    o.r = (0.299f * c.r + 0.587f * c.g) + 0.114f * c.b;
    o.g = (-0.169f * c.r + -0.331f * c.g) + 0.5f * c.b;
    o.b = (0.5f * c.r + -0.419f * c.g) + -0.081f * c.b;
    return true;
}

// Decodes the stored U + 0.5 and V + 0.5 first.
template <class S>
bool yuvToRgb(const Rgb<S>& c, Rgb<S>& o) {
    const V<S> y = c.r, u = c.g + -0.5f, v = c.b + -0.5f;
    o.r = 1.402f * v + y;
    o.g = (-0.344f * u + y) + -0.714f * v;
    o.b = 1.772f * u + y;
    return true;
}

template <class S>
V<S> max3(const Rgb<S>& c) {
    return stdMax(stdMax(c.b, c.g), c.r);
}
template <class S>
V<S> min3(const Rgb<S>& c) {
    return stdMin(stdMin(c.b, c.g), c.r);
}

// Hue in degrees. The scalar fmodf(h, 360) returns h unchanged when |h| < 360, which holds for
// every colour without NaN (the quotient is at most about 60 in size); any other lane goes to
// the scalar code.
template <class S>
bool hue(const Rgb<S>& c, V<S> max, V<S> min, V<S>& h) {
    const M<S> isR = max == c.r;
    const M<S> isG = butNot(max == c.g, isR);
    const V<S> num = select(isR, c.g - c.b, select(isG, c.b - c.r, c.r - c.g));
    const V<S> q = (num * 60.0f) / (max - min);
    // The red branch adds nothing: q + 0 would turn -0 into +0.
    V<S> h0 = select(isR, q, select(isG, q + 120.0f, q + 240.0f));
    h0 = select(max == min, 0.0f, h0);
    if (!all((h0 < 360.0f) & (h0 > -360.0f)))
        return false;
    h = select(h0 < 0.0f, h0 + 360.0f, h0);
    return true;
}

template <class S>
bool rgbToHls(const Rgb<S>& c, Rgb<S>& o) {
    const V<S> max = max3(c), min = min3(c);
    if (!hue(c, max, min, o.r))
        return false;
    o.g = (max + min) * 0.5f;
    const V<S> d = select(o.g < 0.5f, max + min, (2.0f - max) - min);
    o.b = select(max == min, 0.0f, (max - min) / d);
    return true;
}

template <class S>
bool rgbToHsb(const Rgb<S>& c, Rgb<S>& o) {
    const V<S> max = max3(c), min = min3(c);
    if (!hue(c, max, min, o.r))
        return false;
    o.g = select(max == 0.0f, 0.0f, (max - min) / max);
    o.b = max;
    return true;
}

// One channel of HLS to RGB; both ramps share one division.
template <class S>
V<S> hlsValue(V<S> m1, V<S> m2, V<S> a) {
    const M<S> rising = a < 60.0f;
    const V<S> ramp = ((m2 - m1) * select(rising, a, 240.0f - a)) / 60.0f + m1;
    return select(rising, ramp, select(a < 180.0f, m2, select(a < 240.0f, ramp, m1)));
}

// Decodes the stored hue fraction to degrees first. The filter's hues lie in [0, 720) (16-bit
// channels run to 65535), where fmodf(H, 360) is H or the exact difference H - 360, never
// negative; any other lane goes to the scalar code.
template <class S>
bool hlsToRgb(const Rgb<S>& c, Rgb<S>& o) {
    const V<S> hueIn = c.r * 360.0f;
    if (!all((hueIn >= 0.0f) & (hueIn < 720.0f)))
        return false;
    const V<S> h = select(hueIn >= 360.0f, hueIn - 360.0f, hueIn);
    const V<S> one = splat<S>(1.0f);
    const V<S> l = select(c.g < 0.0f, 0.0f, stdMin(one, c.g));
    const V<S> s = stdMin(one, c.b);
    const M<S> grey = (c.b < 0.0f) | (s == 0.0f);
    const V<S> m2 = select(l < 0.5f, (s + 1.0f) * l, (s + l) - l * s);
    const V<S> m1 = (l + l) - m2;
    V<S> a = h + 120.0f;
    a = select(a > 360.0f, a - 360.0f, a);
    o.r = select(grey, l, hlsValue(m1, m2, a));
    o.g = select(grey, l, hlsValue(m1, m2, h));
    a = h - 120.0f;
    a = select(a < 0.0f, a + 360.0f, a);
    o.b = select(grey, l, hlsValue(m1, m2, a));
    return true;
}

// Decodes the stored hue fraction to degrees first. For H / 60 in [0, 12) the sector fmodf is H /
// 60's floor or that less 6, both exact; any other lane goes to the scalar code. Where floor
// gives +0 for -0 (the SSE2 path) only f's sign changes, and f enters q and t only as 1 - s * f
// and 1 - f, which are 1 either way.
template <class S>
bool hsbToRgb(const Rgb<S>& c, Rgb<S>& o) {
    const V<S> h6 = (c.r * 360.0f) / 60.0f, s = c.g, v = c.b;
    if (!all((h6 >= 0.0f) & (h6 < 12.0f)))
        return false;
    const V<S> floor6{S::floor(h6.v)};
    const V<S> sector = select(floor6 >= 6.0f, floor6 - 6.0f, floor6);
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
    return true;
}

template <int T, class S>
bool convert(const Rgb<S>& c, Rgb<S>& o) {
    if constexpr (T == kRgbToYuv)
        return rgbToYuv(c, o);
    else if constexpr (T == kYuvToRgb)
        return yuvToRgb(c, o);
    else if constexpr (T == kRgbToHls)
        return rgbToHls(c, o);
    else if constexpr (T == kHlsToRgb)
        return hlsToRgb(c, o);
    else if constexpr (T == kRgbToHsb)
        return rgbToHsb(c, o);
    else
        return hsbToRgb(c, o);
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
struct Depth16 {
    using Pixel = PF_Pixel16;
    static constexpr int kBits = 16;
    static constexpr float kMax = 32768.0f;
    static constexpr float kHueScale = 32768.0f / 360.0f;
};
struct Depth32 {
    using Pixel = PF_PixelFloat;
};

// Converts whole vectors from the start of the row; returns how many pixels it converted.
template <class S, class D, int T>
int convertRow(const typename D::Pixel* src, typename D::Pixel* dst, int count) {
    int x = 0;
    for (; count - x >= S::kLanes; x += S::kLanes) {
        Rgb<S> c, o;
        if constexpr (D::kBits == 8) {
            typename S::I alpha;
            S::load8(src + x, alpha, c.r.v, c.g.v, c.b.v);
            if (!convert<T>(c, o))
                break;
            const Rgb<S> q = quantiserInputs<T>(o, D::kMax, D::kHueScale);
            S::store8(dst + x, alpha, q.r.v, q.g.v, q.b.v);
        } else {
            typename S::I alpha;
            S::load16(src + x, alpha, c.r.v, c.g.v, c.b.v);
            if (!convert<T>(c, o))
                break;
            const Rgb<S> q = quantiserInputs<T>(o, D::kMax, D::kHueScale);
            S::store16(dst + x, alpha, q.r.v, q.g.v, q.b.v);
        }
    }
    return x;
}

// The float inputs limited to 0..1 as ColorFloat::clamp does (v > 1 gives 1, then v < 0 gives 0,
// so -0 stays), then NaN read as 0.
template <class S>
V<S> clampInput(V<S> v) {
    const typename S::F x = S::maxps(S::zero(), S::minps(S::set1(1.0f), v.v));
    return {S::band(x, S::eq(x, x))};
}

template <class S, int T>
int convertRow32(const PF_PixelFloat* src, PF_PixelFloat* dst, int count) {
    int x = 0;
    for (; count - x >= S::kLanes; x += S::kLanes) {
        typename S::F alpha;
        Rgb<S> c, o;
        S::load32(src + x, alpha, c.r.v, c.g.v, c.b.v);
        c = {clampInput(c.r), clampInput(c.g), clampInput(c.b)};
        if (!convert<T>(c, o))
            break;
        if constexpr (T == kRgbToYuv)
            o = {o.r, o.g + 0.5f, o.b + 0.5f};
        else if constexpr (T == kRgbToHls || T == kRgbToHsb)
            o.r = o.r / 360.0f;
        S::store32(dst + x, alpha, o.r.v, o.g.v, o.b.v);
    }
    return x;
}

template <class S, int T>
void addConversion(RowKernels& k) {
    k.row8[T] = convertRow<S, Depth8, T>;
    k.row16[T] = convertRow<S, Depth16, T>;
    k.row32[T] = convertRow32<S, T>;
}

template <class S>
RowKernels makeRowKernels() {
    RowKernels k{S::kLanes, {}, {}, {}};
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
