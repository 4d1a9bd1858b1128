// Driving an effect: the setup commands and whole frames (smart pre-render, then smart render).
#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <limits>

#include "Host/HostState.h"
#include "Host/Text.h"

namespace OmbrelHost {

using detail::CommandFrame;
using detail::HostState;

struct Effect::Impl {
    Impl(HostState& h, Module m) : host(h), module(std::move(m)) {}

    HostState& host;
    Module module;
    detail::Instance instance;
    mutable std::mutex mutex;
    PF_Handle globalData = nullptr;

    PF_Handle currentGlobalData() const {
        std::lock_guard lock(mutex);
        return globalData;
    }

    // Calls the entry point; an exception out of it is a fault of the effect that a real host
    // would not survive, reported here as HostError.
    PF_Err call(PF_Cmd cmd, CommandFrame& frame, PF_ParamDef* params[], void* extra) {
        try {
            const detail::CurrentCommand current(cmd);
            return module.entryPoint()(cmd, &frame.in, &frame.out, params, nullptr, extra);
        } catch (const std::exception& e) {
            throw HostError(describeModule() + ": an exception escaped EntryPointFunc during " +
                            commandName(cmd) + ": " + e.what());
        } catch (...) {
            throw HostError(describeModule() + ": an exception escaped EntryPointFunc during " +
                            commandName(cmd));
        }
    }

    std::string describeModule() const {
        return module.path().empty() ? std::string("effect") : module.path().string();
    }

    CommandResult command(PF_Cmd cmd) {
        CommandFrame frame(host, instance, cmd);
        frame.in.global_data = currentGlobalData();
        frame.ctx.allowAddParam = cmd == PF_Cmd_PARAMS_SETUP;
        // The parameter array as it stands: the (empty) input layer, then the added parameters
        // with the popup's value at time 0.
        const std::vector<ParamRecord> added = params(); // namesptr targets stay alive
        std::vector<PF_ParamDef> defs(1);
        defs[0].param_type = PF_Param_LAYER;
        for (const ParamRecord& p : added)
            defs.push_back(p.def);
        for (PF_ParamDef& def : defs) {
            if (def.param_type == PF_Param_POPUP)
                def.u.pd.value = instance.popupAt(A_Time{0, 1});
        }
        std::vector<PF_ParamDef*> pointers;
        for (PF_ParamDef& def : defs)
            pointers.push_back(&def);
        pointers.push_back(nullptr);
        CommandResult result;
        result.err = call(cmd, frame, pointers.data(), nullptr);
        result.out = frame.out;
        result.message.assign(frame.out.return_msg,
                              strnlen(frame.out.return_msg, sizeof frame.out.return_msg));
        result.showMessage = (frame.out.out_flags & PF_OutFlag_DISPLAY_ERROR_MESSAGE) != 0;
        return result;
    }

    std::vector<ParamRecord> params() const {
        std::lock_guard lock(instance.mutex);
        return instance.params;
    }

