#include "Ombrel/Filter/OmbrelColorSpaceConversion.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <type_traits>
#include <utility>

#include "Ombrel/Filter/Kernels/RowKernels.h"

#if defined(__x86_64__) || defined(_M_X64)
#include <emmintrin.h>
#define OMBREL_STREAMING_STORES 1
#else
#define OMBREL_STREAMING_STORES 0
#endif

namespace Ombrel {

namespace {

using Type = ColorSpaceConversion::Parameter::Type;
using Stores = ColorSpaceConversion::Stores;

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
    using Channel = PF_FpShort;
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

// The BGRA records of the depths that have them: the same channels in other places.
struct Depth8Bgra : Depth8 {
    using Pixel = PixelBGRA8;
    static ColorFloat<float> load(const Pixel& p) {
        return Depth8::load(PF_Pixel{p.alpha, p.red, p.green, p.blue});
    }
};

struct Depth32Bgra : Depth32 {
    using Pixel = PixelBGRAFloat;
    static ColorFloat<float> load(const Pixel& p) {
        return Depth32::load(PF_PixelFloat{p.alpha, p.red, p.green, p.blue});
    }
};

// A stored component (normalised channel) in the system's own units.
template <Encoding E>
float decode(float v) {
    if constexpr (E == Encoding::Centred) {
        return v + -0.5f;
    } else if constexpr (E == Encoding::Hue) {
        return v * 360.0f;
    } else {
        return v;
    }
}

// A component in the system's own units as a channel of depth D. At 8 and 16 bits it is scaled
// to channel units (the hue by K in one multiplication, not by M and then / 360) and rounded
// half up; at 32 bits it is stored unclamped.
template <class D, Encoding E>
typename D::Channel encode(float v) {
    if constexpr (!D::kQuantized) {
        if constexpr (E == Encoding::Centred) {
            return v + 0.5f;
        } else if constexpr (E == Encoding::Hue) {
            return v / 360.0f;
        } else {
            return v;
        }
    } else {
        float scaled;
        if constexpr (E == Encoding::Centred) {
            scaled = (v + 0.5f) * D::kMax;
        } else if constexpr (E == Encoding::Hue) {
            scaled = v * D::kHueScale;
        } else {
            scaled = v * D::kMax;
        }
        return quantizeRoundHalfUp<typename D::Channel>(scaled, D::kMax);
    }
}

// Converts one row of width pixels with the conversion of table row I, alpha copied. Each
// source pixel is read whole before its destination is written: src and dst may be one world.
// Every row kernel of a depth has this signature, so a band picks one and runs it row by row.
template <class D>
using RowKernel = void (*)(const typename D::Pixel* src, typename D::Pixel* dst, int width);

template <class D, std::size_t I>
void convertRow(const typename D::Pixel* src, typename D::Pixel* dst, int width) {
    constexpr const Conversion& kRow = kConversions[I];
    constexpr const ColourSystem& kFrom = kRow.from();
    constexpr const ColourSystem& kTo = kRow.to();
    for (int x = 0; x < width; ++x) {
        const typename D::Pixel p = src[x];
        typename D::Pixel& d = dst[x];
        d.alpha = p.alpha;
        ColorFloat<float> c = D::load(p);
        c.red = decode<kFrom.encodings[0]>(c.red);
        c.green = decode<kFrom.encodings[1]>(c.green);
        c.blue = decode<kFrom.encodings[2]>(c.blue);
        const ColorFloat<float> r = kRow.apply(c);
        d.red = encode<D, kTo.encodings[0]>(r.red);
        d.green = encode<D, kTo.encodings[1]>(r.green);
        d.blue = encode<D, kTo.encodings[2]>(r.blue);
    }
}

// For a value that names no conversion: alpha only.
template <class D>
void copyAlphaRow(const typename D::Pixel* src, typename D::Pixel* dst, int width) {
    for (int x = 0; x < width; ++x)
        dst[x].alpha = src[x].alpha;
}

template <class D, std::size_t... I>
constexpr std::array<RowKernel<D>, sizeof...(I)> rowKernels(std::index_sequence<I...>) {
    return {{&convertRow<D, I>...}};
}

// The scalar row kernels of a depth, by table row.
template <class D>
constexpr std::array<RowKernel<D>, kConversionCount>
    kRowKernels = rowKernels<D>(std::make_index_sequence<kConversionCount>());

template <class D>
RowKernel<D> rowKernel(Type type) {
    const std::size_t row = conversionIndex(type);
    return row < kConversionCount ? kRowKernels<D>[row] : &copyAlphaRow<D>;
}

// Rows of one world as typed pointers, stepped by the world's own stride (rowbytes over the
// pixel size, so padding is skipped), in pointer-sized arithmetic.
template <class Pixel, class Byte>
class Rows {
public:
    Rows(Byte* data, A_long rowbytes, const Rect& r)
        : stride_(rowbytes / static_cast<A_long>(sizeof(Pixel))),
          row_(reinterpret_cast<Pixel*>(data) + static_cast<std::ptrdiff_t>(r.top) * stride_ +
               r.left) {}
    Pixel* get() const { return row_; }
    void next() { row_ += stride_; }

private:
    std::ptrdiff_t stride_;
    Pixel* row_;
};

// A depth's vector kernel for table row `row`, if the path has one.
template <class D>
Kernels::RowKernel<typename D::Pixel> vectorKernel(const Kernels::RowKernels* k, std::size_t row) {
    if (k == nullptr || row >= static_cast<std::size_t>(Kernels::kKernelConversions))
        return nullptr;
    if constexpr (std::is_same_v<D, Depth8>)
        return k->row8[row];
    else if constexpr (std::is_same_v<D, Depth8Bgra>)
        return k->row8Bgra[row];
    else if constexpr (std::is_same_v<D, Depth16>)
        return k->row16[row];
    else if constexpr (std::is_same_v<D, Depth32Bgra>)
        return k->row32Bgra[row];
    else
        return k->row32[row];
}

// The ARGB kernel with streaming stores of a path with vector kernels, or null.
template <class D>
Kernels::RowKernel<typename D::Pixel> streamKernel(const Kernels::RowKernels& k, std::size_t row) {
    if constexpr (std::is_same_v<D, Depth8>)
        return k.stream8[row];
    else if constexpr (std::is_same_v<D, Depth16>)
        return k.stream16[row];
    else if constexpr (std::is_same_v<D, Depth32>)
        return k.stream32[row];
    else
        return nullptr;
}

// Fewer pixels than a vector (a row's tail) through the vector kernel, by way of a vector's
// worth of copies: the same bytes as the scalar code, at a fraction of its cost.
template <class Pixel>
void convertFew(Kernels::RowKernel<Pixel> kernel, int lanes, const Pixel* src, Pixel* dst,
                int count) {
    Pixel in[Kernels::kMaxLanes] = {};
    Pixel out[Kernels::kMaxLanes];
    std::copy(src, src + count, in);
    kernel(in, out, lanes);
    std::copy(out, out + count, dst);
}

// 32-bit ARGB frames whose two worlds together hold more bytes than this are written with
// streaming stores by BySize: the output would not stay in the last-level cache anyway, and
// streaming stores write whole lines without first reading them, so the frame moves a third
// fewer bytes. Measured (bench/RESULTS.md) on a 32 MB last-level cache: 32-bit YUV to RGB gains
// from about that size on and loses below it. 8- and 16-bit kernels, with four and two times the
// arithmetic per byte, gained nothing with them at any size up to 133 MB on AMD cores and take
// them on Intel ones only (kStreams8 and kStreams16 below).
constexpr std::size_t kStreamingBytes = std::size_t(32) << 20;

// The 8- and 16-bit conversions that take streaming stores past that size where the processor
// gains from them (Kernels::streams8And16), by the kernels' rows: those bound by the memory. On
// an Intel Xeon core through the simulated host, one thread, 3840 x 2160, streaming/ordinary:
// 8-bit YUV to RGB 0.71; 16-bit RGB to YUV and YUV to RGB 0.67, RGB to HLS 0.87, RGB to HSB 0.88.
// The rest, bound by their arithmetic, were 0.98 to 1.03, and 8-bit RGB to YUV 1.09.
constexpr bool kStreams8[Kernels::kKernelConversions] = {false, true, false, false, false, false};
constexpr bool kStreams16[Kernels::kKernelConversions] = {true, true, true, false, true, false};

// One row with streaming stores: the pixels before dst's first aligned one and the row's tail
// through convertFew (ordinary stores), the vectors between through the stream kernel. A row
// whose dst is not even aligned to its pixels runs the ordinary kernel.
template <class Pixel>
void convertRowStreaming(Kernels::RowKernel<Pixel> vector, Kernels::RowKernel<Pixel> stream,
                         int lanes, int alignment, const Pixel* src, Pixel* dst, int width) {
    const std::size_t address = reinterpret_cast<std::uintptr_t>(dst);
    const std::size_t aligned = static_cast<std::size_t>(alignment);
    const std::size_t misaligned = address % aligned;
    const int head =
        address % sizeof(Pixel) != 0
            ? lanes
            : static_cast<int>((misaligned == 0 ? 0 : aligned - misaligned) / sizeof(Pixel));
    if (head >= lanes || head >= width) {
        const int whole = width / lanes * lanes;
        vector(src, dst, whole);
        if (whole < width)
            convertFew(vector, lanes, src + whole, dst + whole, width - whole);
        return;
    }
    if (head > 0)
        convertFew(vector, lanes, src, dst, head);
    const int whole = (width - head) / lanes * lanes;
    stream(src + head, dst + head, whole);
    if (head + whole < width)
        convertFew(vector, lanes, src + head + whole, dst + head + whole, width - head - whole);
}

// Runs the row kernels over r, a non-empty region inside both worlds: the vector kernel, when
// there is one (its stream form when given one), else the scalar one.
template <class D>
void convertRegion(RowKernel<D> scalar, Kernels::RowKernel<typename D::Pixel> vector, int lanes,
                   Kernels::RowKernel<typename D::Pixel> stream, int alignment,
                   const PF_LayerDef& src, PF_LayerDef& dst, const Rect& r) {
    using Pixel = typename D::Pixel;
    Rows<const Pixel, const PF_Pixel> in(src.data, src.rowbytes, r);
    Rows<Pixel, PF_Pixel> out(dst.data, dst.rowbytes, r);
    const int width = r.getWidth();
    const int whole = vector != nullptr ? width / lanes * lanes : 0;
    for (int y = r.top; y < r.bottom; ++y, in.next(), out.next()) {
        const Pixel* s = in.get();
        Pixel* d = out.get();
        if (vector == nullptr) {
            scalar(s, d, width);
        } else if (stream != nullptr) {
            convertRowStreaming(vector, stream, lanes, alignment, s, d, width);
        } else {
            vector(s, d, whole);
            if (whole < width)
                convertFew(vector, lanes, s + whole, d + whole, width - whole);
        }
    }
#if OMBREL_STREAMING_STORES
    // Streaming stores are weakly ordered: fenced before the band returns, so that the thread
    // that waits for the band sees them.
    if (vector != nullptr && stream != nullptr)
        _mm_sfence();
#endif
}

// The bytes of a frame's worlds: both, or one when src and dst are the same world.
std::size_t frameBytes(const PF_LayerDef& src, const PF_LayerDef& dst) {
    const auto bytes = [](const PF_LayerDef& w) {
        return static_cast<std::size_t>(w.rowbytes < 0 ? -w.rowbytes : w.rowbytes) *
               static_cast<std::size_t>(w.height < 0 ? 0 : w.height);
    };
    return bytes(src) + (src.data == dst.data ? 0 : bytes(dst));
}

// What every band of a frame runs, decided once per frame: the loop of the layers' layout and
// the row kernels of the conversion on the kernel path. The kernels are kept as untyped function
// pointers and turned back into the layout's types by `run`, which was made for that layout.
struct Plan {
    using AnyRow = void (*)();
    using Run = void (*)(const Plan& plan, const PF_LayerDef& src, PF_LayerDef& dst, const Rect& r);

