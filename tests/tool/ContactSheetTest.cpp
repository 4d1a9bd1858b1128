#include <gtest/gtest.h>

#include <cmath>
#include <set>

#include "ContactSheet.h"
#include "Font.h"

using namespace OmbrelRender;
using OmbrelHost::Depth;
using OmbrelHost::Image;

namespace {

DisplayImage row(std::vector<float> rgba) {
    DisplayImage image;
    image.width = static_cast<int>(rgba.size() / 4);
    image.height = 1;
    image.rgba = std::move(rgba);
    return image;
}

int litPixels(const Canvas& canvas, Rgb8 background) {
    int n = 0;
    for (const Rgb8& p : canvas.pixels)
        n += !(p == background);
    return n;
}

} // namespace

TEST(Font, EveryPrintableCharacterHasItsOwnGlyph) {
    // Distinct bitmaps for all but the blank, so a typo in the table shows.
    std::set<std::array<std::uint8_t, kGlyphHeight>> seen;
    for (char c = '!'; c <= '~'; ++c) {
        const auto& g = glyph(c);
        EXPECT_TRUE(seen.insert(g).second) << "glyph of '" << c << "' repeats another";
        for (std::uint8_t bits : g)
            EXPECT_LT(bits, 1u << kGlyphWidth) << c;
    }
    EXPECT_EQ(glyph(' '), (std::array<std::uint8_t, kGlyphHeight>{}));
    EXPECT_EQ(&glyph('\t'), &glyph('?'));
}

TEST(Font, TextStaysInsideItsMeasuredBox) {
    const Rgb8 back{0, 0, 0}, ink{255, 255, 255};
    for (int scale : {1, 3}) {
        Canvas canvas(400, 40, back);
        const std::string text = "RGB to HLS 0123";
        drawText(canvas, 10, 5, text, ink, scale);
        const int w = textWidth(text, scale);
        EXPECT_EQ(w, (static_cast<int>(text.size()) * kCellWidth - 1) * scale);
        int minX = 1000, maxX = -1, minY = 1000, maxY = -1;
        for (int y = 0; y < canvas.height; ++y)
            for (int x = 0; x < canvas.width; ++x)
                if (canvas.at(x, y) == ink) {
                    minX = std::min(minX, x);
                    maxX = std::max(maxX, x);
                    minY = std::min(minY, y);
                    maxY = std::max(maxY, y);
                }
        EXPECT_GE(minX, 10);
        EXPECT_LT(maxX, 10 + w);
        EXPECT_GE(minY, 5);
        EXPECT_LT(maxY, 5 + kGlyphHeight * scale);
        EXPECT_EQ(maxX, 10 + w - 1); // '3' reaches its right edge
    }
}

TEST(Font, NonAsciiShowsOneQuestionMarkPerCharacter) {
    EXPECT_EQ(textWidth("\xC3\xA9t\xE2\x82\xAC"), textWidth("?t?"));
    Canvas a(40, 10), b(40, 10);
    drawText(a, 0, 0, "\xC3\xA9", {9, 9, 9});
    drawText(b, 0, 0, "?", {9, 9, 9});
    EXPECT_EQ(a.pixels, b.pixels);
    Canvas clipped(4, 4);
    drawText(clipped, -3, -3, "WWW", {1, 1, 1}, 2); // no write outside the canvas
    SUCCEED();
}

TEST(ContactSheet, TileSizes) {
    struct Case {
        int w, h, max;
        Size size;
    };
    for (const Case& c : {Case{1024, 512, 512, {512, 256}}, Case{1024, 512, 144, {144, 72}},
                          Case{4, 4, 512, {128, 128}}, Case{4, 2, 64, {64, 32}},
                          Case{300, 100, 512, {300, 100}}, Case{100, 2000, 500, {25, 500}}})
        EXPECT_EQ(tileSize(c.w, c.h, c.max), c.size) << c.w << "x" << c.h << " in " << c.max;
}

TEST(ContactSheet, ResamplingAveragesAreasWeightedByAlpha) {
    const DisplayImage half = resample(row({0, 0, 0, 1, 1, 1, 1, 1, 0, 0, 0, 1, 1, 1, 1, 1}), 2, 1);
    for (int i = 0; i < 2; ++i) {
        EXPECT_NEAR(half.rgba[static_cast<std::size_t>(i) * 4], 0.5, 1e-6);
        EXPECT_NEAR(half.rgba[static_cast<std::size_t>(i) * 4 + 3], 1.0, 1e-6);
    }
    // A transparent green neighbour lends no colour, only transparency.
    const DisplayImage mixed = resample(row({1, 0, 0, 1, 0, 1, 0, 0}), 1, 1);
    EXPECT_NEAR(mixed.rgba[0], 1.0, 1e-6);
    EXPECT_NEAR(mixed.rgba[1], 0.0, 1e-6);
    EXPECT_NEAR(mixed.rgba[3], 0.5, 1e-6);
    // Three pixels into two: the middle one is shared.
    const DisplayImage third = resample(row({0, 0, 0, 1, 0.6f, 0, 0, 1, 0.9f, 0, 0, 1}), 2, 1);
    EXPECT_NEAR(third.rgba[0], (0 * 1.0 + 0.6 * 0.5) / 1.5, 1e-6);
    EXPECT_NEAR(third.rgba[4], (0.6 * 0.5 + 0.9 * 1.0) / 1.5, 1e-6);
    // Enlarging repeats.
    const DisplayImage twice = resample(row({0.25f, 0.5f, 0.75f, 1}), 2, 2);
    for (int i = 0; i < 4; ++i)
        EXPECT_FLOAT_EQ(twice.rgba[static_cast<std::size_t>(i) * 4 + 2], 0.75f);
}

