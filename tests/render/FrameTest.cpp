// Whole frames through the built module: smart pre-render then smart render, driven by the
// simulated host the way the real host drives them.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "Host/OmbrelHost.h"
#include "Ombrel/Filter/OmbrelColorSpaceConversion.h"
#include "TestUtils.h"

using namespace OmbrelHost;
using Type = Ombrel::ColorSpaceConversion::Parameter::Type;

namespace {

constexpr Depth kDepths[] = {Depth::Bits8, Depth::Bits16, Depth::Bits32};

// A w x h image of varied colours and alphas, in range for the depth (32-bit also below 0 and
// above 1, which the effect clamps on input).
Image varied(int w, int h, Depth depth) {
    Image img(w, h, depth);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const double a = ((x * 7 + y * 3) % 11) / 10.0, r = ((x * 3 + y * 5) % 17) / 16.0,
                         g = ((x + y * 2) % 13) / 12.0, b = ((x * 5 + y * 3) % 7) / 6.0;
            switch (depth) {
            case Depth::Bits8:
                img.row<PF_Pixel>(y)[x] = {A_u_char(a * 255), A_u_char(r * 255), A_u_char(g * 255),
                                           A_u_char(b * 255)};
                break;
            case Depth::Bits16:
                img.row<PF_Pixel16>(y)[x] = {A_u_short(a * 32768), A_u_short(r * 32768),
                                             A_u_short(g * 32768), A_u_short(b * 32768)};
                break;
            case Depth::Bits32:
                img.row<PF_PixelFloat>(y)[x] = {float(a), float(r * 1.5 - 0.2), float(g), float(b)};
                break;
            }
        }
    return img;
}

// The conversion run straight on the image, without host or bands.
Image direct(const Image& input, Type type) {
    Image out(input.width, input.height, input.depth);
    PF_LayerDef src{}, dst{};
    src.data = reinterpret_cast<PF_Pixel*>(const_cast<std::uint8_t*>(input.pixels.data()));
    dst.data = reinterpret_cast<PF_Pixel*>(out.pixels.data());
    src.rowbytes = dst.rowbytes = static_cast<A_long>(input.rowBytes());
    src.width = dst.width = input.width;
    src.height = dst.height = input.height;
    const auto bpc = input.depth == Depth::Bits8    ? Ombrel::BPC_8
                     : input.depth == Depth::Bits16 ? Ombrel::BPC_16
                                                    : Ombrel::BPC_32;
    OmbrelTest::Records records;
    Ombrel::Layer in(&records.in, &records.out, &src, bpc), o(&records.in, &records.out, &dst, bpc);
    Ombrel::ColorSpaceConversion(Ombrel::ColorSpaceConversion::Parameter().setType(type))
        .execute(in, o);
    return out;
}

bool untouched(const Image& img) {
    for (std::uint8_t b : img.pixels)
        if (b != kUntouchedByte)
            return false;
    return true;
}

// A host with the effect set up; every frame must leave nothing held.
struct Session {
    explicit Session(int threads = 2) : host(HostOptions{threads}), effect(host, module()) {
        EXPECT_EQ(effect.globalSetup().err, PF_Err_NONE);
        EXPECT_EQ(effect.paramsSetup().err, PF_Err_NONE);
    }
    ~Session() {
        EXPECT_EQ(effect.globalSetdown().err, PF_Err_NONE);
        EXPECT_TRUE(host.held().empty()) << host.held().describe();
    }
    static Module module() { return Module::load(OMBREL_MODULE_PATH); }

    FrameResult render(const Image& input, int from, FrameRequest request = {}) {
        effect.setPopup(from);
        request.input = &input;
        FrameResult r = effect.render(request);
        const HeldResources held = host.held();
        EXPECT_EQ(held.handles, 1) << "only the global handle outlives a frame\n"
                                   << held.describe();
        EXPECT_EQ(held.lockedHandles, 0);
        EXPECT_EQ(held.preRenderData, 0) << "given back once the frame is done";
        EXPECT_EQ(held.checkedOutParams, 0);
        EXPECT_EQ(held.createdWorlds, 0);
        EXPECT_TRUE(held.suites.empty()) << held.describe();
        EXPECT_TRUE(held.misuse.empty()) << held.describe();
        return r;
    }

    Host host;
    Effect effect;
};

// ---- Values -------------------------------------------------------------------------------

