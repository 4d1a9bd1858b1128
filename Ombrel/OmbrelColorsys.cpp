#include "Ombrel/OmbrelColorsys.h"

namespace Ombrel::Colorsys {

namespace {

float Luma(float r, float g, float b) {
    return (0.299f * r + 0.587f * g) + 0.114f * b;
}

int MaxOf(int r, int g, int b) {
    return std::max(std::max(b, g), r);
}
int MinOf(int r, int g, int b) {
    return std::min(std::min(b, g), r);
}

// Pixel channels reach at most 65535 even out of range, so every sum and product below stays
// well inside int: (max - min) * 32768 <= 65535 * 32768 < 2^31.

} // namespace

// ---- Luminance ------------------------------------------------------------------------------

float Luminance(const ColorFloat<float>& c) {
    return Luma(c.red, c.green, c.blue);
}
float Luminance(const PF_PixelFloat& p) {
    return Luma(p.red, p.green, p.blue);
}

// The weights sum to 1 within a float step, so Y stays below 256 (65536) and the truncation
// through int is exact.
A_u_char Luminance(const PF_Pixel& p) {
    return static_cast<A_u_char>(static_cast<int>(Luma(p.red, p.green, p.blue)));
}
A_u_short Luminance(const PF_Pixel16& p) {
    return static_cast<A_u_short>(static_cast<int>(Luma(p.red, p.green, p.blue)));
}

// ---- Lightness, saturation, brightness on floats --------------------------------------------

float Lightness(const ColorFloat<float>& c) {
    return (detail::Max3(c.red, c.green, c.blue) + detail::Min3(c.red, c.green, c.blue)) * 0.5f;
}
float Lightness(const PF_PixelFloat& p) {
    return (detail::Max3(p.red, p.green, p.blue) + detail::Min3(p.red, p.green, p.blue)) * 0.5f;
}

float Saturation(const ColorFloat<float>& c) {
    return detail::HlsSaturation(detail::Max3(c.red, c.green, c.blue),
                                 detail::Min3(c.red, c.green, c.blue));
}
float Saturation(const PF_PixelFloat& p) {
    return detail::HlsSaturation(detail::Max3(p.red, p.green, p.blue),
                                 detail::Min3(p.red, p.green, p.blue));
}

float Brightness(const ColorFloat<float>& c) {
    return detail::Max3(c.red, c.green, c.blue);
}
float Brightness(const PF_PixelFloat& p) {
    return detail::Max3(p.red, p.green, p.blue);
}

// ---- The same on pixels, in pixel units -----------------------------------------------------

A_u_char Lightness(const PF_Pixel& p) {
    const int sum = MaxOf(p.red, p.green, p.blue) + MinOf(p.red, p.green, p.blue);
    return static_cast<A_u_char>(sum > 511 ? 255 : sum / 2);
}
A_u_short Lightness(const PF_Pixel16& p) {
    const int sum = MaxOf(p.red, p.green, p.blue) + MinOf(p.red, p.green, p.blue);
    return static_cast<A_u_short>(sum > 65537 ? 32768 : sum / 2);
}

// Divides by 256 and 512 (not 255 and 510) against a numerator scale of 255; existing results
// depend on that, so it is not "corrected".
A_u_char Saturation(const PF_Pixel& p) {
    const int max = MaxOf(p.red, p.green, p.blue), min = MinOf(p.red, p.green, p.blue);
    if (max == min) {
        return 0;
    }
    const int d = max + min < 256 ? max + min : 512 - max - min;
    return static_cast<A_u_char>(((max - min) * 255) / d);
}

A_u_short Saturation(const PF_Pixel16& p) {
    const int max = MaxOf(p.red, p.green, p.blue), min = MinOf(p.red, p.green, p.blue);
    if (max == min) {
        return 0;
    }
    // Only reachable with channels above 32768: the divisor below would be 0.
    if (max + min == 65536) {
        return 32768;
    }
    const int d = max + min < 32768 ? max + min : 65536 - max - min;
    // Out-of-range channels can give a negative or oversized quotient; it is kept to 16 bits.
    return static_cast<A_u_short>(((max - min) * 32768) / d);
}

A_u_char Brightness(const PF_Pixel& p) {
    return static_cast<A_u_char>(MaxOf(p.red, p.green, p.blue));
}
A_u_short Brightness(const PF_Pixel16& p) {
    return static_cast<A_u_short>(MaxOf(p.red, p.green, p.blue));
}

// ---- Normalize ------------------------------------------------------------------------------

void Normalize(ColorFloat<float>& a, ColorFloat<float>& b, ColorFloat<float>& c) {
    for (float ColorFloat<float>::*ch :
         {&ColorFloat<float>::red, &ColorFloat<float>::green, &ColorFloat<float>::blue}) {
        const float s = (b.*ch + a.*ch) + c.*ch;
        if (s == 0.0f) {
            a.*ch = 0.0f;
            b.*ch = 1.0f;
            c.*ch = 0.0f;
        } else {
            a.*ch /= s;
            b.*ch /= s;
            c.*ch /= s;
        }
    }
}

} // namespace Ombrel::Colorsys
