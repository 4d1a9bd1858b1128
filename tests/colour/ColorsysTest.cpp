// Colour systems: known results, round trips, an independent double-precision hue and saturation,
// bit-for-bit agreement with plain single-precision evaluation, and the 16-bit saturation guard.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "Ombrel/OmbrelColorsys.h"

namespace cs = Ombrel::Colorsys;
using Color = Ombrel::ColorFloat<float>;
using Conversion = Color (*)(const Color&);

namespace {

const float kNaN = std::numeric_limits<float>::quiet_NaN();
const float kInf = std::numeric_limits<float>::infinity();

uint32_t Bits(float f) {
    return std::bit_cast<uint32_t>(f);
}
bool SameBits(const Color& a, const Color& b) {
    return Bits(a.alpha) == Bits(b.alpha) && Bits(a.red) == Bits(b.red) &&
           Bits(a.green) == Bits(b.green) && Bits(a.blue) == Bits(b.blue);
}
::testing::AssertionResult Near(const Color& got, float r, float g, float b, float tol) {
    if (std::abs(got.red - r) <= tol && std::abs(got.green - g) <= tol &&
        std::abs(got.blue - b) <= tol) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure()
           << "got (" << got.red << ", " << got.green << ", " << got.blue << ") want (" << r << ", "
           << g << ", " << b << ")";
}

struct Case {
    const char* what;
    Conversion f;
    float in[3];
    float out[3];
    float tol; // 0: exact
};

TEST(ColourSystems, KnownResults) {
    const Case cases[] = {
        {"yuv white", cs::RgbToYuv, {1, 1, 1}, {1, 0, 0}, 1e-6f},
        {"yuv red", cs::RgbToYuv, {1, 0, 0}, {0.299f, -0.169f, 0.5f}, 0},
        {"rgb from yuv", cs::YuvToRgb, {1, 0.5f, 0.5f}, {1.701f, 0.471f, 1.886f}, 1e-6f},
        {"hls", cs::RgbToHls, {0.2f, 0.4f, 0.6f}, {210, 0.4f, 0.5f}, 3e-5f},
        {"hsb", cs::RgbToHsb, {0.2f, 0.4f, 0.6f}, {210, 0.6666667f, 0.6f}, 3e-5f},
        {"hls grey", cs::RgbToHls, {0.3f, 0.3f, 0.3f}, {0, 0.3f, 0}, 0},
        {"hls red", cs::RgbToHls, {1, 0, 0}, {0, 0.5f, 1}, 0},
        {"tie r=g takes r", cs::RgbToHsb, {1, 1, 0}, {60, 1, 1}, 0},
        {"tie g=b takes g", cs::RgbToHls, {0, 1, 1}, {180, 0.5f, 1}, 0},
        {"hls -30", cs::HlsToRgb, {-30, 0.5f, 1}, {1, 0, 0.5f}, 0},
        {"hls 360 is 0", cs::HlsToRgb, {360, 0.5f, 1}, {1, 0, 0}, 0},
        {"hls -690 is 30", cs::HlsToRgb, {-690, 0.5f, 1}, {1, 0.5f, 0}, 0},
        {"hls s 0", cs::HlsToRgb, {50, 0.3f, 0}, {0.3f, 0.3f, 0.3f}, 0},
        {"hls s<0", cs::HlsToRgb, {50, 0.3f, -1}, {0.3f, 0.3f, 0.3f}, 0},
        {"hls l 0", cs::HlsToRgb, {50, 0, 0.7f}, {0, 0, 0}, 0},
        {"hls l,s clamp", cs::HlsToRgb, {240, 7, 9}, {1, 1, 1}, 0},
        {"hls l<0", cs::HlsToRgb, {240, -2, 0.5f}, {0, 0, 0}, 0},
        {"hsb 360", cs::HsbToRgb, {360, 1, 1}, {1, 0, 0}, 0},
        {"hsb 390", cs::HsbToRgb, {390, 1, 1}, {1, 0.5f, 0}, 0},
        {"hsb -10", cs::HsbToRgb, {-10, 1, 1}, {0, 0, 0}, 0},
        {"hsb -360 sector 0", cs::HsbToRgb, {-360, 1, 1}, {1, 0, 0}, 0},
        {"hsb nan", cs::HsbToRgb, {kNaN, 1, 1}, {0, 0, 0}, 0},
        {"hsb inf", cs::HsbToRgb, {kInf, 1, 1}, {0, 0, 0}, 0},
        {"hsb huge: sector 2", cs::HsbToRgb, {3e38f, 0.5f, 1}, {0.5f, 1, 0.5f}, 0},
        {"hsb s 0 any h", cs::HsbToRgb, {kNaN, 0, 0.4f}, {0.4f, 0.4f, 0.4f}, 0},
        {"hsb 330 unclamped", cs::HsbToRgb, {330, 1, 2}, {2, 0, 1}, 0},
    };
    for (const Case& k : cases) {
        const Color got = k.f(Color(0.37f, k.in[0], k.in[1], k.in[2]));
        EXPECT_TRUE(Near(got, k.out[0], k.out[1], k.out[2], k.tol)) << k.what;
        EXPECT_EQ(got.alpha, 0.37f) << k.what;
    }
}

TEST(ColourSystems, PixelAttributes) {
    const PF_Pixel p8[] = {
        {0, 10, 20, 255}, {0, 255, 0, 0}, {0, 255, 255, 1}, {0, 9, 9, 9}, {0, 255, 255, 255}};
    const int light8[] = {132, 127, 128, 9, 255}, sat8[] = {252, 255, 253, 0, 0};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(cs::Lightness(p8[i]), light8[i]) << i;
        EXPECT_EQ(cs::Saturation(p8[i]), sat8[i]) << i;
        EXPECT_EQ(cs::Brightness(p8[i]), std::max({p8[i].red, p8[i].green, p8[i].blue})) << i;
    }
    EXPECT_EQ(cs::Luminance(p8[4]), 255);
    EXPECT_EQ(cs::Luminance(PF_Pixel16{0, 32768, 32768, 32768}), 32768);
    EXPECT_EQ(cs::Luminance(PF_Pixel16{0, 65535, 65535, 65535}), 65535);
    EXPECT_EQ(cs::Lightness(PF_Pixel16{0, 32768, 32768, 32768}), 32768);
    EXPECT_EQ(cs::Lightness(PF_Pixel16{0, 65535, 2, 9}), 32768);     // 65537 / 2
    EXPECT_EQ(cs::Lightness(PF_Pixel16{0, 65535, 40000, 3}), 32768); // 65538: limited
    EXPECT_EQ(cs::Saturation(PF_Pixel16{0, 32768, 0, 0}), 32768);
    EXPECT_EQ(cs::Saturation(PF_Pixel16{0, 32768, 1, 9}), 32768);
    EXPECT_EQ(cs::Saturation(PF_Pixel16{0, 100, 300, 200}), 16384);

