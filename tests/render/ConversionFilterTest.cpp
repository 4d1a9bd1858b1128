#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "Ombrel/Filter/OmbrelColorSpaceConversion.h"
#include "TestUtils.h"
#include "TestWorld.h"

using namespace Ombrel;
using OmbrelTest::PixelTraits;
using OmbrelTest::Records;
using OmbrelTest::samePixel;
using OmbrelTest::TestWorld;
using Type = ColorSpaceConversion::Parameter::Type;

namespace {

template <class P>
P px(double a, double r, double g, double b) {
    using C = typename PixelTraits<P>::Channel;
    return P{static_cast<C>(a), static_cast<C>(r), static_cast<C>(g), static_cast<C>(b)};
}

// Converts src (one row of pixels) with the given type and returns the result row.
template <class P>
std::vector<P> convertRow(const std::vector<P>& pixels, Type type) {
    Records records;
    TestWorld<P> src(static_cast<int>(pixels.size()), 1), dst(static_cast<int>(pixels.size()), 1);
    for (std::size_t i = 0; i < pixels.size(); ++i)
        src.at(static_cast<int>(i), 0) = pixels[i];
    Layer in(&records.in, &records.out, &src.def, PixelTraits<P>::bpc);
    Layer out(&records.in, &records.out, &dst.def, PixelTraits<P>::bpc);
    ColorSpaceConversion filter(ColorSpaceConversion::Parameter().setType(type));
    filter.execute(in, out);
    std::vector<P> result;
    for (std::size_t i = 0; i < pixels.size(); ++i)
        result.push_back(dst.at(static_cast<int>(i), 0));
    return result;
}

template <class P>
P convertOne(const P& p, Type type) {
    return convertRow<P>({p}, type)[0];
}

#define EXPECT_PIXEL(got, a, r, g, b)                                                              \
    do {                                                                                           \
        const auto g_ = (got);                                                                     \
        EXPECT_EQ(g_.alpha, a);                                                                    \
        EXPECT_EQ(g_.red, r);                                                                      \
        EXPECT_EQ(g_.green, g);                                                                    \
        EXPECT_EQ(g_.blue, b);                                                                     \
    } while (0)

TEST(ConversionFilter8, DocumentedValues) {
    using P = PF_Pixel;
    EXPECT_PIXEL(convertOne(px<P>(255, 255, 255, 255), Type::RGB_TO_YUV), 255, 255, 128, 128);
    EXPECT_PIXEL(convertOne(px<P>(255, 0, 0, 0), Type::RGB_TO_YUV), 255, 0, 128, 128);
    EXPECT_PIXEL(convertOne(px<P>(128, 255, 0, 0), Type::RGB_TO_YUV), 128, 76, 84, 255);
    EXPECT_PIXEL(convertOne(px<P>(255, 255, 0, 0), Type::RGB_TO_HLS), 255, 0, 128, 255);
    EXPECT_PIXEL(convertOne(px<P>(255, 0, 0, 255), Type::RGB_TO_HLS), 255, 170, 128, 255);
    EXPECT_PIXEL(convertOne(px<P>(255, 128, 128, 128), Type::RGB_TO_HLS), 255, 0, 128, 0);
    EXPECT_PIXEL(convertOne(px<P>(255, 255, 255, 255), Type::RGB_TO_HSB), 255, 0, 0, 255);
    EXPECT_PIXEL(convertOne(px<P>(255, 0, 255, 0), Type::RGB_TO_HSB), 255, 85, 255, 255);
    // Hue stored at its maximum is H = 360, the same hue as 0.
    EXPECT_PIXEL(convertOne(px<P>(255, 255, 255, 255), Type::HSB_TO_RGB), 255, 255, 0, 0);
    // The stored 128 decodes as U = V = 128/255 - 0.5, not 0.
    const P yuv = convertOne(px<P>(255, 255, 255, 255), Type::RGB_TO_YUV);
    EXPECT_PIXEL(convertOne(yuv, Type::YUV_TO_RGB), 255, 255, 254, 255);
}

TEST(ConversionFilter16, DocumentedValues) {
    using P = PF_Pixel16;
    EXPECT_PIXEL(convertOne(px<P>(32768, 32768, 32768, 32768), Type::RGB_TO_YUV), 32768, 32768,
                 16384, 16384);
    EXPECT_PIXEL(convertOne(px<P>(1000, 32768, 0, 0), Type::RGB_TO_YUV), 1000, 9798, 10846, 32768);
    // Out-of-range host values are clamped on output, never above 32768.
    const P over = convertOne(px<P>(65535, 65535, 65535, 0), Type::RGB_TO_HSB);
    EXPECT_EQ(over.alpha, 65535);
    EXPECT_LE(std::max({over.red, over.green, over.blue}), 32768);
}

// Colours off the multiples of 60 degrees, whose bytes were worked out from the formulas in
// single precision, one rounding per operation. Every hue here lands in the upper half of a
// channel step, so the rounding of the stored hue (H x K + 0.5, truncated) shows: without the
// 0.5 each forward hue channel comes out one lower.
struct Exact {
    Type type;
    int in[3];
    int out[3];
};

template <class P, std::size_t N>
void expectExactBytes(const Exact (&cases)[N]) {
    using C = typename PixelTraits<P>::Channel;
    for (const Exact& c : cases) {
        const P in{C(77), C(c.in[0]), C(c.in[1]), C(c.in[2])};
        const P got = convertOne(in, c.type);
        EXPECT_EQ(got.alpha, 77);
        EXPECT_EQ(got.red, c.out[0]) << kConversions[conversionIndex(c.type)].name << " of "
                                     << c.in[0] << " " << c.in[1] << " " << c.in[2];
        EXPECT_EQ(got.green, c.out[1]) << kConversions[conversionIndex(c.type)].name;
        EXPECT_EQ(got.blue, c.out[2]) << kConversions[conversionIndex(c.type)].name;
    }
}

TEST(ConversionFilter8, ExactBytesOffTheRoundHues) {
    const Exact cases[] = {
        {Type::RGB_TO_HLS, {30, 200, 90}, {100, 115, 188}},
        {Type::RGB_TO_HSB, {30, 200, 90}, {100, 217, 200}},
        {Type::RGB_TO_YUV, {30, 200, 90}, {137, 101, 51}},
        {Type::RGB_TO_HLS, {200, 30, 160}, {223, 115, 188}},
        {Type::RGB_TO_HSB, {141, 37, 222}, {194, 213, 222}},
        {Type::RGB_TO_HLS, {12, 240, 235}, {127, 126, 231}},
        {Type::RGB_TO_HSB, {250, 251, 3}, {43, 252, 251}},
        {Type::RGB_TO_YUV, {250, 120, 40}, {150, 66, 199}},
        {Type::HLS_TO_RGB, {100, 115, 188}, {30, 200, 90}},
        {Type::HLS_TO_RGB, {43, 127, 249}, {248, 251, 3}},
        {Type::HSB_TO_RGB, {223, 217, 200}, {200, 30, 158}},
        {Type::HSB_TO_RGB, {194, 213, 222}, {141, 37, 222}},
        {Type::YUV_TO_RGB, {137, 101, 51}, {30, 201, 90}},
    };
    expectExactBytes<PF_Pixel>(cases);
}

TEST(ConversionFilter16, ExactBytesOffTheRoundHues) {
    const Exact cases[] = {
        {Type::RGB_TO_HLS, {32000, 15000, 5000}, {2023, 18500, 31004}},
        {Type::RGB_TO_HSB, {2100, 12345, 30000}, {19840, 30474, 30000}},
        {Type::RGB_TO_YUV, {2100, 12345, 30000}, {11294, 26943, 9831}},
        {Type::RGB_TO_HLS, {25000, 3000, 20000}, {28548, 14000, 25746}},
        {Type::RGB_TO_HSB, {100, 32767, 31000}, {16089, 32668, 32767}},
        {Type::HLS_TO_RGB, {2023, 18500, 31004}, {32000, 15001, 5000}},
        {Type::HLS_TO_RGB, {28548, 14000, 25746}, {25000, 3000, 19999}},
        {Type::HSB_TO_RGB, {19840, 30474, 30000}, {2100, 12345, 30000}},
        {Type::YUV_TO_RGB, {11294, 26943, 9831}, {2107, 12341, 30005}},
    };
    expectExactBytes<PF_Pixel16>(cases);
}

TEST(ConversionFilter32, InputIsClampedOutputIsNot) {
    using P = PF_PixelFloat;
    EXPECT_PIXEL(convertOne(P{0.25f, 2.0f, -1.0f, 0.0f}, Type::RGB_TO_YUV), 0.25f,
                 convertOne(P{0.25f, 1.0f, 0.0f, 0.0f}, Type::RGB_TO_YUV).red, 0.5f - 0.169f, 1.0f);
    EXPECT_PIXEL(convertOne(P{1, 1, 0, 0}, Type::RGB_TO_HLS), 1.0f, 0.0f, 0.5f, 1.0f);
    const P rgb = convertOne(P{1, 1, 1, 1}, Type::YUV_TO_RGB);
    EXPECT_GT(rgb.red, 1.0f);
    EXPECT_GT(rgb.blue, 1.0f);
    EXPECT_NEAR(rgb.red, 1.701f, 1e-6);
    EXPECT_NEAR(rgb.green, 0.471f, 1e-6);
    EXPECT_NEAR(rgb.blue, 1.886f, 1e-6);
    // Alpha is copied as stored, even outside 0..1 or NaN.
    EXPECT_EQ(convertOne(P{-3.5f, 0.5f, 0.5f, 0.5f}, Type::RGB_TO_HSB).alpha, -3.5f);
    EXPECT_TRUE(std::isnan(convertOne(P{NAN, 0.5f, 0.5f, 0.5f}, Type::HLS_TO_RGB).alpha));
}

// A NaN colour channel reads as 0 (and infinities as the nearer bound), so no 32-bit result is
// ever NaN; every other channel converts as before.
TEST(ConversionFilter32, NaNAndInfiniteInputsReadAsTheirBounds) {
    using P = PF_PixelFloat;
    const float inf = INFINITY;
    const std::array<std::pair<P, P>, 5> cases{{
        {P{0.5f, NAN, 0.25f, 0.75f}, P{0.5f, 0.0f, 0.25f, 0.75f}},
        {P{0.5f, 0.3f, NAN, 0.75f}, P{0.5f, 0.3f, 0.0f, 0.75f}},
        {P{0.5f, 0.3f, 0.25f, NAN}, P{0.5f, 0.3f, 0.25f, 0.0f}},
        {P{0.5f, NAN, NAN, NAN}, P{0.5f, 0.0f, 0.0f, 0.0f}},
        {P{0.5f, inf, -inf, NAN}, P{0.5f, 1.0f, 0.0f, 0.0f}},
    }};
    for (const Conversion& conversion : kConversions)
        for (const auto& [input, same] : cases) {
            const P got = convertOne(input, conversion.type);
            const P want = convertOne(same, conversion.type);
            EXPECT_FALSE(std::isnan(got.red) || std::isnan(got.green) || std::isnan(got.blue))
                << conversion.name;
            EXPECT_TRUE(samePixel(got, want)) << conversion.name;
        }
}

// ---- Behaviour common to the three depths ----------------------------------------------------

template <class P>
class ConversionFilter : public ::testing::Test {
protected:
    using Traits = PixelTraits<P>;

