// Driving an effect through the host: the setup commands, whole frames at each depth, popup
// values over time, and what held() reports after effects that leak and one that does not.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "FakeEffect.h"
#include "Host/OmbrelHost.h"
#include "HostInterface/SuiteInterface.h"
#include "OmbrelPiPL.h"

namespace {

using OmbrelHost::Depth;
using OmbrelHost::Effect;
using OmbrelHost::FrameRequest;
using OmbrelHost::FrameResult;
using OmbrelHost::Host;
using OmbrelHost::Image;

OmbrelHost::Module fakeModule() {
    return OmbrelHost::Module::fromEntryPoint(FakeEffectMain,
                                              OmbrelHost::decodePiPL(OmbrelPiPL::kBytes));
}

class EffectTest : public ::testing::Test {
protected:
    void SetUp() override { resetFakeEffect(); }
    void TearDown() override { resetFakeEffect(); }
};

// ---- Pixels of each depth -----------------------------------------------------------------

template <Depth D>
struct DepthTraits;
template <>
struct DepthTraits<Depth::Bits8> {
    using Pixel = PF_Pixel;
    static A_u_char channel(int i) { return static_cast<A_u_char>(i * 37 % 256); }
    static A_u_char inverse(A_u_char v) { return static_cast<A_u_char>(255 - v); }
};
template <>
struct DepthTraits<Depth::Bits16> {
    using Pixel = PF_Pixel16;
    static A_u_short channel(int i) { return static_cast<A_u_short>(i * 977 % 32769); }
    static A_u_short inverse(A_u_short v) { return static_cast<A_u_short>(32768 - v); }
};
template <>
struct DepthTraits<Depth::Bits32> {
    using Pixel = PF_PixelFloat;
    static float channel(int i) { return static_cast<float>(i % 11) * 0.125f - 0.25f; }
    static float inverse(float v) { return 1.0f - v; }
};

template <Depth D>
Image pattern(int width, int height) {
    using T = DepthTraits<D>;
    Image image(width, height, D);
    int i = 0;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            auto& p = image.row<typename T::Pixel>(y)[x];
            p.alpha = T::channel(i++);
            p.red = T::channel(i++);
            p.green = T::channel(i++);
            p.blue = T::channel(i++);
        }
    }
    return image;
}

template <Depth D>
Image inverted(const Image& in) {
    using T = DepthTraits<D>;
    Image out = in;
    for (int y = 0; y < in.height; ++y) {
        for (int x = 0; x < in.width; ++x) {
            auto& p = out.row<typename T::Pixel>(y)[x];
            p.red = T::inverse(p.red);
            p.green = T::inverse(p.green);
            p.blue = T::inverse(p.blue);
        }
    }
    return out;
}

template <class T>
class FrameAtEachDepth : public EffectTest {};

template <Depth D>
struct At {
    static constexpr Depth depth = D;
};
using Depths = ::testing::Types<At<Depth::Bits8>, At<Depth::Bits16>, At<Depth::Bits32>>;
TYPED_TEST_SUITE(FrameAtEachDepth, Depths);

