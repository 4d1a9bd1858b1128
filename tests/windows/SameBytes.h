// What the checks of another build (Windows under wine, aarch64 under qemu) compare with this
// one's: a frame of special floats, and where two outputs first differ.
#pragma once

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <limits>
#include <string>

#include <gtest/gtest.h>

#include "Host/OmbrelHost.h"
#include "TempFolder.h"

namespace OmbrelRenderTest {

using OmbrelHost::Depth;
using OmbrelHost::Image;

// Where two outputs first differ, as a pixel and channel at the given depth.
inline std::string firstDifference(const std::string& a, const std::string& b, Depth depth,
                                   int width) {
    if (a.size() != b.size())
        return std::to_string(a.size()) + " bytes against " + std::to_string(b.size());
    const auto at =
        static_cast<std::size_t>(std::mismatch(a.begin(), a.end(), b.begin()).first - a.begin());
    if (at == a.size())
        return "none";
    const std::size_t pixel = at / OmbrelHost::pixelBytes(depth);
    const std::size_t channel =
        at % OmbrelHost::pixelBytes(depth) / (OmbrelHost::pixelBytes(depth) / 4);
    return "pixel " + std::to_string(pixel % static_cast<std::size_t>(width)) + "," +
           std::to_string(pixel / static_cast<std::size_t>(width)) + ", channel " + "ARGB"[channel];
}

// Floats the C libraries and code generators of the two systems could treat differently.
inline constexpr float kInf = std::numeric_limits<float>::infinity();
inline const float kSpecial[] = {
    std::numeric_limits<float>::quiet_NaN(),
    -std::numeric_limits<float>::quiet_NaN(),
    std::bit_cast<float>(0x7F800001u), // signalling NaN
    std::bit_cast<float>(0x7FC12345u), // NaN with a payload
    kInf,
    -kInf,
    0.0f,
    -0.0f,
    std::numeric_limits<float>::denorm_min(),
    -std::numeric_limits<float>::denorm_min(),
    std::bit_cast<float>(0x007FFFFFu), // largest denormal
    std::numeric_limits<float>::min(),
    std::numeric_limits<float>::max(),
    -std::numeric_limits<float>::max(),
    1.0f,
    std::nextafter(1.0f, 2.0f),
    std::nextafter(1.0f, 0.0f),
    1.5f,
    2.0f,
    1e30f,
    -0.25f,
    -1.0f,
    -1e30f,
    0.5f,
    std::nextafter(0.5f, 0.0f),
    1.0f / 3.0f,
};

// Each special value alone in each channel of an ordinary colour, in all three colour channels
// at once, and beside two others.
inline Image specialFrame() {
    const int n = static_cast<int>(std::size(kSpecial));
    Image image(n, 6, Depth::Bits32);
    for (int i = 0; i < n; ++i) {
        const float v = kSpecial[i];
        const float w = kSpecial[(i + 7) % n], z = kSpecial[(i + 13) % n];
        const PF_PixelFloat rows[] = {{v, 0.25f, 0.5f, 0.75f}, {0.5f, v, 0.6f, 0.2f},
                                      {1.0f, 0.9f, v, 0.1f},   {0.75f, 0.3f, 0.4f, v},
                                      {1.0f, v, v, v},         {v, v, w, z}};
        for (int y = 0; y < 6; ++y)
            image.row<PF_PixelFloat>(y)[i] = rows[y];
    }
    return image;
}

// The outputs of ombrel-render-set (the chart in all six conversions at all three depths, and
// `special` in all six) in two folders, compared byte for byte.
inline void expectSameOutputs(const TempFolder& native, const TempFolder& other,
                              const Image& special) {
    ASSERT_EQ(native.entries(), other.entries());
    EXPECT_EQ(native.entries().size(), 1u + 6u * 4u);
    for (int from = 1; from <= 6; ++from) {
        const std::string mode = std::to_string(from);
        for (const Depth depth : {Depth::Bits8, Depth::Bits16, Depth::Bits32}) {
            const std::string name =
                "chart-" + mode + "-" + std::to_string(static_cast<int>(depth)) + ".raw";
            const std::string a = readText(native / name), b = readText(other / name);
            EXPECT_EQ(a.size(), 1024u * 512u * OmbrelHost::pixelBytes(depth)) << name;
            EXPECT_TRUE(a == b) << name << ": first difference "
                                << firstDifference(a, b, depth, 1024);
        }
        const std::string name = "special-" + mode + ".raw";
        const std::string a = readText(native / name), b = readText(other / name);
        EXPECT_EQ(a.size(), special.pixels.size()) << name;
        EXPECT_TRUE(a == b) << name << ": first difference "
                            << firstDifference(a, b, Depth::Bits32, special.width);
    }
}

} // namespace OmbrelRenderTest
