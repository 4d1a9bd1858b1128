// The entry point: the setup commands (About, global setup and setdown, parameter setup) and
// the smart-render pair. Every other command is answered with success and no side effect.
#include "OmbrelPlugin.h"

#include <cstddef>
#include <cstring>
#include <memory>
#include <new>

#include "HostInterface/SuiteInterface.h"
#include "Ombrel/Filter/Kernels/RowKernels.h"
#include "Ombrel/Filter/OmbrelColorSpaceConversion.h"
#include "Ombrel/Filter/OmbrelConversions.h"
#include "Ombrel/Filter/OmbrelFilterMulti.h"
#include "Ombrel/OmbrelLayer.h"
#include "Ombrel/OmbrelSourceInfo.h"
#include "OmbrelPiPL.h"
#include "Util/AEGP_SuiteHandler.h"
#include "Util/Smart_Utils.h"

namespace {

constexpr char kCredit[] = "RGB to and from YUV, HLS and HSB, by the Ombrel developers.";
// The name the effect registers under with the host's AEGP layer in global setup. It reads like
// an error message but is none: it is the name this effect has always registered with, kept so
// that whatever a host has recorded under it stays valid.
constexpr char kRegistrationName[] = "Error!";

constexpr PF_ParamIndex kPopupIndex = 1;
constexpr PF_ParamIndex kInputLayerIndex = 0;
constexpr A_long kInputCheckoutId = 0;
constexpr A_long kPopupId = 1;
constexpr A_short kPopupDefault = 1; // the first entry
constexpr char kPopupName[] = "From";
constexpr A_long kParamCount = 2; // the input layer and the popup

// The popup's entries: the conversions' names in table order, each followed by '|' except the
// last, which ends the string.
constexpr std::size_t popupEntriesSize() {
    std::size_t size = 0;
    for (const Ombrel::Conversion& c : Ombrel::kConversions) {
        for (const char* p = c.name; *p != '\0'; ++p)
            ++size;
        ++size;
    }
    return size;
}

struct PopupEntries {
    char text[popupEntriesSize()];
};

constexpr PopupEntries joinPopupEntries() {
    PopupEntries entries{};
    std::size_t at = 0;
    for (const Ombrel::Conversion& c : Ombrel::kConversions) {
        if (at != 0)
            entries.text[at++] = '|';
        for (const char* p = c.name; *p != '\0'; ++p)
            entries.text[at++] = *p;
    }
    entries.text[at] = '\0';
    return entries;
}

constexpr PopupEntries kPopupEntries = joinPopupEntries();
static_assert(Ombrel::kConversionCount <= 0x7FFF, "the host counts popup entries in 16 bits");
constexpr A_short kPopupChoices = static_cast<A_short>(Ombrel::kConversionCount);

// A 4-byte host handle owned by this scope: unlocked if locked and disposed at the end unless
// handed over with release().
class ScopedHandle {
public:
    ScopedHandle(const PF_HandleSuite2* suite, PF_Handle handle) : suite_(suite), handle_(handle) {}
    ~ScopedHandle() {
        if (handle_ == nullptr)
            return;
        if (locked_)
            suite_->host_unlock_handle(handle_);
        suite_->host_dispose_handle(handle_);
    }
    ScopedHandle(const ScopedHandle&) = delete;
    ScopedHandle& operator=(const ScopedHandle&) = delete;

    A_long* lock() {
        void* p = suite_->host_lock_handle(handle_);
        locked_ = p != nullptr;
        return static_cast<A_long*>(p);
    }
    void unlock() {
        if (locked_)
            suite_->host_unlock_handle(handle_);
        locked_ = false;
    }
    // Ends the scope's ownership (the handle stays as it is, locked or not).
    PF_Handle release() {
        PF_Handle h = handle_;
        handle_ = nullptr;
        return h;
    }

private:
    const PF_HandleSuite2* suite_;
    PF_Handle handle_;
    bool locked_ = false;
};

// A checked-out parameter, checked back in at the end of the scope.
class CheckedOutParam {
public:
    explicit CheckedOutParam(PF_InData* in_data) : in_data_(in_data) {
        std::memset(&def_, 0, sizeof(def_));
    }
    ~CheckedOutParam() {
        if (checkedOut_)
            in_data_->inter.checkin_param(in_data_->effect_ref, &def_);
    }
    CheckedOutParam(const CheckedOutParam&) = delete;
    CheckedOutParam& operator=(const CheckedOutParam&) = delete;