TYPED_TEST(FrameAtEachDepth, RendersThroughEveryCallbackAndGivesEverythingBack) {
    constexpr Depth D = TypeParam::depth;
    const int pixel = static_cast<int>(OmbrelHost::pixelBytes(D));
    Host host({.threads = 3});
    Effect effect(host, fakeModule());
    ASSERT_EQ(effect.globalSetup().err, PF_Err_NONE);
    ASSERT_EQ(effect.paramsSetup().err, PF_Err_NONE);
    EXPECT_EQ(host.held().handles, 1); // the global data
    EXPECT_NE(effect.globalData(), nullptr);

    // Sizes with fewer rows than threads, odd widths, and padded rows on both sides.
    for (auto [w, h, inPad, outPad] : {std::tuple{7, 5, 0, 0}, std::tuple{3, 2, 2, 3},
                                       std::tuple{1, 1, 5, 0}, std::tuple{16, 9, 1, 4}}) {
        const Image input = pattern<D>(w, h);
        const FrameResult odd = effect.render({.input = &input,
                                               .inputRowPadding = inPad * pixel,
                                               .outputRowPadding = outPad * pixel});
        ASSERT_EQ(odd.err(), PF_Err_NONE);
        EXPECT_EQ(odd.output, inverted<D>(input)) << w << "x" << h;
        EXPECT_EQ(odd.outputRect.right, w);
        EXPECT_EQ(odd.inputRequest.rect.right, w);
        EXPECT_EQ(odd.inputRequest.preserve_rgb_of_zero_alpha, 1);
        effect.setPopup(2);
        const FrameResult even = effect.render({.input = &input});
        EXPECT_EQ(even.output, input);
        effect.setPopup(1);
        EXPECT_TRUE(host.held().misuse.empty()) << host.held().describe();
    }
    EXPECT_EQ(host.registeredNames(), std::vector<std::string>{"Fake"});
    EXPECT_EQ(effect.globalSetdown().err, PF_Err_NONE);
    EXPECT_TRUE(host.held().empty()) << host.held().describe();
    EXPECT_EQ(host.callCount("checkout_layer_pixels"), 8);
}

// ---- Setup commands -------------------------------------------------------------------------

TEST_F(EffectTest, SetupCommandsAndTheParameterList) {
    Host host;
    Effect effect(host, fakeModule());
    const OmbrelHost::CommandResult about = effect.about();
    EXPECT_EQ(about.message, "Fake, v1.0\rtest effect");
    EXPECT_FALSE(about.showMessage);
    EXPECT_EQ(effect.send(PF_Cmd_RENDER).err, PF_Err_NONE);
    EXPECT_THROW(effect.send(PF_Cmd_SMART_RENDER), OmbrelHost::HostError);

    const OmbrelHost::CommandResult params = effect.paramsSetup();
    EXPECT_EQ(params.out.num_params, 2);
    const std::vector<OmbrelHost::ParamRecord> added = effect.params();
    ASSERT_EQ(added.size(), 1u);
    const PF_ParamDef& popup = added[0].def;
    EXPECT_EQ(popup.param_type, PF_Param_POPUP);
    EXPECT_STREQ(popup.name, "Mode");
    EXPECT_STREQ(popup.u.pd.u.namesptr, "One|Two|Three|Four|Five|Six");
    effect.paramsSetup(); // sent again, the list is rebuilt rather than doubled
    EXPECT_EQ(effect.params().size(), 1u);
}

TEST_F(EffectTest, GlobalSetupIsCheckedAgainstThePiPL) {
    Host host;
    host.faults().presetOutFlags = 0x40; // bits the host set are not the effect's to explain
    host.faults().presetOutFlags2 = 0x2;
    Effect effect(host, fakeModule());
    const OmbrelHost::CommandResult setup = effect.globalSetup();
    EXPECT_EQ(setup.out.out_flags, 0x40 | PF_OutFlag_DEEP_COLOR_AWARE);
    effect.globalSetdown();

    fakeEffect().version = 0x00080602;
    try {
        effect.globalSetup();
        ADD_FAILURE() << "a wrong version was accepted";
    } catch (const OmbrelHost::HostError& e) {
        EXPECT_NE(std::string(e.what()).find(
                      "global setup reports version 0x00080602 but the PiPL's eVER says "
                      "0x00080601"),
                  std::string::npos)
            << e.what();
    }
    effect.globalSetdown();

    fakeEffect().version = 0x00080601;
    OmbrelHost::PiPL other = OmbrelHost::decodePiPL(OmbrelPiPL::kBytes);
    other.outFlags2 = PF_OutFlag2_SUPPORTS_SMART_RENDER;
    Effect mismatched(host, OmbrelHost::Module::fromEntryPoint(FakeEffectMain, other));
    EXPECT_THROW(mismatched.globalSetup(), OmbrelHost::HostError);
    mismatched.globalSetdown();

    // A failing global setup is reported, not checked.
    host.faults().nullNewHandle = true;
    fakeEffect().version = 0;
    EXPECT_EQ(effect.globalSetup().err, PF_Err_INTERNAL_STRUCT_DAMAGED);
    EXPECT_EQ(effect.globalData(), nullptr);
}

