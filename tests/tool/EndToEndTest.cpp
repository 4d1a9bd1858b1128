// ombrel-render run as a program on the built effect module: conversions checked bit for bit
// against values computed here from the documented encodings, file formats, and every way a run
// can fail.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <random>

#include <OpenImageIO/imageio.h>

#include "HandMadeFiles.h"
#include "HostUnits.h"
#include "ImageFileHelpers.h"
#include "Modes.h"
#include "PngBytes.h"
#include "RawFiles.h"
#include "ReferenceConversion.h"
#include "RunTool.h"

using namespace OmbrelRender;
using namespace OmbrelRenderTest;
namespace fs = std::filesystem;

namespace {

std::string bits(Depth depth) {
    return std::to_string(static_cast<int>(depth));
}

std::string sizeArg(const Image& image) {
    return std::to_string(image.width) + "x" + std::to_string(image.height);
}

// Primaries, greys and the extremes first, then values spread over the whole range; alpha
// varies, including 0 with colour present. At 32 bits some channels lie outside 0..1.
Image testFrame(Depth depth, int w = 16, int h = 12) {
    Image image(w, h, depth);
    std::mt19937 random(static_cast<unsigned>(depth) * 31);
    const float fixed[][4] = {{1, 1, 1, 1},          {1, 0, 0, 0},
                              {1, 1, 0, 0},          {1, 0, 1, 0},
                              {1, 0, 0, 1},          {0.5f, 1, 1, 0},
                              {0, 0, 1, 1},          {1, 1, 0, 1},
                              {1, 0.5f, 0.5f, 0.5f}, {0.25f, 0.2f, 0.4f, 0.6f}};
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int i = y * w + x;
            float v[4];
            for (float& c : v)
                c = std::uniform_real_distribution<float>(0.0f, 1.0f)(random);
            if (i < 10)
                std::copy(std::begin(fixed[i]), std::end(fixed[i]), v);
            if (depth == Depth::Bits8) {
                image.row<PF_Pixel>(y)[x] = {
                    A_u_char(quantiseNearest(v[0], 255)), A_u_char(quantiseNearest(v[1], 255)),
                    A_u_char(quantiseNearest(v[2], 255)), A_u_char(quantiseNearest(v[3], 255))};
            } else if (depth == Depth::Bits16) {
                image.row<PF_Pixel16>(y)[x] = {A_u_short(quantiseNearest(v[0], 32768)),
                                               A_u_short(quantiseNearest(v[1], 32768)),
                                               A_u_short(quantiseNearest(v[2], 32768)),
                                               A_u_short(quantiseNearest(v[3], 32768))};
            } else {
                if (i >= 10 && i % 7 == 0) { // outside 0..1, clamped by the plug-in on input
                    v[1] = v[1] * 3.0f - 1.0f;
                    v[3] = -v[3];
                }
                image.row<PF_PixelFloat>(y)[x] = {v[0], v[1], v[2], v[3]};
            }
        }
    if (depth == Depth::Bits32)
        image.row<PF_PixelFloat>(h - 1)[w - 1] = {1.0f, 2.0f, -1.0f, 0.5f};
    return image;
}

Image expected(const Image& in, int mode) {
    Image out(in.width, in.height, in.depth);
    for (int y = 0; y < in.height; ++y)
        for (int x = 0; x < in.width; ++x) {
            switch (in.depth) {
            case Depth::Bits8:
                out.row<PF_Pixel>(y)[x] = expectedInteger(mode, in.row<PF_Pixel>(y)[x]);
                break;
            case Depth::Bits16:
                out.row<PF_Pixel16>(y)[x] = expectedInteger(mode, in.row<PF_Pixel16>(y)[x]);
                break;
            case Depth::Bits32:
                out.row<PF_PixelFloat>(y)[x] = expectedFloat(mode, in.row<PF_PixelFloat>(y)[x]);
                break;
            }
        }
    return out;
}

