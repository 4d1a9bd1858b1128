#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "Chart.h"
#include "HostUnits.h"

using namespace OmbrelRender;
using OmbrelHost::Depth;
using OmbrelHost::Image;

namespace {

int firstRowOf(ChartBand band, int height) {
    for (int y = 0; y < height; ++y)
        if (chartBand(y, height) == band)
            return y;
    return -1;
}

double hueOf(double r, double g, double b) {
    const double mx = std::max({r, g, b}), mn = std::min({r, g, b});
    if (mx == mn)
        return 0;
    double h = mx == r   ? (g - b) / (mx - mn)
               : mx == g ? 2 + (b - r) / (mx - mn)
                         : 4 + (r - g) / (mx - mn);
    h *= 60;
    return h < 0 ? h + 360 : h;
}

} // namespace

TEST(Chart, HasEveryBandInOrder) {
    ASSERT_GE(kChartWidth, 1024);
    ASSERT_GE(kChartHeight, 512);
    int previous = -1;
    for (ChartBand band : {ChartBand::Lightness, ChartBand::Saturation, ChartBand::Greys,
                           ChartBand::Patches, ChartBand::AlphaRamp, ChartBand::OutOfRange}) {
        const int row = firstRowOf(band, kChartHeight);
        EXPECT_GT(row, previous) << static_cast<int>(band);
        previous = row;
    }
}

TEST(Chart, SweepsHueAcrossAndLightnessDown) {
    const Image chart = makeChart(kChartWidth, kChartHeight, Depth::Bits32);
    const int top = firstRowOf(ChartBand::Lightness, kChartHeight);
    const int bottom = firstRowOf(ChartBand::Saturation, kChartHeight) - 1;
    const int middle = (top + bottom) / 2;
    for (int x = 0; x < kChartWidth; x += 37) {
        const auto p = unitPixel(chart, x, middle);
        EXPECT_NEAR(hueOf(p[0], p[1], p[2]), 360.0 * x / kChartWidth, 1.0) << x;
        // White at the top, black at the bottom.
        EXPECT_EQ(unitPixel(chart, x, top), (std::array<double, 4>{1, 1, 1, 1}));
        EXPECT_EQ(unitPixel(chart, x, bottom), (std::array<double, 4>{0, 0, 0, 1}));
    }
    // Saturation runs down to grey.
    const int satBottom = firstRowOf(ChartBand::Greys, kChartHeight) - 1;
    const auto grey = unitPixel(chart, 300, satBottom);
    EXPECT_NEAR(grey[0], 0.5, 1e-6);
    EXPECT_EQ(grey[0], grey[1]);
    EXPECT_EQ(grey[1], grey[2]);
}

TEST(Chart, HasGreysPrimariesAndAnAlphaRamp) {
    const Image chart = makeChart(kChartWidth, kChartHeight, Depth::Bits8);
    const int greys = firstRowOf(ChartBand::Greys, kChartHeight);
    for (int x = 0; x < kChartWidth; ++x) {
        const auto& p = chart.row<PF_Pixel>(greys)[x];
        ASSERT_TRUE(p.red == p.green && p.green == p.blue) << x;
    }
    EXPECT_EQ(chart.row<PF_Pixel>(greys)[0].red, 0);
    EXPECT_EQ(chart.row<PF_Pixel>(greys)[kChartWidth - 1].red, 255);

    const int patches = firstRowOf(ChartBand::Patches, kChartHeight);
    const int w = kChartWidth / 8;
    const PF_Pixel expected[] = {{255, 0, 0, 0},     {255, 255, 0, 0},    {255, 0, 255, 0},
                                 {255, 0, 0, 255},   {255, 0, 255, 255},  {255, 255, 0, 255},
                                 {255, 255, 255, 0}, {255, 255, 255, 255}};
    for (int i = 0; i < 8; ++i) {
        const auto& p = chart.row<PF_Pixel>(patches)[i * w + w / 2];
        EXPECT_EQ(
            (std::array{p.alpha, p.red, p.green, p.blue}),
            (std::array{expected[i].alpha, expected[i].red, expected[i].green, expected[i].blue}))
            << "patch " << i;
    }

    const int ramp = firstRowOf(ChartBand::AlphaRamp, kChartHeight);
    EXPECT_EQ(chart.row<PF_Pixel>(ramp)[0].alpha, 0);
    EXPECT_EQ(chart.row<PF_Pixel>(ramp)[kChartWidth - 1].alpha, 255);
    for (int x = 1; x < kChartWidth; ++x)
        ASSERT_GE(chart.row<PF_Pixel>(ramp)[x].alpha, chart.row<PF_Pixel>(ramp)[x - 1].alpha);
}

TEST(Chart, ShowsTheSameColoursAtEveryDepthAndLeavesRangeOnlyAtThirtyTwoBits) {
    const Image floats = makeChart(kChartWidth, kChartHeight, Depth::Bits32);
    const Image eight = makeChart(kChartWidth, kChartHeight, Depth::Bits8);
    const Image sixteen = makeChart(kChartWidth, kChartHeight, Depth::Bits16);
    bool below = false, above = false;
    for (int y = 0; y < kChartHeight; y += 3)
        for (int x = 0; x < kChartWidth; x += 5) {
            const auto f = unitPixel(floats, x, y);
            const auto a = unitPixel(eight, x, y);
            const auto b = unitPixel(sixteen, x, y);
            for (int c = 0; c < 4; ++c) {
                below |= f[c] < 0;
                above |= f[c] > 1;
                const double clamped = std::clamp(f[c], 0.0, 1.0);
                ASSERT_LE(std::fabs(a[c] - clamped), 0.5 / 255 + 1e-9) << x << "," << y;
                ASSERT_LE(std::fabs(b[c] - clamped), 0.5 / 32768 + 1e-9) << x << "," << y;
            }
        }
    EXPECT_TRUE(below);
    EXPECT_TRUE(above);
}

TEST(Chart, ScalesToOtherSizesAndRefusesTinyOnes) {
    const Image small = makeChart(64, 32, Depth::Bits16);
    EXPECT_EQ(small.width, 64);
    EXPECT_EQ(small.height, 32);
    EXPECT_THROW(makeChart(8, 8, Depth::Bits8), std::invalid_argument);
}