    const PF_PixelFloat pf{0, 0.2f, 0.4f, 0.6f};
    const Color c(pf);
    EXPECT_EQ(cs::Luminance(pf), cs::RgbToYuv(c).red);
    EXPECT_EQ(cs::Lightness(pf), cs::RgbToHls(c).green);
    EXPECT_EQ(cs::Saturation(pf), cs::RgbToHls(c).blue);
    EXPECT_EQ(cs::Brightness(pf), 0.6f);
    EXPECT_EQ(cs::Hue(c), cs::RgbToHsb(c).red);
}

// Channels above 32768 are outside the 16-bit range but reach the function anyway. max + min of
// 65536 would divide by zero; every other input keeps the plain formula.
TEST(ColourSystems, SaturationSixteenBitOutOfRange) {
    const auto formula = [](int64_t max, int64_t min) -> int64_t {
        if (max == min) {
            return 0;
        }
        const int64_t d = max + min < 32768 ? max + min : 65536 - max - min;
        return d == 0 ? 32768 : ((max - min) * 32768 / d) & 0xFFFF;
    };
    int zeroDivisors = 0;
    for (int max = 0; max <= 65535; max += (max < 32000 ? 97 : 7)) {
        for (int min = 0; min <= max; min += 37) {
            for (const int m : {min, 65536 - max}) { // the second makes the divisor 0
                if (m < 0 || m > max) {
                    continue;
                }
                zeroDivisors += max + m == 65536 && max != m;
                const PF_Pixel16 px{0, A_u_short(m), A_u_short(max), A_u_short((max + m) / 2)};
                ASSERT_EQ(cs::Saturation(px), formula(max, m)) << max << ' ' << m;
            }
        }
    }
    EXPECT_GT(zeroDivisors, 1000);
    EXPECT_EQ(cs::Saturation(PF_Pixel16{0, 65535, 1, 1}), 32768);
}

