// Layers and source descriptions with records wired to the simulated host.
#include <gtest/gtest.h>

#include <cstring>

#include "Host/CommandRecords.h"
#include "Host/OmbrelHost.h"
#include "Ombrel/OmbrelLayer.h"
#include "Ombrel/OmbrelSourceInfo.h"

using namespace Ombrel;
using OmbrelHost::CommandRecords;
using OmbrelHost::Depth;
using OmbrelHost::Host;
using OmbrelHost::HostOptions;
using OmbrelHost::Image;

namespace {

Image ramp(int w, int h, Depth depth) {
    Image img(w, h, depth);
    for (std::size_t i = 0; i < img.pixels.size(); ++i)
        img.pixels[i] = static_cast<std::uint8_t>(i * 37 + 11);
    if (depth == Depth::Bits32) // keep floats finite and readable
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                img.row<PF_PixelFloat>(y)[x] = {1.0f, x / 8.0f, y / 8.0f, -0.5f};
    return img;
}

// Records options for an input image (GCC warns on designated initializers that skip members).
OmbrelHost::RecordsOptions withInput(const Image& input, int rowPadding = 0) {
    OmbrelHost::RecordsOptions options;
    options.input = &input;
    options.inputRowPadding = rowPadding;
    return options;
}

class LayerTest : public ::testing::Test {
protected:
    ~LayerTest() override {
        if (expectClean) {
            EXPECT_TRUE(host.held().empty()) << host.held().describe();
        }
    }
    Host host{HostOptions{2}};
    bool expectClean = true;
};

TEST_F(LayerTest, WrappedPaddedWorldIsAddressedByRowWidth) {
    const Image input = ramp(5, 4, Depth::Bits16);
    CommandRecords records(host, withInput(input, 3 * 8));
    Layer layer(records.inData(), records.outData(), records.inputWorld(), BPC_16);
    EXPECT_EQ(layer.getError(), PF_Err_NONE);
    EXPECT_TRUE(layer.getSize() == Rect(0, 0, 5, 4));
    EXPECT_EQ(layer.getWidth(), 5);
    EXPECT_EQ(layer.getHeight(), 4);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 5; ++x) {
            const PF_Pixel16 p = input.row<PF_Pixel16>(y)[x];
            const ColorFloat<float> c = layer.getPixel(x, y);
            EXPECT_EQ(c.alpha, p.alpha / 32768.0f);
            EXPECT_EQ(c.red, p.red / 32768.0f);
            EXPECT_EQ(c.blue, p.blue / 32768.0f);
        }
}

TEST_F(LayerTest, CheckedOutInputLayerIsCheckedInOnce) {
    const Image input = ramp(6, 3, Depth::Bits8);
    CommandRecords records(host, withInput(input));
    {
        Layer layer(records.inData(), records.outData(), 0, A_Time{0, 1}, BPC_8);
        ASSERT_EQ(layer.getError(), PF_Err_NONE);
        ASSERT_NE(layer.getWorld(), nullptr);
        const Layer copy = layer;
        EXPECT_EQ(layer.getPixel(2, 1).green, input.row<PF_Pixel>(1)[2].green / 255.0f);
        EXPECT_EQ(host.held().checkedOutParams, 1);
    }
    EXPECT_EQ(host.callCount("checkin_param"), 1);
}

TEST_F(LayerTest, EmptyCheckoutHoldsNoWorldAndFailedCheckoutNothingToCheckIn) {
    CommandRecords records(host); // no input: the layer parameter has no pixels
    {
        Layer layer(records.inData(), records.outData(), 0, A_Time{0, 1}, BPC_8);
        EXPECT_EQ(layer.getError(), PF_Err_NONE);
        EXPECT_EQ(layer.getWorld(), nullptr);
    }
    EXPECT_EQ(host.callCount("checkin_param"), 1) << "the empty checkout is given back";
    host.faults().failingCallbacks["checkout_param"] = 42;
    {
        Layer layer(records.inData(), records.outData(), 0, A_Time{0, 1}, BPC_8);
        EXPECT_EQ(layer.getError(), 42);
        EXPECT_EQ(layer.getWorld(), nullptr);
    }
    host.faults() = {};
    EXPECT_EQ(host.callCount("checkin_param"), 1);
}

