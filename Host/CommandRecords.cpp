#include "Host/CommandRecords.h"

#include <cstring>

#include "Host/HostState.h"

namespace OmbrelHost {

struct CommandRecords::Impl {
    explicit Impl(detail::HostState& host) : frame(host, instance, PF_Cmd_SMART_RENDER) {}

    detail::Instance instance; // declared before the frame, which points at it
    detail::CommandFrame frame;
    Depth depth = Depth::Bits8;
    PF_PreRenderInput preInput{};
    PF_PreRenderOutput preOutput{};
    PF_PreRenderCallbacks preCallbacks = detail::makePreRenderCallbacks();
    PF_PreRenderExtra preExtra{&preInput, &preOutput, &preCallbacks};
    PF_SmartRenderInput smartInput{};
    PF_SmartRenderCallbacks smartCallbacks = detail::makeSmartRenderCallbacks();
    PF_SmartRenderExtra smartExtra{&smartInput, &smartCallbacks};
};

CommandRecords::CommandRecords(Host& host, const RecordsOptions& options)
    : impl_(std::make_unique<Impl>(host.impl())) {
    detail::CommandFrame& frame = impl_->frame;
    if (options.time.scale == 0)
        throw HostError("command records with a time scale of 0");
    frame.ctx.allowAddParam = true;
    frame.ctx.allowPreRender = true;
    frame.ctx.allowSmartRender = true;
    int width = 0;
    int height = 0;
    if (options.input != nullptr) {
        frame.setInput(*options.input, options.inputRowPadding);
        width = options.input->width;
        height = options.input->height;
        impl_->depth = options.input->depth;
    }
    if (options.depth)
        impl_->depth = *options.depth;
    if (options.outputSize) {
        width = options.outputSize->first;
        height = options.outputSize->second;
    }
    if (width < 0 || height < 0)
        throw HostError("command records with a negative output size");
    detail::checkPadding(options.outputRowPadding, impl_->depth, "output");
    frame.setOutput(width, height, detail::depthFormat(impl_->depth), options.outputRowPadding);
    frame.in.current_time = options.time.value;
    frame.in.time_scale = options.time.scale;
    frame.in.time_step = options.timeStep;

    const PF_LRect layer{0, 0, frame.in.width, frame.in.height};
    impl_->preInput.output_request.rect = layer;
    impl_->preInput.output_request.channel_mask = 0xF;
    impl_->preInput.bitdepth = static_cast<A_short>(impl_->depth);
    impl_->smartInput.output_request = impl_->preInput.output_request;
    impl_->smartInput.bitdepth = impl_->preInput.bitdepth;
    if (options.checkoutInput) {
        detail::LayerCheckout checkout;
        checkout.request = impl_->preInput.output_request;
        checkout.time = options.time;
        frame.ctx.checkouts[0] = checkout;
    }
}

CommandRecords::~CommandRecords() = default;

PF_InData* CommandRecords::inData() {
    return &impl_->frame.in;
}

PF_OutData* CommandRecords::outData() {
    return &impl_->frame.out;
}

PF_PreRenderExtra* CommandRecords::preRenderExtra() {
    return &impl_->preExtra;
}

PF_SmartRenderExtra* CommandRecords::smartRenderExtra() {
    return &impl_->smartExtra;
}

PF_ProgPtr CommandRecords::effectRef() {
    return impl_->frame.in.effect_ref;
}

PF_EffectWorld* CommandRecords::inputWorld() {
    detail::CallContext& ctx = impl_->frame.ctx;
    if (ctx.input == nullptr)
        return nullptr;
    ctx.input->describe(ctx.inputWorld);
    return &ctx.inputWorld;
}

PF_EffectWorld* CommandRecords::outputWorld() {
    detail::CallContext& ctx = impl_->frame.ctx;
    ctx.output->describe(ctx.outputWorld);
    return &ctx.outputWorld;
}

Depth CommandRecords::depth() const {
    return impl_->depth;
}

Image CommandRecords::output() const {
    return impl_->frame.outputMemory->toImage(impl_->depth);
}

bool CommandRecords::outputOutsideIntact() const {
    return impl_->frame.outputMemory->outsideIntact();
}

std::optional<PF_RenderRequest> CommandRecords::layerRequest(A_long checkoutId) const {
    detail::CallContext& ctx = impl_->frame.ctx;
    std::lock_guard lock(ctx.mutex);
    auto it = ctx.checkouts.find(checkoutId);
    if (it == ctx.checkouts.end())
        return std::nullopt;
    return it->second.request;
}

void CommandRecords::setPopup(int value, A_Time from) {
    impl_->instance.setPopup(value, from);
}

std::vector<ParamRecord> CommandRecords::params() const {
    std::lock_guard lock(impl_->instance.mutex);
    return impl_->instance.params;
}

void CommandRecords::resetOutData() {
    impl_->frame.resetOut();
}

std::string CommandRecords::message() const {
    const PF_OutData& out = impl_->frame.out;
    return std::string(out.return_msg, strnlen(out.return_msg, sizeof out.return_msg));
}

} // namespace OmbrelHost
