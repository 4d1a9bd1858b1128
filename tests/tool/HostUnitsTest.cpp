#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "HostUnits.h"

using namespace OmbrelRender;

namespace {

template <class C>
void toHostAs(const float (&rgba)[4], SampleType type, Image& image) {
    const C row[4] = {static_cast<C>(rgba[0]), static_cast<C>(rgba[1]), static_cast<C>(rgba[2]),
                      static_cast<C>(rgba[3])};
    rowToHost(type, row, image, 0);
}

// One pixel of file values (red, green, blue, alpha) in host units at `depth`.
Image toHost(SampleType type, float r, float g, float b, float a, Depth depth) {
    Image image(1, 1, depth);
    const float rgba[4] = {r, g, b, a};
    switch (type) {
    case SampleType::UInt8:
        toHostAs<std::uint8_t>(rgba, type, image);
        break;
    case SampleType::UInt16:
        toHostAs<std::uint16_t>(rgba, type, image);
        break;
    case SampleType::Half:
    case SampleType::Float:
        toHostAs<float>(rgba, type, image);
        break;
    }
    return image;
}

// Pixel (0, 0) of `image` as the file values of `type`.
std::array<float, 4> fromHost(const Image& image, SampleType type) {
    std::vector<unsigned char> row(static_cast<std::size_t>(image.width) * 4 * sampleBytes(type));
    rowFromHost(image, 0, type, row.data());
    std::array<float, 4> values{};
    for (int c = 0; c < 4; ++c) {
        switch (type) {
        case SampleType::UInt8:
            values[c] = row[c];
            break;
        case SampleType::UInt16:
            values[c] = reinterpret_cast<const std::uint16_t*>(row.data())[c];
            break;
        case SampleType::Half:
        case SampleType::Float:
            values[c] = reinterpret_cast<const float*>(row.data())[c];
            break;
        }
    }
    return values;
}

} // namespace

TEST(HostUnits, EverySixteenBitHostValueSurvivesAFileRoundTrip) {
    for (unsigned h = 0; h <= 32768; ++h) {
        const unsigned file = host16ToFile(h);
        ASSERT_LE(file, 65535u);
        ASSERT_EQ(fileToHost16(file), h) << "host value " << h << " written as " << file;
    }
    EXPECT_EQ(host16ToFile(32768), 65535u);
    EXPECT_EQ(fileToHost16(65535), 32768u);
    EXPECT_EQ(fileToHost16(1), 1u); // 0.50001 rounds up
    EXPECT_EQ(fileToHost16(32767), 16384u);
}

TEST(HostUnits, SixteenBitFileValuesMapToTheNearestHostValue) {
    for (unsigned v = 0; v <= 65535; ++v) {
        const double exact = v * 32768.0 / 65535.0;
        ASSERT_LE(std::fabs(fileToHost16(v) - exact), 0.5) << v;
    }
}

struct ToHostCase {
    SampleType type;
    float file;
    Depth depth;
    double host;
};

void PrintTo(const ToHostCase& c, std::ostream* os) {
    *os << sampleTypeName(c.type) << " " << c.file << " at " << depthBits(c.depth) << " bits";
}

class FileToHost : public ::testing::TestWithParam<ToHostCase> {};

TEST_P(FileToHost, ConvertsOneChannel) {
    const ToHostCase c = GetParam();
    const Image image = toHost(c.type, c.file, 0, 0, 0, c.depth);
    switch (c.depth) {
    case Depth::Bits8:
        EXPECT_EQ(image.row<PF_Pixel>(0)[0].red, c.host);
        break;
    case Depth::Bits16:
        EXPECT_EQ(image.row<PF_Pixel16>(0)[0].red, c.host);
        break;
    case Depth::Bits32:
        EXPECT_FLOAT_EQ(image.row<PF_PixelFloat>(0)[0].red, static_cast<float>(c.host));
        break;
    }
}

const float kNaN = std::numeric_limits<float>::quiet_NaN();