    Run run = nullptr; // null: nothing to convert (layers of different sizes, unknown depth)
    AnyRow scalar = nullptr;
    AnyRow vector = nullptr; // null: the scalar kernel alone
    int lanes = 0;
    AnyRow stream = nullptr; // the vector kernel with streaming stores, when the frame takes them
    int alignment = 0;       // of dst for the stream kernel, in bytes
    const PF_LayerDef* src = nullptr; // the worlds it was made for
    const PF_LayerDef* dst = nullptr;
};

template <class D>
void runPlan(const Plan& plan, const PF_LayerDef& src, PF_LayerDef& dst, const Rect& r) {
    convertRegion<D>(reinterpret_cast<RowKernel<D>>(plan.scalar),
                     reinterpret_cast<Kernels::RowKernel<typename D::Pixel>>(plan.vector),
                     plan.lanes,
                     reinterpret_cast<Kernels::RowKernel<typename D::Pixel>>(plan.stream),
                     plan.alignment, src, dst, r);
}

template <class D>
void planLayout(Plan& plan, Type type, const Kernels::RowKernels* k, Stores stores) {
    const std::size_t row = conversionIndex(type);
    const Kernels::RowKernel<typename D::Pixel> vector = vectorKernel<D>(k, row);
    plan.run = &runPlan<D>;
    plan.scalar = reinterpret_cast<Plan::AnyRow>(rowKernel<D>(type));
    plan.vector = reinterpret_cast<Plan::AnyRow>(vector);
    plan.lanes = vector != nullptr ? k->lanes : 0;
    // Only ARGB kernels have a stream form.
    constexpr bool k32 = std::is_same_v<D, Depth32>, k8 = std::is_same_v<D, Depth8>;
    if constexpr (k32 || k8 || std::is_same_v<D, Depth16>) {
        const bool bySize =
            stores == Stores::BySize && frameBytes(*plan.src, *plan.dst) > kStreamingBytes &&
            (k32 || (Kernels::streams8And16() && (k8 ? kStreams8 : kStreams16)[row]));
        const Kernels::RowKernel<typename D::Pixel> stream =
            OMBREL_STREAMING_STORES && vector != nullptr && (stores == Stores::Streaming || bySize)
                ? streamKernel<D>(*k, row)
                : nullptr;
        if (stream != nullptr) {
            plan.stream = reinterpret_cast<Plan::AnyRow>(stream);
            plan.alignment = k->streamAlignment;
        }
    }
}

} // namespace

class ColorSpaceConversion::Impl {
public:
    explicit Impl(const Parameter& param) : param_(param) {}

