// The built-in test chart, rendered when no input is given.
//
// Top to bottom: hue sweeps across the full width in every band; lightness runs down from white
// to black at full saturation (half the height), then saturation runs down from full to grey at
// half lightness (a quarter); below them a grey ramp, patches of black, the primaries, the
// secondaries and white, an alpha ramp over the hue sweep, and a strip whose colours leave
// 0..1. All colours are defined once in floats and quantised for each depth, so the chart shows
// the same colours at 8, 16 and 32 bits; only at 32 bits does the last strip keep its values
// below 0 and above 1 (the integer depths clamp them).
#pragma once

#include <array>

#include "Host/Image.h"

namespace OmbrelRender {

inline constexpr int kChartWidth = 1024;
inline constexpr int kChartHeight = 512;
inline constexpr int kChartMinSide = 16;

// Bands of the chart, as fractions of its height.
enum class ChartBand { Lightness, Saturation, Greys, Patches, AlphaRamp, OutOfRange };
ChartBand chartBand(int y, int height);

// The chart's colour at a pixel as straight RGBA floats, before quantising.
std::array<float, 4> chartColour(int x, int y, int width, int height);

// Width and height at least kChartMinSide.
OmbrelHost::Image makeChart(int width, int height, OmbrelHost::Depth depth);

} // namespace OmbrelRender
