#include "Ombrel/OmbrelLayer.h"

#include <cstddef>
#include <cstring>

#include "HostInterface/SuiteInterface.h"
#include "Util/AEFX_SuiteHelper.h"
#include "Util/AEGP_SuiteHandler.h"

namespace Ombrel {

namespace {

constexpr char kLoadSuiteMessage[] = "Couldn't load suite.";
constexpr char kReleaseSuiteMessage[] = "Couldn't release suite.";

// "PF World Suite" v2 held for one scope through the suite helper; the failure message is
// already in out_data when acquisition fails.
class ScopedWorldSuite2 {
public:
    ScopedWorldSuite2(PF_InData* in_data, PF_OutData* out_data)
        : in_data_(in_data), out_data_(out_data) {
        err_ = AEFX_AcquireSuite(in_data_, out_data_, kPFWorldSuite, kPFWorldSuiteVersion2,
                                 kLoadSuiteMessage, &suite_);
    }
    ~ScopedWorldSuite2() {
        if (suite_ != nullptr)
            AEFX_ReleaseSuite(in_data_, out_data_, kPFWorldSuite, kPFWorldSuiteVersion2,
                              kReleaseSuiteMessage);
    }
    ScopedWorldSuite2(const ScopedWorldSuite2&) = delete;
    ScopedWorldSuite2& operator=(const ScopedWorldSuite2&) = delete;

    PF_Err error() const { return err_; }
    const PF_WorldSuite2* get() const { return static_cast<const PF_WorldSuite2*>(suite_); }

private:
    PF_InData* in_data_;
    PF_OutData* out_data_;
    void* suite_ = nullptr;
    PF_Err err_ = PF_Err_NONE;
};

} // namespace

struct Layer::Impl {
    PF_InData* in_data;
    PF_OutData* out_data;
    PF_Err err = PF_Err_NONE;
    Ownership ownership;
    BPC bpc;
    ChannelOrder order = ChannelOrder::ARGB;
    PF_LayerDef* world = nullptr; // null when a checkout failed or held no layer
    PF_ParamDef param;
    PF_Pixel* pixels8 = nullptr;
    PF_Pixel16* pixels16 = nullptr;
    PF_PixelFloat* pixels32 = nullptr;
    int width = 0;
    int height = 0;
    int rowWidth = 0; // pixels per row, padding included
    // The host handed out param: it is checked back in even when it holds no layer, so that an
    // empty layer parameter is not left checked out.
    bool checkedOut = false;

    Impl(PF_InData* in, PF_OutData* out, Ownership own, BPC depth)
        : in_data(in), out_data(out), ownership(own), bpc(depth) {
        std::memset(&param, 0, sizeof(param));
    }

    ~Impl() {
        switch (ownership) {
        case Created:
            // A missing suite throws from the handler; that must not leave a destructor. The
            // world then stays undisposed.
            try {
                _disposeWorld();
            } catch (...) {
            }
            delete world;
            break;
        case CheckedOut:
            _checkinWorld();
            break;
        case Wrapped:
            break;
        }
    }

    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;

    void _calcWidth() {
        pixels8 = world->data;
        pixels16 = reinterpret_cast<PF_Pixel16*>(world->data);
        pixels32 = reinterpret_cast<PF_PixelFloat*>(world->data);
        width = world->width;
        height = world->height;
        switch (bpc) {
        case BPC_8:
            rowWidth = world->rowbytes >> 2;
            break;
        case BPC_16:
            rowWidth = world->rowbytes >> 3;
            break;
        case BPC_32:
            rowWidth = world->rowbytes >> 4;
            break;
        }
    }

    void _checkoutWorld(int index, const A_Time& time) {
        if (err != PF_Err_NONE)
            return;
        err = in_data->inter.checkout_param(in_data->effect_ref, index, time.value,
                                            in_data->time_step, time.scale, &param);
        checkedOut = err == PF_Err_NONE;
        if (checkedOut && param.u.ld.data != nullptr) {
            world = &param.u.ld;
            _calcWidth();
        }
    }

    void _checkinWorld() {
        if (checkedOut)
            in_data->inter.checkin_param(in_data->effect_ref, &param);
        checkedOut = false;
    }

    void _createWorld(int w, int h) {
        AEGP_SuiteHandler suites(in_data->pica_basicP);
        switch (bpc) {
        case BPC_32: {
            ScopedWorldSuite2 worldSuite(in_data, out_data);
            if (worldSuite.error() != PF_Err_NONE)
                err = worldSuite.error();
            else if (err == PF_Err_NONE)
                err = worldSuite.get()->PF_NewWorld(in_data->effect_ref, w, h, true,
                                                    PF_PixelFormat_ARGB128, world);
            break;
        }
        case BPC_16:
            if (err == PF_Err_NONE)
                err = suites.WorldSuite1()->new_world(
                    in_data->effect_ref, w, h,
                    PF_NewWorldFlag_CLEAR_PIXELS | PF_NewWorldFlag_DEEP_PIXELS, world);
            break;
        case BPC_8:
            if (err == PF_Err_NONE)
                err = suites.WorldSuite1()->new_world(in_data->effect_ref, w, h,
                                                      PF_NewWorldFlag_CLEAR_PIXELS, world);
            break;
        }
    }