TEST(ColourSystems, ForwardThenBackwardRestoresRgb) {
    const int n = 48;
    for (int i = 0; i <= n; ++i) {
        for (int j = 0; j <= n; ++j) {
            for (int k = 0; k <= n; ++k) {
                const Color c(1, float(i) / n, float(j) / n, float(k) / n);
                const Color hls = cs::HlsToRgb(cs::RgbToHls(c));
                const Color hsb = cs::HsbToRgb(cs::RgbToHsb(c));
                ASSERT_TRUE(Near(hls, c.red, c.green, c.blue, 1e-6f))
                    << "hls " << i << ' ' << j << ' ' << k;
                ASSERT_TRUE(Near(hsb, c.red, c.green, c.blue, 1e-6f))
                    << "hsb " << i << ' ' << j << ' ' << k;
            }
        }
    }
}

// Hue from the order of the channels: sector by which channel is largest and smallest, position
// by the middle one. Saturation of HLS as chroma / (1 - |2L - 1|).
TEST(ColourSystems, AgreesWithDoublePrecisionReference) {
    std::mt19937 rng(1234);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    for (int n = 0; n < 200000; ++n) {
        const float rgb[3] = {unit(rng), unit(rng), unit(rng)};
        const double r = rgb[0], g = rgb[1], b = rgb[2];
        if (r == g || g == b || r == b) {
            continue;
        }
        const int hi = r > g ? (r > b ? 0 : 2) : (g > b ? 1 : 2);
        const int lo = r < g ? (r < b ? 0 : 2) : (g < b ? 1 : 2);
        const double mx = rgb[hi], mn = rgb[lo], mid = rgb[3 - hi - lo], chroma = mx - mn;
        const double frac = (mid - mn) / chroma;
        // Sector start (degrees / 60) and direction for (largest, smallest).
        const double base[3][3] = {{0, 6, 0}, {2, 0, 2}, {4, 4, 0}};
        const double dir[3][3] = {{0, -1, 1}, {1, 0, -1}, {-1, 1, 0}};
        const double hue = 60.0 * (base[hi][lo] + dir[hi][lo] * frac);
        const double l = (mx + mn) / 2;

        const Color c(1, rgb[0], rgb[1], rgb[2]);
        const Color hls = cs::RgbToHls(c), hsb = cs::RgbToHsb(c);
        const double hueTol = 1e-5 * std::max(1.0, hue);
        ASSERT_NEAR(hls.red, hue, hueTol) << r << ' ' << g << ' ' << b;
        ASSERT_NEAR(hsb.red, hue, hueTol);
        ASSERT_NEAR(hls.green, l, 1e-5);
        ASSERT_NEAR(hls.blue, chroma / (1 - std::abs(2 * l - 1)),
                    1e-5 * std::max(1.0, double(hls.blue)));
        ASSERT_NEAR(hsb.green, chroma / mx, 1e-5);
        ASSERT_EQ(hsb.blue, float(mx));
    }
}

// ---- Bit-exactness ------------------------------------------------------------------------------