TEST(Frames, DocumentedValuesEndToEnd) {
    Session s;
    struct Case {
        int from;
        PF_Pixel in, out;
    };
    const Case cases[] = {
        {1, {255, 255, 255, 255}, {255, 255, 128, 128}},
        {1, {255, 0, 0, 0}, {255, 0, 128, 128}},
        {1, {128, 255, 0, 0}, {128, 76, 84, 255}},
        {3, {255, 255, 0, 0}, {255, 0, 128, 255}},
        {3, {255, 0, 0, 255}, {255, 170, 128, 255}},
        {3, {9, 128, 128, 128}, {9, 0, 128, 0}},
        {5, {255, 255, 255, 255}, {255, 0, 0, 255}},
        {5, {255, 0, 255, 0}, {255, 85, 255, 255}},
        {6, {255, 255, 255, 255}, {255, 255, 0, 0}},
        {2, {255, 255, 128, 128}, {255, 255, 254, 255}},
    };
    for (const Case& c : cases) {
        Image in(1, 1, Depth::Bits8);
        in.row<PF_Pixel>(0)[0] = c.in;
        const FrameResult r = s.render(in, c.from);
        ASSERT_EQ(r.err(), PF_Err_NONE);
        const PF_Pixel got = r.output.row<PF_Pixel>(0)[0];
        EXPECT_EQ(std::memcmp(&got, &c.out, sizeof got), 0)
            << "from " << c.from << ": " << int(got.alpha) << " " << int(got.red) << " "
            << int(got.green) << " " << int(got.blue);
    }

    Image red16(1, 1, Depth::Bits16);
    red16.row<PF_Pixel16>(0)[0] = {32768, 32768, 0, 0};
    const PF_Pixel16 yuv16 = s.render(red16, 1).output.row<PF_Pixel16>(0)[0];
    EXPECT_EQ(yuv16.red, 9798);
    EXPECT_EQ(yuv16.green, 10846);
    EXPECT_EQ(yuv16.blue, 32768);

    Image over(2, 1, Depth::Bits32);
    over.row<PF_PixelFloat>(0)[0] = {1, 2.0f, -1.0f, 0};
    over.row<PF_PixelFloat>(0)[1] = {1, 1.0f, 0.0f, 0};
    const FrameResult hls = s.render(over, 3);
    const PF_PixelFloat* px = hls.output.row<PF_PixelFloat>(0);
    EXPECT_EQ(std::memcmp(&px[0], &px[1], sizeof(PF_PixelFloat)), 0);
    EXPECT_EQ(px[1].red, 0.0f);
    EXPECT_EQ(px[1].green, 0.5f);
    EXPECT_EQ(px[1].blue, 1.0f);
}

// Any thread count gives the single-pass result, every row written exactly once.
TEST(Frames, EveryThreadCountGivesTheSameFrame) {
    std::vector<std::vector<Image>> expected; // [depth][type]
    std::vector<Image> inputs;
    for (Depth d : kDepths) {
        inputs.push_back(varied(37, 23, d));
        expected.emplace_back();
        for (const Ombrel::Conversion& c : Ombrel::kConversions)
            expected.back().push_back(direct(inputs.back(), c.type));
    }
    for (int threads : {1, 2, 3, 7, 64}) {
        Session s(threads);
        for (std::size_t d = 0; d < inputs.size(); ++d)
            for (std::size_t row = 0; row < Ombrel::kConversionCount; ++row) {
                const Ombrel::Conversion& c = Ombrel::kConversions[row];
                const FrameResult r = s.render(inputs[d], c.type);
                ASSERT_EQ(r.err(), PF_Err_NONE);
                EXPECT_TRUE(r.output == expected[d][row])
                    << threads << " threads, depth " << int(inputs[d].depth) << ", " << c.name;
            }
    }
}

TEST(Frames, OddThreadCountsFromTheHostStillRenderEverything) {
    const Image input = varied(16, 9, Depth::Bits16);
    const Image expected = direct(input, Type::RGB_TO_HSB);
    for (A_long reported : {0, -3, 1000000}) {
        Session s(3);
        s.host.faults().reportedThreads = reported;
        const FrameResult r = s.render(input, 5);
        ASSERT_EQ(r.err(), PF_Err_NONE) << reported;
        EXPECT_TRUE(r.output == expected) << reported;
        long iterations = 0;
        for (long n : s.host.iterationsPerThread())
            iterations += n;
        EXPECT_GE(iterations, 1);
        EXPECT_LE(iterations, 9) << "no more bands than rows";
    }
}