std::string describePixel(const Image& image, int x, int y) {
    char text[128];
    switch (image.depth) {
    case Depth::Bits8: {
        const auto& p = image.row<PF_Pixel>(y)[x];
        std::snprintf(text, sizeof text, "(a %d, %d, %d, %d)", p.alpha, p.red, p.green, p.blue);
        break;
    }
    case Depth::Bits16: {
        const auto& p = image.row<PF_Pixel16>(y)[x];
        std::snprintf(text, sizeof text, "(a %d, %d, %d, %d)", p.alpha, p.red, p.green, p.blue);
        break;
    }
    case Depth::Bits32: {
        const auto& p = image.row<PF_PixelFloat>(y)[x];
        std::snprintf(text, sizeof text, "(a %.9g, %.9g, %.9g, %.9g)", p.alpha, p.red, p.green,
                      p.blue);
        break;
    }
    }
    return text;
}

// Equal pixel for pixel (floats bit for bit), reporting the first difference.
::testing::AssertionResult samePixels(const Image& actual, const Image& wanted) {
    if (actual.width != wanted.width || actual.height != wanted.height ||
        actual.depth != wanted.depth)
        return ::testing::AssertionFailure() << "different size or depth";
    const std::size_t bytes = OmbrelHost::pixelBytes(actual.depth);
    for (int y = 0; y < actual.height; ++y)
        for (int x = 0; x < actual.width; ++x) {
            const std::size_t at = (static_cast<std::size_t>(y) * actual.width + x) * bytes;
            if (std::memcmp(actual.pixels.data() + at, wanted.pixels.data() + at, bytes) != 0)
                return ::testing::AssertionFailure()
                       << "pixel " << x << "," << y << " is " << describePixel(actual, x, y)
                       << ", expected " << describePixel(wanted, x, y);
        }
    return ::testing::AssertionSuccess();
}

Image renderRaw(const TempFolder& folder, const Image& input, int mode,
                std::vector<std::string> extra = {}) {
    writeRawFile(folder / "in.raw", input);
    std::vector<std::string> args{"-q",           "--from",          std::to_string(mode),
                                  "--depth",      bits(input.depth), "--size",
                                  sizeArg(input), "in.raw",          "-o",
                                  "out.raw"};
    args.insert(args.end(), extra.begin(), extra.end());
    const ToolRun run = runTool(folder, args);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "");
    return readRawFile(folder / "out.raw", input.width, input.height, input.depth);
}

} // namespace

// ---- Conversions -----------------------------------------------------------------------------

class Conversion : public ::testing::TestWithParam<std::tuple<Depth, int>> {};

TEST_P(Conversion, MatchesTheDocumentedEncodingBitForBit) {
    const auto [depth, mode] = GetParam();
    TempFolder folder;
    const Image input = testFrame(depth);
    const Image wanted = expected(input, mode);
    EXPECT_TRUE(samePixels(renderRaw(folder, input, mode), wanted))
        << modeName(mode) << " at " << bits(depth) << " bits";
    // The host's BGRA worlds (8 and 32 bits) write the same file.
    if (depth != Depth::Bits16) {
        EXPECT_TRUE(samePixels(renderRaw(folder, input, mode, {"--world-order", "bgra"}), wanted))
            << modeName(mode) << " through BGRA worlds at " << bits(depth) << " bits";
    }
}

INSTANTIATE_TEST_SUITE_P(AllModesAndDepths, Conversion,
                         ::testing::Combine(::testing::Values(Depth::Bits8, Depth::Bits16,
                                                              Depth::Bits32),
                                            ::testing::Range(1, kModeCount + 1)),
                         [](const auto& info) {
                             return modeSlug(std::get<1>(info.param)).replace(3, 4, "To") + "At" +
                                    bits(std::get<0>(info.param));
                         });

