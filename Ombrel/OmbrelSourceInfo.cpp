#include "Ombrel/OmbrelSourceInfo.h"

#include "HostInterface/SuiteInterface.h"
#include "Util/AEFX_SuiteHelper.h"
#include "Util/AEGP_SuiteHandler.h"

namespace Ombrel {

namespace {

constexpr A_long kInputCheckoutId = 0; // the id pre-render checked the input out under

// The layout of each host pixel format the effect converts.
struct FormatLayout {
    PF_PixelFormat format;
    BPC bpc;
    ChannelOrder order;
};
constexpr FormatLayout kFormats[] = {
    {PF_PixelFormat_ARGB32, BPC_8, ChannelOrder::ARGB},
    {PF_PixelFormat_BGRA32, BPC_8, ChannelOrder::BGRA},
    {PF_PixelFormat_ARGB64, BPC_16, ChannelOrder::ARGB},
    {PF_PixelFormat_ARGB128, BPC_32, ChannelOrder::ARGB},
    {PF_PixelFormat_BGRA128, BPC_32, ChannelOrder::BGRA},
};

// The layout of a host pixel format; false, leaving both unchanged, for a format not listed.
bool layoutOf(PF_PixelFormat format, BPC& bpc, ChannelOrder& order) {
    for (const FormatLayout& f : kFormats) {
        if (f.format == format) {
            bpc = f.bpc;
            order = f.order;
            return true;
        }
    }
    return false;
}

} // namespace

struct SourceInfo::Impl {
    PF_Err error = PF_Err_NONE;
    PF_InData* in_data;
    PF_OutData* out_data;
    PF_SmartRenderExtra* extra;
    BPC bpc = BPC_8;
    ChannelOrder order = ChannelOrder::ARGB;
    PF_EffectWorld* input = nullptr;
    PF_EffectWorld* output = nullptr;
    AEGP_SuiteHandler suites; // keeps "AEGP Iterate Suite" once acquired

    Impl(PF_InData* in, PF_OutData* out, PF_SmartRenderExtra* ex)
        : in_data(in), out_data(out), extra(ex), suites(in->pica_basicP) {}

    void _initialize() {
        error = extra->cb->checkout_layer_pixels(in_data->effect_ref, kInputCheckoutId, &input);
        if (error == PF_Err_NONE && input == nullptr)
            error = PF_Err_BAD_CALLBACK_PARAM;
        if (error == PF_Err_NONE) {
            error = extra->cb->checkout_output(in_data->effect_ref, &output);
            if (error == PF_Err_NONE && output == nullptr)
                error = PF_Err_BAD_CALLBACK_PARAM;
        }
        if (error != PF_Err_NONE)
            return;

        void* suite = nullptr;
        error = AEFX_AcquireSuite(in_data, out_data, kPFWorldSuite, kPFWorldSuiteVersion2,
                                  "Couldn't load suite.", &suite);
        if (error == PF_Err_NONE) {
            const auto* worlds = static_cast<const PF_WorldSuite2*>(suite);
            PF_PixelFormat format = PF_PixelFormat_INVALID;
            error = worlds->PF_GetPixelFormat(input, &format);
            const bool known = layoutOf(format, bpc, order);
            if (error == PF_Err_NONE && !known)
                error = PF_Err_BAD_CALLBACK_PARAM;
            if (error == PF_Err_NONE) {
                PF_PixelFormat outputFormat = PF_PixelFormat_INVALID;
                error = worlds->PF_GetPixelFormat(output, &outputFormat);
                if (error == PF_Err_NONE && outputFormat != format)
                    error = PF_Err_BAD_CALLBACK_PARAM;
            }
        }
        if (suite != nullptr)
            AEFX_ReleaseSuite(in_data, out_data, kPFWorldSuite, kPFWorldSuiteVersion2,
                              "Couldn't release suite.");
    }
};

SourceInfo::SourceInfo(PF_InData* in_data, PF_OutData* out_data, PF_SmartRenderExtra* extra)
    : impl_(std::make_shared<Impl>(in_data, out_data, extra)) {
    impl_->_initialize();
}

PF_Err SourceInfo::getError() const {
    return impl_->error;
}

BPC SourceInfo::getBPC() const {
    return impl_->bpc;
}

ChannelOrder SourceInfo::getChannelOrder() const {
    return impl_->order;
}

int SourceInfo::getWidth() const {
    return impl_->in_data->width;
}

int SourceInfo::getHeight() const {
    return impl_->in_data->height;
}

double SourceInfo::getDownSampleX() const {
    const PF_RationalScale& s = impl_->in_data->downsample_x;
    return static_cast<double>(s.num) / static_cast<double>(s.den);
}

double SourceInfo::getDownSampleY() const {
    const PF_RationalScale& s = impl_->in_data->downsample_y;
    return static_cast<double>(s.num) / static_cast<double>(s.den);
}

int SourceInfo::getThreadNum() {
    if (impl_->error != PF_Err_NONE)
        return 1;
    A_long count = 1;
    impl_->error = impl_->suites.IterateSuite1()->AEGP_GetNumThreads(&count);
    return impl_->error == PF_Err_NONE ? count : 1;
}

PF_EffectWorld* SourceInfo::getInputWorld() const {
    return impl_->input;
}

PF_EffectWorld* SourceInfo::getOutputWorld() const {
    return impl_->output;
}

int SourceInfo::getInputWidth() const {
    return impl_->input->width;
}

int SourceInfo::getInputHeight() const {
    return impl_->input->height;
}

int SourceInfo::getOutputWidth() const {
    return impl_->output->width;
}

int SourceInfo::getOutputHeight() const {
    return impl_->output->height;
}

} // namespace Ombrel