// ---- Popup values over time -----------------------------------------------------------------

TEST_F(EffectTest, PopupValueFollowsTimeComparedAsRationals) {
    Host host;
    Effect effect(host, fakeModule());
    effect.paramsSetup();
    effect.setPopup(3, {0, 1});
    effect.setPopup(5, {1, 2});
    effect.setPopup(6, {2, 4}); // the same time as 1/2: replaces 5
    effect.setPopup(4, {3, 1});
    const struct {
        A_Time time;
        int value;
    } cases[] = {{{-1, 1}, 1},      {{0, 24}, 3}, {{11, 24}, 3}, {{12, 24}, 6},    {{1, 2}, 6},
                 {{2999, 1000}, 6}, {{3, 1}, 4},  {{90, 30}, 4}, {{1000000, 1}, 4}};
    const Image input = pattern<Depth::Bits8>(2, 2);
    for (const auto& c : cases) {
        EXPECT_EQ(effect.popupAt(c.time), c.value) << c.time.value << "/" << c.time.scale;
        const FrameResult frame = effect.render({.input = &input, .time = c.time});
        ASSERT_EQ(frame.err(), PF_Err_NONE);
        EXPECT_EQ(fakeEffect().lastPopup.load(), c.value);
        EXPECT_EQ(frame.output, c.value % 2 == 1 ? inverted<Depth::Bits8>(input) : input);
    }
    EXPECT_THROW(effect.setPopup(1, {0, 0}), OmbrelHost::HostError);
}

// ---- What held() reports --------------------------------------------------------------------

struct Leak {
    const char* what;
    void (*set)(FakeEffectConfig&);
    const char* line;
};

TEST_F(EffectTest, HeldReportsWhatALeakyEffectKeeps) {
    const Leak leaks[] = {
        {"pre-render handle", [](FakeEffectConfig& c) { c.leakPreRenderHandle = true; },
         "1 handle still allocated"},
        {"parameter", [](FakeEffectConfig& c) { c.leakParam = true; },
         "1 parameter checked out and not checked in"},
        {"world", [](FakeEffectConfig& c) { c.leakWorld = true; },
         "1 world created by the effect and not disposed"},
        {"suite", [](FakeEffectConfig& c) { c.leakSuite = true; },
         "suite \"AEGP Iterate Suite\" v1 acquired 1 time(s) more than released"},
        {"input written", [](FakeEffectConfig& c) { c.writeInput = true; },
         "misuse: the effect wrote into its input world"},
        {"past the row", [](FakeEffectConfig& c) { c.writePastRow = true; },
         "misuse: the effect wrote outside the pixels of its output world"},
    };
    for (const Leak& leak : leaks) {
        SCOPED_TRACE(leak.what);
        resetFakeEffect();
        leak.set(fakeEffect());
        Host host;
        Effect effect(host, fakeModule());
        effect.globalSetup();
        effect.paramsSetup();
        const Image input = pattern<Depth::Bits8>(4, 3);
        EXPECT_EQ(effect.render({.input = &input, .outputRowPadding = 4}).err(), PF_Err_NONE);
        effect.globalSetdown();
        const OmbrelHost::HeldResources held = host.held();
        EXPECT_FALSE(held.empty());
        EXPECT_EQ(held.describe(), leak.line);
    }
}

TEST_F(EffectTest, DeletionFunctionReceivesThePreRenderData) {
    fakeEffect().useDeleteFunc = true;
    Host host;
    Effect effect(host, fakeModule());
    effect.setPopup(2);
    const Image input = pattern<Depth::Bits16>(3, 3);
    const FrameResult frame = effect.render({.input = &input});
    EXPECT_EQ(frame.err(), PF_Err_NONE);
    EXPECT_EQ(frame.output, input); // the value reached smart render through the data
    EXPECT_EQ(fakeEffect().deletions.load(), 1);
    EXPECT_TRUE(host.held().empty()) << host.held().describe();
}