TEST(Frames, RowPaddingChangesNothing) {
    Session s;
    for (Depth d : kDepths) {
        const Image input = varied(11, 6, d);
        const int px = static_cast<int>(pixelBytes(d));
        FrameRequest padded;
        padded.inputRowPadding = 3 * px;
        padded.outputRowPadding = 5 * px;
        const FrameResult r = s.render(input, 4, padded);
        ASSERT_EQ(r.err(), PF_Err_NONE);
        EXPECT_TRUE(r.output == direct(input, Type::HLS_TO_RGB));
    }
}

bool sameRect(const PF_LRect& a, const PF_LRect& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

// The host asks for part of the layer, its input could grow past the layer, and rows are padded
// differently on each side: the effect still asks for the whole input, reports the input's own
// result and maximum result, and converts the whole layer.
TEST(Frames, InputIsRequestedWholeAndItsRectanglesAreReported) {
    Session s;
    for (Depth d : kDepths) {
        const Image input = varied(20, 10, d);
        const int px = static_cast<int>(pixelBytes(d));
        FrameRequest request;
        request.outputRect = PF_LRect{5, 2, 9, 7};
        request.inputMaxResultRect = PF_LRect{-3, -1, 26, 12};
        request.inputRowPadding = px;
        request.outputRowPadding = 4 * px;
        const FrameResult r = s.render(input, 5, request);
        ASSERT_EQ(r.err(), PF_Err_NONE);
        ASSERT_TRUE(r.inputCheckedOut);
        const PF_LRect whole{0, 0, 20, 10};
        EXPECT_TRUE(sameRect(r.inputRequest.rect, whole));
        EXPECT_TRUE(r.inputRequest.preserve_rgb_of_zero_alpha);
        EXPECT_TRUE(sameRect(r.preRender.result_rect, whole));
        EXPECT_TRUE(sameRect(r.preRender.max_result_rect, *request.inputMaxResultRect));
        EXPECT_TRUE(r.preRender.flags & PF_RenderOutputFlag_RETURNS_EXTRA_PIXELS);
        EXPECT_TRUE(r.output == direct(input, Type::RGB_TO_HSB));
    }
}

// ---- Pre-render data --------------------------------------------------------------------------

// The frame's data lives from a successful pre-render until the host is done with the frame,
// however many times it renders from it.
TEST(Frames, PreRenderDataLivesUntilTheHostIsDoneWithTheFrame) {
    Session s;
    const Image input = varied(9, 5, Depth::Bits16);
    const Image expected = direct(input, Type::HLS_TO_RGB);
    for (int renders : {0, 1, 2, 3}) {
        SCOPED_TRACE(renders);
        FrameRequest request;
        request.smartRenders = renders;
        const FrameResult r = s.render(input, 4, request); // checks that nothing is left held
        EXPECT_EQ(r.preRenderErr, PF_Err_NONE);
        EXPECT_NE(r.preRender.pre_render_data, nullptr);
        EXPECT_NE(r.preRender.delete_pre_render_data_func, nullptr);
        EXPECT_EQ(r.rendered, renders > 0);
        EXPECT_EQ(r.renderErrs, std::vector<PF_Err>(static_cast<std::size_t>(renders), 0));
        for (const Image& output : r.outputs)
            EXPECT_TRUE(output == expected);
    }
}

TEST(Frames, SmartRenderWithoutPreRenderDataFailsAndWritesNothing) {
    Session s;
    const Image input = varied(6, 4, Depth::Bits8);
    FrameRequest request;
    request.withoutPreRenderData = true;
    const FrameResult r = s.render(input, 2, request);
    EXPECT_EQ(r.preRenderErr, PF_Err_NONE);
    EXPECT_EQ(r.renderErr, PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_TRUE(untouched(r.output));
    EXPECT_EQ(s.host.callCount("checkout_layer_pixels"), 0);
}

// Frames need no host handle: a handle suite that fails, in either command or in smart render
// alone, changes nothing.
TEST(Frames, FramesNeedNoHandle) {
    struct Case {
        const char* name;
        void (*inject)(Faults&);
    };
    const Case cases[] = {
        {"no handle", [](Faults& f) { f.nullNewHandle = true; }},
        {"no lock", [](Faults& f) { f.nullLockHandle = true; }},
        {"no lock in smart render",
         [](Faults& f) {
             f.nullLockHandle = true;
             f.onlyDuring = PF_Cmd_SMART_RENDER;
         }},
        {"no handle suite",
         [](Faults& f) {
             f.refusedSuites = {{"PF Handle Suite", 2}};
         }},
    };
    const Image input = varied(7, 6, Depth::Bits32);
    const Image expected = direct(input, Type::YUV_TO_RGB);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Session s;
        c.inject(s.host.faults());
        const FrameResult r = s.render(input, 2);
        s.host.faults() = Faults{};
        EXPECT_EQ(r.err(), PF_Err_NONE);
        EXPECT_TRUE(r.output == expected);
    }
}

TEST(Frames, PopupValueIsReadAtTheFramesTime) {
    Session s;
    const Image input = varied(8, 4, Depth::Bits8);
    s.effect.setPopup(3, {0, 24});
    s.effect.setPopup(5, {10, 24});
    FrameRequest at0, at10;
    at0.input = at10.input = &input;
    at0.time = {9, 24};
    at10.time = {10, 24};
    EXPECT_TRUE(s.effect.render(at0).output == direct(input, Type::RGB_TO_HLS));
    EXPECT_TRUE(s.effect.render(at10).output == direct(input, Type::RGB_TO_HSB));
}

TEST(Frames, OutOfRangePopupValueWritesAlphaOnly) {
    Session s;
    const Image input = varied(5, 3, Depth::Bits16);
    for (const int from : {0, static_cast<int>(Ombrel::kConversionCount) + 1}) {
        const FrameResult r = s.render(input, from);
        ASSERT_EQ(r.err(), PF_Err_NONE);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 5; ++x) {
                const PF_Pixel16 o = r.output.row<PF_Pixel16>(y)[x];
                EXPECT_EQ(o.alpha, input.row<PF_Pixel16>(y)[x].alpha);
                EXPECT_EQ(o.red, kUntouchedByte * 0x101);
            }
    }
}

