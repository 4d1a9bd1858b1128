// Colour values and their packing into 8-, 16- and 32-bit host pixels.
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

#include <gtest/gtest.h>

#include "Ombrel/OmbrelGeneral.h"

using Ombrel::ColorFloat;
using Ombrel::ColorInt;

namespace {

const float kNaN = std::numeric_limits<float>::quiet_NaN();

bool SameBits(float a, float b) {
    return std::bit_cast<uint32_t>(a) == std::bit_cast<uint32_t>(b);
}

// One host depth: its pixel record, its full scale, the packer and the exact unit value of a raw
// channel (a true division for 8 bits; 2^-15 is exact for 16).
struct Depth8 {
    using Pixel = PF_Pixel;
    static constexpr int kMax = 255;
    static float Unit(int v) { return float(v) / 255.0f; }
    static Pixel Pack(const ColorFloat<float>& c) { return Ombrel::aePixel8(c); }
};
struct Depth16 {
    using Pixel = PF_Pixel16;
    static constexpr int kMax = 32768;
    static float Unit(int v) { return float(v) / 32768.0f; }
    static Pixel Pack(const ColorFloat<float>& c) { return Ombrel::aePixel16(c); }
};
struct Depth32 {
    using Pixel = PF_PixelFloat;
    static constexpr int kMax = 1;
    static float Unit(float v) { return v; }
    static Pixel Pack(const ColorFloat<float>& c) { return Ombrel::aePixel32(c); }
};

template <typename D>
class ColourValueDepth : public ::testing::Test {};
using Depths = ::testing::Types<Depth8, Depth16, Depth32>;
TYPED_TEST_SUITE(ColourValueDepth, Depths);

// Every value of the depth, each channel different, unpacked exactly and packed back unchanged.
TYPED_TEST(ColourValueDepth, UnpackIsExactAndPackInvertsIt) {
    using D = TypeParam;
    const int steps = std::is_same_v<D, Depth32> ? 1000 : D::kMax;
    for (int i = 0; i <= steps; ++i) {
        using V = decltype(D::Pixel::red);
        const auto val = [&](int k) {
            const int j = (i + k * steps / 4) % (steps + 1);
            return std::is_same_v<D, Depth32> ? V(float(j) / float(steps)) : V(j);
        };
        const typename D::Pixel px{val(0), val(1), val(2), val(3)};
        const ColorFloat<float> c(px);
        ASSERT_TRUE(SameBits(c.alpha, D::Unit(px.alpha)) && SameBits(c.red, D::Unit(px.red)) &&
                    SameBits(c.green, D::Unit(px.green)) && SameBits(c.blue, D::Unit(px.blue)))
            << "value " << i;
        const typename D::Pixel back = D::Pack(c);
        ASSERT_TRUE(back.alpha == px.alpha && back.red == px.red && back.green == px.green &&
                    back.blue == px.blue)
            << "value " << i;
    }
}

TEST(ColourValue, EightBitScaleIsADivisionNotAReciprocal) {
    int differs = 0;
    for (int v = 0; v < 256; ++v) {
        const PF_Pixel px{0, A_u_char(v), 0, 0};
        differs += ColorFloat<float>(px).red != float(v) * (1.0f / 255);
    }
    EXPECT_EQ(differs, 126);
}

TEST(ColourValue, SixteenBitTakesOutOfRangeChannelsUnclamped) {
    const ColorFloat<float> c(PF_Pixel16{32768, 65535, 0, 16384});
    EXPECT_EQ(c.alpha, 1.0f);
    EXPECT_EQ(c.red, 65535.0f / 32768.0f);
    EXPECT_EQ(c.blue, 0.5f);
    const ColorFloat<double> raw(PF_Pixel16{1, 2, 3, 40000}, false);
    EXPECT_EQ(raw.blue, 40000.0);
    EXPECT_EQ(ColorFloat<double>(PF_Pixel{0, 0, 0, 51}, true).blue, 51.0 / 255.0);
}

// ---- Packing, float and double alike ----------------------------------------------------------

template <typename T>
class ColourValuePack : public ::testing::Test {};
using Floats = ::testing::Types<float, double>;
TYPED_TEST_SUITE(ColourValuePack, Floats);

TYPED_TEST(ColourValuePack, ClampsAndTruncates) {
    using T = TypeParam;
    struct Case {
        T in;
        int out8, out16;
    };
    const Case cases[] = {{T(0.5), 127, 16384}, {T(0.999), 254, 32735}, {T(1.2), 255, 32768},
                          {T(1.0), 255, 32768}, {T(2.0), 255, 32768},   {T(-0.1), 0, 0},
                          {T(kNaN), 0, 0},      {T(-0.0), 0, 0}};
    for (const Case& k : cases) {
        // The value goes through each channel position in turn.
        const ColorFloat<T> c(k.in, T(0.25), k.in, T(1));
        const PF_Pixel p8 = Ombrel::aePixel8(c);
        const PF_Pixel16 p16 = Ombrel::aePixel16<T>(c);
        EXPECT_EQ(p8.alpha, k.out8) << k.in;
        EXPECT_EQ(p8.red, 63);
        EXPECT_EQ(p8.green, k.out8) << k.in;
        EXPECT_EQ(p8.blue, 255);
        EXPECT_EQ(p16.alpha, k.out16) << k.in;
        EXPECT_EQ(p16.green, k.out16) << k.in;
    }
    // Raw values skip the scaling but not the clamp.
    const ColorFloat<T> raw(T(300), T(254.9), T(-3), T(40000));
    const PF_Pixel r8 = Ombrel::aePixel8(raw, false);
    EXPECT_EQ(r8.alpha, 255);
    EXPECT_EQ(r8.red, 254);
    EXPECT_EQ(r8.green, 0);
    EXPECT_EQ(Ombrel::aePixel16(raw, false).blue, 32768);
    const PF_PixelFloat f = Ombrel::aePixel32(ColorFloat<T>(T(-0.5), T(7), T(0.25), T(kNaN)));
    EXPECT_EQ(f.alpha, -0.5f);
    EXPECT_EQ(f.red, 7.0f);
    EXPECT_TRUE(std::isnan(f.blue));
}

// The two quantisers clamp alike and differ only in how they drop the fraction. Values are in
// channel units.
TYPED_TEST(ColourValuePack, QuantisersTruncateOrRoundHalfUpWithinZeroToMax) {
    using T = TypeParam;
    const T inf = std::numeric_limits<T>::infinity();
    struct Case {
        T in;
        int truncated, roundedHalfUp;
    };
    const Case cases[] = {
        {T(0), 0, 0},         {T(0.4), 0, 0},       {T(0.5), 0, 1},       {T(127.4), 127, 127},
        {T(127.5), 127, 128}, {T(127.9), 127, 128}, {T(254.5), 254, 255}, {T(255), 255, 255},
        {T(255.4), 255, 255}, {T(255.5), 255, 255}, {T(300), 255, 255},   {inf, 255, 255},
        {T(-0.0), 0, 0},      {T(-0.4), 0, 0},      {T(-0.6), 0, 0},      {T(-300), 0, 0},
        {-inf, 0, 0},         {T(kNaN), 0, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Ombrel::quantizeTruncate<A_u_char>(c.in, T(255)), c.truncated) << c.in;
        EXPECT_EQ(Ombrel::quantizeRoundHalfUp<A_u_char>(c.in, T(255)), c.roundedHalfUp) << c.in;
    }
    // The 16-bit limit is 32768, not 65535.
    EXPECT_EQ(Ombrel::quantizeTruncate<A_u_short>(T(32767.9), T(32768)), 32767);
    EXPECT_EQ(Ombrel::quantizeRoundHalfUp<A_u_short>(T(32767.5), T(32768)), 32768);
    EXPECT_EQ(Ombrel::quantizeRoundHalfUp<A_u_short>(T(40000), T(32768)), 32768);
    EXPECT_EQ(Ombrel::quantizeRoundHalfUp<A_u_short>(T(65535), T(32768)), 32768);
}

// The half is added in the value's own precision, so a float just below a half rounds up where
// the same value in double does not. Stored bytes depend on it.
TEST(ColourValue, RoundHalfUpAddsTheHalfInTheValuesPrecision) {
    const float below = std::nextafter(0.5f, 0.0f); // 0.49999997
    EXPECT_EQ(Ombrel::quantizeRoundHalfUp<A_u_char>(below, 255.0f), 1);
    EXPECT_EQ(Ombrel::quantizeRoundHalfUp<A_u_char>(double(below), 255.0), 0);
    const float belowMax = std::nextafter(254.5f, 0.0f);
    EXPECT_EQ(Ombrel::quantizeRoundHalfUp<A_u_char>(belowMax, 255.0f), 254);
}

TYPED_TEST(ColourValuePack, ArithmeticSeparatesVectorAndColourOperations) {
    using T = TypeParam;
    ColorFloat<T> c(T(3), T(2), T(-1), T(0.5));
    c.clamp(T(1));
    EXPECT_EQ(c.alpha, T(3));
    EXPECT_EQ(c.red, T(1));
    EXPECT_EQ(c.green, T(0));
    EXPECT_EQ(c.blue, T(0.5));

    const ColorFloat<T> a(T(9), T(1), T(2), T(3)), b(T(-9), T(4), T(5), T(6));
    EXPECT_EQ(a.dot(b), T(32)); // alphas ignored
    EXPECT_EQ((a * 2).alpha, T(18));
    EXPECT_EQ((a * T(0.5)).blue, T(1.5));
    EXPECT_EQ((a + b).alpha, T(0));
    EXPECT_EQ((a - b).red, T(-3));
    EXPECT_EQ((a / 4).alpha, T(2.25));
    ColorFloat<T> m = a;
    m.mult(T(2)).div(T(4));
    EXPECT_EQ(m.alpha, T(9));
    EXPECT_EQ(m.green, T(1));
    EXPECT_EQ(ColorFloat<T>().alpha, T(0));
    EXPECT_EQ(ColorFloat<T>(T(0), T(0), T(0)).alpha, T(1));
}

TEST(ColourValue, IntegerColoursClampOnlyWhenPacked) {
    const ColorInt<int> i(300, -5, 128, 40000);
    const PF_Pixel p8 = Ombrel::aePixel8(i);
    EXPECT_EQ(p8.alpha, 255);
    EXPECT_EQ(p8.red, 0);
    EXPECT_EQ(p8.green, 128);
    const PF_Pixel16 p16 = Ombrel::aePixel16<int>(i);
    EXPECT_EQ(p16.red, 0);
    EXPECT_EQ(p16.blue, 32768);
    EXPECT_EQ(Ombrel::aePixel16(ColorInt<unsigned>(40000, 7, 0, 32768)).alpha, 32768);

    EXPECT_EQ((ColorInt<int>(-7, 7, 0, 0) / 2).alpha, -3);       // truncates toward zero
    EXPECT_EQ((ColorInt<unsigned>(10, 0, 0, 0) / -1).alpha, 0u); // divisor taken as 2^32 - 1
    ColorInt<int> m(2, 3, 4, 5);
    m.mult(10).div(2);
    EXPECT_EQ(m.alpha, 2);
    EXPECT_EQ(m.blue, 25);
    EXPECT_EQ(ColorInt<int>(PF_Pixel16{1, 2, 3, 65535}).blue, 65535);
}

} // namespace