    // A pixel of varied channels, in range for the depth.
    static P sample(int x, int y) {
        const double m = Traits::max;
        return px<P>(m * ((x * 7 + y) % 11) / 10.0, m * ((x * 3 + y * 5) % 17) / 16.0,
                     m * ((x + y * 2) % 13) / 12.0, m * ((x * 5 + y * 3) % 7) / 6.0);
    }

    static P sentinel() { return px<P>(7, 7, 7, 7); }

    void fill(TestWorld<P>& w) {
        for (int y = 0; y < w.def.height; ++y)
            for (int x = 0; x < w.def.width; ++x)
                w.at(x, y) = sample(x, y);
    }

    void run(TestWorld<P>& src, TestWorld<P>& dst, Type type, const Rect& region) {
        Layer in(&records.in, &records.out, &src.def, Traits::bpc);
        Layer out(&records.in, &records.out, &dst.def, Traits::bpc);
        ColorSpaceConversion filter(ColorSpaceConversion::Parameter().setType(type));
        filter.execute(in, out, region);
    }

    Records records;
};

using Depths = ::testing::Types<PF_Pixel, PF_Pixel16, PF_PixelFloat>;
TYPED_TEST_SUITE(ConversionFilter, Depths);

TYPED_TEST(ConversionFilter, RegionIsClippedToTheSourceAndNothingElseIsWritten) {
    using P = TypeParam;
    for (const Rect region : {Rect(-5, -3, 4, 2), Rect(2, 1, 100, 100), Rect(3, 2, 4, 3)}) {
        TestWorld<P> src(6, 5), dst(6, 5, 0, this->sentinel()), whole(6, 5);
        this->fill(src);
        this->run(src, whole, Type::RGB_TO_HLS, Rect(0, 0, 6, 5));
        this->run(src, dst, Type::RGB_TO_HLS, region);
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 6; ++x) {
                const bool inside = x >= std::max(region.left, 0) && x < region.right &&
                                    y >= std::max(region.top, 0) && y < region.bottom;
                EXPECT_TRUE(samePixel(dst.at(x, y), inside ? whole.at(x, y) : this->sentinel()))
                    << x << "," << y;
            }
    }
}