// A layer without columns still has rows (and the other way round): neither side copies pixels.
TEST(Frames, EmptyFrameMakesNoIteration) {
    Session s;
    for (auto [w, h] : {std::pair{0, 0}, std::pair{0, 3}, std::pair{4, 0}}) {
        const Image input(w, h, Depth::Bits32);
        const FrameResult r = s.render(input, 1);
        EXPECT_EQ(r.err(), PF_Err_NONE);
        EXPECT_TRUE(r.output.pixels.empty());
    }
    EXPECT_EQ(s.host.callCount("iterate_generic"), 0);
}

TEST(Frames, FramesRenderConcurrently) {
    Session s(4);
    const Image input = varied(64, 48, Depth::Bits32);
    const Image expected = direct(input, Type::RGB_TO_HLS);
    s.effect.setPopup(3);
    std::vector<std::thread> threads;
    std::vector<int> good(4, 0);
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 5; ++i) {
                FrameRequest request;
                request.input = &input;
                const FrameResult r = s.effect.render(request);
                good[t] += r.err() == PF_Err_NONE && r.output == expected;
            }
        });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(good, std::vector<int>(4, 5));
}

// ---- Failures -----------------------------------------------------------------------------

// ---- World layouts ------------------------------------------------------------------------

// The host's BGRA worlds hold the ARGB image's channels in reverse order, moved by the host on
// the way in and out: the frame must come out as through ARGB worlds, for every conversion.
TEST(Frames, BgraWorldsGiveTheArgbFrameWithTheChannelsMoved) {
    Session s;
    for (const Depth depth : {Depth::Bits8, Depth::Bits32}) {
        const Image input = varied(23, 5, depth);
        for (int from = 1; from <= 6; ++from) {
            SCOPED_TRACE(testing::Message() << int(depth) << " bits, conversion " << from);
            FrameRequest bgra;
            bgra.worldOrder = WorldOrder::Bgra;
            const FrameResult argbFrame = s.render(input, from);
            const FrameResult bgraFrame = s.render(input, from, bgra);
            ASSERT_EQ(bgraFrame.err(), PF_Err_NONE);
            EXPECT_TRUE(bgraFrame.output == argbFrame.output);
            EXPECT_TRUE(argbFrame.output == direct(input, Type(from)));
        }
    }
}