TEST(ContactSheet, DisplayUsesEachDepthsFullScale) {
    Image sixteen(1, 1, Depth::Bits16);
    sixteen.row<PF_Pixel16>(0)[0] = {32768, 16384, 0, 40000};
    EXPECT_EQ(toDisplay(sixteen).rgba, (std::vector<float>{0.5f, 0.0f, 1.0f, 1.0f}));
    Image floats(1, 1, Depth::Bits32);
    floats.row<PF_PixelFloat>(0)[0] = {0.25f, -1.0f, 2.0f, 0.5f};
    EXPECT_EQ(toDisplay(floats).rgba, (std::vector<float>{0.0f, 1.0f, 0.5f, 0.25f}));
}

TEST(ContactSheet, CheckerShowsThroughTransparency) {
    const Canvas opaque = overChecker(row({1, 0, 0, 1, 1, 0, 0, 1}), 1);
    EXPECT_EQ(opaque.at(0, 0), (Rgb8{255, 0, 0}));
    EXPECT_EQ(opaque.at(1, 0), (Rgb8{255, 0, 0}));
    const Canvas clear = overChecker(row({1, 0, 0, 0, 1, 0, 0, 0}), 1);
    EXPECT_EQ(clear.at(0, 0).r, clear.at(0, 0).g);
    EXPECT_NE(clear.at(0, 0), clear.at(1, 0)); // neighbouring squares differ
}

TEST(ContactSheet, LaysCellsOutInRowsWithTheirTilesAndLabels) {
    Image red(64, 32, Depth::Bits8);
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 64; ++x)
            red.row<PF_Pixel>(y)[x] = {255, 255, 0, 0};
    std::vector<SheetCell> cells(10);
    for (std::size_t i = 0; i < cells.size(); ++i) {
        cells[i].label = "Cell " + std::to_string(i);
        cells[i].image = i == 4 ? nullptr : &red;
    }
    cells[4].notes = {"a note"};
    const Canvas sheet = composeSheet(cells, 4, 512);
    // 64x32 tiles are enlarged twice to 128x64; three rows of four columns.
    const int margin = 10, labelHeight = kGlyphHeight + 5;
    EXPECT_EQ(sheet.width, margin + 4 * (128 + margin));
    EXPECT_EQ(sheet.height, margin + 3 * (labelHeight + 64 + margin));
    const Rgb8 background = sheet.at(0, 0);
    // Every tile is solid red; the text cell shows no tile.
    for (int i = 0; i < 10; ++i) {
        const int x = margin + i % 4 * (128 + margin) + 64;
        const int y = margin + i / 4 * (labelHeight + 64 + margin) + labelHeight + 32;
        EXPECT_EQ(sheet.at(x, y), (i == 4 ? background : Rgb8{255, 0, 0})) << i;
    }
    // Labels are drawn above the tiles.
    Canvas firstLabel(128, labelHeight, background);
    for (int y = 0; y < labelHeight; ++y)
        for (int x = 0; x < 128; ++x)
            firstLabel.at(x, y) = sheet.at(margin + x, margin + y);
    EXPECT_GT(litPixels(firstLabel, background), 20);

    const Image written = canvasToImage(sheet);
    EXPECT_EQ(written.row<PF_Pixel>(margin + labelHeight + 32)[margin + 64].red, 255);
    EXPECT_EQ(written.row<PF_Pixel>(0)[0].alpha, 255);
}

TEST(ContactSheet, RoundTripErrorComparesWithWhatThePluginReads) {
    Image a(2, 1, Depth::Bits8), b(2, 1, Depth::Bits8);
    a.row<PF_Pixel>(0)[0] = {255, 10, 20, 30};
    b.row<PF_Pixel>(0)[0] = {0, 12, 20, 29}; // alpha is not compared
    a.row<PF_Pixel>(0)[1] = {255, 200, 0, 0};
    b.row<PF_Pixel>(0)[1] = {255, 197, 0, 0};
    EXPECT_EQ(roundTripError(a, b), (std::array<double, 3>{3, 0, 1}));

    Image f(1, 1, Depth::Bits32), g(1, 1, Depth::Bits32);
    f.row<PF_PixelFloat>(0)[0] = {1, 2.0f, -1.0f, 0.5f};
    g.row<PF_PixelFloat>(0)[0] = {1, 1.0f, 0.0f, 0.25f};
    EXPECT_EQ(roundTripError(f, g), (std::array<double, 3>{0, 0, 0.25}));
    g.row<PF_PixelFloat>(0)[0].red = std::nanf("");
    EXPECT_TRUE(std::isinf(roundTripError(f, g)[0]));

    EXPECT_THROW(roundTripError(a, f), std::invalid_argument);
}
