// Whole frames through the simulated host, described by the fuzz input: depth, size (0 and 1
// pixel included), row padding of each world, pixel format (aliases and unknown codes), popup
// value (any 32-bit integer), the host's thread count (negative, zero, more than the rows), the
// request and maximum result rectangles, repeated or data-less smart renders, and pixel bytes
// (NaN, infinities, denormals, 16-bit values above 32768), BGRA worlds and an output world of
// another depth. Each frame must answer as the effect answers it (0, or 516 for an unknown
// format, an output of another format or missing pre-render data), match the one-thread
// scalar render of the filter run directly, leave its input alone and give back everything it took.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Host/OmbrelHost.h"
#include "Ombrel/Filter/Kernels/KernelPath.h"
#include "Ombrel/Filter/OmbrelColorSpaceConversion.h"
#include "OmbrelPiPL.h"
#include "OmbrelPlugin.h"

using namespace OmbrelHost;

namespace {

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "frame fuzz: %s\n", what);
    std::abort();
}

// One host and one applied effect for the whole run: the host is a process-wide singleton.
struct World {
    World() : host(HostOptions{4}), effect(host, module()) {
        if (effect.globalSetup().err != PF_Err_NONE || effect.paramsSetup().err != PF_Err_NONE)
            fail("setup failed");
    }
    static Module module() {
        return Module::fromEntryPoint(&EntryPointFunc, decodePiPL(OmbrelPiPL::kBytes));
    }
    Host host;
    Effect effect;
};

Ombrel::BPC bpcOf(Depth d) {
    return d == Depth::Bits8 ? Ombrel::BPC_8 : d == Depth::Bits16 ? Ombrel::BPC_16 : Ombrel::BPC_32;
}

// The filter run on the whole image in one pass on this thread on the scalar path (the reference
// every vector path must match), into an output that starts as the host's untouched worlds do.
Image direct(const Image& input, A_long popup) {
    Image out(input.width, input.height, input.depth);
    if (out.pixels.empty())
        return out;
    std::memset(out.pixels.data(), kUntouchedByte, out.pixels.size());
    PF_LayerDef src{}, dst{};
    src.data = reinterpret_cast<PF_Pixel*>(const_cast<std::uint8_t*>(input.pixels.data()));
    dst.data = reinterpret_cast<PF_Pixel*>(out.pixels.data());
    src.rowbytes = dst.rowbytes = static_cast<A_long>(input.rowBytes());
    src.width = dst.width = input.width;
    src.height = dst.height = input.height;
    PF_InData in{};
    PF_OutData outData{};
    Ombrel::Layer from(&in, &outData, &src, bpcOf(input.depth));
    Ombrel::Layer to(&in, &outData, &dst, bpcOf(input.depth));
    using Conversion = Ombrel::ColorSpaceConversion;
    Conversion(Conversion::Parameter().setType(static_cast<Conversion::Parameter::Type>(popup)))
        .executeOnPath(from, to, from.getSize(), Ombrel::Kernels::Path::Scalar);
    return out;
}

PF_LRect rect(FuzzedDataProvider& in) {
    PF_LRect r;
    r.left = in.ConsumeIntegral<A_long>();
    r.top = in.ConsumeIntegral<A_long>();
    r.right = in.ConsumeIntegral<A_long>();
    r.bottom = in.ConsumeIntegral<A_long>();
    return r;
}