TYPED_TEST(ConversionFilter, RegionOutsideOrSizeMismatchWritesNothing) {
    using P = TypeParam;
    TestWorld<P> src(6, 5), dst(6, 5, 0, this->sentinel()), untouched(6, 5, 0, this->sentinel());
    this->fill(src);
    for (const Rect region : {Rect(6, 0, 9, 5), Rect(-4, -4, 0, 5), Rect(0, 5, 6, 9)})
        this->run(src, dst, Type::RGB_TO_YUV, region);
    EXPECT_TRUE(dst.sameBytes(untouched));

    TestWorld<P> wider(7, 5, 0, this->sentinel()), wider0(7, 5, 0, this->sentinel());
    this->run(src, wider, Type::RGB_TO_YUV, Rect(0, 0, 6, 5));
    EXPECT_TRUE(wider.sameBytes(wider0));
}

TYPED_TEST(ConversionFilter, UnknownTypeCopiesAlphaOnly) {
    using P = TypeParam;
    // Just outside the table at both ends, and far outside.
    const A_long past = static_cast<A_long>(kConversionCount) + 1;
    for (const A_long type : {A_long{0}, past, A_long{-1}, A_long{1000}}) {
        TestWorld<P> src(4, 3), dst(4, 3, 0, this->sentinel());
        this->fill(src);
        this->run(src, dst, static_cast<Type>(type), Rect(0, 0, 4, 3));
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 4; ++x) {
                P expected = this->sentinel();
                expected.alpha = src.at(x, y).alpha;
                EXPECT_TRUE(samePixel(dst.at(x, y), expected)) << "type " << type;
            }
    }
}