TEST(Conversion, KnownValues) {
    struct Case {
        Depth depth;
        int mode;
        std::array<double, 3> in, out;
    };
    const Case cases[] = {
        {Depth::Bits8, 1, {255, 255, 255}, {255, 128, 128}},
        {Depth::Bits8, 1, {255, 0, 0}, {76, 84, 255}},
        {Depth::Bits8, 3, {255, 0, 0}, {0, 128, 255}},
        {Depth::Bits8, 3, {0, 0, 255}, {170, 128, 255}},
        {Depth::Bits8, 5, {0, 255, 0}, {85, 255, 255}},
        {Depth::Bits8, 6, {255, 255, 255}, {255, 0, 0}},
        {Depth::Bits16, 1, {32768, 32768, 32768}, {32768, 16384, 16384}},
        {Depth::Bits16, 1, {32768, 0, 0}, {9798, 10846, 32768}},
        {Depth::Bits32, 3, {2.0, 0, 0}, {0.0, 0.5, 1.0}}, // 2.0 is read as 1.0
        {Depth::Bits32, 1, {2.0, 0, 0}, {0.299f, -0.169f + 0.5f, 1.0}},
    };
    for (const Case& c : cases) {
        TempFolder folder;
        Image in(1, 1, c.depth);
        switch (c.depth) {
        case Depth::Bits8:
            in.row<PF_Pixel>(0)[0] = {128, A_u_char(c.in[0]), A_u_char(c.in[1]), A_u_char(c.in[2])};
            break;
        case Depth::Bits16:
            in.row<PF_Pixel16>(0)[0] = {100, A_u_short(c.in[0]), A_u_short(c.in[1]),
                                        A_u_short(c.in[2])};
            break;
        case Depth::Bits32:
            in.row<PF_PixelFloat>(0)[0] = {0.5f, float(c.in[0]), float(c.in[1]), float(c.in[2])};
            break;
        }
        const Image out = renderRaw(folder, in, c.mode);
        const std::string what = std::string(modeName(c.mode)) + " at " + bits(c.depth);
        switch (c.depth) {
        case Depth::Bits8: {
            const auto& p = out.row<PF_Pixel>(0)[0];
            EXPECT_EQ((std::array<double, 4>{double(p.alpha), double(p.red), double(p.green),
                                             double(p.blue)}),
                      (std::array<double, 4>{128, c.out[0], c.out[1], c.out[2]}))
                << what;
            break;
        }
        case Depth::Bits16: {
            const auto& p = out.row<PF_Pixel16>(0)[0];
            EXPECT_EQ((std::array<double, 4>{double(p.alpha), double(p.red), double(p.green),
                                             double(p.blue)}),
                      (std::array<double, 4>{100, c.out[0], c.out[1], c.out[2]}))
                << what;
            break;
        }
        case Depth::Bits32: {
            const auto& p = out.row<PF_PixelFloat>(0)[0];
            EXPECT_EQ(p.alpha, 0.5f) << what;
            EXPECT_NEAR(p.red, c.out[0], 1e-6) << what;
            EXPECT_NEAR(p.green, c.out[1], 1e-6) << what;
            EXPECT_NEAR(p.blue, c.out[2], 1e-6) << what;
            break;
        }
        }
    }
}

// ---- Files -----------------------------------------------------------------------------------

TEST(Files, ImageOutputsHoldExactlyWhatTheRawOutputHolds) {
    struct Case {
        Depth depth;
        const char* name;
    };
    for (const Case c : {Case{Depth::Bits8, "out.png"}, Case{Depth::Bits16, "out.png"},
                         Case{Depth::Bits8, "out.tif"}, Case{Depth::Bits16, "out.tif"},
                         Case{Depth::Bits32, "out.tif"}, Case{Depth::Bits32, "out.exr"}}) {
        TempFolder folder;
        const Image input = testFrame(c.depth, 40, 9);
        const Image raw = renderRaw(folder, input, 3);
        const ToolRun run = runTool(folder, {"-q", "--from", "3", "--depth", bits(c.depth),
                                             "--size", sizeArg(input), "in.raw", "-o", c.name});
        ASSERT_EQ(run.exitCode, 0) << run.err;
        const ImageRead file = readImage(folder / c.name, c.depth);
        EXPECT_EQ(file.stored, storedType(fs::path(c.name).extension().string(), c.depth));
        EXPECT_TRUE(samePixels(file.image, raw)) << c.name << " at " << bits(c.depth);
    }
}

