#include "FakeEffect.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>

#if defined(FAKE_EFFECT_MODULE) && defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#endif

#include "HostInterface/SuiteInterface.h"

namespace {

FakeEffectConfig gConfig;

const char kPopupNames[] = "One|Two|Three|Four|Five|Six";

template <class T>
const T* acquire(PF_InData* in, const char* name, A_long version) {
    const void* suite = nullptr;
    if (in->pica_basicP->AcquireSuite(name, version, &suite) != 0)
        return nullptr;
    return static_cast<const T*>(suite);
}

void release(PF_InData* in, const char* name, A_long version) {
    in->pica_basicP->ReleaseSuite(name, version);
}

PF_Err globalSetup(PF_InData* in, PF_OutData* out) {
    out->my_version = gConfig.version;
    out->out_flags |= PF_OutFlag_DEEP_COLOR_AWARE;
    out->out_flags2 |= PF_OutFlag2_SUPPORTS_SMART_RENDER | PF_OutFlag2_FLOAT_COLOR_AWARE;
    const auto* handles = acquire<PF_HandleSuite2>(in, kPFHandleSuite, kPFHandleSuiteVersion2);
    const auto* utility =
        acquire<AEGP_UtilitySuite7>(in, kAEGPUtilitySuite, kAEGPUtilitySuiteVersion7);
    PF_Err err = handles == nullptr || utility == nullptr ? PF_Err_BAD_CALLBACK_PARAM : 0;
    if (err == 0) {
        PF_Handle h = handles->host_new_handle(4);
        void* p = h != nullptr ? handles->host_lock_handle(h) : nullptr;
        if (p == nullptr) {
            err = PF_Err_INTERNAL_STRUCT_DAMAGED;
        } else {
            err = utility->AEGP_RegisterWithAEGP(nullptr, "Fake", static_cast<AEGP_PluginID*>(p));
            handles->host_unlock_handle(h);
            if (err == 0)
                out->global_data = h;
            else
                handles->host_dispose_handle(h);
        }
    }
    if (handles != nullptr)
        release(in, kPFHandleSuite, kPFHandleSuiteVersion2);
    if (utility != nullptr)
        release(in, kAEGPUtilitySuite, kAEGPUtilitySuiteVersion7);
    return err;
}

PF_Err globalSetdown(PF_InData* in) {
    if (in->global_data == nullptr)
        return 0;
    const auto* handles = acquire<PF_HandleSuite2>(in, kPFHandleSuite, kPFHandleSuiteVersion2);
    if (handles == nullptr)
        return PF_Err_BAD_CALLBACK_PARAM;
    handles->host_dispose_handle(in->global_data);
    release(in, kPFHandleSuite, kPFHandleSuiteVersion2);
    return 0;
}

PF_Err paramsSetup(PF_InData* in, PF_OutData* out) {
    PF_ParamDef def;
    std::memset(&def, 0, sizeof def);
    def.param_type = PF_Param_POPUP;
    in->utils->ansi.strcpy(def.name, "Mode");
    def.uu.id = 1;
    def.u.pd.num_choices = 6;
    def.u.pd.dephault = 1;
    def.u.pd.value = 1;
    def.u.pd.u.namesptr = kPopupNames;
    const PF_Err err = in->inter.add_param(in->effect_ref, -1, &def);
    if (err == 0)
        out->num_params = 2;
    return err;
}

void deletePreRenderData(void* data) {
    delete static_cast<A_long*>(data);
    ++gConfig.deletions;
}

PF_Err preRender(PF_InData* in, PF_PreRenderExtra* extra) {
    PF_ParamDef popup;
    std::memset(&popup, 0, sizeof popup);
    PF_Err err = in->inter.checkout_param(in->effect_ref, 1, in->current_time, in->time_step,
                                          in->time_scale, &popup);
    if (err != 0)
        return err;
    gConfig.lastPopup = popup.u.pd.value;
    if (!gConfig.leakParam)
        in->inter.checkin_param(in->effect_ref, &popup);

    if (gConfig.useDeleteFunc) {
        extra->output->pre_render_data = new A_long(popup.u.pd.value);
        if (!gConfig.forgetDeleteFunc)
            extra->output->delete_pre_render_data_func = deletePreRenderData;
    } else {
        const auto* handles = acquire<PF_HandleSuite2>(in, kPFHandleSuite, kPFHandleSuiteVersion2);
        if (handles == nullptr)
            return PF_Err_BAD_CALLBACK_PARAM;
        PF_Handle h = handles->host_new_handle(sizeof(A_long));
        void* p = h != nullptr ? handles->host_lock_handle(h) : nullptr;
        if (p != nullptr) {
            *static_cast<A_long*>(p) = popup.u.pd.value;
            handles->host_unlock_handle(h);
            extra->output->pre_render_data = h;
        }
        release(in, kPFHandleSuite, kPFHandleSuiteVersion2);
        if (p == nullptr)
            return PF_Err_OUT_OF_MEMORY;
    }

    PF_RenderRequest request = extra->input->output_request;
    request.rect = PF_LRect{0, 0, in->width, in->height};
    request.preserve_rgb_of_zero_alpha = 1;
    PF_CheckoutResult result;
    std::memset(&result, 0, sizeof result);
    err = extra->cb->checkout_layer(in->effect_ref, 0, 0, &request, in->current_time, in->time_step,
                                    in->time_scale, &result);
    if (err != 0)
        return err;
    extra->output->result_rect = result.result_rect;
    extra->output->max_result_rect = result.max_result_rect;
    extra->output->flags |= PF_RenderOutputFlag_RETURNS_EXTRA_PIXELS;
    return 0;
}

struct Job {
    const PF_EffectWorld* src;
    PF_EffectWorld* dst;
    int pixelBytes;
    bool invert;
};

template <class P, class C>
void convertRow(const P* s, P* d, int width, bool invert, C full) {
    for (int x = 0; x < width; ++x) {
        d[x].alpha = s[x].alpha;
        d[x].red = invert ? static_cast<C>(full - s[x].red) : s[x].red;
        d[x].green = invert ? static_cast<C>(full - s[x].green) : s[x].green;
        d[x].blue = invert ? static_cast<C>(full - s[x].blue) : s[x].blue;
    }
}

PF_Err band(void* refcon, A_long, A_long i, A_long n) {
    const Job& job = *static_cast<const Job*>(refcon);
    const A_long h = job.dst->height;
    for (A_long y = i * h / n; y < (i + 1) * h / n; ++y) {
        const auto* s = reinterpret_cast<const char*>(job.src->data) + y * job.src->rowbytes;
        auto* d = reinterpret_cast<char*>(job.dst->data) + y * job.dst->rowbytes;
        const int w = job.dst->width;
        if (job.pixelBytes == 4)
            convertRow(reinterpret_cast<const PF_Pixel*>(s), reinterpret_cast<PF_Pixel*>(d), w,
                       job.invert, A_u_char{255});
        else if (job.pixelBytes == 8)
            convertRow(reinterpret_cast<const PF_Pixel16*>(s), reinterpret_cast<PF_Pixel16*>(d), w,
                       job.invert, A_u_short{32768});
        else
            convertRow(reinterpret_cast<const PF_PixelFloat*>(s),
                       reinterpret_cast<PF_PixelFloat*>(d), w, job.invert, PF_FpShort{1.0f});
    }
    return 0;
}

PF_Err smartRender(PF_InData* in, PF_SmartRenderExtra* extra) {
    if (gConfig.throwInRender)
        throw std::runtime_error("fake effect failure");
    if (gConfig.skipRender)
        return 0;
    A_long mode = 1;
    if (gConfig.useDeleteFunc) {
        mode = *static_cast<A_long*>(extra->input->pre_render_data);
    } else {
        const auto* handles = acquire<PF_HandleSuite2>(in, kPFHandleSuite, kPFHandleSuiteVersion2);
        if (handles == nullptr)
            return PF_Err_BAD_CALLBACK_PARAM;
        auto h = static_cast<PF_Handle>(extra->input->pre_render_data);
        void* p = handles->host_lock_handle(h);
        if (p != nullptr)
            mode = *static_cast<A_long*>(p);
        handles->host_unlock_handle(h);
        if (!gConfig.leakPreRenderHandle)
            handles->host_dispose_handle(h);
        release(in, kPFHandleSuite, kPFHandleSuiteVersion2);
        if (p == nullptr)
            return PF_Err_BAD_CALLBACK_PARAM;
    }

    PF_EffectWorld* input = nullptr;
    PF_EffectWorld* output = nullptr;
    PF_Err err = extra->cb->checkout_layer_pixels(in->effect_ref, gConfig.checkoutPixelsId, &input);
    if (err == 0)
        err = extra->cb->checkout_output(in->effect_ref, &output);
    if (err != 0)
        return err;
    if (input == nullptr || output == nullptr)
        return PF_Err_BAD_CALLBACK_PARAM;

    const auto* world2 = acquire<PF_WorldSuite2>(in, kPFWorldSuite, kPFWorldSuiteVersion2);
    const auto* world1 = acquire<PF_WorldSuite1>(in, kPFWorldSuite, kPFWorldSuiteVersion1);
    const auto* iterate =
        acquire<PF_Iterate8Suite1>(in, kPFIterate8Suite, kPFIterate8SuiteVersion1);
    const auto* threads =
        acquire<AEGP_IterateSuite1>(in, kAEGPIterateSuite, kAEGPIterateSuiteVersion1);
    if (world1 == nullptr || world2 == nullptr || iterate == nullptr || threads == nullptr)
        err = PF_Err_BAD_CALLBACK_PARAM;

    PF_PixelFormat format = PF_PixelFormat_INVALID;
    if (err == 0)
        err = world2->PF_GetPixelFormat(input, &format);
    const int pixelBytes = format == PF_PixelFormat_ARGB128  ? 16
                           : format == PF_PixelFormat_ARGB64 ? 8
                                                             : 4;
    PF_EffectWorld scratch;
    std::memset(&scratch, 0, sizeof scratch);
    if (err == 0) {
        if (pixelBytes == 16)
            err = world2->PF_NewWorld(in->effect_ref, input->width, input->height, 1, format,
                                      &scratch);
        else
            err = world1->new_world(in->effect_ref, input->width, input->height,
                                    PF_NewWorldFlag_CLEAR_PIXELS |
                                        (pixelBytes == 8 ? PF_NewWorldFlag_DEEP_PIXELS : 0),
                                    &scratch);
    }
    if (err == 0)
        err = in->utils->copy(in->effect_ref, input, &scratch, nullptr, nullptr);
    A_long bands = 1;
    if (err == 0)
        err = threads->AEGP_GetNumThreads(&bands);
    if (err == 0) {
        Job job{&scratch, output, pixelBytes, mode % 2 == 1};
        err = iterate->iterate_generic(bands, &job, band);
        ++gConfig.renders;
    }
    if (err == 0 && gConfig.writeInput)
        reinterpret_cast<char*>(input->data)[0] ^= 1;
    if (err == 0 && gConfig.writePastRow)
        std::memset(reinterpret_cast<char*>(output->data) + output->width * pixelBytes, 0,
                    static_cast<std::size_t>(pixelBytes));
    if (scratch.data != nullptr && !gConfig.leakWorld) {
        if (pixelBytes == 16)
            world2->PF_DisposeWorld(in->effect_ref, &scratch);
        else
            world1->dispose_world(in->effect_ref, &scratch);
    }
    if (world2 != nullptr)
        release(in, kPFWorldSuite, kPFWorldSuiteVersion2);
    if (world1 != nullptr)
        release(in, kPFWorldSuite, kPFWorldSuiteVersion1);
    if (iterate != nullptr)
        release(in, kPFIterate8Suite, kPFIterate8SuiteVersion1);
    if (threads != nullptr && !gConfig.leakSuite)
        release(in, kAEGPIterateSuite, kAEGPIterateSuiteVersion1);
    return err;
}

} // namespace

