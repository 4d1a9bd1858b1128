#include "Ombrel/Filter/OmbrelColorSpaceConversion.h"

#include <cstddef>
#include <memory>

#include "Ombrel/OmbrelColorsys.h"

namespace Ombrel {

namespace {

using Type = ColorSpaceConversion::Parameter::Type;
using Parameter = ColorSpaceConversion::Parameter;

// One host pixel record per depth: its storage, channel scale M and hue scale K = M / 360
// (the float nearest the quotient, applied in one multiplication).
struct Depth8 {
    using Pixel = PF_Pixel;
    using Channel = A_u_char;
    static constexpr bool kQuantized = true;
    static constexpr float kMax = 255.0f;
    static constexpr float kHueScale = 255.0f / 360.0f; // 0.70833331
    static ColorFloat<float> load(const Pixel& p) { return ColorFloat<float>(p); }
};

struct Depth16 {
    using Pixel = PF_Pixel16;
    using Channel = A_u_short;
    static constexpr bool kQuantized = true;
    static constexpr float kMax = 32768.0f;               // 16-bit channels run 0..32768, not 65535
    static constexpr float kHueScale = 32768.0f / 360.0f; // 91.022224
    static ColorFloat<float> load(const Pixel& p) { return ColorFloat<float>(p); }
};

struct Depth32 {
    using Pixel = PF_PixelFloat;
    static constexpr bool kQuantized = false;
    // Colour inputs are limited to 0..1 before converting (+inf reads as 1, -inf and NaN as
    // 0, so no result is ever NaN); alpha and the results are not limited.
    static ColorFloat<float> load(const Pixel& p) {
        ColorFloat<float> c(p);
        c.clamp(1.0f);
        c.red = zeroIfNaN(c.red);
        c.green = zeroIfNaN(c.green);
        c.blue = zeroIfNaN(c.blue);
        return c;
    }
    // NaN fails both comparisons of clamp, so it is caught after it.
    static float zeroIfNaN(float v) { return v == v ? v : 0.0f; }
};

// v clamped to 0..M and truncated; negative values and NaN store 0.
template <class D>
typename D::Channel quantize(float v) {
    if (!(v >= 0.0f))
        return 0;
    if (v > D::kMax)
        return static_cast<typename D::Channel>(D::kMax);
    return static_cast<typename D::Channel>(v);
}

// Decodes the stored components (backward types) and applies the colour-system function.
template <Type T>
ColorFloat<float> convert(ColorFloat<float> c) {
    if constexpr (T == Parameter::RGB_TO_YUV) {
        return Colorsys::RgbToYuv(c);
    } else if constexpr (T == Parameter::YUV_TO_RGB) {
        c.green = c.green + -0.5f;
        c.blue = c.blue + -0.5f;
        return Colorsys::YuvToRgb(c);
    } else if constexpr (T == Parameter::RGB_TO_HLS) {
        return Colorsys::RgbToHls(c);
    } else if constexpr (T == Parameter::HLS_TO_RGB) {
        c.red = c.red * 360.0f;
        return Colorsys::HlsToRgb(c);
    } else if constexpr (T == Parameter::RGB_TO_HSB) {
        return Colorsys::RgbToHsb(c);
    } else {
        static_assert(T == Parameter::HSB_TO_RGB);
        c.red = c.red * 360.0f;
        return Colorsys::HsbToRgb(c);
    }
}

constexpr bool isForward(Type t) {
    return t == Parameter::RGB_TO_YUV || t == Parameter::RGB_TO_HLS || t == Parameter::RGB_TO_HSB;
}

// Encodes a result's red, green and blue into the destination pixel (alpha is not touched).
template <class D, Type T>
void store(const ColorFloat<float>& r, typename D::Pixel& d) {
    if constexpr (D::kQuantized) {
        constexpr float M = D::kMax;
        if constexpr (T == Parameter::RGB_TO_YUV) {
            d.red = quantize<D>(r.red * M + 0.5f);
            d.green = quantize<D>((r.green + 0.5f) * M + 0.5f);
            d.blue = quantize<D>((r.blue + 0.5f) * M + 0.5f);
        } else if constexpr (isForward(T)) { // HLS or HSB: hue first
            d.red = quantize<D>(r.red * D::kHueScale + 0.5f);
            d.green = quantize<D>(r.green * M + 0.5f);
            d.blue = quantize<D>(r.blue * M + 0.5f);
        } else {
            d.red = quantize<D>(r.red * M + 0.5f);
            d.green = quantize<D>(r.green * M + 0.5f);
            d.blue = quantize<D>(r.blue * M + 0.5f);
        }
    } else {
        if constexpr (T == Parameter::RGB_TO_YUV) {
            d.red = r.red;
            d.green = r.green + 0.5f;
            d.blue = r.blue + 0.5f;
        } else if constexpr (isForward(T)) {
            d.red = r.red / 360.0f;
            d.green = r.green;
            d.blue = r.blue;
        } else {
            d.red = r.red;
            d.green = r.green;
            d.blue = r.blue;
        }
    }
}

// A clipped, non-empty region: columns left..right-1, rows top..bottom-1.
struct Bounds {
    int left, top, right, bottom;
};

// Rows of one world as typed pointers, stepped by the world's own stride (rowbytes over the
// pixel size, so padding is skipped), in pointer-sized arithmetic.
template <class Pixel, class Byte>
class Rows {
public:
    Rows(Byte* data, A_long rowbytes, const Bounds& b)
        : stride_(rowbytes / static_cast<A_long>(sizeof(Pixel))),
          row_(reinterpret_cast<Pixel*>(data) + static_cast<std::ptrdiff_t>(b.top) * stride_ +
               b.left) {}
    Pixel* get() const { return row_; }
    void next() { row_ += stride_; }

private:
    std::ptrdiff_t stride_;
    Pixel* row_;
};

template <class D, class PerPixel>
void forEachPixel(const PF_LayerDef& src, PF_LayerDef& dst, const Bounds& b, PerPixel perPixel) {
    using Pixel = typename D::Pixel;
    Rows<const Pixel, const PF_Pixel> in(src.data, src.rowbytes, b);
    Rows<Pixel, PF_Pixel> out(dst.data, dst.rowbytes, b);
    const int width = b.right - b.left;
    for (int y = b.top; y < b.bottom; ++y, in.next(), out.next()) {
        const Pixel* s = in.get();
        Pixel* d = out.get();
        for (int x = 0; x < width; ++x, ++s, ++d) {
            // Read the whole pixel first: src and dst may be the same world.
            const Pixel p = *s;
            d->alpha = p.alpha;
            perPixel(p, *d);
        }
    }
}

template <class D, Type T>
void convertRegion(const PF_LayerDef& src, PF_LayerDef& dst, const Bounds& b) {
    using Pixel = typename D::Pixel;
    forEachPixel<D>(src, dst, b,
                    [](const Pixel& p, Pixel& d) { store<D, T>(convert<T>(D::load(p)), d); });
}

// The conversion is chosen once per region; an unknown type writes alpha only.
template <class D>
void convertDepth(Type type, const PF_LayerDef& src, PF_LayerDef& dst, const Bounds& b) {
    using Pixel = typename D::Pixel;
    switch (type) {
    case Parameter::RGB_TO_YUV:
        return convertRegion<D, Parameter::RGB_TO_YUV>(src, dst, b);
    case Parameter::YUV_TO_RGB:
        return convertRegion<D, Parameter::YUV_TO_RGB>(src, dst, b);
    case Parameter::RGB_TO_HLS:
        return convertRegion<D, Parameter::RGB_TO_HLS>(src, dst, b);
    case Parameter::HLS_TO_RGB:
        return convertRegion<D, Parameter::HLS_TO_RGB>(src, dst, b);
    case Parameter::RGB_TO_HSB:
        return convertRegion<D, Parameter::RGB_TO_HSB>(src, dst, b);
    case Parameter::HSB_TO_RGB:
        return convertRegion<D, Parameter::HSB_TO_RGB>(src, dst, b);
    }
    forEachPixel<D>(src, dst, b, [](const Pixel&, Pixel&) {});
}

} // namespace

class ColorSpaceConversion::Impl {
public:
    explicit Impl(const Parameter& param) : param_(param) {}