// The formulas as plainly written, single precision, one rounding per operation.
Color RefYuv(const Color& c) {
    const float r = c.red, g = c.green, b = c.blue;
    return {c.alpha, (0.299f * r + 0.587f * g) + 0.114f * b, (-0.169f * r + -0.331f * g) + 0.5f * b,
            (0.5f * r + -0.419f * g) + -0.081f * b};
}
Color RefRgbFromYuv(const Color& c) {
    const float y = c.red, u = c.green, v = c.blue;
    return {c.alpha, 1.402f * v + y, (-0.344f * u + y) + -0.714f * v, 1.772f * u + y};
}
float RefHue(float r, float g, float b, float mx, float mn) {
    float h = 0;
    if (mx != mn) {
        h = mx == r   ? ((g - b) * 60.0f) / (mx - mn)
            : mx == g ? ((b - r) * 60.0f) / (mx - mn) + 120.0f
                      : ((r - g) * 60.0f) / (mx - mn) + 240.0f;
    }
    h = fmodf(h, 360.0f);
    return h < 0 ? h + 360.0f : h;
}
Color RefHlsOrHsb(const Color& c, bool hls) {
    const float r = c.red, g = c.green, b = c.blue;
    const float mx = std::max(std::max(b, g), r), mn = std::min(std::min(b, g), r);
    const float l = (mx + mn) * 0.5f;
    float s = 0;
    if (hls && mx != mn) {
        s = (mx - mn) / (l < 0.5f ? mx + mn : (2.0f - mx) - mn);
    } else if (!hls && mx != 0) {
        s = (mx - mn) / mx;
    }
    return {c.alpha, RefHue(r, g, b, mx, mn), hls ? l : s, hls ? s : mx};
}
float RefHlsValue(float m1, float m2, float a) {
    return a < 60    ? ((m2 - m1) * a) / 60.0f + m1
           : a < 180 ? m2
           : a < 240 ? ((m2 - m1) * (240.0f - a)) / 60.0f + m1
                     : m1;
}
Color RefRgbFromHls(const Color& c) {
    float h = fmodf(c.red, 360.0f);
    h = h < 0 ? h + 360.0f : h;
    const float l = c.green < 0 ? 0 : std::min(1.0f, c.green), s = std::min(1.0f, c.blue);
    if (c.blue < 0 || s == 0) {
        return {c.alpha, l, l, l};
    }
    const float m2 = l < 0.5f ? (s + 1.0f) * l : (s + l) - l * s, m1 = (l + l) - m2;
    const float ar = h + 120.0f > 360.0f ? h + 120.0f - 360.0f : h + 120.0f;
    const float ab = h - 120.0f < 0 ? h - 120.0f + 360.0f : h - 120.0f;
    return {c.alpha, RefHlsValue(m1, m2, ar), RefHlsValue(m1, m2, h), RefHlsValue(m1, m2, ab)};
}
Color RefRgbFromHsb(const Color& c) {
    const float h = c.red, s = c.green, v = c.blue;
    if (s == 0) {
        return {c.alpha, v, v, v};
    }
    const float fl = floorf(h / 60.0f), sector = fmodf(fl, 6.0f);
    if (std::isnan(sector) || sector <= -1.0f) {
        return {c.alpha, 0, 0, 0};
    }
    const float f = h / 60.0f - fl;
    const float p = (1 - s) * v, q = (1 - s * f) * v, t = (1 - (1 - f) * s) * v;
    const float table[6][3] = {{v, t, p}, {q, v, p}, {p, v, t}, {p, q, v}, {t, p, v}, {v, p, q}};
    const float* o = table[int(sector)];
    return {c.alpha, o[0], o[1], o[2]};
}