    // The plan for src and dst on one kernel path (null kernels: the scalar code alone). The
    // layout is the source's: the depth of dst is not looked at, and the render path gives both
    // layers the layout of one pixel format.
    Plan plan(Layer& src, Layer& dst, const Kernels::RowKernels* kernels,
              Stores stores = Stores::BySize) const {
        Plan p;
        p.src = src.getWorld();
        p.dst = dst.getWorld();
        if (!src.equalInSize(dst))
            return p;
        const bool bgra = src.getChannelOrder() == ChannelOrder::BGRA;
        switch (src.getBPC()) {
        case BPC_8:
            if (bgra)
                planLayout<Depth8Bgra>(p, param_.type(), kernels, stores);
            else
                planLayout<Depth8>(p, param_.type(), kernels, stores);
            break;
        case BPC_16: // no BGRA world has 16 bits
            planLayout<Depth16>(p, param_.type(), kernels, stores);
            break;
        case BPC_32:
            if (bgra)
                planLayout<Depth32Bgra>(p, param_.type(), kernels, stores);
            else
                planLayout<Depth32>(p, param_.type(), kernels, stores);
            break;
        }
        return p;
    }

    // One region by a plan made for these layers.
    static void execute(const Plan& p, Layer& src, Layer& dst, const Rect& region) {
        if (p.run == nullptr)
            return;
        const Rect clipped = region.intersect(src.getSize());
        if (clipped.isEmpty())
            return;
        p.run(p, *src.getWorld(), *dst.getWorld(), clipped);
    }