INSTANTIATE_TEST_SUITE_P(
    Cases, FileToHost,
    ::testing::Values(
        // 8-bit files
        ToHostCase{SampleType::UInt8, 200, Depth::Bits8, 200},
        ToHostCase{SampleType::UInt8, 255, Depth::Bits16, 32768},
        ToHostCase{SampleType::UInt8, 200, Depth::Bits16, 25700}, // 25700.39
        ToHostCase{SampleType::UInt8, 1, Depth::Bits16, 129},     // 128.50 rounds up
        ToHostCase{SampleType::UInt8, 51, Depth::Bits32, 0.2},
        // 16-bit files
        ToHostCase{SampleType::UInt16, 65535, Depth::Bits8, 255},
        ToHostCase{SampleType::UInt16, 32896, Depth::Bits8, 128},
        ToHostCase{SampleType::UInt16, 128, Depth::Bits8, 0}, // 0.498
        ToHostCase{SampleType::UInt16, 129, Depth::Bits8, 1}, // 0.502
        ToHostCase{SampleType::UInt16, 65535, Depth::Bits32, 1.0},
        // float files: clamped and rounded for the integer depths, as stored at 32 bits
        ToHostCase{SampleType::Float, 0.5f, Depth::Bits8, 128},
        ToHostCase{SampleType::Float, 2.0f, Depth::Bits8, 255},
        ToHostCase{SampleType::Float, -1.0f, Depth::Bits16, 0},
        ToHostCase{SampleType::Float, kNaN, Depth::Bits16, 0},
        ToHostCase{SampleType::Float, 0.25f, Depth::Bits16, 8192},
        ToHostCase{SampleType::Float, 2.0f, Depth::Bits16, 32768},
        ToHostCase{SampleType::Half, 0.75f, Depth::Bits16, 24576},
        ToHostCase{SampleType::Float, -0.25f, Depth::Bits32, -0.25},
        ToHostCase{SampleType::Float, 7.5f, Depth::Bits32, 7.5}));

TEST(HostUnits, ImagesWithoutAlphaArriveOpaqueAtEveryDepth) {
    // The reader fills missing alpha with the file's full value; the host sees its own full.
    EXPECT_EQ(toHost(SampleType::UInt8, 0, 0, 0, 255, Depth::Bits16).row<PF_Pixel16>(0)[0].alpha,
              32768);
    EXPECT_EQ(toHost(SampleType::UInt16, 0, 0, 0, 65535, Depth::Bits8).row<PF_Pixel>(0)[0].alpha,
              255);
    EXPECT_EQ(toHost(SampleType::Float, 0, 0, 0, 1, Depth::Bits16).row<PF_Pixel16>(0)[0].alpha,
              32768);
}

TEST(HostUnits, WritingConvertsHostUnitsToTheFilesType) {
    Image eight(1, 1, Depth::Bits8);
    eight.row<PF_Pixel>(0)[0] = {64, 255, 1, 0};
    const auto asU16 = fromHost(eight, SampleType::UInt16);
    EXPECT_EQ(asU16[0], 65535.0f);
    EXPECT_EQ(asU16[1], 257.0f);
    EXPECT_EQ(asU16[3], 64.0f * 257);
    EXPECT_FLOAT_EQ(fromHost(eight, SampleType::Float)[3], 64.0f / 255);

    Image sixteen(1, 1, Depth::Bits16);
    // Alpha above 32768 can only come from a raw input; an integer file clamps it.
    sixteen.row<PF_Pixel16>(0)[0] = {40000, 32768, 16384, 1};
    const auto asU8 = fromHost(sixteen, SampleType::UInt8);
    EXPECT_EQ(asU8[3], 255.0f);
    EXPECT_EQ(asU8[0], 255.0f);
    EXPECT_EQ(asU8[1], 128.0f); // 127.5 rounds up
    EXPECT_EQ(asU8[2], 0.0f);
    EXPECT_EQ(fromHost(sixteen, SampleType::UInt16)[3], 65535.0f);
    EXPECT_FLOAT_EQ(fromHost(sixteen, SampleType::Float)[3], 40000.0f / 32768);

    Image floats(1, 1, Depth::Bits32);
    floats.row<PF_PixelFloat>(0)[0] = {0.5f, 1.7f, -0.2f, kNaN};
    const auto clamped = fromHost(floats, SampleType::UInt16);
    EXPECT_EQ(clamped[0], 65535.0f);
    EXPECT_EQ(clamped[1], 0.0f);
    EXPECT_EQ(clamped[2], 0.0f);
    EXPECT_EQ(clamped[3], 32768.0f); // 32767.5 rounds up
    const auto kept = fromHost(floats, SampleType::Float);
    EXPECT_EQ(kept[0], 1.7f);
    EXPECT_EQ(kept[1], -0.2f);
}

