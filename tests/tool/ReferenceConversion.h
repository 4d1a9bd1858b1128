// The conversions computed independently from their documented formulas and channel
// encodings, to check the plug-in's output through the tool bit for bit. Single precision, one
// rounding per operation, in the written order (the build turns off contraction into FMA).
#pragma once

#include <cmath>

#include "Host/Image.h"

namespace OmbrelRenderTest {

struct Colour {
    float r, g, b;
};

inline float maxOf(const Colour& c) {
    const float bg = c.b < c.g ? c.g : c.b; // max(b, g): b unless b < g
    return bg < c.r ? c.r : bg;
}

inline float minOf(const Colour& c) {
    const float bg = c.g < c.b ? c.g : c.b; // min(b, g): b unless g < b
    return c.r < bg ? c.r : bg;
}

inline float hueDegrees(const Colour& c) {
    const float mx = maxOf(c), mn = minOf(c);
    float h;
    if (mx == mn)
        h = 0.0f;
    else if (mx == c.r)
        h = ((c.g - c.b) * 60.0f) / (mx - mn);
    else if (mx == c.g)
        h = ((c.b - c.r) * 60.0f) / (mx - mn) + 120.0f;
    else
        h = ((c.r - c.g) * 60.0f) / (mx - mn) + 240.0f;
    h = std::fmod(h, 360.0f);
    if (h < 0.0f)
        h += 360.0f;
    return h;
}

inline Colour rgbToYuv(const Colour& c) {
    return {(0.299f * c.r + 0.587f * c.g) + 0.114f * c.b,
            (-0.169f * c.r + -0.331f * c.g) + 0.5f * c.b,
            (0.5f * c.r + -0.419f * c.g) + -0.081f * c.b};
}

inline Colour yuvToRgb(const Colour& c) {
    const float y = c.r, u = c.g, v = c.b;
    return {1.402f * v + y, (-0.344f * u + y) + -0.714f * v, 1.772f * u + y};
}

inline Colour rgbToHls(const Colour& c) {
    const float mx = maxOf(c), mn = minOf(c);
    const float l = (mx + mn) * 0.5f;
    float s = 0.0f;
    if (mx != mn)
        s = (mx - mn) / (l < 0.5f ? mx + mn : (2.0f - mx) - mn);
    return {hueDegrees(c), l, s};
}

inline float hlsValue(float m1, float m2, float a) {
    if (a < 60.0f)
        return ((m2 - m1) * a) / 60.0f + m1;
    if (a < 180.0f)
        return m2;
    if (a < 240.0f)
        return ((m2 - m1) * (240.0f - a)) / 60.0f + m1;
    return m1;
}

inline Colour hlsToRgb(const Colour& c) {
    float h = std::fmod(c.r, 360.0f);
    if (h < 0.0f)
        h += 360.0f;
    const float l = c.g < 0.0f ? 0.0f : (1.0f < c.g ? 1.0f : c.g);
    const float s = 1.0f < c.b ? 1.0f : c.b;
    if (c.b < 0.0f || s == 0.0f)
        return {l, l, l};
    const float m2 = l < 0.5f ? (s + 1.0f) * l : (s + l) - l * s;
    const float m1 = (l + l) - m2;
    float ar = h + 120.0f;
    if (ar > 360.0f)
        ar -= 360.0f;
    float ab = h - 120.0f;
    if (ab < 0.0f)
        ab += 360.0f;
    return {hlsValue(m1, m2, ar), hlsValue(m1, m2, h), hlsValue(m1, m2, ab)};
}

inline Colour rgbToHsb(const Colour& c) {
    const float mx = maxOf(c), mn = minOf(c);
    return {hueDegrees(c), mx == 0.0f ? 0.0f : (mx - mn) / mx, mx};
}

inline Colour hsbToRgb(const Colour& c) {
    const float h = c.r, s = c.g, v = c.b;
    if (s == 0.0f)
        return {v, v, v};
    const float h6 = h / 60.0f;
    const int i = static_cast<int>(std::fmod(std::floor(h6), 6.0f));
    if (i < 0 || i > 5)
        return {0.0f, 0.0f, 0.0f};
    const float f = h6 - std::floor(h6);
    const float p = (1.0f - s) * v;
    const float q = (1.0f - s * f) * v;
    const float t = (1.0f - (1.0f - f) * s) * v;
    switch (i) {
    case 0:
        return {v, t, p};
    case 1:
        return {q, v, p};
    case 2:
        return {p, v, t};
    case 3:
        return {p, q, v};
    case 4:
        return {t, p, v};
    default:
        return {v, p, q};
    }
}

// Converts one pixel's colour in 0..1 units (already decoded from the depth) by popup value:
// backward conversions read the forward encoding (U, V offset by 0.5; hue as a fraction of a
// turn). Returns the components before encoding for the depth.
inline Colour convert(int mode, Colour c) {
    switch (mode) {
    case 1:
        return rgbToYuv(c);
    case 2:
        return yuvToRgb({c.r, c.g + -0.5f, c.b + -0.5f});
    case 3:
        return rgbToHls(c);
    case 4:
        return hlsToRgb({c.r * 360.0f, c.g, c.b});
    case 5:
        return rgbToHsb(c);
    default:
        return hsbToRgb({c.r * 360.0f, c.g, c.b});
    }
}

inline unsigned quantise(float v, float max) {
    if (0.0f > v)
        return 0;
    if (v > max)
        return static_cast<unsigned>(max);
    return static_cast<unsigned>(v);
}

// 8 or 16 bits: what the plug-in stores for a pixel, from host units to host units.
template <class P>
P expectedInteger(int mode, const P& in) {
    constexpr bool eight = sizeof(in.red) == 1;
    const float m = eight ? 255.0f : 32768.0f;
    const float k = eight ? static_cast<float>(255.0 / 360.0) : static_cast<float>(32768.0 / 360.0);
    auto decode = [&](unsigned v) {
        return eight ? static_cast<float>(v) / 255.0f : static_cast<float>(v) * 0x1p-15f;
    };
    const Colour out = convert(mode, {decode(in.red), decode(in.green), decode(in.blue)});
    float r, g, b;
    switch (mode) {
    case 1:
        r = out.r * m + 0.5f;
        g = (out.g + 0.5f) * m + 0.5f;
        b = (out.b + 0.5f) * m + 0.5f;
        break;
    case 3:
    case 5:
        r = out.r * k + 0.5f;
        g = out.g * m + 0.5f;
        b = out.b * m + 0.5f;
        break;
    default:
        r = out.r * m + 0.5f;
        g = out.g * m + 0.5f;
        b = out.b * m + 0.5f;
        break;
    }
    using C = decltype(in.red);
    return P{in.alpha, static_cast<C>(quantise(r, m)), static_cast<C>(quantise(g, m)),
             static_cast<C>(quantise(b, m))};
}

inline PF_PixelFloat expectedFloat(int mode, const PF_PixelFloat& in) {
    auto clamp = [](float v) { return v > 1.0f ? 1.0f : (v < 0.0f ? 0.0f : v); };
    const Colour out = convert(mode, {clamp(in.red), clamp(in.green), clamp(in.blue)});
    switch (mode) {
    case 1:
        return {in.alpha, out.r, out.g + 0.5f, out.b + 0.5f};
    case 3:
    case 5:
        return {in.alpha, out.r / 360.0f, out.g, out.b};
    default:
        return {in.alpha, out.r, out.g, out.b};
    }
}

} // namespace OmbrelRenderTest