TEST_F(LayerTest, CreatedWorldsAreClearedAndDisposedByTheLastCopy) {
    CommandRecords records(host);
    for (BPC bpc : {BPC_8, BPC_16, BPC_32}) {
        {
            Layer outer(records.inData(), records.outData(), 1, 1, bpc);
            {
                Layer layer(records.inData(), records.outData(), 7, 3, bpc);
                ASSERT_EQ(layer.getError(), PF_Err_NONE);
                ASSERT_NE(layer.getWorld()->data, nullptr);
                for (int y = 0; y < 3; ++y)
                    for (int x = 0; x < 7; ++x) {
                        const ColorFloat<float> c = layer.getPixel(x, y);
                        EXPECT_TRUE(c.alpha == 0 && c.red == 0 && c.green == 0 && c.blue == 0);
                    }
                outer = layer;
            }
            EXPECT_EQ(host.held().createdWorlds, 1) << "the copy keeps the world alive";
            EXPECT_EQ(outer.getWidth(), 7);
        }
        EXPECT_EQ(host.held().createdWorlds, 0);
    }
}

TEST_F(LayerTest, CloneCopiesPixelsUnlessTheSourceHasAnError) {
    const Image input = ramp(4, 4, Depth::Bits32);
    CommandRecords records(host, withInput(input));
    Layer src(records.inData(), records.outData(), records.inputWorld(), BPC_32);
    Layer copy = src.clone();
    ASSERT_EQ(copy.getError(), PF_Err_NONE);
    EXPECT_FALSE(copy.equalTo(src));
    EXPECT_TRUE(copy.equalInSize(src));
    EXPECT_TRUE(src.equalTo(src));
    EXPECT_EQ(copy.getPixel(3, 2).red, src.getPixel(3, 2).red);
    EXPECT_EQ(copy.getPixel(3, 2).blue, -0.5f);

    // A source whose checkout failed gives a cleared clone and keeps its own error.
    host.faults().failingCallbacks["checkout_param"] = 9;
    Layer failed(records.inData(), records.outData(), 0, A_Time{0, 1}, BPC_32);
    host.faults() = {};
    Layer blank = failed.clone();
    EXPECT_EQ(failed.getError(), 9);
    EXPECT_EQ(host.callCount("copy"), 1);
}

TEST_F(LayerTest, FailedCopyIsTheSourcesError) {
    const Image input = ramp(3, 3, Depth::Bits8);
    CommandRecords records(host, withInput(input));
    Layer src(records.inData(), records.outData(), records.inputWorld(), BPC_8);
    host.faults().failingCallbacks["copy"] = 31;
    Layer copy = src.clone();
    EXPECT_EQ(src.getError(), 31);
    EXPECT_EQ(copy.getError(), PF_Err_NONE);
}

TEST_F(LayerTest, MissingWorldSuites) {
    CommandRecords records(host);
    // Float worlds come from suite 2 through the suite helper: an error and a message.
    host.faults().refusedSuites = {{"PF World Suite", 2}};
    {
        Layer layer(records.inData(), records.outData(), 4, 4, BPC_32);
        EXPECT_EQ(layer.getError(), PF_Err_BAD_CALLBACK_PARAM);
        EXPECT_EQ(layer.getWorld()->data, nullptr);
        EXPECT_EQ(records.message(), "Couldn't load suite.");
        EXPECT_TRUE(records.outData()->out_flags & PF_OutFlag_DISPLAY_ERROR_MESSAGE);
        Layer blank = layer.clone(); // no pixels on either side: no copy is attempted
        EXPECT_EQ(host.callCount("copy"), 0);
    }
    // 8- and 16-bit worlds come from suite 1 through the suite handler, which throws.
    host.faults().refusedSuites = {{"PF World Suite", 1}};
    try {
        Layer layer(records.inData(), records.outData(), 4, 4, BPC_16);
        FAIL();
    } catch (const PF_Err& err) {
        EXPECT_EQ(err, PF_Err_BAD_CALLBACK_PARAM);
    }
    host.faults() = {};
}

TEST_F(LayerTest, DisposalWithoutItsSuiteDoesNotThrowFromTheDestructor) {
    CommandRecords records(host);
    {
        Layer layer(records.inData(), records.outData(), 2, 2, BPC_8);
        ASSERT_EQ(layer.getError(), PF_Err_NONE);
        host.faults().refusedSuites = {{"PF World Suite", 1}};
    }
    host.faults() = {};
    EXPECT_EQ(host.held().createdWorlds, 1); // left undisposed, and nothing thrown
    expectClean = false;
}

// ---- Source info --------------------------------------------------------------------------