TYPED_TEST(ConversionFilter, StridesOfEachWorldAreHonoured) {
    using P = TypeParam;
    for (const Conversion& conversion : kConversions) {
        const Type type = conversion.type;
        TestWorld<P> src(5, 4), dst(5, 4), srcPadded(5, 4, 3), dstPadded(5, 4, 1, this->sentinel());
        this->fill(src);
        this->fill(srcPadded);
        this->run(src, dst, type, Rect(0, 0, 5, 4));
        this->run(srcPadded, dstPadded, type, Rect(0, 0, 5, 4));
        for (int y = 0; y < 4; ++y) {
            for (int x = 0; x < 5; ++x)
                EXPECT_TRUE(samePixel(dstPadded.at(x, y), dst.at(x, y)));
            EXPECT_TRUE(samePixel(dstPadded.at(5, y), this->sentinel())) << "padding written";
        }
    }
}

TYPED_TEST(ConversionFilter, InPlaceEqualsOutOfPlace) {
    using P = TypeParam;
    for (const Conversion& conversion : kConversions) {
        const Type type = conversion.type;
        TestWorld<P> src(7, 3), dst(7, 3), same(7, 3);
        this->fill(src);
        this->fill(same);
        this->run(src, dst, type, Rect(0, 0, 7, 3));
        this->run(same, same, type, Rect(0, 0, 7, 3));
        EXPECT_TRUE(same.sameBytes(dst));
    }
}