    void execute(Layer& src, Layer& dst, const Rect& region) {
        if (!src.equalInSize(dst))
            return;
        switch (src.getBPC()) {
        case BPC_8:
            _convert8(src, dst, region);
            break;
        case BPC_16:
            _convert16(src, dst, region);
            break;
        case BPC_32:
            _convert32(src, dst, region);
            break;
        }
    }

    void _convert8(Layer& src, Layer& dst, const Rect& region) {
        _convert<Depth8>(src, dst, region);
    }
    void _convert16(Layer& src, Layer& dst, const Rect& region) {
        _convert<Depth16>(src, dst, region);
    }
    void _convert32(Layer& src, Layer& dst, const Rect& region) {
        _convert<Depth32>(src, dst, region);
    }

private:
    template <class D>
    void _convert(Layer& src, Layer& dst, const Rect& region) {
        const PF_LayerDef& in = *src.getWorld();
        Bounds b{region.left > 0 ? region.left : 0, region.top > 0 ? region.top : 0,
                 region.right < in.width ? region.right : in.width,
                 region.bottom < in.height ? region.bottom : in.height};
        if (b.bottom - b.top <= 0 || b.right - b.left <= 0)
            return;
        convertDepth<D>(param_.type(), in, *dst.getWorld(), b);
    }

    Parameter param_;
};

ColorSpaceConversion::ColorSpaceConversion(const Parameter& param) : holder(nullptr) {
    std::unique_ptr<Impl> impl(new Impl(param));
    holder = new ImplHolder<Impl>(impl.get());
    impl.release();
}

ColorSpaceConversion::~ColorSpaceConversion() {
    delete holder;
}

void ColorSpaceConversion::execute(Layer& src, Layer& dst) {
    execute(src, dst, src.getSize());
}

void ColorSpaceConversion::execute(Layer& src, Layer& dst, const Rect& region) {
    static_cast<Impl*>(holder->GetPtr())->execute(src, dst, region);
}

} // namespace Ombrel
