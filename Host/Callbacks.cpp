// The callbacks reached through the command records: interact (parameters), utility (copy,
// sprintf, strcpy), pre-render (checkout_layer) and smart render (layer pixels, output).
#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "Host/HostState.h"

namespace OmbrelHost::detail {

namespace {

bool validTime(A_u_long scale) {
    return scale != 0;
}

PF_LRect layerRect(const CallContext& ctx) {
    if (ctx.input == nullptr)
        return PF_LRect{0, 0, 0, 0};
    return PF_LRect{0, 0, ctx.input->width(), ctx.input->height()};
}

// ---- Interact -------------------------------------------------------------------------------

// Checks a popup definition: 1..n entries joined by '|', default and value among them.
const char* popupProblem(const PF_PopupDef& pd) {
    if (pd.u.namesptr == nullptr)
        return "a popup without entry names";
    if (pd.num_choices < 1)
        return "a popup without choices";
    int entries = 1;
    for (const char* c = pd.u.namesptr; *c != '\0'; ++c)
        entries += *c == '|' ? 1 : 0;
    if (entries != pd.num_choices)
        return "a popup whose names do not match its number of choices";
    if (pd.dephault < 1 || pd.dephault > pd.num_choices || pd.value < 1 ||
        pd.value > pd.num_choices)
        return "a popup whose default or value is not one of its choices";
    return nullptr;
}

PF_Err addParam(PF_ProgPtr effect_ref, PF_ParamIndex index, PF_ParamDefPtr def) {
    return guarded(Cb::AddParam, [&](HostState& host) -> PF_Err {
        CallContext* ctx = host.context(effect_ref, Cb::AddParam);
        if (ctx == nullptr || def == nullptr)
            return PF_Err_BAD_CALLBACK_PARAM;
        if (!ctx->allowAddParam) {
            host.recordMisuse("add_param outside parameter setup");
            return PF_Err_BAD_CALLBACK_PARAM;
        }
        if (index != -1 || std::memchr(def->name, '\0', sizeof def->name) == nullptr)
            return PF_Err_BAD_CALLBACK_PARAM;
        ParamRecord record;
        record.def = *def;
        if (def->param_type == PF_Param_POPUP) {
            if (const char* problem = popupProblem(def->u.pd)) {
                host.recordMisuse(std::string("add_param of ") + problem);
                return PF_Err_BAD_CALLBACK_PARAM;
            }
            record.popupNames = def->u.pd.u.namesptr;
            record.def.u.pd.u.namesptr = record.popupNames.c_str();
        }
        Instance& instance = *ctx->instance;
        std::lock_guard lock(instance.mutex);
        // The host serves parameter 1 as the popup "From".
        if (instance.params.empty() && def->param_type != PF_Param_POPUP) {
            host.recordMisuse("add_param: parameter 1 must be the popup");
            return PF_Err_BAD_CALLBACK_PARAM;
        }
        instance.params.push_back(record);
        return PF_Err_NONE;
    });
}

PF_Err checkoutParam(PF_ProgPtr effect_ref, PF_ParamIndex index, A_long what_time, A_long,
                     A_u_long time_scale, PF_ParamDef* param) {
    return guarded(Cb::CheckoutParam, [&](HostState& host) -> PF_Err {
        CallContext* ctx = host.context(effect_ref, Cb::CheckoutParam);
        if (ctx == nullptr || param == nullptr || !validTime(time_scale))
            return PF_Err_BAD_CALLBACK_PARAM;
        PF_ParamDef def{};
        if (index == 0) {
            def.param_type = PF_Param_LAYER;
            if (ctx->input != nullptr)
                ctx->input->describe(def.u.ld);
        } else {
            Instance& instance = *ctx->instance;
            const int value = instance.popupAt(A_Time{what_time, time_scale});
            std::lock_guard lock(instance.mutex);
            if (index >= 1 && static_cast<std::size_t>(index) <= instance.params.size()) {
                def = instance.params[static_cast<std::size_t>(index) - 1].def;
            } else if (index == 1) {
                // Before parameter setup the popup has no description yet, only its value.
                def.param_type = PF_Param_POPUP;
                def.uu.id = 1;
            } else {
                return PF_Err_BAD_CALLBACK_PARAM;
            }
            if (def.param_type == PF_Param_POPUP)
                def.u.pd.value = value;
        }
        // The host marks each checkout in the record's spare member, so that checkin_param can
        // tell a checked-out parameter from any other record.
        std::lock_guard lock(host.mutex);
        def.unused = host.nextParamToken++;
        host.paramTokens.emplace(def.unused, 1);
        *param = def;
        return PF_Err_NONE;
    });
}

PF_Err checkinParam(PF_ProgPtr effect_ref, PF_ParamDef* param) {
    return guarded(Cb::CheckinParam, [&](HostState& host) -> PF_Err {
        if (host.context(effect_ref, Cb::CheckinParam) == nullptr || param == nullptr)
            return PF_Err_BAD_CALLBACK_PARAM;
        std::lock_guard lock(host.mutex);
        if (host.paramTokens.erase(param->unused) == 0) {
            host.recordMisuseLocked("checkin_param of a parameter that is not checked out");
            return PF_Err_BAD_CALLBACK_PARAM;
        }
        return PF_Err_NONE;
    });
}

// ---- Utility --------------------------------------------------------------------------------

bool inside(const PF_LRect& r, const PF_EffectWorld& w) {
    return r.left >= 0 && r.top >= 0 && r.left <= r.right && r.top <= r.bottom &&
           r.right <= w.width && r.bottom <= w.height;
}

PF_Err copyWorld(PF_ProgPtr effect_ref, PF_EffectWorld* src, PF_EffectWorld* dst, PF_LRect* src_r,
                 PF_LRect* dst_r) {
    return guarded(Cb::Copy, [&](HostState& host) -> PF_Err {
        if (host.context(effect_ref, Cb::Copy) == nullptr || src == nullptr || dst == nullptr ||
            src->data == nullptr || dst->data == nullptr)
            return PF_Err_BAD_CALLBACK_PARAM;
        const WorldMemory* from = host.findWorld(src);
        const WorldMemory* to = host.findWorld(dst);
        if (from == nullptr && to == nullptr) {
            host.recordMisuse("copy between worlds the host did not make");
            return PF_Err_BAD_CALLBACK_PARAM;
        }
        const int bytes = from != nullptr ? from->pixelBytes() : to->pixelBytes();
        if (from != nullptr && to != nullptr && from->pixelBytes() != to->pixelBytes())
            return PF_Err_BAD_CALLBACK_PARAM;
        const PF_LRect s = src_r != nullptr ? *src_r : PF_LRect{0, 0, src->width, src->height};
        const PF_LRect d = dst_r != nullptr ? *dst_r : PF_LRect{0, 0, dst->width, dst->height};
        if (!inside(s, *src) || !inside(d, *dst) || s.right - s.left != d.right - d.left ||
            s.bottom - s.top != d.bottom - d.top)
            return PF_Err_BAD_CALLBACK_PARAM;
        if (src->rowbytes < static_cast<std::int64_t>(src->width) * bytes ||
            dst->rowbytes < static_cast<std::int64_t>(dst->width) * bytes)
            return PF_Err_BAD_CALLBACK_PARAM;
        const std::size_t rowLength = static_cast<std::size_t>(s.right - s.left) * bytes;
        const A_long rows = s.bottom - s.top;
        auto* srcBase = reinterpret_cast<const std::uint8_t*>(src->data);
        auto* dstBase = reinterpret_cast<std::uint8_t*>(dst->data);
        auto rowOf = [&](A_long y, auto* base, const PF_LRect& r, A_long rowbytes) {
            return base + static_cast<std::ptrdiff_t>(r.top + y) * rowbytes +
                   static_cast<std::ptrdiff_t>(r.left) * bytes;
        };
        // Within one world a copy downwards goes bottom-up so that no row is overwritten
        // before it is read.
        const bool bottomUp = src->data == dst->data && d.top > s.top;
        for (A_long k = 0; k < rows; ++k) {
            const A_long y = bottomUp ? rows - 1 - k : k;
            std::memmove(rowOf(y, dstBase, d, dst->rowbytes), rowOf(y, srcBase, s, src->rowbytes),
                         rowLength);
        }
        return PF_Err_NONE;
    });
}

// The formatted text goes to return_msg-sized buffers: at most 256 bytes with the terminator.
int ansiSprintf(A_char* buffer, const A_char* format, ...) {
    HostState* host = activeHost();
    if (host != nullptr)
        host->count(Cb::Sprintf);
    if (buffer == nullptr || format == nullptr)
        return -1;
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(buffer, PF_MAX_EFFECT_MSG_LEN + 1, format, args);
    va_end(args);
    return n;
}

A_char* ansiStrcpy(A_char* dest, const A_char* src) {
    HostState* host = activeHost();
    if (host != nullptr)
        host->count(Cb::Strcpy);
    if (dest == nullptr || src == nullptr)
        return dest;
    return std::strcpy(dest, src);
}

// ---- Pre-render -----------------------------------------------------------------------------

PF_Err checkoutLayer(PF_ProgPtr effect_ref, PF_ParamIndex index, A_long checkout_id,
                     const PF_RenderRequest* req, A_long what_time, A_long, A_u_long time_scale,
                     PF_CheckoutResult* checkout_result) {
    return guarded(Cb::CheckoutLayer, [&](HostState& host) -> PF_Err {
        CallContext* ctx = host.context(effect_ref, Cb::CheckoutLayer);
        if (ctx == nullptr || req == nullptr || checkout_result == nullptr ||
            !validTime(time_scale))
            return PF_Err_BAD_CALLBACK_PARAM;
        if (!ctx->allowPreRender) {
            host.recordMisuse("checkout_layer outside smart pre-render");
            return PF_Err_BAD_CALLBACK_PARAM;
        }
        if (index != 0)
            return PF_Err_BAD_CALLBACK_PARAM; // the effect has no other layer parameter
        const LayerCheckout checkout{*req, A_Time{what_time, time_scale}};
        {
            std::lock_guard lock(ctx->mutex);
            ctx->checkouts[checkout_id] = checkout;
            ctx->lastRequest = checkout;
        }
        // What the input can give of the request; its largest result may reach further.
        const PF_LRect layer = layerRect(*ctx);
        PF_LRect result{std::max(req->rect.left, layer.left), std::max(req->rect.top, layer.top),
                        std::min(req->rect.right, layer.right),
                        std::min(req->rect.bottom, layer.bottom)};
        if (result.left >= result.right || result.top >= result.bottom)
            result = PF_LRect{0, 0, 0, 0};
        *checkout_result = PF_CheckoutResult{};
        checkout_result->result_rect = result;
        checkout_result->max_result_rect = ctx->inputMaxResult.value_or(layer);
        checkout_result->par = PF_RationalScale{1, 1};
        checkout_result->ref_width = layer.right;
        checkout_result->ref_height = layer.bottom;
        return PF_Err_NONE;
    });
}

// ---- Smart render ---------------------------------------------------------------------------

CallContext* smartContext(HostState& host, PF_ProgPtr effect_ref, Cb cb) {
    CallContext* ctx = host.context(effect_ref, cb);
    if (ctx != nullptr && !ctx->allowSmartRender) {
        host.recordMisuse(std::string(kCbNames[static_cast<std::size_t>(cb)]) +
                          " outside smart render");
        return nullptr;
    }
    return ctx;
}

PF_Err checkoutLayerPixels(PF_ProgPtr effect_ref, A_long checkout_id, PF_EffectWorld** pixels) {
    if (pixels != nullptr)
        *pixels = nullptr;
    return guarded(Cb::CheckoutLayerPixels, [&](HostState& host) -> PF_Err {
        CallContext* ctx = smartContext(host, effect_ref, Cb::CheckoutLayerPixels);
        if (ctx == nullptr || pixels == nullptr)
            return PF_Err_BAD_CALLBACK_PARAM;
        std::lock_guard lock(ctx->mutex);
        if (ctx->checkouts.count(checkout_id) == 0) {
            host.recordMisuse("checkout_layer_pixels of checkout id " +
                              std::to_string(checkout_id) + ", not checked out in pre-render");
            return PF_Err_BAD_CALLBACK_PARAM;
        }
        if (host.faulting() && host.faults.nullInputWorld)
            return PF_Err_NONE;
        if (ctx->input == nullptr)
            return PF_Err_BAD_CALLBACK_PARAM;
        ctx->input->describe(ctx->inputWorld);
        ++ctx->layersOut[checkout_id];
        {
            std::lock_guard hostLock(host.mutex);
            ++host.layersOut;
        }
        *pixels = &ctx->inputWorld;
        return PF_Err_NONE;
    });
}

PF_Err checkinLayerPixels(PF_ProgPtr effect_ref, A_long checkout_id) {
    return guarded(Cb::CheckinLayerPixels, [&](HostState& host) -> PF_Err {
        CallContext* ctx = smartContext(host, effect_ref, Cb::CheckinLayerPixels);
        if (ctx == nullptr)
            return PF_Err_BAD_CALLBACK_PARAM;
        std::lock_guard lock(ctx->mutex);
        auto it = ctx->layersOut.find(checkout_id);
        if (it == ctx->layersOut.end() || it->second == 0) {
            host.recordMisuse("checkin_layer_pixels of checkout id " + std::to_string(checkout_id) +
                              " whose pixels are not checked out");
            return PF_Err_BAD_CALLBACK_PARAM;
        }
        --it->second;
        std::lock_guard hostLock(host.mutex);
        --host.layersOut;
        return PF_Err_NONE;
    });
}

PF_Err checkoutOutput(PF_ProgPtr effect_ref, PF_EffectWorld** output) {
    if (output != nullptr)
        *output = nullptr;
    return guarded(Cb::CheckoutOutput, [&](HostState& host) -> PF_Err {
        CallContext* ctx = smartContext(host, effect_ref, Cb::CheckoutOutput);
        if (ctx == nullptr || output == nullptr || ctx->output == nullptr)
            return PF_Err_BAD_CALLBACK_PARAM;
        if (host.faulting() && host.faults.nullOutputWorld)
            return PF_Err_NONE;
        std::lock_guard lock(ctx->mutex);
        ctx->output->describe(ctx->outputWorld);
        *output = &ctx->outputWorld;
        return PF_Err_NONE;
    });
}

} // namespace

PF_InteractCallbacks makeInteractCallbacks() {
    return PF_InteractCallbacks{checkoutParam, checkinParam, addParam};
}

PF_UtilCallbacks makeUtilCallbacks() {
    PF_UtilCallbacks utils{};
    utils.copy = copyWorld;
    utils.ansi.sprintf = ansiSprintf;
    utils.ansi.strcpy = ansiStrcpy;
    return utils;
}

PF_PreRenderCallbacks makePreRenderCallbacks() {
    return PF_PreRenderCallbacks{checkoutLayer};
}

PF_SmartRenderCallbacks makeSmartRenderCallbacks() {
    return PF_SmartRenderCallbacks{checkoutLayerPixels, checkinLayerPixels, checkoutOutput};
}

} // namespace OmbrelHost::detail
