// Converts a region of a layer between RGB and YUV, HLS or HSB into another layer of the same
// size, alpha copied unchanged. The conversions, their popup values and their channel encodings
// are listed in OmbrelConversions.h.
//
// Forward conversions store the target system's three components in red, green and blue:
//   YUV: Y, U + 0.5, V + 0.5          HLS: H / 360, L, S          HSB: H / 360, S, B
// and the backward conversions read exactly that. At 8 and 16 bits every stored channel is
// v * M + 0.5 (M = 255 or 32768; hue H * (M / 360) in one multiplication) clamped to 0..M and
// truncated; at 32 bits the input is clamped to 0..1 and the results are stored unclamped.
#pragma once

#include "HostInterface/EffectInterface.h"
#include "Ombrel/Filter/OmbrelConversions.h"
#include "Ombrel/Filter/OmbrelFilter.h"
#include "Ombrel/OmbrelGeneral.h"
#include "Ombrel/OmbrelLayer.h"
#include "Ombrel/Pimpl.h"

namespace Ombrel {

namespace Kernels {
enum class Path; // Ombrel/Filter/Kernels/KernelPath.h
}

class ColorSpaceConversion : public IFilterWithRegion {
public:
    class Parameter {
    public:
        // The popup's value; any value that names no conversion converts nothing.
        using Type = ConversionType;

        Parameter() = default;
        // Stored unchecked.
        Parameter& setType(Type type) {
            type_ = type;
            return *this;
        }
        Type type() const { return type_; }

    private:
        Type type_ = RGB_TO_YUV;
    };

    explicit ColorSpaceConversion(const Parameter& param);
    ~ColorSpaceConversion() override;

    // Copying would share the holder; copy a filter through its holder's Clone if ever needed.
    ColorSpaceConversion(const ColorSpaceConversion&) = delete;
    ColorSpaceConversion& operator=(const ColorSpaceConversion&) = delete;

    // Decides once, for a frame's bands over src and dst, what every band would otherwise
    // decide again: the layout, the conversion's row kernels and the kernel path. Called before
    // the bands start; execute on other layers decides for itself.
    void prepare(Layer& src, Layer& dst);

    // The whole of src.
    void execute(Layer& src, Layer& dst) override;
    // Only dst's pixels inside region clipped to src are written. Safe to call concurrently for
    // disjoint regions of the same layers, and with src and dst wrapping one world. Layers of
    // different sizes or an unknown depth are left untouched. Pixels are read and written in
    // the source's layout (depth and channel order).
    void execute(Layer& src, Layer& dst, const Rect& region) override;
    // How a vector path writes the output: by the frame's size (streaming stores, past the
    // caches, for 32-bit frames larger than the last-level cache; ordinary ones for the rest),
    // or forced, for tests and benchmarks. The scalar path always writes ordinarily. The bytes
    // are the same either way.
    enum class Stores { BySize, Ordinary, Streaming };
    // The same on the given kernel path instead of the process's choice, for comparing paths; a
    // path this build or CPU lacks runs the scalar code.
    void executeOnPath(Layer& src, Layer& dst, const Rect& region, Kernels::Path path,
                       Stores stores = Stores::BySize);

    class Impl;

private:
    ImplHolderBase* holder;
};

} // namespace Ombrel