bool untouched(const Image& img) {
    for (std::uint8_t b : img.pixels)
        if (b != kUntouchedByte)
            return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static World world;
    FuzzedDataProvider in(data, size);

    constexpr Depth kDepths[] = {Depth::Bits8, Depth::Bits16, Depth::Bits32};
    const Depth depth = kDepths[in.ConsumeIntegralInRange(0, 2)];
    const int px = static_cast<int>(pixelBytes(depth));
    Image input(in.ConsumeIntegralInRange(0, 24), in.ConsumeIntegralInRange(0, 24), depth);
    FrameRequest request;
    request.input = &input;
    request.inputRowPadding = px * in.ConsumeIntegralInRange(0, 3);
    request.outputRowPadding = px * in.ConsumeIntegralInRange(0, 3);
    const A_long popup = in.ConsumeIntegral<A_long>();
    const A_long threads = in.ConsumeIntegral<A_long>();
    if (in.ConsumeBool())
        request.outputRect = rect(in);
    if (in.ConsumeBool())
        request.inputMaxResultRect = rect(in);
    request.smartRenders = in.ConsumeIntegralInRange(0, 2);
    request.withoutPreRenderData = in.ConsumeIntegralInRange(0, 15) == 0;

    // The world's own format, its alias of the same depth, or a code of no known depth.
    PF_PixelFormat format = depth == Depth::Bits8    ? PF_PixelFormat_ARGB32
                            : depth == Depth::Bits16 ? PF_PixelFormat_ARGB64
                                                     : PF_PixelFormat_ARGB128;
    bool knownFormat = true;
    switch (in.ConsumeIntegralInRange(0, 7)) {
    case 0: // BGRA worlds (there are none at 16 bits); the host moves the channels back
        if (depth != Depth::Bits16) {
            format = depth == Depth::Bits8 ? PF_PixelFormat_BGRA32 : PF_PixelFormat_BGRA128;
            request.worldOrder = WorldOrder::Bgra;
        }
        break;
    case 1:
        format = in.ConsumeIntegral<A_long>();
        knownFormat = format == PF_PixelFormat_ARGB32 || format == PF_PixelFormat_BGRA32 ||
                      format == PF_PixelFormat_ARGB64 || format == PF_PixelFormat_ARGB128 ||
                      format == PF_PixelFormat_BGRA128;
        if (knownFormat) // a known code of another depth would be the host lying
            return 0;
        break;
    case 2: // an output world of another depth, which the effect must refuse untouched
        request.outputFormat =
            depth == Depth::Bits8 ? PF_PixelFormat_ARGB128 : PF_PixelFormat_ARGB32;
        request.outputRowPadding = 16 * (request.outputRowPadding / px); // whole pixels of either
        break;
    default:
        break;
    }

    // The rest of the input is the pixels, repeated to fill the image.
    const std::vector<std::uint8_t> bytes = in.ConsumeRemainingBytes<std::uint8_t>();
    for (std::size_t i = 0; i < input.pixels.size(); ++i)
        input.pixels[i] = bytes.empty() ? static_cast<std::uint8_t>(i) : bytes[i % bytes.size()];

    world.effect.setPopup(popup);
    Faults& faults = world.host.faults();
    faults.reportedThreads = threads;
    if (request.worldOrder == WorldOrder::Argb && !request.outputFormat)
        faults.reportedPixelFormat = format;
    const FrameResult r = world.effect.render(request);
    faults = Faults{};

    if (r.preRenderErr != PF_Err_NONE)
        fail("pre-render failed");
    if (r.renderErrs.size() != static_cast<std::size_t>(request.smartRenders))
        fail("the host sent another number of smart renders");
    const bool shouldFail =
        request.withoutPreRenderData || !knownFormat || request.outputFormat.has_value();
    const Image expected = direct(input, popup);
    for (std::size_t k = 0; k < r.renderErrs.size(); ++k) {
        if (shouldFail) {
            if (r.renderErrs[k] != PF_Err_BAD_CALLBACK_PARAM)
                fail("a frame that cannot be rendered did not fail with 516");
            if (!untouched(r.outputs[k]))
                fail("a failed frame wrote its output");
        } else {
            if (r.renderErrs[k] != PF_Err_NONE)
                fail("a frame failed");
            // A layer without pixels gives an output world without pixels, of whatever shape.
            const bool same =
                expected.pixels.empty() ? r.outputs[k].pixels.empty() : r.outputs[k] == expected;
            if (!same) {
                std::size_t at = 0;
                while (at + 1 < expected.pixels.size() && at + 1 < r.outputs[k].pixels.size() &&
                       r.outputs[k].pixels[at] == expected.pixels[at])
                    ++at;
                std::fprintf(
                    stderr, "depth %d, %dx%d, popup %ld, threads %ld, output %dx%d, byte %zu\n",
                    static_cast<int>(depth), input.width, input.height, static_cast<long>(popup),
                    static_cast<long>(threads), r.outputs[k].width, r.outputs[k].height, at);
                fail("the frame differs from the one-thread render");
            }
        }
    }
    const HeldResources held = world.host.held();
    if (held.handles != 1 || held.lockedHandles != 0 || held.preRenderData != 0 ||
        held.checkedOutParams != 0 || held.createdWorlds != 0 || held.checkedOutLayers != 0 ||
        !held.suites.empty() || !held.misuse.empty()) {
        std::fprintf(stderr, "%s\n", held.describe().c_str());
        fail("the frame left something held");
    }
    return 0;
}
