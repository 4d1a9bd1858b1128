#include "Chart.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "HostUnits.h"

namespace OmbrelRender {

using OmbrelHost::Depth;
using OmbrelHost::Image;

namespace {

// Band boundaries in 64ths of the height: 32 lightness, 16 saturation, then 4 each.
constexpr int kBandEnds[] = {32, 48, 52, 56, 60, 64};

// Standard HLS to RGB with hue in turns; only used to lay out the chart's colours.
double hlsChannel(double m1, double m2, double hue) {
    hue -= std::floor(hue);
    if (hue < 1.0 / 6)
        return m1 + (m2 - m1) * hue * 6;
    if (hue < 0.5)
        return m2;
    if (hue < 2.0 / 3)
        return m1 + (m2 - m1) * (2.0 / 3 - hue) * 6;
    return m1;
}

std::array<float, 4> hls(double hue, double lightness, double saturation, double alpha = 1.0) {
    const double m2 = lightness <= 0.5 ? lightness * (1 + saturation)
                                       : lightness + saturation - lightness * saturation;
    const double m1 = 2 * lightness - m2;
    return {static_cast<float>(hlsChannel(m1, m2, hue + 1.0 / 3)),
            static_cast<float>(hlsChannel(m1, m2, hue)),
            static_cast<float>(hlsChannel(m1, m2, hue - 1.0 / 3)), static_cast<float>(alpha)};
}

// 0 at the first and 1 at the last of n positions.
double ramp(int i, int n) {
    return n > 1 ? static_cast<double>(i) / (n - 1) : 0.0;
}

int bandStart(int band, int height) {
    return band == 0 ? 0 : kBandEnds[band - 1] * height / 64;
}

} // namespace

ChartBand chartBand(int y, int height) {
    for (int band = 0; band < 6; ++band)
        if (y < kBandEnds[band] * height / 64)
            return static_cast<ChartBand>(band);
    return ChartBand::OutOfRange;
}

std::array<float, 4> chartColour(int x, int y, int width, int height) {
    const ChartBand band = chartBand(y, height);
    const int b = static_cast<int>(band);
    const int top = bandStart(b, height);
    const int rows = bandStart(b + 1, height) - top;
    const double down = ramp(y - top, rows);
    const double across = ramp(x, width);
    const double hue = static_cast<double>(x) / width;

    switch (band) {
    case ChartBand::Lightness:
        return hls(hue, 1.0 - down, 1.0);
    case ChartBand::Saturation:
        return hls(hue, 0.5, 1.0 - down);
    case ChartBand::Greys: {
        const auto g = static_cast<float>(across);
        return {g, g, g, 1.0f};
    }
    case ChartBand::Patches: {
        static constexpr float kPatches[8][3] = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1},
                                                 {0, 1, 1}, {1, 0, 1}, {1, 1, 0}, {1, 1, 1}};
        const auto* p = kPatches[std::min(x * 8 / width, 7)];
        return {p[0], p[1], p[2], 1.0f};
    }
    case ChartBand::AlphaRamp:
        return hls(hue, 0.5, 1.0, across);
    case ChartBand::OutOfRange:
        break;
    }
    // Red climbs from -0.5 to 1.5 across, green falls the other way, blue steps from -0.25 to
    // 1.25 halfway; the upper half of the strip is brighter by 0.5 in all three.
    const double lift = down >= 0.5 ? 0.5 : 0.0;
    return {static_cast<float>(-0.5 + 2 * across + lift),
            static_cast<float>(1.5 - 2 * across + lift),
            static_cast<float>((across < 0.5 ? -0.25 : 1.25) + lift), 1.0f};
}

Image makeChart(int width, int height, Depth depth) {
    if (width < kChartMinSide || height < kChartMinSide)
        throw std::invalid_argument("chart smaller than the minimum size");
    Image image(width, height, depth);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const auto c = chartColour(x, y, width, height);
            switch (depth) {
            case Depth::Bits8: {
                PF_Pixel& p = image.row<PF_Pixel>(y)[x];
                p.red = static_cast<A_u_char>(quantiseNearest(c[0], 255));
                p.green = static_cast<A_u_char>(quantiseNearest(c[1], 255));
                p.blue = static_cast<A_u_char>(quantiseNearest(c[2], 255));
                p.alpha = static_cast<A_u_char>(quantiseNearest(c[3], 255));
                break;
            }
            case Depth::Bits16: {
                PF_Pixel16& p = image.row<PF_Pixel16>(y)[x];
                p.red = static_cast<A_u_short>(quantiseNearest(c[0], 32768));
                p.green = static_cast<A_u_short>(quantiseNearest(c[1], 32768));
                p.blue = static_cast<A_u_short>(quantiseNearest(c[2], 32768));
                p.alpha = static_cast<A_u_short>(quantiseNearest(c[3], 32768));
                break;
            }
            case Depth::Bits32: {
                PF_PixelFloat& p = image.row<PF_PixelFloat>(y)[x];
                p.red = c[0];
                p.green = c[1];
                p.blue = c[2];
                p.alpha = c[3];
                break;
            }
            }
        }
    }
    return image;
}

} // namespace OmbrelRender
