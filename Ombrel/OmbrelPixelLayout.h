// The order of a pixel's four channels in a host world, and the pixel records of the orders
// other than the host's own ARGB (PF_Pixel, PF_Pixel16, PF_PixelFloat). Plain declarations only:
// the vector kernel units include this too.
#pragma once

#include "HostInterface/EffectInterface.h"

namespace Ombrel {

// Channels in memory order. The host's BGRA formats exist at 8 bits ("bgra") and 32 bits
// ("BGra") only; 16-bit worlds are always ARGB.
enum class ChannelOrder : A_long {
    ARGB = 0, // alpha, red, green, blue
    BGRA = 1  // blue, green, red, alpha
};

// 8 bits per channel, 0..255, in BGRA order.
struct PixelBGRA8 {
    A_u_char blue, green, red, alpha;
};

// 32-bit float channels in BGRA order.
struct PixelBGRAFloat {
    PF_FpShort blue, green, red, alpha;
};

static_assert(sizeof(PixelBGRA8) == sizeof(PF_Pixel));
static_assert(sizeof(PixelBGRAFloat) == sizeof(PF_PixelFloat));

} // namespace Ombrel