// ---- Against an independent double-precision reference ---------------------------------------

struct Reference {
    double h, l, s, sv, v; // hue in degrees; HLS lightness and saturation; HSB saturation, value
};

// Textbook hexcone formulas, written from chroma and a 6-sector hue.
Reference reference(double r, double g, double b) {
    const double hi = std::max({r, g, b}), lo = std::min({r, g, b}), c = hi - lo;
    double h = 0;
    if (c > 0) {
        if (hi == r)
            h = 60 * std::fmod((g - b) / c + 6, 6);
        else if (hi == g)
            h = 60 * ((b - r) / c + 2);
        else
            h = 60 * ((r - g) / c + 4);
    }
    const double l = (hi + lo) / 2;
    const double s = c == 0 ? 0 : c / (1 - std::fabs(2 * l - 1));
    return {h, l, s, hi == 0 ? 0 : c / hi, hi};
}

TYPED_TEST(ConversionFilter, ForwardResultsAgreeWithAReferenceWithinOneStep) {
    using P = TypeParam;
    using Traits = PixelTraits<P>;
    const double m = Traits::max;
    // One quantisation step at 8 and 16 bits; float rounding at 32.
    const double tol = OmbrelTest::isFloat<P> ? 1e-5 : 1.0 + 1e-9;
    const double hueScale = OmbrelTest::isFloat<P> ? 1.0 / 360.0 : m / 360.0;
    auto toStored = [&](double v) { return OmbrelTest::isFloat<P> ? v : v * m; };

    std::mt19937 rng(42);
    std::uniform_int_distribution<int> channel(0,
                                               static_cast<int>(OmbrelTest::isFloat<P> ? 4096 : m));
    std::vector<P> pixels;
    for (int i = 0; i < 20000; ++i) {
        const double scale = OmbrelTest::isFloat<P> ? 4096.0 : 1.0;
        pixels.push_back(
            px<P>(m, channel(rng) / scale, channel(rng) / scale, channel(rng) / scale));
    }
    const auto hls = convertRow(pixels, Type::RGB_TO_HLS);
    const auto hsb = convertRow(pixels, Type::RGB_TO_HSB);
    const auto yuv = convertRow(pixels, Type::RGB_TO_YUV);
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        const double r = pixels[i].red / m, g = pixels[i].green / m, b = pixels[i].blue / m;
        const Reference ref = reference(r, g, b);
        // Hue wraps: near 360 the stored value may sit at either end of the circle.
        const double full = OmbrelTest::isFloat<P> ? 1.0 : m;
        auto hueDiff = [&](double stored) {
            const double d = std::fabs(stored - ref.h * hueScale);
            return std::min(d, std::fabs(d - full));
        };
        ASSERT_LE(hueDiff(hls[i].red), tol) << r << " " << g << " " << b;
        ASSERT_NEAR(hls[i].green, toStored(ref.l), tol);
        ASSERT_NEAR(hls[i].blue, toStored(ref.s), tol + (OmbrelTest::isFloat<P> ? 1e-4 : 0));
        ASSERT_LE(hueDiff(hsb[i].red), tol);
        ASSERT_NEAR(hsb[i].green, toStored(ref.sv), tol);
        ASSERT_NEAR(hsb[i].blue, toStored(ref.v), tol);
        const double y = 0.299 * r + 0.587 * g + 0.114 * b;
        const double u = -0.169 * r - 0.331 * g + 0.5 * b, v = 0.5 * r - 0.419 * g - 0.081 * b;
        ASSERT_NEAR(yuv[i].red, std::min(toStored(y), full), tol);
        ASSERT_NEAR(yuv[i].green, std::min(toStored(u + 0.5), full), tol);
        ASSERT_NEAR(yuv[i].blue, std::min(toStored(v + 0.5), full), tol);
    }
}