TEST(Files, AnImageInputRendersAtItsOwnDepthAndKeepsPartialAlpha) {
    TempFolder folder;
    for (const Depth depth : {Depth::Bits8, Depth::Bits16, Depth::Bits32}) {
        const Image input = testFrame(depth, 12, 5);
        const char* name = depth == Depth::Bits32 ? "in.exr" : "in.png";
        writeImage(folder / name, input, storedType(fs::path(name).extension().string(), depth));
        const ToolRun run = runTool(folder, {"-q", "--from", "5", name, "-o", "out.raw"});
        ASSERT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(fs::file_size(folder / "out.raw"), rawByteCount(12, 5, depth));
        EXPECT_TRUE(samePixels(readRawFile(folder / "out.raw", 12, 5, depth), expected(input, 5)))
            << bits(depth);
    }
}

TEST(Files, HalfFloatFilesRenderAsTheSameImageStoredAsFloatAndHalfWritesHalf) {
    TempFolder folder;
    // A frame of values every half holds, as float (EXR) and as half (EXR, TIFF).
    Image input = testFrame(Depth::Bits32, 16, 12);
    auto throughHalf = [](Image& image) {
        auto* p = reinterpret_cast<float*>(image.pixels.data());
        for (std::size_t i = 0; i < image.pixels.size() / sizeof(float); ++i)
            p[i] = static_cast<float>(half(p[i]));
    };
    throughHalf(input);
    std::vector<double> rgba;
    for (int y = 0; y < input.height; ++y)
        for (int x = 0; x < input.width; ++x) {
            const PF_PixelFloat& p = input.row<PF_PixelFloat>(y)[x];
            rgba.insert(rgba.end(), {p.red, p.green, p.blue, p.alpha});
        }
    writeImage(folder / "float.exr", input, SampleType::Float);
    writeText(folder / "half.tif",
              tiffFile(input.width, input.height, 4, 16, 3, samplesLE(rgba, 16, 3)));
    {
        auto out = OIIO::ImageOutput::create("exr");
        OIIO::ImageSpec header(input.width, input.height, 4, OIIO::TypeDesc::HALF);
        ASSERT_TRUE(out->open((folder / "half.exr").string(), header));
        ASSERT_TRUE(out->write_image(OIIO::TypeDesc::DOUBLE, rgba.data()));
        ASSERT_TRUE(out->close());
    }
    const Image want = expected(input, 1);
    for (const char* name : {"float.exr", "half.exr", "half.tif"}) {
        const std::string raw = std::string(name) + ".raw";
        const ToolRun run = runTool(folder, {"-q", "--from", "1", name, "-o", raw});
        ASSERT_EQ(run.exitCode, 0) << name << ": " << run.err;
        EXPECT_TRUE(
            samePixels(readRawFile(folder / raw, input.width, input.height, Depth::Bits32), want))
            << name;
    }

    const ToolRun run = runTool(folder, {"-q", "--half", "float.exr", "-o", "out.exr"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(OIIO::ImageInput::open((folder / "out.exr").string())->spec().format,
              OIIO::TypeDesc::HALF);
    Image wantHalf = want;
    throughHalf(wantHalf);
    EXPECT_TRUE(samePixels(readImage(folder / "out.exr").image, wantHalf));
}

TEST(Files, DepthOptionConvertsOnTheWayInAndOut) {
    TempFolder folder;
    const Image input = testFrame(Depth::Bits8, 10, 3);
    writeImage(folder / "in.png", input, SampleType::UInt8);
    const ToolRun run =
        runTool(folder, {"-q", "--depth", "16", "--from", "1", "in.png", "-o", "out.raw"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const Image asSixteen = readImage(folder / "in.png", Depth::Bits16).image;
    EXPECT_TRUE(
        samePixels(readRawFile(folder / "out.raw", 10, 3, Depth::Bits16), expected(asSixteen, 1)));
}

TEST(Files, DefaultOutputsSitBesideTheInputNamedAfterTheConversion) {
    TempFolder folder;
    fs::create_directory(folder / "shots");
    const Image image = testFrame(Depth::Bits8, 4, 4);
    for (const char* name : {"shots/a.0001.png", "shots/a.0002.png", "shots/a.0004.png"})
        writeImage(folder / name, image, SampleType::UInt8);
    ToolRun run = runTool(folder, {"--from", "RGB to HLS", "shots/a.0001.png"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(fs::exists(folder / "shots" / "a.0001.rgb-to-hls.png"));
    EXPECT_NE(run.out.find("a.0001.rgb-to-hls.png"), std::string::npos) << run.out;

    fs::create_directory(folder / "out");
    run =
        runTool(folder, {"-q", "--from", "hsb to rgb", "shots/a.%04d.png", "-o", "out/b.%03d.tif"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(TempFolder::entriesOf(folder / "out"),
              (std::vector<std::string>{"b.001.tif", "b.002.tif", "b.004.tif"}));

    run = runTool(folder, {"-q", "shots/a.0001.png", "shots/a.0002.png", "-o", "out"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(fs::exists(folder / "out" / "a.0002.rgb-to-yuv.png"));
}

TEST(Files, TheChartRendersWhenNoInputIsGiven) {
    TempFolder folder;
    ToolRun run = runTool(folder, {"-q", "--depth", "32", "--size", "64x32", "-o", "c.raw"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(fs::file_size(folder / "c.raw"), rawByteCount(64, 32, Depth::Bits32));
    run = runTool(folder, {"-q"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const Image chart = readImage(folder / "chart.rgb-to-yuv.png").image;
    EXPECT_GE(chart.width, 1024);
    EXPECT_GE(chart.height, 512);
}

// ---- Parallelism -----------------------------------------------------------------------------

TEST(Parallel, JobsAndThreadsDoNotChangeTheResult) {
    TempFolder folder;
    std::vector<std::string> inputs;
    for (int i = 0; i < 5; ++i) {
        const std::string name = "in" + std::to_string(i) + ".png";
        writeImage(folder / name, testFrame(Depth::Bits16, 97, 61 + i), SampleType::UInt16);
        inputs.push_back(name);
    }
    fs::create_directory(folder / "one");
    fs::create_directory(folder / "two");
    auto args = [&](const char* out, const char* jobs, const char* threads) {
        std::vector<std::string> a{"-q",        "--from", "4",  "--jobs", jobs,
                                   "--threads", threads,  "-o", out};
        a.insert(a.end(), inputs.begin(), inputs.end());
        return a;
    };
    ASSERT_EQ(runTool(folder, args("one", "1", "1")).exitCode, 0);
    ASSERT_EQ(runTool(folder, args("two", "2", "5")).exitCode, 0);
    const auto names = TempFolder::entriesOf(folder / "one");
    ASSERT_EQ(names.size(), 5u);
    EXPECT_EQ(TempFolder::entriesOf(folder / "two"), names);
    for (const std::string& name : names)
        EXPECT_TRUE(readText(folder / "one" / name) == readText(folder / "two" / name)) << name;
}

TEST(Parallel, ThreadCountsGiveTheSamePixelsAtEveryDepth) {
    for (const Depth depth : {Depth::Bits8, Depth::Bits16, Depth::Bits32}) {
        TempFolder folder;
        const Image input = testFrame(depth, 33, 47);
        const Image one = renderRaw(folder, input, 2, {"--threads", "1"});
        const Image five = renderRaw(folder, input, 2, {"--threads", "5"});
        EXPECT_TRUE(samePixels(five, one)) << bits(depth);
    }
}

// ---- Kernel paths ----------------------------------------------------------------------------

// OMBREL_KERNEL set for the tool runs of a scope, as a user would set it.
class KernelRequest {
public:
    explicit KernelRequest(const char* path) { setenv("OMBREL_KERNEL", path, 1); }
    ~KernelRequest() { unsetenv("OMBREL_KERNEL"); }
    KernelRequest(const KernelRequest&) = delete;
    KernelRequest& operator=(const KernelRequest&) = delete;
};

// Whichever kernel path the module runs, through ARGB or BGRA worlds, the frame's bytes are the
// scalar path's (every path and conversion is compared in-process by kernel_equality_tests; here
// each path at the depths that have BGRA worlds, through the environment); --info names the
// path, and a request it cannot meet falls back and says so.
TEST(KernelPaths, EveryPathRendersTheScalarPathsBytes) {
    TempFolder folder;
    struct Case {
        Depth depth;
        int mode;
        const char* path;
    };
    const Case cases[] = {
        {Depth::Bits8, 6, "avx512"}, {Depth::Bits16, 3, "avx2"}, {Depth::Bits32, 4, "sse2"},
        {Depth::Bits8, 2, "sse2"},   {Depth::Bits8, 3, "sse41"}, {Depth::Bits8, 5, "avx2"},
        {Depth::Bits32, 1, "sse41"}, {Depth::Bits32, 6, "avx2"}, {Depth::Bits32, 3, "avx512"}};
    for (const Case& c : cases) {
        const Image input = testFrame(c.depth, 37, 5);
        Image scalar;
        {
            KernelRequest request("scalar");
            scalar = renderRaw(folder, input, c.mode);
        }
        KernelRequest request(c.path);
        EXPECT_TRUE(samePixels(renderRaw(folder, input, c.mode), scalar))
            << c.path << ", " << bits(c.depth) << " bits, mode " << c.mode;
        if (c.depth != Depth::Bits16) {
            EXPECT_TRUE(
                samePixels(renderRaw(folder, input, c.mode, {"--world-order", "bgra"}), scalar))
                << c.path << ", BGRA worlds, " << bits(c.depth) << " bits, mode " << c.mode;
        }
    }
    for (const char* path : {"scalar", "avx2", "neon"}) {
        KernelRequest request(path);
        const ToolRun run = runTool(folder, {"--info"});
        EXPECT_EQ(run.exitCode, 0) << run.err;
        const auto line = run.out.find("Conversion kernels: ");
        ASSERT_NE(line, std::string::npos) << run.out;
        const std::string reported = run.out.substr(line, run.out.find('\n', line) - line);
        if (std::strcmp(path, "scalar") == 0)
            EXPECT_EQ(reported, "Conversion kernels: scalar (OMBREL_KERNEL asks for it)");
        else
            EXPECT_NE(reported.find("OMBREL_KERNEL"), std::string::npos) << reported;
    }
}

// ---- Information -----------------------------------------------------------------------------

TEST(Information, AboutInfoAndHelp) {
    TempFolder folder;
    ToolRun run = runTool(folder, {"--about"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out.rfind("OmbrelColorSpaceConversion, v1.00\n", 0), 0u) << run.out;
    EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 2) << run.out;
    EXPECT_EQ(run.out.find('\r'), std::string::npos);

    run = runTool(folder, {"--info"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("12 properties"), std::string::npos) << run.out;
    for (const char* key : {"kind", "name", "catg", "8664", "ePVR", "eSVR", "eVER", "eINF", "eGLO",
                            "eGL2", "eMNA", "aeFL"})
        EXPECT_NE(run.out.find(std::string(" ") + key + " "), std::string::npos) << key;
    EXPECT_NE(run.out.find("version     0x00080601"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("out_flags   0x02000000"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("out_flags2  0x00001400"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("Conversion kernels: "), std::string::npos) << run.out;

    run = runTool(folder, {"--help"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_NE(run.out.find("Usage: ombrel-render"), std::string::npos);
}

TEST(Information, RepeatPrintsTimesAndRate) {
    TempFolder folder;
    const ToolRun run = runTool(folder, {"--repeat", "3", "--size", "64x64", "-o", "c.png"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    for (const char* part : {"3 renders", "min ", "median ", "MP/s"})
        EXPECT_NE(run.out.find(part), std::string::npos) << run.out;
}

TEST(Information, ContactSheetOfTheChartAndOfAnInput) {
    TempFolder folder;
    ToolRun run = runTool(folder, {"--contact-sheet", "sheet.png", "--tile-size", "100"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const ImageRead read = readImage(folder / "sheet.png");
    EXPECT_EQ(read.stored, SampleType::UInt8);
    const Image& sheet = read.image;
    // Four columns of 100-pixel tiles; the first also holds the notes.
    EXPECT_GT(sheet.width, 4 * 100);
    EXPECT_LT(sheet.width, 4 * 100 + 150);
    for (const char* pair : {"RGB to YUV to RGB", "RGB to HLS to RGB", "RGB to HSB to RGB"})
        EXPECT_NE(run.out.find(pair), std::string::npos) << run.out;

    writeImage(folder / "in.tif", testFrame(Depth::Bits32, 30, 20), SampleType::Float);
    run = runTool(folder, {"-q", "in.tif", "--contact-sheet", "in-sheet.png"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(fs::exists(folder / "in-sheet.png"));
    EXPECT_EQ(run.out, "");
}

// ---- Failures --------------------------------------------------------------------------------

struct FailureCase {
    const char* name;
    std::vector<std::string> args;
    int exitCode;
    const char* message; // part of the one line on stderr
    // Run as a user other than root (when the tests run as root, who may read and write
    // anything): for permissions.
    bool asOtherUser = false;
};

void PrintTo(const FailureCase& c, std::ostream* os) {
    *os << c.name;
}

class Failure : public ::testing::TestWithParam<FailureCase> {};

TEST_P(Failure, ExplainsItselfAndWritesNothing) {
    const FailureCase& c = GetParam();
    TempFolder folder;
    writeImage(folder / "good.png", testFrame(Depth::Bits8, 8, 8), SampleType::UInt8);
    writeText(folder / "broken.png", "\x89PNG\r\n\x1a\n but then nothing useful");
    writeText(folder / "short.raw", std::string(10, '\0'));
    writeRawFile(folder / "frame.raw", testFrame(Depth::Bits16, 4, 4));
    writeText(folder / "notamodule.so", "not a module");
    // Module files that would hang a reader or take gigabytes: refused at once. (Where the file
    // system has no sparse files, the empty file left is refused the same way.)
    ASSERT_EQ(::mkfifo((folder / "fifo.so").c_str(), 0600), 0);
    writeText(folder / "sparse.so", "");
    std::error_code sparse;
    fs::resize_file(folder / "sparse.so", std::uintmax_t{3} << 30, sparse);
    writeText(folder / "wide.png", forgedPng(70000, 2));
    writeText(folder / "readonly.png", "keep me");
    fs::permissions(folder / "readonly.png", fs::perms::owner_read | fs::perms::group_read);
    fs::create_directory(folder / "locked"); // a folder its owner may not enter
    fs::copy_file(folder / "good.png", folder / "locked" / "in.png");
    fs::permissions(folder / "locked", fs::perms::none);
    const auto before = folder.entries();

    std::vector<std::string> command{toolPath().string()};
    if (c.asOtherUser && geteuid() == 0)
        command = {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", command[0]};
    command.insert(command.end(), c.args.begin(), c.args.end());
    const ToolRun run = runCommand(folder, command);
    fs::permissions(folder / "locked", fs::perms::owner_all);
    EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    EXPECT_EQ(run.err.rfind("ombrel-render: ", 0), 0u) << run.err;
    EXPECT_EQ(folder.entries(), before) << "a file was written or left behind";
    EXPECT_EQ(readText(folder / "readonly.png"), "keep me");
    if (c.exitCode == 1) {
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Failure,
    ::testing::Values(
        FailureCase{"MissingInput",
                    {"missing.png", "-o", "x.png"},
                    1,
                    "missing.png: cannot read: no such file"},
        FailureCase{"BrokenInput", {"broken.png", "-o", "x.png"}, 1, "broken.png: cannot read"},
        FailureCase{"UnsupportedInput", {"frame.qqq", "-o", "x.png"}, 1, "frame.qqq"},
        FailureCase{
            "UnsupportedOutput", {"good.png", "-o", "x.qqq"}, 1, "x.qqq: unsupported format"},
        FailureCase{"UnwritableOutput", {"good.png", "-o", "nowhere/x.png"}, 1, "does not exist"},
        FailureCase{"ReadOnlyOutput", {"good.png", "-o", "readonly.png"}, 1, "read-only"},
        FailureCase{"ReadOnlyToAUser", {"good.png", "-o", "readonly.png"}, 1, "read-only", true},
        FailureCase{"OutputInALockedFolder",
                    {"good.png", "-o", "locked/x.png"},
                    1,
                    "locked/x.png: cannot write: permission denied",
                    true},
        FailureCase{"InputInALockedFolder",
                    {"locked/in.png", "-o", "x.png"},
                    1,
                    "locked/in.png: cannot read: permission denied",
                    true},
        FailureCase{"WiderThanTheHost",
                    {"wide.png", "-o", "x.png"},
                    1,
                    "wide.png: refused: the image is 70000x2, over the host's limit of 65536 "
                    "pixels a side"},
        FailureCase{"SizeOverTheHost",
                    {"--size", "100000x100000", "-o", "x.png"},
                    2,
                    "over the host's limit of 65536 pixels a side"},
        FailureCase{"WrongRawSize",
                    {"--size", "4x4", "--depth", "8", "short.raw", "-o", "x.raw"},
                    1,
                    "short.raw: wrong raw size"},
        FailureCase{"RawWithoutSize", {"--depth", "16", "frame.raw", "-o", "x.raw"}, 2, "--size"},
        FailureCase{"RawWithoutDepth", {"--size", "4x4", "frame.raw", "-o", "x.raw"}, 2, "--depth"},
        FailureCase{
            "MissingModule", {"--module", "gone.so", "good.png", "-o", "x.png"}, 1, "gone.so"},
        FailureCase{"NotAModule", {"--module", "notamodule.so", "--info"}, 1, "notamodule.so"},
        FailureCase{"FifoModule",
                    {"--module", "fifo.so", "--info"},
                    1,
                    "fifo.so: not a module file: is a FIFO"},
        FailureCase{"DeviceModule",
                    {"--module", "/dev/zero", "--info"},
                    1,
                    "/dev/zero: not a module file: is a device"},
        FailureCase{"SparseModule",
                    {"--module", "sparse.so", "--info"},
                    1,
                    "sparse.so: not an effect module"},
        FailureCase{"BadMode", {"--from", "RGB to CMYK", "good.png"}, 2, "\"HSB to RGB\""},
        FailureCase{"BadDepth", {"--depth", "10", "good.png"}, 2, "--depth"},
        FailureCase{
            "BgraAtSixteenBits",
            {"--size", "4x4", "--depth", "16", "--world-order", "bgra", "frame.raw", "-o", "x.raw"},
            1,
            "no BGRA worlds of 16 bits"},
        FailureCase{"SeveralInputsOneFile", {"good.png", "good.png", "-o", "x.png"}, 2, "pattern"},
        FailureCase{"EmptySequence", {"none.%04d.png"}, 1, "no files match"},
        FailureCase{"UnknownOption", {"--colour", "red"}, 2, "unknown option"},
        FailureCase{"NewlineInAName",
                    {"no\nsuch\x1b[2J.png", "-o", "x.png"},
                    1,
                    "no\\nsuch\\e[2J.png: cannot read: no such file"},
        FailureCase{"HalfForAPng", {"--half", "good.png", "-o", "x.png"}, 2, "not an EXR file"},
        FailureCase{
            "ContactSheetFolderMissing", {"--contact-sheet", "no/s.png"}, 1, "does not exist"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Failures, OneBadInputDoesNotStopTheOthersUnlessFailFast) {
    TempFolder folder;
    writeImage(folder / "good.png", testFrame(Depth::Bits8, 8, 8), SampleType::UInt8);
    fs::create_directory(folder / "out");
    ToolRun run = runTool(folder, {"-q", "missing.png", "good.png", "-o", "out"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("missing.png"), std::string::npos) << run.err;
    EXPECT_TRUE(fs::exists(folder / "out" / "good.rgb-to-yuv.png"));

    fs::remove(folder / "out" / "good.rgb-to-yuv.png");
    run = runTool(folder, {"-q", "--fail-fast", "missing.png", "good.png", "-o", "out"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_FALSE(fs::exists(folder / "out" / "good.rgb-to-yuv.png"));
}

TEST(Failures, AFailedWriteLeavesTheOldOutputInPlace) {
    TempFolder folder;
    writeText(folder / "keep.png", "previous result");
    const ToolRun run = runTool(folder, {"missing.png", "-o", "keep.png"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(readText(folder / "keep.png"), "previous result");
}

TEST(Failures, NothingIsLeftHeldAfterARun) {
    TempFolder folder;
    const ToolRun run =
        runTool(folder, {"--jobs", "3", "--size", "40x40", "-o", "c.%d.png", "--repeat", "2"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.err.find("still held"), std::string::npos) << run.err;
}
