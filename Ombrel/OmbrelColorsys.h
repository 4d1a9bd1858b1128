// Conversions between RGB and YUV, HLS and HSB, and single attributes of a colour.
//
// Colours are normalised ColorFloat<float> values; a conversion returns the three components of
// the target system in red, green and blue (YUV: Y, U, V; HLS: H, L, S; HSB: H, S, B) and keeps
// the input's alpha. Hue is in degrees, [0, 360) for RGB inputs in 0..1. U and V run -0.5..0.5.
//
// Results must match bit for bit across compilers: everything is single precision, one rounding
// per operation, in the order written, with no fused multiply-add (the build passes
// -ffp-contract=off). Constants are float literals, the nearest floats of the decimals. Do not
// regroup or factor the expressions.
//
// The six conversions are inline: the conversion filter calls one per pixel from another unit.
// All functions are pure and re-entrant (Normalize writes only its arguments).
#pragma once

#include <algorithm>
#include <cmath>

#include "HostInterface/EffectInterface.h"
#include "Ombrel/OmbrelGeneral.h"

namespace Ombrel::Colorsys {

namespace detail {

// Formed as max(max(B, G), R) and min(min(B, G), R); std::max(a, b) returns a unless a < b.
inline float Max3(float r, float g, float b) {
    return std::max(std::max(b, g), r);
}
inline float Min3(float r, float g, float b) {
    return std::min(std::min(b, g), r);
}

// Hexagonal hue in degrees. Ties for the maximum go to R, then G, then B: (1, 1, 0) is 60 and
// (0, 1, 1) is 180. A tiny negative hue may round to 360 when wrapped.
inline float Hue(float r, float g, float b, float max, float min) {
    float h;
    if (max == min) {
        h = 0.0f;
    } else if (max == r) {
        h = ((g - b) * 60.0f) / (max - min);
    } else if (max == g) {
        h = ((b - r) * 60.0f) / (max - min) + 120.0f;
    } else {
        h = ((r - g) * 60.0f) / (max - min) + 240.0f;
    }
    h = std::fmod(h, 360.0f); // the float overload: fmodf
    if (h < 0.0f) {
        h += 360.0f;
    }
    return h;
}

// HLS saturation; L of exactly 0.5 takes the second divisor.
inline float HlsSaturation(float max, float min) {
    if (max == min) {
        return 0.0f;
    }
    const float d = 0.5f > (max + min) * 0.5f ? max + min : (2.0f - max) - min;
    return (max - min) / d;
}

// One channel of HLS to RGB for the angle a in degrees; all comparisons strict.
inline float HlsValue(float m1, float m2, float a) {
    if (a < 60.0f) {
        return ((m2 - m1) * a) / 60.0f + m1;
    }
    if (a < 180.0f) {
        return m2;
    }
    if (a < 240.0f) {
        return ((m2 - m1) * (240.0f - a)) / 60.0f + m1;
    }
    return m1;
}

inline void SetRgb(ColorFloat<float>& c, float r, float g, float b) {
    c.red = r;
    c.green = g;
    c.blue = b;
}

} // namespace detail

// ---- YUV: BT.601 luma weights, full-range colour differences, three decimals -----------------

inline ColorFloat<float> RgbToYuv(const ColorFloat<float>& c) {
    const float r = c.red, g = c.green, b = c.blue;
    ColorFloat<float> out;
    out.alpha = c.alpha;
    out.red = (0.299f * r + 0.587f * g) + 0.114f * b;
    out.green = (-0.169f * r + -0.331f * g) + 0.5f * b;
    out.blue = (0.5f * r + -0.419f * g) + -0.081f * b;
    return out;
}

// No clamping: extreme U and V give channels outside 0..1.
inline ColorFloat<float> YuvToRgb(const ColorFloat<float>& c) {
    const float y = c.red, u = c.green, v = c.blue;
    ColorFloat<float> out;
    out.alpha = c.alpha;
    out.red = 1.402f * v + y;
    out.green = (-0.344f * u + y) + -0.714f * v;
    out.blue = 1.772f * u + y;
    return out;
}

float Luminance(const ColorFloat<float>& c);
float Luminance(const PF_PixelFloat& p);
// In pixel units, truncated: white gives 255 and 32768.
A_u_char Luminance(const PF_Pixel& p);
A_u_short Luminance(const PF_Pixel16& p);

inline float Hue(const ColorFloat<float>& c) {
    const float max = detail::Max3(c.red, c.green, c.blue);
    const float min = detail::Min3(c.red, c.green, c.blue);
    return detail::Hue(c.red, c.green, c.blue, max, min);
}

// ---- HLS ------------------------------------------------------------------------------------

inline ColorFloat<float> RgbToHls(const ColorFloat<float>& c) {
    const float max = detail::Max3(c.red, c.green, c.blue);
    const float min = detail::Min3(c.red, c.green, c.blue);
    ColorFloat<float> out;
    out.alpha = c.alpha;
    out.red = detail::Hue(c.red, c.green, c.blue, max, min);
    out.green = (max + min) * 0.5f;
    out.blue = detail::HlsSaturation(max, min);
    return out;
}

// Any finite hue is wrapped into [0, 360); L and S are limited to 0..1 first.
inline ColorFloat<float> HlsToRgb(const ColorFloat<float>& c) {
    float h = std::fmod(c.red, 360.0f);
    if (h < 0.0f) {
        h += 360.0f;
    }
    const float l = c.green < 0.0f ? 0.0f : std::min(1.0f, c.green);
    const float s = std::min(1.0f, c.blue);

    ColorFloat<float> out;
    out.alpha = c.alpha;
    if (c.blue < 0.0f || s == 0.0f) {
        out.red = out.green = out.blue = l;
        return out;
    }
    const float m2 = l < 0.5f ? (s + 1.0f) * l : (s + l) - l * s;
    const float m1 = (l + l) - m2;

    float a = h + 120.0f;
    if (a > 360.0f) { // a of exactly 360 stays and gives m1
        a -= 360.0f;
    }
    out.red = detail::HlsValue(m1, m2, a);
    out.green = detail::HlsValue(m1, m2, h);
    a = h - 120.0f;
    if (a < 0.0f) {
        a += 360.0f;
    }
    out.blue = detail::HlsValue(m1, m2, a);
    return out;
}

// L of HLS, and S of HLS (also for Saturation: not the HSB saturation).
float Lightness(const ColorFloat<float>& c);
float Lightness(const PF_PixelFloat& p);
float Saturation(const ColorFloat<float>& c);
float Saturation(const PF_PixelFloat& p);
float Brightness(const ColorFloat<float>& c);
float Brightness(const PF_PixelFloat& p);

// Pixel units, integer arithmetic. 8 bits: Lightness (max + min) / 2; Saturation
// ((max - min) * 255) / D with D = max + min below 256, else 512 - max - min. 16 bits: the same
// with 32768 and 65536. Brightness is max.
A_u_char Lightness(const PF_Pixel& p);
A_u_short Lightness(const PF_Pixel16& p);
A_u_char Saturation(const PF_Pixel& p);
// Channels above 32768 are outside the 16-bit range; where they make max + min = 65536 (a zero
// divisor) the result is 32768, the largest saturation.
A_u_short Saturation(const PF_Pixel16& p);
A_u_char Brightness(const PF_Pixel& p);
A_u_short Brightness(const PF_Pixel16& p);

// ---- HSB ------------------------------------------------------------------------------------

inline ColorFloat<float> RgbToHsb(const ColorFloat<float>& c) {
    const float max = detail::Max3(c.red, c.green, c.blue);
    const float min = detail::Min3(c.red, c.green, c.blue);
    ColorFloat<float> out;
    out.alpha = c.alpha;
    out.red = detail::Hue(c.red, c.green, c.blue, max, min);
    out.green = max == 0.0f ? 0.0f : (max - min) / max;
    out.blue = max;
    return out;
}

// Hues of 360 and above wrap round the circle (360 is 0, 390 is 30). Negative hues give black,
// except whole multiples of -360, which land on sector 0 as H = 0 does; NaN and infinite hues give
// black too. S and B are not clamped.
inline ColorFloat<float> HsbToRgb(const ColorFloat<float>& c) {
    const float s = c.green, v = c.blue;
    ColorFloat<float> out;
    out.alpha = c.alpha;
    if (s == 0.0f) {
        out.red = out.green = out.blue = v;
        return out;
    }
    const float h6 = c.red / 60.0f;
    const float floor6 = std::floor(h6);
    // An integer in -5..5, -0, or NaN. Truncation maps -0 (H = -360 and the like) to sector 0;
    // the test comes before the conversion, which would be undefined for NaN.
    const float sector = std::fmod(floor6, 6.0f);
    if (!(sector > -1.0f && sector < 6.0f)) {
        return out;
    }
    const float f = h6 - floor6;
    const float p = (1.0f - s) * v;
    const float q = (1.0f - s * f) * v;
    const float t = (1.0f - (1.0f - f) * s) * v;
    switch (static_cast<int>(sector)) {
    case 0:
        detail::SetRgb(out, v, t, p);
        break;
    case 1:
        detail::SetRgb(out, q, v, p);
        break;
    case 2:
        detail::SetRgb(out, p, v, t);
        break;
    case 3:
        detail::SetRgb(out, p, q, v);
        break;
    case 4:
        detail::SetRgb(out, t, p, v);
        break;
    default:
        detail::SetRgb(out, v, p, q);
        break;
    }
    return out;
}

// Per channel of red, green and blue: s = (b + a) + c; a, b and c are divided by s, or become
// 0, 1 and 0 when s is 0. Alpha is untouched.
void Normalize(ColorFloat<float>& a, ColorFloat<float>& b, ColorFloat<float>& c);

} // namespace Ombrel::Colorsys