FakeEffectConfig& fakeEffect() {
    return gConfig;
}

void resetFakeEffect() {
    gConfig.~FakeEffectConfig();
    new (&gConfig) FakeEffectConfig();
}

extern "C" PF_Err FakeEffectMain(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data,
                                 PF_ParamDef*[], PF_LayerDef*, void* extra) {
    switch (cmd) {
    case PF_Cmd_ABOUT:
        in_data->utils->ansi.sprintf(out_data->return_msg, "%s, v%d.%d\r%s", "Fake", 1, 0,
                                     "test effect");
        return 0;
    case PF_Cmd_GLOBAL_SETUP:
        return globalSetup(in_data, out_data);
    case PF_Cmd_GLOBAL_SETDOWN:
        return globalSetdown(in_data);
    case PF_Cmd_PARAMS_SETUP:
        return paramsSetup(in_data, out_data);
    case PF_Cmd_SMART_PRE_RENDER:
        return preRender(in_data, static_cast<PF_PreRenderExtra*>(extra));
    case PF_Cmd_SMART_RENDER:
        return smartRender(in_data, static_cast<PF_SmartRenderExtra*>(extra));
    default:
        return 0;
    }
}

#ifdef FAKE_EFFECT_MODULE
// Marks the process when the module's code first runs (its DLL entry or ELF constructor), so
// that tests can tell whether the host started a module it refused.
#if defined(_WIN32)
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH)
        SetEnvironmentVariableA(kFakeModuleStartedVariable, "1");
    return TRUE;
}
#else
__attribute__((constructor)) static void markStarted() {
    setenv(kFakeModuleStartedVariable, "1", 1);
}
#endif

#if defined(_WIN32)
extern "C" __declspec(dllexport) PF_Err
#else
extern "C" __attribute__((visibility("default"))) PF_Err
#endif
    EntryPointFunc(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[],
                   PF_LayerDef* output, void* extra) {
    return FakeEffectMain(cmd, in_data, out_data, params, output, extra);
}
#endif