    void prepare(Layer& src, Layer& dst) {
        prepared_ = plan(src, dst, Kernels::rowKernels(Kernels::activePath()));
    }
    // The prepared plan when it was made for these worlds.
    const Plan* preparedFor(Layer& src, Layer& dst) const {
        if (prepared_.src == nullptr || prepared_.src != src.getWorld() ||
            prepared_.dst != dst.getWorld())
            return nullptr;
        return &prepared_;
    }

private:
    Parameter param_;
    Plan prepared_; // written by prepare before a frame's bands start, then only read
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

void ColorSpaceConversion::prepare(Layer& src, Layer& dst) {
    static_cast<Impl*>(holder->GetPtr())->prepare(src, dst);
}

void ColorSpaceConversion::execute(Layer& src, Layer& dst, const Rect& region) {
    const Impl& impl = *static_cast<Impl*>(holder->GetPtr());
    if (const Plan* plan = impl.preparedFor(src, dst)) {
        Impl::execute(*plan, src, dst, region);
        return;
    }
    executeOnPath(src, dst, region, Kernels::activePath());
}

void ColorSpaceConversion::executeOnPath(Layer& src, Layer& dst, const Rect& region,
                                         Kernels::Path path, Stores stores) {
    const Impl& impl = *static_cast<Impl*>(holder->GetPtr());
    Impl::execute(impl.plan(src, dst, Kernels::rowKernels(path), stores), src, dst, region);
}

} // namespace Ombrel
