#include "LoadedEffect.h"

#include "Options.h"
#include "ToolError.h"

namespace OmbrelRender {

LoadedEffect::LoadedEffect(const Options& options, const std::filesystem::path& modulePath,
                           const std::function<void(OmbrelHost::Host&)>& prepareHost)
    : host_(OmbrelHost::HostOptions{options.threads}),
      effect_(host_, prepareAndLoad(host_, modulePath, prepareHost)) {}

OmbrelHost::Module
LoadedEffect::prepareAndLoad(OmbrelHost::Host& host, const std::filesystem::path& modulePath,
                             const std::function<void(OmbrelHost::Host&)>& prepare) {
    if (prepare)
        prepare(host);
    return OmbrelHost::Module::load(modulePath);
}

std::string failureText(PF_Err err, const std::string& message) {
    std::string text = OmbrelHost::errorName(err);
    if (!message.empty())
        text += ": " + message;
    return text;
}

Rendered renderFrame(OmbrelHost::Effect& effect, const OmbrelHost::Image& input, int number,
                     OmbrelHost::WorldOrder order) {
    if (order == OmbrelHost::WorldOrder::Bgra && input.depth == OmbrelHost::Depth::Bits16)
        throw ToolError("--world-order bgra: the host has no BGRA worlds of 16 bits");
    OmbrelHost::FrameRequest request;
    request.input = &input;
    request.worldOrder = order;
    request.time = A_Time{number, 1};
    OmbrelHost::FrameResult result = effect.render(request);
    if (result.preRenderErr != PF_Err_NONE)
        throw ToolError("smart pre-render failed: " +
                        failureText(result.preRenderErr, result.message));
    if (result.renderErr != PF_Err_NONE)
        throw ToolError("smart render failed: " + failureText(result.renderErr, result.message));
    return {std::move(result.output), result.renderSeconds};
}

} // namespace OmbrelRender