// The backward row of the same system, or null.
const Conversion* inverseOf(const Conversion& forward) {
    for (const Conversion& c : kConversions)
        if (c.system == forward.system && !c.isForward())
            return &c;
    return nullptr;
}

// Opaque 32-bit colours on a grid of steps + 1 levels per channel, 0 to 1.
std::vector<PF_PixelFloat> floatGrid(int steps) {
    std::vector<PF_PixelFloat> pixels;
    const float n = static_cast<float>(steps);
    for (int r = 0; r <= steps; ++r)
        for (int g = 0; g <= steps; ++g)
            for (int b = 0; b <= steps; ++b)
                pixels.push_back({1.0f, r / n, g / n, b / n});
    return pixels;
}

// Each backward conversion reads what its forward conversion writes: at 32 bits, where nothing is
// quantised, the colours come back.
TEST(ConversionFilterRoundTrip, FloatColoursComeBackThroughEverySystem) {
    const std::vector<PF_PixelFloat> pixels = floatGrid(20);
    for (const Conversion& forward : kConversions) {
        if (!forward.isForward())
            continue;
        const Conversion* backward = inverseOf(forward);
        ASSERT_NE(backward, nullptr) << forward.name;
        // The YUV weights have three decimals, so its two matrices are inverse only to about 5e-4.
        const double tol = forward.system == &kYuv ? 1e-3 : 2e-6;
        const auto back = convertRow(convertRow(pixels, forward.type), backward->type);
        for (std::size_t i = 0; i < pixels.size(); ++i) {
            ASSERT_NEAR(back[i].red, pixels[i].red, tol) << forward.name << " " << i;
            ASSERT_NEAR(back[i].green, pixels[i].green, tol) << forward.name << " " << i;
            ASSERT_NEAR(back[i].blue, pixels[i].blue, tol) << forward.name << " " << i;
        }
    }
}

// ---- The table the popup and the filter are derived from -------------------------------------

TEST(ConversionTable, EveryRowIsNamedAfterItsSystemsAndHasItsInverse) {
    for (const Conversion& c : kConversions) {
        EXPECT_EQ(std::string(c.name), std::string(c.from().name) + " to " + c.to().name);
        EXPECT_NE(c.system, &kRgb) << c.name;
        const Conversion* inverse = c.isForward() ? inverseOf(c) : nullptr;
        EXPECT_TRUE(!c.isForward() || inverse != nullptr) << c.name << " has no backward row";
        int sameSystemSameDirection = 0;
        for (const Conversion& other : kConversions)
            sameSystemSameDirection += other.system == c.system && other.direction == c.direction;
        EXPECT_EQ(sameSystemSameDirection, 1) << c.name;
    }
    for (const A_long outside : {0, -1, static_cast<A_long>(kConversionCount) + 1})
        EXPECT_EQ(conversionIndex(outside), kConversionCount) << outside;
}

// Forward conversions of colours in 0..1 fill channels of an ordinary image: every encoding keeps
// its component within 0..1 at 32 bits (where nothing clamps the result).
TEST(ConversionTable, ForwardEncodingsStayInsideTheUnitRange) {
    const std::vector<PF_PixelFloat> pixels = floatGrid(16);
    for (const Conversion& c : kConversions) {
        if (!c.isForward())
            continue;
        const auto out = convertRow(pixels, c.type);
        for (std::size_t i = 0; i < out.size(); ++i) {
            const float channels[3] = {out[i].red, out[i].green, out[i].blue};
            for (int k = 0; k < 3; ++k) {
                ASSERT_GE(channels[k], -1e-6f) << c.name << " " << c.to().components[k] << " " << i;
                ASSERT_LE(channels[k], 1.0f + 1e-6f)
                    << c.name << " " << c.to().components[k] << " " << i;
            }
        }
    }
}

} // namespace