    void _disposeWorld() {
        if (world == nullptr || world->data == nullptr)
            return;
        AEGP_SuiteHandler suites(in_data->pica_basicP);
        switch (bpc) {
        case BPC_32: {
            ScopedWorldSuite2 worldSuite(in_data, out_data);
            if (worldSuite.error() == PF_Err_NONE)
                worldSuite.get()->PF_DisposeWorld(in_data->effect_ref, world);
            break;
        }
        case BPC_16:
        case BPC_8:
            suites.WorldSuite1()->dispose_world(in_data->effect_ref, world);
            break;
        }
    }

    // Element addresses from the row stride in pointer-sized arithmetic, so that worlds of more
    // than 2^31 pixels address correctly.
    PF_Pixel* _pixel8(int x, int y) const {
        return pixels8 + static_cast<std::ptrdiff_t>(y) * rowWidth + x;
    }
    PF_Pixel16* _pixel16(int x, int y) const {
        return pixels16 + static_cast<std::ptrdiff_t>(y) * rowWidth + x;
    }
    PF_PixelFloat* _pixel32(int x, int y) const {
        return pixels32 + static_cast<std::ptrdiff_t>(y) * rowWidth + x;
    }
};

Layer::Layer(PF_InData* in_data, PF_OutData* out_data, PF_LayerDef* world, BPC bpc,
             ChannelOrder order)
    : impl_(new Impl(in_data, out_data, Wrapped, bpc)) {
    impl_->order = order;
    impl_->world = world;
    impl_->_calcWidth();
}

Layer::Layer(PF_InData* in_data, PF_OutData* out_data, int index, const A_Time& time, BPC bpc)
    : impl_(new Impl(in_data, out_data, CheckedOut, bpc)) {
    impl_->_checkoutWorld(index, time);
}

Layer::Layer(PF_InData* in_data, PF_OutData* out_data, int width, int height, BPC bpc)
    : impl_(new Impl(in_data, out_data, Created, bpc)) {
    // The record is owned by impl_ from here on, so a throwing suite handler frees it.
    impl_->world = new PF_LayerDef();
    impl_->world->data = nullptr;
    impl_->_createWorld(width, height);
    if (impl_->world->data != nullptr)
        impl_->_calcWidth();
}

Layer Layer::clone() {
    Impl& self = *impl_;
    Layer copy(self.in_data, self.out_data, self.width, self.height, self.bpc);
    if (self.err != PF_Err_NONE)
        return copy;
    PF_LayerDef* target = copy.impl_->world;
    if (self.world == nullptr || self.world->data == nullptr || target->data == nullptr)
        return copy;
    self.err =
        self.in_data->utils->copy(self.in_data->effect_ref, self.world, target, nullptr, nullptr);
    return copy;
}

PF_Err Layer::getError() const {
    return impl_->err;
}

PF_LayerDef* Layer::getWorld() {
    return impl_->world;
}

BPC Layer::getBPC() const {
    return impl_->bpc;
}

ChannelOrder Layer::getChannelOrder() const {
    return impl_->order;
}

int Layer::getWidth() const {
    return impl_->world->width;
}

int Layer::getHeight() const {
    return impl_->world->height;
}

Rect Layer::getSize() const {
    return Rect(0, 0, impl_->world->width, impl_->world->height);
}

ColorFloat<float> Layer::getPixel(int x, int y) {
    const bool bgra = impl_->order == ChannelOrder::BGRA;
    switch (impl_->bpc) {
    case BPC_16:
        return ColorFloat<float>(*impl_->_pixel16(x, y));
    case BPC_32: {
        const PF_PixelFloat* p = impl_->_pixel32(x, y);
        if (!bgra)
            return ColorFloat<float>(*p);
        const auto& q = *reinterpret_cast<const PixelBGRAFloat*>(p);
        return ColorFloat<float>(PF_PixelFloat{q.alpha, q.red, q.green, q.blue});
    }
    case BPC_8:
    default: {
        const PF_Pixel* p = impl_->_pixel8(x, y);
        if (!bgra)
            return ColorFloat<float>(*p);
        const auto& q = *reinterpret_cast<const PixelBGRA8*>(p);
        return ColorFloat<float>(PF_Pixel{q.alpha, q.red, q.green, q.blue});
    }
    }
}

bool Layer::equalTo(Layer& other) {
    return impl_->world->data == other.impl_->world->data;
}

bool Layer::equalInSize(Layer& other) {
    return impl_->world->width == other.impl_->world->width &&
           impl_->world->height == other.impl_->world->height;
}

} // namespace Ombrel