TEST(HostUnits, FileTypeFollowsFormatAndDepth) {
    struct Case {
        const char* ext;
        Depth depth;
        SampleType type;
    };
    const Case cases[] = {
        {".png", Depth::Bits8, SampleType::UInt8},    {".PNG", Depth::Bits16, SampleType::UInt16},
        {".png", Depth::Bits32, SampleType::UInt16},  {".tif", Depth::Bits8, SampleType::UInt8},
        {".tiff", Depth::Bits16, SampleType::UInt16}, {".tif", Depth::Bits32, SampleType::Float},
        {".exr", Depth::Bits8, SampleType::Float},    {".exr", Depth::Bits16, SampleType::Float},
        {".jpg", Depth::Bits8, SampleType::UInt8},
    };
    for (const Case& c : cases)
        EXPECT_EQ(storedType(c.ext, c.depth), c.type) << c.ext << " " << depthBits(c.depth);
    EXPECT_EQ(naturalDepth(SampleType::UInt8), Depth::Bits8);
    EXPECT_EQ(naturalDepth(SampleType::UInt16), Depth::Bits16);
    EXPECT_EQ(naturalDepth(SampleType::Half), Depth::Bits32);
    EXPECT_EQ(naturalDepth(SampleType::Float), Depth::Bits32);
}

template <class P>
struct DepthOf;
template <>
struct DepthOf<PF_Pixel> {
    static constexpr Depth depth = Depth::Bits8;
    static constexpr SampleType file = SampleType::UInt8;
};
template <>
struct DepthOf<PF_Pixel16> {
    static constexpr Depth depth = Depth::Bits16;
    static constexpr SampleType file = SampleType::UInt16;
};
template <>
struct DepthOf<PF_PixelFloat> {
    static constexpr Depth depth = Depth::Bits32;
    static constexpr SampleType file = SampleType::Float;
};

template <class P>
class HostUnitsAtDepth : public ::testing::Test {};
using PixelTypes = ::testing::Types<PF_Pixel, PF_Pixel16, PF_PixelFloat>;
TYPED_TEST_SUITE(HostUnitsAtDepth, PixelTypes);

TYPED_TEST(HostUnitsAtDepth, TheDepthsOwnFileTypeKeepsEveryValue) {
    constexpr Depth depth = DepthOf<TypeParam>::depth;
    Image image(37, 5, depth);
    std::mt19937 random(7);
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x) {
            TypeParam& p = image.template row<TypeParam>(y)[x];
            if constexpr (depth == Depth::Bits32) {
                std::uniform_real_distribution<float> d(-0.5f, 1.5f);
                p = {d(random), d(random), d(random), d(random)};
            } else {
                const unsigned max = depth == Depth::Bits8 ? 255 : 32768;
                std::uniform_int_distribution<unsigned> d(0, max);
                using C = decltype(p.red);
                p = {C(d(random)), C(d(random)), C(d(random)), C(d(random))};
            }
        }
    // Row by row through a buffer of the file's samples, as the reader and writer move them.
    Image back(image.width, image.height, depth);
    std::vector<unsigned char> row(static_cast<std::size_t>(image.width) * 4 *
                                   sampleBytes(DepthOf<TypeParam>::file));
    for (int y = 0; y < image.height; ++y) {
        rowFromHost(image, y, DepthOf<TypeParam>::file, row.data());
        rowToHost(DepthOf<TypeParam>::file, row.data(), back, y);
    }
    EXPECT_EQ(back, image);
}
