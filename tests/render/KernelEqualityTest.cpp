// Every vector path this machine has against the scalar path, byte for byte: all 8-bit colours,
// a 16-bit cube of edge values, 32-bit special values, and the row handling around them (widths
// either side of the vector width, padded strides, regions starting mid-row, in place).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <limits>
#include <random>
#include <string>
#include <type_traits>
#include <vector>

#include "Ombrel/Filter/Kernels/KernelPath.h"
#include "Ombrel/Filter/Kernels/RowKernels.h"
#include "Ombrel/Filter/OmbrelColorSpaceConversion.h"
#include "TestUtils.h"
#include "TestWorld.h"

using namespace Ombrel;
using Kernels::Path;
using OmbrelTest::PixelTraits;
using OmbrelTest::Records;
using OmbrelTest::TestWorld;
using Type = ColorSpaceConversion::Parameter::Type;

namespace {

constexpr Type kTypes[] = {Type::RGB_TO_YUV, Type::YUV_TO_RGB, Type::RGB_TO_HLS,
                           Type::HLS_TO_RGB, Type::RGB_TO_HSB, Type::HSB_TO_RGB};

// The vector paths this build and CPU can run.
std::vector<Path> vectorPaths() {
    std::vector<Path> paths;
    for (Path p : Kernels::kVectorPaths)
        if (Kernels::rowKernels(p) != nullptr)
            paths.push_back(p);
    return paths;
}

// Skips a comparison when there is nothing to compare with (OMBREL_SIMD off, or neither x86-64
// nor AArch64).
#define SKIP_WITHOUT_VECTOR_PATHS()                                                                \
    do {                                                                                           \
        if (vectorPaths().empty())                                                                 \
            GTEST_SKIP() << "no vector kernel path in this build or on this CPU";                  \
    } while (0)

using Stores = ColorSpaceConversion::Stores;
// The kernels are compared with both kinds of stores, whatever the frame's size (a path without
// streaming kernels at a depth runs its ordinary ones for both).
template <class P>
std::vector<Stores> storesOf() {
    return {Stores::Ordinary, Stores::Streaming};
}
const char* storesName(Stores s) {
    return s == Stores::Streaming ? "streaming stores" : "ordinary stores";
}

template <class P>
void run(TestWorld<P>& src, TestWorld<P>& dst, Type type, const Rect& region, Path path,
         Stores stores = Stores::BySize) {
    Records records;
    Layer in(&records.in, &records.out, &src.def, PixelTraits<P>::bpc);
    Layer out(&records.in, &records.out, &dst.def, PixelTraits<P>::bpc);
    ColorSpaceConversion(ColorSpaceConversion::Parameter().setType(type))
        .executeOnPath(in, out, region, path, stores);
}

std::string typeName(Type t) {
    static const char* const names[] = {"RGB to YUV", "YUV to RGB", "RGB to HLS",
                                        "HLS to RGB", "RGB to HSB", "HSB to RGB"};
    return names[t - 1];
}

template <class P>
std::string pixelText(const P& p) {
    if constexpr (std::is_same_v<P, PF_PixelFloat>) {
        char text[160];
        std::uint32_t bits[4];
        std::memcpy(bits, &p, sizeof bits);
        std::snprintf(text, sizeof text, "(%g %g %g %g | %08x %08x %08x %08x)", double(p.alpha),
                      double(p.red), double(p.green), double(p.blue), bits[0], bits[1], bits[2],
                      bits[3]);
        return text;
    } else {
        char text[64];
        std::snprintf(text, sizeof text, "(%d %d %d %d)", int(p.alpha), int(p.red), int(p.green),
                      int(p.blue));
        return text;
    }
}

// Converts the whole of src on the scalar path and on every vector path, and reports the first
// few pixels where a vector path differs in any byte (padding included).
template <class P>
void expectPathsAgree(TestWorld<P>& src, int width, int height, Type type) {
    TestWorld<P> expected(width, height);
    run(src, expected, type, Rect(0, 0, width, height), Path::Scalar);
    for (Path path : vectorPaths())
        for (Stores stores : storesOf<P>()) {
            TestWorld<P> got(width, height);
            run(src, got, type, Rect(0, 0, width, height), path, stores);
            if (got.sameBytes(expected))
                continue;
            int shown = 0;
            for (int y = 0; y < height && shown < 5; ++y)
                for (int x = 0; x < width && shown < 5; ++x)
                    if (std::memcmp(&got.at(x, y), &expected.at(x, y), sizeof(P)) != 0) {
                        ADD_FAILURE()
                            << Kernels::pathName(path) << ", " << storesName(stores) << ", "
                            << typeName(type) << ", pixel " << x << "," << y << " "
                            << pixelText(src.at(x, y)) << ": " << pixelText(got.at(x, y))
                            << " instead of " << pixelText(expected.at(x, y));
                        ++shown;
                    }
        }
}

class EveryType : public ::testing::TestWithParam<Type> {};

std::string paramName(const ::testing::TestParamInfo<Type>& info) {
    std::string name = typeName(info.param);
    name.erase(std::remove(name.begin(), name.end(), ' '), name.end());
    return name;
}

// ---- 8 bits: every colour ---------------------------------------------------------------------

TEST_P(EveryType, AllEightBitColours) {
    SKIP_WITHOUT_VECTOR_PATHS();
    // 4096 x 4096: blue and green vary along a row, red down the rows, so each row's vectors see
    // all kinds of neighbours; alpha takes every value too.
    TestWorld<PF_Pixel> src(4096, 4096);
    for (int y = 0; y < 4096; ++y)
        for (int x = 0; x < 4096; ++x) {
            const unsigned i = unsigned(y) * 4096u + unsigned(x);
            src.at(x, y) = {A_u_char(i * 7 + (i >> 13)), A_u_char(i >> 16), A_u_char(i >> 8),
                            A_u_char(i)};
        }
    expectPathsAgree(src, 4096, 4096, GetParam());
}

// ---- 16 bits: a cube of edge values and random colours -----------------------------------------

TEST_P(EveryType, SixteenBitEdgesAndRandomColours) {
    SKIP_WITHOUT_VECTOR_PATHS();
    const A_u_short edges[] = {0,     1,     2,     127,   255,   256,   8191,  16383,
                               16384, 16385, 21845, 32767, 32768, 32769, 40000, 49152,
                               65534, 65535, 12345, 30000, 1000,  3,     24576, 32000};
    constexpr int kEdges = sizeof edges / sizeof edges[0];
    const int cube = kEdges * kEdges * kEdges;
    const int width = 509, height = (cube + 2 * 65536) / width + 1;
    TestWorld<PF_Pixel16> src(width, height);
    std::mt19937 rng(16);
    for (int i = 0; i < width * height; ++i) {
        PF_Pixel16& p = src.at(i % width, i / width);
        p.alpha = A_u_short(rng());
        if (i < cube) {
            p.red = edges[i % kEdges];
            p.green = edges[i / kEdges % kEdges];
            p.blue = edges[i / (kEdges * kEdges)];
        } else {
            // Half in the host's range, half over all 16 bits.
            const unsigned limit = i % 2 ? 32769u : 65536u;
            p.red = A_u_short(rng() % limit);
            p.green = A_u_short(rng() % limit);
            p.blue = A_u_short(rng() % limit);
        }
    }
    expectPathsAgree(src, width, height, GetParam());
}

// ---- 32 bits: special values and random floats -------------------------------------------------

float fromBits(std::uint32_t bits) {
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

// Infinities, NaNs with payloads, denormals, signed zeros, the clamp's edges and the hue
// sectors' boundaries.
std::vector<float> floatSpecials() {
    const float inf = std::numeric_limits<float>::infinity();
    return {-inf,
            -1e30f,
            -2.0f,
            -1.0f,
            -0.5f,
            -1e-40f,
            -0.0f,
            0.0f,
            1e-45f,
            1e-40f,
            std::numeric_limits<float>::min(),
            std::nextafter(0.0f, 1.0f) * 4,
            1e-7f,
            0.25f,
            0.5f,
            std::nextafter(0.5f, 0.0f),
            std::nextafter(1.0f, 0.0f),
            1.0f,
            std::nextafter(1.0f, 2.0f),
            1.5f,
            2.0f,
            1e30f,
            inf,
            std::numeric_limits<float>::quiet_NaN(),
            fromBits(0xFFC00001u),
            fromBits(0x7F800001u),
            1.0f / 3.0f,
            2.0f / 3.0f,
            1.0f / 6.0f,
            5.0f / 6.0f};
}

TEST_P(EveryType, FloatSpecialValuesAndRandomFloats) {
    SKIP_WITHOUT_VECTOR_PATHS();
    const std::vector<float> specials = floatSpecials();
    const int kSpecials = static_cast<int>(specials.size());
    const int cube = kSpecials * kSpecials * kSpecials;
    const int width = 1021, height = (cube + 65536) / width + 1;
    TestWorld<PF_PixelFloat> src(width, height);
    std::mt19937 rng(32);
    std::uniform_real_distribution<float> around(-0.25f, 1.25f);
    for (int i = 0; i < width * height; ++i) {
        PF_PixelFloat& p = src.at(i % width, i / width);
        // Alpha passes through bit for bit, NaN payloads included.
        p.alpha = fromBits(std::uint32_t(rng()));
        if (i < cube) {
            p.red = specials[i % kSpecials];
            p.green = specials[i / kSpecials % kSpecials];
            p.blue = specials[i / (kSpecials * kSpecials)];
        } else if (i % 2) {
            p.red = around(rng);
            p.green = around(rng);
            p.blue = around(rng);
        } else {
            p.red = fromBits(std::uint32_t(rng()));
            p.green = fromBits(std::uint32_t(rng()));
            p.blue = fromBits(std::uint32_t(rng()));
        }
    }
    expectPathsAgree(src, width, height, GetParam());
}

// ---- BGRA worlds ------------------------------------------------------------------------------

// The BGRA record of an ARGB pixel's colour (and the other way round): the channels reversed.
template <class P>
P reversed(const P& p) {
    return {p.blue, p.green, p.red, p.alpha};
}

// An ARGB sample through BGRA worlds on the scalar path and every vector path: each must write
// the ARGB scalar result with its channels in the BGRA places.
template <class P>
void expectBgraIsArgbMoved(TestWorld<P>& argb, int width, int height, Type type) {
    const Rect all(0, 0, width, height);
    TestWorld<P> expected(width, height);
    run(argb, expected, type, all, Path::Scalar);
    TestWorld<P> bgra(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            bgra.at(x, y) = reversed(argb.at(x, y));
    std::vector<Path> paths = vectorPaths();
    paths.insert(paths.begin(), Path::Scalar);
    for (Path path : paths) {
        TestWorld<P> got(width, height);
        Records records;
        Layer in(&records.in, &records.out, &bgra.def, PixelTraits<P>::bpc, ChannelOrder::BGRA);
        Layer out(&records.in, &records.out, &got.def, PixelTraits<P>::bpc, ChannelOrder::BGRA);
        ColorSpaceConversion(ColorSpaceConversion::Parameter().setType(type))
            .executeOnPath(in, out, all, path);
        int shown = 0;
        for (int y = 0; y < height && shown < 5; ++y)
            for (int x = 0; x < width && shown < 5; ++x) {
                const P want = reversed(expected.at(x, y));
                if (!OmbrelTest::samePixel(got.at(x, y), want)) {
                    ADD_FAILURE() << Kernels::pathName(path) << ", " << typeName(type)
                                  << ", BGRA pixel " << x << "," << y << " (ARGB "
                                  << pixelText(argb.at(x, y)) << "): " << pixelText(got.at(x, y))
                                  << " instead of " << pixelText(want);
                    ++shown;
                }
            }
    }
}

// Every combination of edge values of the three colour channels, then random colours, with
// random alphas; a width that leaves a tail on every path.
TEST_P(EveryType, BgraWorldsGiveTheArgbResultsMoved) {
    const A_u_char edges[] = {0, 1, 2, 3, 64, 127, 128, 129, 191, 252, 253, 254, 255};
    constexpr int kEdges = sizeof edges / sizeof edges[0];
    const int width = 509;
    std::mt19937 rng(24);
    {
        const int height = (kEdges * kEdges * kEdges + 8192) / width + 1;
        TestWorld<PF_Pixel> argb(width, height);
        for (int i = 0; i < width * height; ++i) {
            PF_Pixel& p = argb.at(i % width, i / width);
            p = {A_u_char(rng()), A_u_char(rng()), A_u_char(rng()), A_u_char(rng())};
            if (i < kEdges * kEdges * kEdges)
                p = {p.alpha, edges[i % kEdges], edges[i / kEdges % kEdges],
                     edges[i / (kEdges * kEdges)]};
        }
        expectBgraIsArgbMoved(argb, width, height, GetParam());
    }
    const std::vector<float> specials = floatSpecials();
    const int kSpecials = static_cast<int>(specials.size());
    const int cube = kSpecials * kSpecials * kSpecials;
    const int height = (cube + 8192) / width + 1;
    TestWorld<PF_PixelFloat> argb(width, height);
    std::uniform_real_distribution<float> around(-0.25f, 1.25f);
    for (int i = 0; i < width * height; ++i) {
        PF_PixelFloat& p = argb.at(i % width, i / width);
        p.alpha = fromBits(std::uint32_t(rng()));
        p.red = i < cube ? specials[i % kSpecials] : around(rng);
        p.green = i < cube ? specials[i / kSpecials % kSpecials] : around(rng);
        p.blue = i < cube ? specials[i / (kSpecials * kSpecials)] : around(rng);
    }
    expectBgraIsArgbMoved(argb, width, height, GetParam());
}

INSTANTIATE_TEST_SUITE_P(Kernels, EveryType, ::testing::ValuesIn(kTypes), paramName);

// ---- Rows: tails, strides, offsets, in place
// -----------------------------------------------------

template <class P>
class KernelRows : public ::testing::Test {
public:
    static P randomPixel(std::mt19937& rng) {
        if constexpr (std::is_same_v<P, PF_PixelFloat>) {
            std::uniform_real_distribution<float> d(-0.1f, 1.1f);
            return {d(rng), d(rng), d(rng), d(rng)};
        } else {
            using C = typename PixelTraits<P>::Channel;
            const unsigned limit = unsigned(PixelTraits<P>::max) + 1;
            return {C(rng() % limit), C(rng() % limit), C(rng() % limit), C(rng() % limit)};
        }
    }
    static void fill(TestWorld<P>& w, int width, int height, std::mt19937& rng) {
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                w.at(x, y) = randomPixel(rng);
    }
    static P sentinel() {
        P p;
        std::memset(&p, 0x5A, sizeof p);
        return p;
    }
};

using Depths = ::testing::Types<PF_Pixel, PF_Pixel16, PF_PixelFloat>;
TYPED_TEST_SUITE(KernelRows, Depths);

// Widths from 1 to twice the widest vector plus one, rows padded by an odd number of pixels, and
// regions that start and end mid-row: each vector path writes exactly the scalar path's bytes
// and nothing outside the region.
TYPED_TEST(KernelRows, TailsStridesAndOffsetsMatchTheScalarPath) {
    SKIP_WITHOUT_VECTOR_PATHS();
    using P = TypeParam;
    std::mt19937 rng(7);
    const int maxWidth = 2 * Kernels::kMaxLanes + 1;
    for (Type type : kTypes)
        for (int width = 1; width <= maxWidth; ++width) {
            const int height = 3, padding = 2 * width % 5 + 1;
            TestWorld<P> src(width + 3, height, padding);
            this->fill(src, width + 3, height, rng);
            const Rect regions[] = {Rect(0, 0, width, height), Rect(3, 1, width + 3, height),
                                    Rect(1, 0, width + 2, 2)};
            for (const Rect& region : regions) {
                TestWorld<P> expected(width + 3, height, padding, this->sentinel());
                run(src, expected, type, region, Path::Scalar);
                for (Path path : vectorPaths())
                    for (Stores stores : storesOf<P>()) {
                        TestWorld<P> got(width + 3, height, padding + 2, this->sentinel());
                        run(src, got, type, region, path, stores);
                        for (int y = 0; y < height; ++y)
                            for (int x = 0; x < width + 3; ++x)
                                ASSERT_TRUE(OmbrelTest::samePixel(got.at(x, y), expected.at(x, y)))
                                    << Kernels::pathName(path) << ", " << storesName(stores) << ", "
                                    << typeName(type) << ", width " << width << ", region left "
                                    << region.left << ", pixel " << x << "," << y;
                    }
            }
        }
}

TYPED_TEST(KernelRows, InPlaceMatchesTheScalarPath) {
    SKIP_WITHOUT_VECTOR_PATHS();
    using P = TypeParam;
    std::mt19937 rng(11);
    for (Type type : kTypes)
        for (int width : {1, 4, 7, 8, 9, 15, 16, 17, 31, 33, 47, 65}) {
            TestWorld<P> original(width, 2, 1);
            this->fill(original, width, 2, rng);
            TestWorld<P> expected(width, 2, 1);
            run(original, expected, type, Rect(0, 0, width, 2), Path::Scalar);
            for (Path path : vectorPaths())
                for (Stores stores : storesOf<P>()) {
                    TestWorld<P> same(width, 2, 1);
                    for (int y = 0; y < 2; ++y)
                        for (int x = 0; x < width; ++x)
                            same.at(x, y) = original.at(x, y);
                    run(same, same, type, Rect(0, 0, width, 2), path, stores);
                    for (int y = 0; y < 2; ++y)
                        for (int x = 0; x < width; ++x)
                            ASSERT_TRUE(OmbrelTest::samePixel(same.at(x, y), expected.at(x, y)))
                                << Kernels::pathName(path) << ", " << storesName(stores) << ", "
                                << typeName(type) << ", width " << width << ", pixel " << x << ","
                                << y;
                }
        }
}

// ---- The path choice -------------------------------------------------------------------------

TEST(KernelPath, RequestIsHonouredWithinWhatTheCpuHas) {
    using Kernels::choosePath;
    EXPECT_EQ(choosePath(Path::Avx2, nullptr).path, Path::Avx2);
    EXPECT_EQ(choosePath(Path::Avx2, "").path, Path::Avx2);
    EXPECT_EQ(choosePath(Path::Sse41, "auto").path, Path::Sse41);
    EXPECT_EQ(choosePath(Path::Avx2, "scalar").path, Path::Scalar);
    EXPECT_EQ(choosePath(Path::Avx2, "sse2").path, Path::Sse2);
    EXPECT_EQ(choosePath(Path::Avx2, "sse41").path, Path::Sse41);
    EXPECT_EQ(choosePath(Path::Sse41, "avx2").path, Path::Sse41);
    EXPECT_EQ(choosePath(Path::Sse2, "avx2").path, Path::Sse2);
    EXPECT_EQ(choosePath(Path::Scalar, "sse2").path, Path::Scalar);
    EXPECT_EQ(choosePath(Path::Avx512, "avx512").path, Path::Avx512);
    EXPECT_EQ(choosePath(Path::Avx512, "avx2").path, Path::Avx2);
    EXPECT_EQ(choosePath(Path::Avx2, "avx512").path, Path::Avx2);
    EXPECT_EQ(choosePath(Path::Sse41, "avx512").path, Path::Sse41);
    EXPECT_EQ(choosePath(Path::Avx2, "AVX2").path, Path::Avx2);
    EXPECT_EQ(choosePath(Path::Sse2, "fastest").path, Path::Sse2);
    EXPECT_STRNE(choosePath(Path::Sse2, "avx2").reason, choosePath(Path::Sse2, "sse2").reason);
    // The other processor family's paths are never chosen.
    EXPECT_EQ(choosePath(Path::Neon, "neon").path, Path::Neon);
    EXPECT_EQ(choosePath(Path::Neon, "scalar").path, Path::Scalar);
    EXPECT_EQ(choosePath(Path::Neon, "sse2").path, Path::Neon);
    EXPECT_EQ(choosePath(Path::Neon, "avx512").path, Path::Neon);
    EXPECT_EQ(choosePath(Path::Avx512, "neon").path, Path::Avx512);
    EXPECT_EQ(choosePath(Path::Scalar, "neon").path, Path::Scalar);
    const Path fastest = std::end(Kernels::kPaths)[-1];
    for (Path p : Kernels::kPaths)
        EXPECT_EQ(choosePath(fastest, Kernels::pathName(p)).path, p) << Kernels::pathName(p);
}

// The rule from processor and operating system values: a vector path needs the processor's
// instructions and, from AVX2 on, the OS saving the wider registers' state.
TEST(KernelPath, BestPathNeedsTheInstructionsAndTheOsState) {
    constexpr unsigned kSse2 = 1u << 26;                                        // leaf 1 edx
    constexpr unsigned kSse41 = 1u << 19, kOsxsave = 1u << 27, kAvx = 1u << 28; // leaf 1 ecx
    constexpr unsigned kAvx2 = 1u << 5;                                         // leaf 7 ebx
    constexpr unsigned kAvx512 = (1u << 16) | (1u << 17) | (1u << 30) | (1u << 31);
    constexpr unsigned long long kYmm = 0x7, kZmm = 0xE7;
    constexpr unsigned kAvxCpu = kSse41 | kOsxsave | kAvx;
    struct Case {
        const char* what;
        unsigned maxLeaf, ecx1, edx1, ebx7;
        unsigned long long xcr0;
        Path best;
    };
    const Case cases[] = {
        {"nothing", 13, 0, 0, 0, 0, Path::Scalar},
        {"SSE2 only", 13, 0, kSse2, 0, 0, Path::Sse2},
        {"SSE4.1 without SSE2", 13, kSse41, 0, 0, 0, Path::Scalar},
        {"SSE4.1, no AVX", 13, kSse41, kSse2, kAvx2, kYmm, Path::Sse41},
        {"AVX2, OS saves YMM", 13, kAvxCpu, kSse2, kAvx2, kYmm, Path::Avx2},
        {"AVX2 without OSXSAVE", 13, kSse41 | kAvx, kSse2, kAvx2, kYmm, Path::Sse41},
        {"AVX2, OS saves SSE only", 13, kAvxCpu, kSse2, kAvx2, 0x3, Path::Sse41},
        {"AVX2, OS saves YMM but not SSE", 13, kAvxCpu, kSse2, kAvx2, 0x5, Path::Sse41},
        {"AVX2 bit without AVX", 13, kSse41 | kOsxsave, kSse2, kAvx2, kYmm, Path::Sse41},
        {"AVX2 bit, leaf 7 absent", 6, kAvxCpu, kSse2, kAvx2 | kAvx512, kZmm, Path::Sse41},
        {"AVX-512, OS saves ZMM", 13, kAvxCpu, kSse2, kAvx2 | kAvx512, kZmm, Path::Avx512},
        {"AVX-512, OS saves YMM only", 13, kAvxCpu, kSse2, kAvx2 | kAvx512, kYmm, Path::Avx2},
        {"AVX-512 without opmask state", 13, kAvxCpu, kSse2, kAvx2 | kAvx512, 0xC7, Path::Avx2},
        {"AVX-512 without upper ZMM", 13, kAvxCpu, kSse2, kAvx2 | kAvx512, 0x67, Path::Avx2},
        {"AVX-512 without BW", 13, kAvxCpu, kSse2, kAvx2 | (kAvx512 & ~(1u << 30)), kZmm,
         Path::Avx2},
        {"AVX-512 without AVX2", 13, kAvxCpu, kSse2, kAvx512, kZmm, Path::Sse41},
    };
    for (const Case& c : cases) {
        Kernels::CpuidValues v;
        v.maxLeaf = c.maxLeaf;
        v.leaf1[2] = c.ecx1;
        v.leaf1[3] = c.edx1;
        v.leaf7[1] = c.ebx7;
        v.xcr0 = c.xcr0;
        EXPECT_EQ(Kernels::bestPath(v), c.best) << c.what;
    }
}

TEST(KernelPath, ThePathsThisCpuHasAreBuiltAndTheOthersRunScalar) {
    const Path best = Kernels::cpuBestPath();
    for (Path p : Kernels::kVectorPaths)
        EXPECT_EQ(Kernels::rowKernels(p) != nullptr, Kernels::runsOn(p, best))
            << Kernels::pathName(p);
    EXPECT_EQ(Kernels::rowKernels(Path::Scalar), nullptr);
    EXPECT_TRUE(Kernels::runsOn(Kernels::activePath(), best));
}

} // namespace