    PF_Err checkout(PF_ParamIndex index) {
        const PF_Err err =
            in_data_->inter.checkout_param(in_data_->effect_ref, index, in_data_->current_time,
                                           in_data_->time_step, in_data_->time_scale, &def_);
        checkedOut_ = err == PF_Err_NONE;
        return err;
    }
    const PF_ParamDef& def() const { return def_; }

private:
    PF_InData* in_data_;
    PF_ParamDef def_;
    bool checkedOut_ = false;
};

PF_Err About(PF_InData* in_data, PF_OutData* out_data) {
    in_data->utils->ansi.sprintf(out_data->return_msg, "%s, v%d.%d%d\r%s", OmbrelPiPL::kEffectName,
                                 OmbrelPiPL::kMajorVersion, OmbrelPiPL::kMinorVersion,
                                 OmbrelPiPL::kFixVersion, kCredit);
    return PF_Err_NONE;
}

// Reports the version and flags, and registers with the AEGP layer, keeping the returned plug-in
// id in a 4-byte global handle. A handle that is not kept (lock or registration failed, or a
// suite is missing) is disposed rather than leaked.
PF_Err GlobalSetup(PF_InData* in_data, PF_OutData* out_data) {
    // The conversion kernels are chosen here, once per process, from the CPU and OMBREL_KERNEL.
    Ombrel::Kernels::activePath();
    out_data->my_version = OmbrelPiPL::kVersion;
    out_data->out_flags |= OmbrelPiPL::kOutFlags;
    out_data->out_flags2 |= OmbrelPiPL::kOutFlags2;

    AEGP_SuiteHandler suites(in_data->pica_basicP);
    const PF_HandleSuite2* handles = suites.HandleSuite2();
    PF_Handle handle = handles->host_new_handle(sizeof(AEGP_PluginID));
    if (handle == nullptr)
        return PF_Err_INTERNAL_STRUCT_DAMAGED;
    ScopedHandle owned(handles, handle);

    PF_Err err = PF_Err_NONE;
    if (A_long* id = owned.lock()) {
        err = suites.UtilitySuite7()->AEGP_RegisterWithAEGP(nullptr, kRegistrationName, id);
        owned.unlock();
        if (err == PF_Err_NONE)
            out_data->global_data = owned.release();
    }
    return err;
}

PF_Err GlobalSetdown(PF_InData* in_data) {
    if (in_data->global_data != nullptr) {
        AEGP_SuiteHandler suites(in_data->pica_basicP);
        suites.HandleSuite2()->host_dispose_handle(in_data->global_data);
    }
    return PF_Err_NONE;
}

PF_Err ParamsSetup(PF_InData* in_data, PF_OutData* out_data) {
    PF_ParamDef def;
    std::memset(&def, 0, sizeof(def));
    def.param_type = PF_Param_POPUP;
    in_data->utils->ansi.strcpy(def.name, kPopupName);
    def.u.pd.num_choices = kPopupChoices;
    def.u.pd.dephault = kPopupDefault;
    def.u.pd.value = kPopupDefault;
    def.u.pd.u.namesptr = kPopupEntries.text;
    def.uu.id = kPopupId;

    const PF_Err err = in_data->inter.add_param(in_data->effect_ref, -1, &def);
    if (err != PF_Err_NONE)
        return err;
    out_data->num_params = kParamCount;
    return PF_Err_NONE;
}

// What pre-render hands to smart render through the host: memory of the effect's own, freed
// by DeletePreRenderData, which the host calls once when it is done with the frame, whether it
// rendered it (once or more) or not. A host handle would need the handle suite to be disposed,
// which the deletion function, given only the data, cannot reach.
struct PreRenderData {
    A_long popupValue; // "From" at the frame's time, 1..6 (any other value converts nothing)
};

void DeletePreRenderData(void* data) {
    delete static_cast<PreRenderData*>(data);
}

// Asks for the whole input layer, carries the popup value at the current time to smart render,
// and reports the input's rectangles as the result. The data is handed to the host only on
// success; a failing pre-render frees it itself and leaves both pre-render fields null. The
// popup is checked back in once read.
PF_Err PreRender(PF_InData* in_data, PF_PreRenderExtra* extra) {
    PF_RenderRequest& hostRequest = extra->input->output_request;
    hostRequest.rect.left = 0;
    hostRequest.rect.top = 0;
    hostRequest.rect.right = in_data->width;
    hostRequest.rect.bottom = in_data->height;
    extra->output->flags |= PF_RenderOutputFlag_RETURNS_EXTRA_PIXELS;
    extra->output->pre_render_data = nullptr;
    extra->output->delete_pre_render_data_func = nullptr;
    PF_RenderRequest request = hostRequest;

    // An allocation failure reaches the entry point as PF_Err_OUT_OF_MEMORY.
    std::unique_ptr<PreRenderData> data(new PreRenderData{0});

    CheckedOutParam popup(in_data);
    PF_Err err = popup.checkout(kPopupIndex);
    if (err != PF_Err_NONE)
        return err;
    request.preserve_rgb_of_zero_alpha = true;
    PF_CheckoutResult result;
    std::memset(&result, 0, sizeof(result));
    err = extra->cb->checkout_layer(in_data->effect_ref, kInputLayerIndex, kInputCheckoutId,
                                    &request, in_data->current_time, in_data->time_step,
                                    in_data->time_scale, &result);
    if (err != PF_Err_NONE)
        return err;
    data->popupValue = popup.def().u.pd.value;
    UnionLRect(&result.result_rect, &extra->output->result_rect);
    UnionLRect(&result.max_result_rect, &extra->output->max_result_rect);

    extra->output->pre_render_data = data.release();
    extra->output->delete_pre_render_data_func = &DeletePreRenderData;
    return PF_Err_NONE;
}

// Reads the pre-render data (left to the host, which may render the frame again from it, to
// free through DeletePreRenderData), then converts the whole output in bands over the host's
// threads.
PF_Err SmartRender(PF_InData* in_data, PF_OutData* out_data, PF_SmartRenderExtra* extra) {
    using Ombrel::ColorSpaceConversion;

    const auto* data = static_cast<const PreRenderData*>(extra->input->pre_render_data);
    if (data == nullptr)
        return PF_Err_BAD_CALLBACK_PARAM;
    const A_long popupValue = data->popupValue;

    Ombrel::SourceInfo info(in_data, out_data, extra);
    if (const PF_Err err = info.getError())
        return err;
    Ombrel::Layer input(in_data, out_data, info.getInputWorld(), info.getBPC(),
                        info.getChannelOrder());
    if (const PF_Err err = input.getError())
        return err;
    Ombrel::Layer output(in_data, out_data, info.getOutputWorld(), info.getBPC(),
                         info.getChannelOrder());
    if (const PF_Err err = output.getError())
        return err;
    const int threads = info.getThreadNum();
    if (const PF_Err err = info.getError())
        return err;

    ColorSpaceConversion::Parameter param;
    param.setType(static_cast<ColorSpaceConversion::Parameter::Type>(popupValue));
    const Ombrel::Rect region = output.getSize();
    return Ombrel::FilterMulti<ColorSpaceConversion>(in_data, input, output, region, threads,
                                                     param);
}

PF_Err Dispatch(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data, void* extra) {
    switch (cmd) {
    case PF_Cmd_ABOUT:
        return About(in_data, out_data);
    case PF_Cmd_GLOBAL_SETUP:
        return GlobalSetup(in_data, out_data);
    case PF_Cmd_GLOBAL_SETDOWN:
        return GlobalSetdown(in_data);
    case PF_Cmd_PARAMS_SETUP:
        return ParamsSetup(in_data, out_data);
    case PF_Cmd_SMART_PRE_RENDER:
        return PreRender(in_data, static_cast<PF_PreRenderExtra*>(extra));
    case PF_Cmd_SMART_RENDER:
        return SmartRender(in_data, out_data, static_cast<PF_SmartRenderExtra*>(extra));
    default:
        return PF_Err_NONE;
    }
}

} // namespace

// No exception crosses into the host, which may be built by another compiler: the suite
// handler's PF_Err is the command's result, an allocation failure is PF_Err_OUT_OF_MEMORY and
// anything else PF_Err_INTERNAL_STRUCT_DAMAGED.
extern "C" OMBREL_EXPORT PF_Err EntryPointFunc(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data,
                                               PF_ParamDef* /*params*/[], PF_LayerDef* /*output*/,
                                               void* extra) {
    try {
        return Dispatch(cmd, in_data, out_data, extra);
    } catch (const PF_Err& err) {
        return err;
    } catch (const std::bad_alloc&) {
        return PF_Err_OUT_OF_MEMORY;
    } catch (...) {
        return PF_Err_INTERNAL_STRUCT_DAMAGED;
    }
}