// An output world of another pixel format than the input's would be written in the input's
// layout (past its rows when its pixels are smaller): the frame is refused untouched.
TEST(Frames, AnOutputWorldOfAnotherFormatIsRefusedUntouched) {
    struct Case {
        Depth depth;
        WorldOrder order;
        PF_PixelFormat output;
    };
    const Case cases[] = {
        {Depth::Bits32, WorldOrder::Argb, PF_PixelFormat_ARGB32},  // smaller pixels
        {Depth::Bits8, WorldOrder::Argb, PF_PixelFormat_ARGB128},  // larger pixels
        {Depth::Bits16, WorldOrder::Argb, PF_PixelFormat_ARGB32},  // smaller pixels
        {Depth::Bits8, WorldOrder::Argb, PF_PixelFormat_BGRA32},   // the other channel order
        {Depth::Bits32, WorldOrder::Bgra, PF_PixelFormat_ARGB128}, // the other channel order
        {Depth::Bits8, WorldOrder::Bgra, PF_PixelFormat_ARGB64},   // larger pixels
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << int(c.depth) << " bits in, output format 0x" << std::hex << c.output);
        Session s;
        const Image input = varied(11, 4, c.depth);
        FrameRequest request;
        request.worldOrder = c.order;
        request.outputFormat = c.output;
        const FrameResult r = s.render(input, 2, request);
        EXPECT_EQ(r.renderErr, PF_Err_BAD_CALLBACK_PARAM);
        ASSERT_TRUE(r.rendered);
        EXPECT_EQ(r.output.width, 11);
        EXPECT_TRUE(untouched(r.output));
    }
}

struct Failure {
    std::string name;
    std::function<void(Faults&)> inject;
    bool inPreRender;
    PF_Err expected;
    std::string message = "";
};

TEST(Frames, EveryFailureIsReportedLeavesTheOutputAndLeaksNothing) {
    const PF_Err kHostError = 0x5A5A;
    auto failing = [&](const char* callback) {
        return [=](Faults& f) { f.failingCallbacks[callback] = kHostError; };
    };
    auto refusing = [](const char* suite, int version) {
        return [=](Faults& f) { f.refusedSuites = {{suite, version}}; };
    };
    const Failure failures[] = {
        {"popup checkout", failing("checkout_param"), true, kHostError},
        {"layer checkout", failing("checkout_layer"), true, kHostError},
        {"pixel checkout", failing("checkout_layer_pixels"), false, kHostError},
        {"output checkout", failing("checkout_output"), false, kHostError},
        {"null input world", [](Faults& f) { f.nullInputWorld = true; }, false,
         PF_Err_BAD_CALLBACK_PARAM},
        {"null output world", [](Faults& f) { f.nullOutputWorld = true; }, false,
         PF_Err_BAD_CALLBACK_PARAM},
        {"no world suite", refusing("PF World Suite", 2), false, PF_Err_BAD_CALLBACK_PARAM,
         "Couldn't load suite."},
        {"pixel format query", failing("PF_GetPixelFormat"), false, kHostError},
        {"unknown pixel format", [](Faults& f) { f.reportedPixelFormat = PF_PixelFormat_INVALID; },
         false, PF_Err_BAD_CALLBACK_PARAM},
        {"thread count", failing("AEGP_GetNumThreads"), false, kHostError},
        {"no thread suite", refusing("AEGP Iterate Suite", 1), false, PF_Err_BAD_CALLBACK_PARAM},
        {"no iterate suite", refusing("PF Iterate8 Suite", 1), false, PF_Err_BAD_CALLBACK_PARAM},
        {"iteration", failing("iterate_generic"), false, kHostError},
    };
    const Image input = varied(9, 7, Depth::Bits8);
    for (const Failure& f : failures) {
        SCOPED_TRACE(f.name);
        Session s;
        f.inject(s.host.faults());
        const FrameResult r = s.render(input, 3);
        s.host.faults() = Faults{};
        EXPECT_EQ(f.inPreRender ? r.preRenderErr : r.renderErr, f.expected);
        EXPECT_EQ(r.err(), f.expected);
        EXPECT_EQ(r.rendered, !f.inPreRender);
        if (r.rendered) {
            EXPECT_TRUE(untouched(r.output));
        }
        EXPECT_EQ(r.message, f.message);
        if (f.inPreRender) {
            EXPECT_EQ(r.preRender.pre_render_data, nullptr);
        }
    }
}

} // namespace