// The host gives the data of a successful pre-render to the deletion function once, when it is
// done with the frame: after rendering it once or more, or without rendering it.
TEST_F(EffectTest, PreRenderDataIsDeletedOnceHoweverOftenTheFrameIsRendered) {
    fakeEffect().useDeleteFunc = true;
    Host host;
    Effect effect(host, fakeModule());
    effect.setPopup(1);
    const Image input = pattern<Depth::Bits8>(4, 3);
    int deletions = 0;
    int rendered = 0;
    for (int renders : {0, 1, 2, 5}) {
        SCOPED_TRACE(renders);
        const FrameResult frame = effect.render({.input = &input, .smartRenders = renders});
        EXPECT_EQ(frame.err(), PF_Err_NONE);
        EXPECT_EQ(fakeEffect().deletions.load(), ++deletions);
        rendered += renders;
        EXPECT_EQ(fakeEffect().renders.load(), rendered);
        ASSERT_EQ(frame.outputs.size(), static_cast<std::size_t>(renders));
        for (const Image& output : frame.outputs)
            EXPECT_EQ(output, inverted<Depth::Bits8>(input));
        EXPECT_TRUE(host.held().empty()) << host.held().describe();
    }
    EXPECT_THROW(effect.render({.input = &input, .smartRenders = -1}), OmbrelHost::HostError);
    EXPECT_THROW(effect.render({.input = &input, .smartRenders = 9}), OmbrelHost::HostError);
}

// Pre-render data the host cannot give back stays held: that of a failed pre-render (the host
// calls no deletion function then) and data handed over without a deletion function.
TEST_F(EffectTest, PreRenderDataTheHostCannotGiveBackIsHeld) {
    const Image input = pattern<Depth::Bits8>(2, 2);
    {
        fakeEffect().useDeleteFunc = true;
        Host host;
        Effect effect(host, fakeModule());
        host.faults().failingCallbacks["checkout_layer"] = 3; // after the data was handed over
        const FrameResult frame = effect.render({.input = &input});
        EXPECT_EQ(frame.preRenderErr, 3);
        EXPECT_EQ(fakeEffect().deletions.load(), 0);
        EXPECT_EQ(host.held().preRenderData, 1);
        EXPECT_EQ(host.held().describe(),
                  "1 pre-render data not given back to the effect's deletion function");
        delete static_cast<A_long*>(frame.preRender.pre_render_data); // what leaked, freed here
    }
    {
        resetFakeEffect();
        fakeEffect().useDeleteFunc = true;
        fakeEffect().forgetDeleteFunc = true;
        Host host;
        Effect effect(host, fakeModule());
        const FrameResult frame = effect.render({.input = &input});
        EXPECT_EQ(frame.err(), PF_Err_NONE);
        EXPECT_EQ(host.held().preRenderData, 1);
        delete static_cast<A_long*>(frame.preRender.pre_render_data);
    }
}