// Every 8-bit RGB triple as the conversion filter reads it, forward and then backward.
TEST(ColourSystems, BitExactOverEveryEightBitColour) {
    for (int r = 0; r < 256; ++r) {
        for (int g = 0; g < 256; ++g) {
            for (int b = 0; b < 256; ++b) {
                const Color c(PF_Pixel{A_u_char(g), A_u_char(r), A_u_char(g), A_u_char(b)});
                const Color yuv = cs::RgbToYuv(c), hls = cs::RgbToHls(c), hsb = cs::RgbToHsb(c);
                ASSERT_TRUE(SameBits(yuv, RefYuv(c)) && SameBits(hls, RefHlsOrHsb(c, true)) &&
                            SameBits(hsb, RefHlsOrHsb(c, false)))
                    << r << ' ' << g << ' ' << b;
                ASSERT_TRUE(SameBits(cs::YuvToRgb(yuv), RefRgbFromYuv(yuv)) &&
                            SameBits(cs::HlsToRgb(hls), RefRgbFromHls(hls)) &&
                            SameBits(cs::HsbToRgb(hsb), RefRgbFromHsb(hsb)))
                    << r << ' ' << g << ' ' << b;
            }
        }
    }
}

// Backward conversions over hues well outside [0, 360) and components outside 0..1.
TEST(ColourSystems, BitExactOnWrappedAndOutOfRangeInput) {
    const float comps[] = {-0.5f, 0.0f, 0.1f, 0.49999997f, 0.5f, 0.7f, 1.0f, 1.3f};
    for (float h = -1080.0f; h <= 1080.0f; h += 0.375f) {
        for (const float a : comps) {
            for (const float b : comps) {
                const Color c(0.5f, h, a, b);
                ASSERT_TRUE(SameBits(cs::HlsToRgb(c), RefRgbFromHls(c))) << h << ' ' << a << b;
                ASSERT_TRUE(SameBits(cs::HsbToRgb(c), RefRgbFromHsb(c))) << h << ' ' << a << b;
                ASSERT_TRUE(SameBits(cs::YuvToRgb(c), RefRgbFromYuv(c))) << h << ' ' << a << b;
            }
        }
    }
}

// A compiler that fused a * b + c into one rounding would change these results. Find inputs
// where every fused grouping differs from the unfused one, then require the unfused value.
TEST(ColourSystems, NoFusedMultiplyAdd) {
    const auto yFused = [](float r, float g, float b) {
        const float in1 = std::fma(0.299f, r, 0.587f * g), in2 = std::fma(0.587f, g, 0.299f * r);
        return std::vector<float>{std::fma(0.114f, b, in1), std::fma(0.114f, b, in2),
                                  in1 + 0.114f * b, in2 + 0.114f * b,
                                  std::fma(0.114f, b, 0.299f * r + 0.587f * g)};
    };
    bool foundY = false, foundR = false;
    for (int i = 1; i < 256 && !(foundY && foundR); ++i) {
        for (int j = 1; j < 256 && !(foundY && foundR); ++j) {
            const float r = float(i) / 255.0f, g = float(j) / 255.0f, b = float(i ^ j) / 255.0f;
            const float unfusedY = (0.299f * r + 0.587f * g) + 0.114f * b;
            const std::vector<float> fused = yFused(r, g, b);
            if (!foundY && std::find(fused.begin(), fused.end(), unfusedY) == fused.end()) {
                foundY = true;
                EXPECT_EQ(Bits(cs::RgbToYuv(Color(r, g, b)).red), Bits(unfusedY));
            }
            // R = 1.402 V + Y, read with V = r - 0.5 as the filter decodes it.
            const float v = r - 0.5f, unfusedR = 1.402f * v + g;
            if (!foundR && std::fma(1.402f, v, g) != unfusedR) {
                foundR = true;
                EXPECT_EQ(Bits(cs::YuvToRgb(Color(g, 0.0f, v)).red), Bits(unfusedR));
            }
        }
    }
    EXPECT_TRUE(foundY && foundR);
}

TEST(ColourSystems, NormalizeWeighsEachChannelSeparately) {
    Color a(5, 1, 0, 2), b(6, 1, 0, -2), c(7, 2, 0, 0.5f);
    cs::Normalize(a, b, c);
    EXPECT_TRUE(Near(a, 0.25f, 0, 4, 0));
    EXPECT_TRUE(Near(b, 0.25f, 1, -4, 0));
    EXPECT_TRUE(Near(c, 0.5f, 0, 1, 0));
    EXPECT_TRUE(a.alpha == 5 && b.alpha == 6 && c.alpha == 7);
}

} // namespace
