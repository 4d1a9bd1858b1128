// Reference-counted handle to one host image buffer (a PF_LayerDef).
//
// Copies share one Impl record; the last copy gives back what the Layer acquired: a checked-out
// parameter is checked in, a created world is disposed through the host. A Layer holds the
// in_data/out_data of the command it was made in and must not outlive that command.
//
// Errors are not thrown: host results are recorded and read with getError() after construction
// or cloning. The one exception is a missing "PF World Suite" v1 when an 8- or 16-bit world is
// created, thrown as PF_Err 516 by the suite handler.
#pragma once

#include <memory>

#include "HostInterface/EffectInterface.h"
#include "Ombrel/OmbrelGeneral.h"
#include "Ombrel/OmbrelPixelLayout.h"

namespace Ombrel {

// Bits per channel of a world.
enum BPC : A_long {
    BPC_8 = 0,  // PF_Pixel, 0..255, 4 bytes per pixel
    BPC_16 = 1, // PF_Pixel16, 0..32768, 8 bytes per pixel
    BPC_32 = 2  // PF_PixelFloat, 1.0 full intensity, 16 bytes per pixel
};

class Layer {
public:
    enum Ownership : A_long { Wrapped = 0, CheckedOut = 1, Created = 2 };

    // Wraps a world the host owns; nothing is freed at the end. The channel order is the world's
    // pixel format's (BGRA only at BPC_8 and BPC_32); the other constructors make ARGB layers.
    Layer(PF_InData* in_data, PF_OutData* out_data, PF_LayerDef* world, BPC bpc,
          ChannelOrder order = ChannelOrder::ARGB);
    // Checks out layer parameter `index` at `time`; the world stays null when the checkout
    // fails or the parameter holds no layer. A successful checkout is checked back in by the
    // last copy, with or without a layer.
    Layer(PF_InData* in_data, PF_OutData* out_data, int index, const A_Time& time, BPC bpc);
    // Creates a cleared world of width x height at the given depth.
    Layer(PF_InData* in_data, PF_OutData* out_data, int width, int height, BPC bpc);

    // A new created Layer of the same size and depth holding a copy of this one's pixels. When
    // this Layer has an error, or the new world could not be made, the copy is skipped and the
    // new Layer is returned cleared (with its own error, if any). A failing copy is recorded in
    // this Layer's error.
    Layer clone();

    PF_Err getError() const;
    PF_LayerDef* getWorld();
    BPC getBPC() const;
    ChannelOrder getChannelOrder() const;

    // The following need a world (check getError() and getWorld() first).
    int getWidth() const;
    int getHeight() const;
    Rect getSize() const; // (0, 0, width, height)
    // Pixel at column x, row y as a normalised colour; no bounds check.
    ColorFloat<float> getPixel(int x, int y);
    // Same pixels (data pointer), whatever the handles.
    bool equalTo(Layer& other);
    bool equalInSize(Layer& other);

    struct Impl;

private:
    std::shared_ptr<Impl> impl_;
};

} // namespace Ombrel
