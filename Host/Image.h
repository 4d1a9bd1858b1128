// A frame's pixels as the host stores them between files and worlds: packed ARGB records in
// host units, row-major, no row padding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "HostInterface/EffectInterface.h"

namespace OmbrelHost {

// Bits per channel of a render: 8 (0..255), 16 (0..32768) or 32 (float, 1.0 full intensity).
enum class Depth { Bits8 = 8, Bits16 = 16, Bits32 = 32 };

constexpr std::size_t pixelBytes(Depth d) {
    return d == Depth::Bits8    ? sizeof(PF_Pixel)
           : d == Depth::Bits16 ? sizeof(PF_Pixel16)
                                : sizeof(PF_PixelFloat);
}

// The largest frame the host renders, per side and in all (2^28 pixels keep every byte count of
// a world, 16 bytes a pixel, inside the host's 32-bit arithmetic).
inline constexpr std::int64_t kMaxFrameSide = std::int64_t{1} << 16;
inline constexpr std::int64_t kMaxFramePixels = std::int64_t{1} << 28;

struct Image {
    int width = 0;
    int height = 0;
    Depth depth = Depth::Bits8;
    // width * height records of PF_Pixel, PF_Pixel16 or PF_PixelFloat by depth.
    std::vector<std::uint8_t> pixels;

    Image() = default;
    Image(int w, int h, Depth d)
        : width(w), height(h), depth(d),
          pixels(static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * pixelBytes(d)) {}

    std::size_t rowBytes() const { return static_cast<std::size_t>(width) * pixelBytes(depth); }

    // P must match the depth: PF_Pixel, PF_Pixel16 or PF_PixelFloat.
    template <class P>
    P* row(int y) {
        return reinterpret_cast<P*>(pixels.data() + static_cast<std::size_t>(y) * rowBytes());
    }
    template <class P>
    const P* row(int y) const {
        return reinterpret_cast<const P*>(pixels.data() + static_cast<std::size_t>(y) * rowBytes());
    }

    bool operator==(const Image&) const = default;
};

} // namespace OmbrelHost