class SourceInfoTest : public LayerTest {};

TEST_F(SourceInfoTest, DepthAndChannelOrderComeFromThePixelFormat) {
    const struct {
        PF_PixelFormat format;
        BPC bpc;
        ChannelOrder order;
    } cases[] = {{PF_PixelFormat_ARGB32, BPC_8, ChannelOrder::ARGB},
                 {PF_PixelFormat_BGRA32, BPC_8, ChannelOrder::BGRA},
                 {PF_PixelFormat_ARGB64, BPC_16, ChannelOrder::ARGB},
                 {PF_PixelFormat_ARGB128, BPC_32, ChannelOrder::ARGB},
                 {PF_PixelFormat_BGRA128, BPC_32, ChannelOrder::BGRA}};
    const Image input = ramp(3, 2, Depth::Bits8);
    for (const auto& c : cases) {
        host.faults().reportedPixelFormat = c.format;
        CommandRecords records(host, withInput(input));
        SourceInfo info(records.inData(), records.outData(), records.smartRenderExtra());
        EXPECT_EQ(info.getError(), PF_Err_NONE);
        EXPECT_EQ(info.getBPC(), c.bpc);
        EXPECT_EQ(info.getChannelOrder(), c.order);
    }
    host.faults() = {};
    for (Depth d : {Depth::Bits8, Depth::Bits16, Depth::Bits32}) {
        const Image img = ramp(3, 2, d);
        CommandRecords records(host, withInput(img));
        SourceInfo info(records.inData(), records.outData(), records.smartRenderExtra());
        EXPECT_EQ(info.getBPC(), d == Depth::Bits8 ? BPC_8 : d == Depth::Bits16 ? BPC_16 : BPC_32);
        EXPECT_EQ(info.getInputWorld(), records.inputWorld());
        EXPECT_EQ(info.getOutputWorld(), records.outputWorld());
        EXPECT_EQ(info.getInputWidth(), 3);
        EXPECT_EQ(info.getOutputHeight(), 2);
    }
}

TEST_F(SourceInfoTest, FirstFailureStopsTheRest) {
    const Image input = ramp(3, 2, Depth::Bits8);
    host.faults().failingCallbacks["checkout_layer_pixels"] = 17;
    CommandRecords records(host, withInput(input));
    SourceInfo info(records.inData(), records.outData(), records.smartRenderExtra());
    EXPECT_EQ(info.getError(), 17);
    EXPECT_EQ(host.callCount("checkout_output"), 0);
    EXPECT_EQ(host.callCount("AcquireSuite"), 0);
    EXPECT_EQ(info.getThreadNum(), 1);
    EXPECT_EQ(host.callCount("AEGP_GetNumThreads"), 0);
    EXPECT_EQ(info.getError(), 17);
    const SourceInfo copy = info;
    EXPECT_EQ(copy.getError(), 17);
    host.faults() = {};
}

TEST_F(SourceInfoTest, ThreadCountAndDownsampling) {
    const Image input = ramp(3, 2, Depth::Bits8);
    CommandRecords records(host, withInput(input));
    records.inData()->downsample_x = {1, 2};
    records.inData()->downsample_y = {1, 1};
    SourceInfo info(records.inData(), records.outData(), records.smartRenderExtra());
    EXPECT_EQ(info.getDownSampleX(), 0.5);
    EXPECT_EQ(info.getDownSampleY(), 1.0);
    EXPECT_EQ(info.getThreadNum(), 2);
    EXPECT_EQ(info.getThreadNum(), 2);
    EXPECT_EQ(host.callCount("AEGP_GetNumThreads"), 2); // asked each time
    EXPECT_EQ(host.held().suites.size(), 1u);           // the iterate suite, kept by the record
    host.faults().failingCallbacks["AEGP_GetNumThreads"] = 5;
    info.getThreadNum();
    EXPECT_EQ(info.getError(), 5);
    host.faults() = {};
}

TEST_F(SourceInfoTest, IterateSuiteIsReleasedWithTheLastCopy) {
    const Image input = ramp(3, 2, Depth::Bits8);
    CommandRecords records(host, withInput(input));
    {
        SourceInfo info(records.inData(), records.outData(), records.smartRenderExtra());
        SourceInfo copy = info;
        { SourceInfo(info).getThreadNum(); }
        EXPECT_FALSE(host.held().suites.empty());
    }
    EXPECT_TRUE(host.held().suites.empty());
}

} // namespace