// A fault limited to one command: the lock fails in smart render alone, so global setup (which
// locks its handle too) succeeds and the handle-carrying fake effect fails its render.
TEST_F(EffectTest, AFaultCanBeLimitedToOneCommand) {
    Host host;
    host.faults().nullLockHandle = true;
    host.faults().onlyDuring = PF_Cmd_SMART_RENDER;
    Effect effect(host, fakeModule());
    EXPECT_EQ(effect.globalSetup().err, PF_Err_NONE);
    const Image input = pattern<Depth::Bits8>(3, 2);
    const FrameResult frame = effect.render({.input = &input});
    EXPECT_EQ(frame.preRenderErr, PF_Err_NONE);
    EXPECT_EQ(frame.renderErr, PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(host.callCountsDuring(PF_Cmd_GLOBAL_SETUP).at("host_lock_handle"), 1);
    EXPECT_EQ(host.callCountsDuring(PF_Cmd_SMART_PRE_RENDER).at("host_lock_handle"), 1);
    EXPECT_EQ(host.callCountsDuring(PF_Cmd_SMART_RENDER).at("host_lock_handle"), 1);
    EXPECT_EQ(host.callCountsDuring(PF_Cmd_SMART_RENDER).count("checkout_param"), 0u);
    EXPECT_EQ((host.suitesAcquiredDuring(PF_Cmd_SMART_RENDER).at({kPFHandleSuite, 2})), 1);
    EXPECT_EQ(host.suitesAcquiredDuring(PF_Cmd_GLOBAL_SETUP).size(), 2u);
    effect.globalSetdown();
}

// ---- Failures -------------------------------------------------------------------------------

TEST_F(EffectTest, FailuresLeaveTheOutputUntouchedAndAreReported) {
    Host host;
    Effect effect(host, fakeModule());
    const Image input = pattern<Depth::Bits32>(3, 2);
    // A frame that writes its output first: the frames below get its reused world memory, which
    // must still reach them untouched.
    ASSERT_EQ(effect.render({.input = &input}).err(), PF_Err_NONE);

    host.faults().failingCallbacks["checkout_layer"] = 99;
    FrameResult frame = effect.render({.input = &input});
    EXPECT_EQ(frame.preRenderErr, 99);
    EXPECT_FALSE(frame.rendered);
    EXPECT_EQ(frame.err(), 99);
    host.faults().failingCallbacks.clear();

    fakeEffect().checkoutPixelsId = 5; // never checked out in pre-render
    frame = effect.render({.input = &input});
    EXPECT_EQ(frame.renderErr, PF_Err_BAD_CALLBACK_PARAM);
    ASSERT_TRUE(frame.rendered);
    for (std::uint8_t byte : frame.output.pixels)
        ASSERT_EQ(byte, OmbrelHost::kUntouchedByte);
    fakeEffect().checkoutPixelsId = 0;

    fakeEffect().throwInRender = true;
    EXPECT_THROW(effect.render({.input = &input}), OmbrelHost::HostError);
    fakeEffect().throwInRender = false;

    EXPECT_THROW(effect.render({}), OmbrelHost::HostError);
    EXPECT_THROW(effect.render({.input = &input, .inputRowPadding = 8}), OmbrelHost::HostError);
    // After all of it the frames gave their layers back.
    EXPECT_EQ(host.held().checkedOutLayers, 0);
}

TEST_F(EffectTest, OutputWorldFollowsTheRequestWithoutExtraPixels) {
    Host host;
    Effect effect(host, fakeModule());
    const Image input = pattern<Depth::Bits8>(8, 6);
    // The fake effect returns extra pixels, so a partial request still gets the whole layer.
    const FrameResult frame = effect.render({.input = &input, .outputRect = PF_LRect{2, 1, 5, 4}});
    ASSERT_EQ(frame.err(), PF_Err_NONE);
    EXPECT_EQ(frame.output.width, 8);
    EXPECT_EQ(frame.output.height, 6);
    EXPECT_EQ(frame.inputRequest.rect.right, 8);
}

TEST_F(EffectTest, FramesRenderConcurrently) {
    Host host({.threads = 2});
    Effect effect(host, fakeModule());
    effect.globalSetup();
    effect.paramsSetup();
    std::vector<Image> inputs;
    for (int i = 0; i < 6; ++i)
        inputs.push_back(pattern<Depth::Bits16>(9 + i, 7));
    std::vector<FrameResult> results(inputs.size() * 10);
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < inputs.size(); ++t) {
        threads.emplace_back([&, t] {
            for (std::size_t k = 0; k < 10; ++k)
                results[t * 10 + k] = effect.render({.input = &inputs[t]});
        });
    }
    for (std::thread& t : threads)
        t.join();
    for (std::size_t i = 0; i < results.size(); ++i) {
        ASSERT_EQ(results[i].err(), PF_Err_NONE);
        EXPECT_EQ(results[i].output, inverted<Depth::Bits16>(inputs[i / 10]));
    }
    effect.globalSetdown();
    EXPECT_TRUE(host.held().empty()) << host.held().describe();
}

} // namespace