    FrameResult render(const FrameRequest& request);
};

namespace {

A_short bitDepth(Depth depth) {
    return static_cast<A_short>(depth);
}

std::string messageOf(const PF_OutData& out) {
    if ((out.out_flags & PF_OutFlag_DISPLAY_ERROR_MESSAGE) == 0)
        return {};
    return std::string(out.return_msg, strnlen(out.return_msg, sizeof out.return_msg));
}

PF_LRect intersect(const PF_LRect& a, const PF_LRect& b) {
    return PF_LRect{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
                    std::min(a.bottom, b.bottom)};
}

std::string rectText(const PF_LRect& r) {
    char text[64];
    std::snprintf(text, sizeof text, "(%ld, %ld, %ld, %ld)", static_cast<long>(r.left),
                  static_cast<long>(r.top), static_cast<long>(r.right),
                  static_cast<long>(r.bottom));
    return text;
}

// What the host does with an effect's pre-render data: counts it as held while it has it, and
// hands it to the effect's deletion function once when the frame is done. Pre-render data of a
// failed pre-render, or without a deletion function, the host cannot give back: it stays
// counted (host handles excepted, which count as handles).
class PreRenderDataKeeper {
public:
    PreRenderDataKeeper(HostState& host, const PF_PreRenderOutput& out, bool succeeded)
        : host_(host), data_(out.pre_render_data), delete_(out.delete_pre_render_data_func),
          held_(heldByHost(host, out, succeeded)) {
        if (!succeeded)
            delete_ = nullptr;
        if (held_) {
            std::lock_guard lock(host_.mutex);
            ++host_.preRenderData;
        }
    }
    ~PreRenderDataKeeper() {
        if (delete_ == nullptr)
            return;
        try {
            delete_(data_);
        } catch (...) {
            host_.recordMisuse("an exception escaped the pre-render data deletion function");
        }
        if (held_) {
            std::lock_guard lock(host_.mutex);
            --host_.preRenderData;
        }
    }
    PreRenderDataKeeper(const PreRenderDataKeeper&) = delete;
    PreRenderDataKeeper& operator=(const PreRenderDataKeeper&) = delete;

private:
    static bool heldByHost(HostState& host, const PF_PreRenderOutput& out, bool succeeded) {
        if (succeeded && out.delete_pre_render_data_func != nullptr)
            return true;
        if (out.pre_render_data == nullptr)
            return false;
        std::lock_guard lock(host.mutex);
        return host.handles.count(static_cast<PF_Handle>(out.pre_render_data)) == 0;
    }

    HostState& host_;
    void* data_;
    PF_DeletePreRenderDataFunc delete_;
    bool held_;
};

constexpr int kMaxSmartRenders = 8;

// Largest output world the host allocates for a frame, per side and in total.
constexpr std::int64_t kMaxSide = kMaxFrameSide;
constexpr std::int64_t kMaxPixels = kMaxFramePixels;

} // namespace

FrameResult Effect::Impl::render(const FrameRequest& request) {
    using Clock = std::chrono::steady_clock;
    if (request.input == nullptr)
        throw HostError("frame request without an input image");
    if (request.time.scale == 0)
        throw HostError("frame request with a time scale of 0");
    if (request.smartRenders < 0 || request.smartRenders > kMaxSmartRenders)
        throw HostError("frame request with " + std::to_string(request.smartRenders) +
                        " smart renders (0.." + std::to_string(kMaxSmartRenders) + ")");
    const Image& input = *request.input;
    const Depth depth = input.depth;
    const PF_PixelFormat outputFormat =
        request.outputFormat.value_or(detail::worldFormat(depth, request.worldOrder));
    if (detail::formatPixelBytes(outputFormat) == 0)
        throw HostError("frame request for an output world of a pixel format the host does not "
                        "make");
    const Depth outputDepth = detail::formatDepth(outputFormat);
    detail::checkPadding(request.outputRowPadding, outputDepth, "output");

    FrameResult result;
    CommandFrame frame(host, instance, PF_Cmd_SMART_PRE_RENDER);
    frame.setInput(input, request.inputRowPadding, request.worldOrder);
    frame.ctx.inputMaxResult = request.inputMaxResultRect;
    frame.in.current_time = request.time.value;
    frame.in.time_scale = request.time.scale;
    frame.in.time_step = request.timeStep;
    frame.in.downsample_x = request.downsampleX;
    frame.in.downsample_y = request.downsampleY;
    frame.in.global_data = currentGlobalData();
    const PF_InData pristine = frame.in;
    frame.ctx.allowPreRender = true;

    const PF_LRect layer{0, 0, input.width, input.height};
    PF_PreRenderInput preInput{};
    preInput.output_request.rect = request.outputRect.value_or(layer);
    preInput.output_request.channel_mask = 0xF; // alpha, red, green, blue
    preInput.bitdepth = bitDepth(depth);
    const PF_RenderRequest hostRequest = preInput.output_request;
    PF_PreRenderOutput preOutput{};
    PF_PreRenderCallbacks preCallbacks = detail::makePreRenderCallbacks();
    PF_PreRenderExtra preExtra{&preInput, &preOutput, &preCallbacks};

    const Clock::time_point preStart = Clock::now();
    result.preRenderErr = call(PF_Cmd_SMART_PRE_RENDER, frame, nullptr, &preExtra);
    Clock::duration elapsed = Clock::now() - preStart;
    result.preRender = preOutput;
    result.preRenderOut = frame.out;
    result.message = messageOf(frame.out);
    {
        std::lock_guard lock(frame.ctx.mutex);
        if (frame.ctx.lastRequest) {
            result.inputRequest = frame.ctx.lastRequest->request;
            result.inputCheckedOut = true;
        }
    }

    // After a successful pre-render, and only then, the effect's pre-render data goes to its
    // deletion function once, when the host is done with the frame (also when it renders
    // nothing, or fails on its side). Data the host cannot give back stays counted as held.
    PreRenderDataKeeper keeper(host, preOutput, result.preRenderErr == PF_Err_NONE);

    if (result.preRenderErr == PF_Err_NONE) {
        // With extra pixels allowed the output world is the effect's whole result; otherwise
        // the part of it the host asked for.
        PF_LRect rect = preOutput.result_rect;
        if ((preOutput.flags & PF_RenderOutputFlag_RETURNS_EXTRA_PIXELS) == 0)
            rect = intersect(rect, hostRequest.rect);
        const std::int64_t width = std::max<std::int64_t>(0, std::int64_t{rect.right} - rect.left);
        const std::int64_t height = std::max<std::int64_t>(0, std::int64_t{rect.bottom} - rect.top);
        if (width > kMaxSide || height > kMaxSide || width * height > kMaxPixels)
            throw HostError(describeModule() + ": pre-render reported a result rectangle " +
                            rectText(rect) + " larger than the host renders");
        const bool empty = width == 0 || height == 0;
        if (empty)
            rect = PF_LRect{rect.left, rect.top, rect.left, rect.top};
        result.outputRect = rect;

        for (int pass = 0; pass < request.smartRenders; ++pass) {
            // The worlds are made and filled on this thread first; the workers poll meanwhile,
            // so that the bands start together.
            host.pool.warm(std::chrono::milliseconds(100));
            frame.setOutput(static_cast<int>(empty ? 0 : width),
                            static_cast<int>(empty ? 0 : height), outputFormat,
                            request.outputRowPadding);
            frame.in = pristine;
            frame.resetOut();
            frame.ctx.cmd = PF_Cmd_SMART_RENDER;
            frame.ctx.allowPreRender = false;
            frame.ctx.allowSmartRender = true;
            PF_SmartRenderInput smartInput{};
            smartInput.output_request = hostRequest;
            smartInput.bitdepth = bitDepth(depth);
            smartInput.pre_render_data =
                request.withoutPreRenderData ? nullptr : preOutput.pre_render_data;
            PF_SmartRenderCallbacks smartCallbacks = detail::makeSmartRenderCallbacks();
            PF_SmartRenderExtra smartExtra{&smartInput, &smartCallbacks};

            const Clock::time_point renderStart = Clock::now();
            const PF_Err err = call(PF_Cmd_SMART_RENDER, frame, nullptr, &smartExtra);
            elapsed += Clock::now() - renderStart;
            host.pool.rest(); // in case the effect ran no bands
            // The host takes back the layer pixels when smart render returns.
            frame.returnLayers();
            result.rendered = true;
            result.renderErrs.push_back(err);
            if (result.renderErr == PF_Err_NONE)
                result.renderErr = err;
            result.renderOut = frame.out;
            if (std::string message = messageOf(frame.out); !message.empty())
                result.message = message;
            result.outputs.push_back(frame.outputMemory->toImage(outputDepth));
            if (!frame.outputMemory->outsideIntact())
                host.recordMisuse("the effect wrote outside the pixels of its output world");
        }
        if (!result.outputs.empty())
            result.output = result.outputs.back();
    }
    result.renderSeconds = std::chrono::duration<double>(elapsed).count();

    if (!frame.inputMemory->equals(input))
        host.recordMisuse("the effect wrote into its input world");
    if (!frame.inputMemory->outsideIntact())
        host.recordMisuse("the effect wrote outside the pixels of its input world");
    return result;
}

// ---- Effect ---------------------------------------------------------------------------------

Effect::Effect(Host& host, Module module)
    : impl_(std::make_unique<Impl>(host.impl(), std::move(module))) {}

Effect::~Effect() = default;

CommandResult Effect::about() {
    return impl_->command(PF_Cmd_ABOUT);
}

CommandResult Effect::globalSetup() {
    CommandResult result = impl_->command(PF_Cmd_GLOBAL_SETUP);
    {
        std::lock_guard lock(impl_->mutex);
        impl_->globalData = result.out.global_data;
    }
    if (result.err != PF_Err_NONE)
        return result;
    const PiPL& pipl = impl_->module.pipl();
    const auto mask = [&](std::uint32_t flags, PF_OutFlags preset) {
        return flags & ~static_cast<std::uint32_t>(preset);
    };
    const Faults& faults = impl_->host.faults;
    auto refuse = [&](const char* what, std::uint32_t reported, const char* key,
                      std::uint32_t piplValue) {
        throw HostError(impl_->describeModule() + ": global setup reports " + what + " " +
                        hex32(reported) + " but the PiPL's " + key + " says " + hex32(piplValue));
    };
    if (result.out.my_version != pipl.version)
        refuse("version", result.out.my_version, "eVER", pipl.version);
    const auto outFlags = static_cast<std::uint32_t>(result.out.out_flags);
    const auto outFlags2 = static_cast<std::uint32_t>(result.out.out_flags2);
    if (mask(outFlags, faults.presetOutFlags) != mask(pipl.outFlags, faults.presetOutFlags))
        refuse("out_flags", outFlags, "eGLO", pipl.outFlags);
    if (mask(outFlags2, faults.presetOutFlags2) != mask(pipl.outFlags2, faults.presetOutFlags2))
        refuse("out_flags2", outFlags2, "eGL2", pipl.outFlags2);
    return result;
}

CommandResult Effect::paramsSetup() {
    {
        std::lock_guard lock(impl_->instance.mutex);
        impl_->instance.params.clear();
    }
    return impl_->command(PF_Cmd_PARAMS_SETUP);
}

CommandResult Effect::globalSetdown() {
    CommandResult result = impl_->command(PF_Cmd_GLOBAL_SETDOWN);
    std::lock_guard lock(impl_->mutex);
    impl_->globalData = nullptr;
    return result;
}

CommandResult Effect::send(PF_Cmd cmd) {
    if (cmd == PF_Cmd_SMART_PRE_RENDER || cmd == PF_Cmd_SMART_RENDER)
        throw HostError("the smart render commands need their extra records: use render()");
    return impl_->command(cmd);
}

void Effect::setPopup(int value, A_Time from) {
    impl_->instance.setPopup(value, from);
}

int Effect::popupAt(A_Time time) const {
    if (time.scale == 0)
        throw HostError("popup time has a time scale of 0");
    return impl_->instance.popupAt(time);
}

std::vector<ParamRecord> Effect::params() const {
    return impl_->params();
}

PF_Handle Effect::globalData() const {
    return impl_->currentGlobalData();
}

FrameResult Effect::render(const FrameRequest& request) {
    return impl_->render(request);
}

const Module& Effect::module() const {
    return impl_->module;
}

} // namespace OmbrelHost
