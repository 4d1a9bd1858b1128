#include "ContactSheet.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

#include "Font.h"
#include "HostUnits.h"

namespace OmbrelRender {

using OmbrelHost::Depth;
using OmbrelHost::Image;

namespace {

constexpr Rgb8 kBackground{32, 32, 32};
constexpr Rgb8 kLabelColour{230, 230, 230};
constexpr Rgb8 kNoteColour{165, 165, 165};
constexpr float kCheckerLight = 0.60f;
constexpr float kCheckerDark = 0.40f;

float clampUnit(float v) {
    if (!(v > 0.0f))
        return 0.0f;
    return v < 1.0f ? v : 1.0f;
}

std::uint8_t toByte(float v) {
    return static_cast<std::uint8_t>(std::lround(clampUnit(v) * 255.0f));
}

// For each target position along one axis, the source positions it covers and how much.
struct Span {
    int first = 0;
    std::vector<double> weights;
};

std::vector<Span> spans(int from, int to) {
    std::vector<Span> result(static_cast<std::size_t>(to));
    const double step = static_cast<double>(from) / to;
    for (int i = 0; i < to; ++i) {
        const double a = i * step, b = (i + 1) * step;
        Span& s = result[static_cast<std::size_t>(i)];
        s.first = static_cast<int>(std::floor(a));
        const int last = std::min(from - 1, static_cast<int>(std::ceil(b)) - 1);
        for (int j = s.first; j <= last; ++j)
            s.weights.push_back(std::min(b, j + 1.0) - std::max(a, static_cast<double>(j)));
    }
    return result;
}

// Colour channels as stored, in host units.
std::array<double, 3> asWritten(const Image& image, int x, int y) {
    switch (image.depth) {
    case Depth::Bits8: {
        const PF_Pixel& p = image.row<PF_Pixel>(y)[x];
        return {double(p.red), double(p.green), double(p.blue)};
    }
    case Depth::Bits16: {
        const PF_Pixel16& p = image.row<PF_Pixel16>(y)[x];
        return {double(p.red), double(p.green), double(p.blue)};
    }
    case Depth::Bits32:
        break;
    }
    const PF_PixelFloat& p = image.row<PF_PixelFloat>(y)[x];
    return {p.red, p.green, p.blue};
}

// Colour channels as the plug-in reads them: float input is clamped to 0..1 first.
std::array<double, 3> asRead(const Image& image, int x, int y) {
    std::array<double, 3> c = asWritten(image, x, y);
    if (image.depth == Depth::Bits32)
        for (double& v : c)
            v = clampUnit(v);
    return c;
}

} // namespace

DisplayImage toDisplay(const Image& image) {
    DisplayImage out{image.width, image.height, {}};
    out.rgba.resize(static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height) *
                    4);
    float* o = out.rgba.data();
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x)
            for (double v : unitPixel(image, x, y))
                *o++ = clampUnit(static_cast<float>(v));
    return out;
}

DisplayImage resample(const DisplayImage& image, int width, int height) {
    if (width <= 0 || height <= 0 || image.width <= 0 || image.height <= 0)
        throw std::invalid_argument("resample to or from an empty image");
    const auto xs = spans(image.width, width);
    const auto ys = spans(image.height, height);
    DisplayImage out{width, height, {}};
    out.rgba.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4);
    for (int y = 0; y < height; ++y) {
        const Span& sy = ys[static_cast<std::size_t>(y)];
        for (int x = 0; x < width; ++x) {
            const Span& sx = xs[static_cast<std::size_t>(x)];
            double sum[4] = {0, 0, 0, 0}, area = 0;
            for (std::size_t j = 0; j < sy.weights.size(); ++j) {
                for (std::size_t i = 0; i < sx.weights.size(); ++i) {
                    const double w = sy.weights[j] * sx.weights[i];
                    const float* p = image.rgba.data() +
                                     (static_cast<std::size_t>(sy.first) + j) *
                                         static_cast<std::size_t>(image.width) * 4 +
                                     (static_cast<std::size_t>(sx.first) + i) * 4;
                    sum[0] += w * p[0] * p[3];
                    sum[1] += w * p[1] * p[3];
                    sum[2] += w * p[2] * p[3];
                    sum[3] += w * p[3];
                    area += w;
                }
            }
            float* o =
                out.rgba.data() + (static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                                   static_cast<std::size_t>(x)) *
                                      4;
            const double alpha = sum[3] / area;
            for (int c = 0; c < 3; ++c)
                o[c] = sum[3] > 0 ? static_cast<float>(sum[c] / sum[3]) : 0.0f;
            o[3] = static_cast<float>(alpha);
        }
    }
    return out;
}

Canvas overChecker(const DisplayImage& image, int cell) {
    Canvas out(image.width, image.height);
    cell = std::max(cell, 1);
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            const float* p = image.rgba.data() +
                             (static_cast<std::size_t>(y) * static_cast<std::size_t>(image.width) +
                              static_cast<std::size_t>(x)) *
                                 4;
            const float back = ((x / cell + y / cell) % 2 == 0) ? kCheckerLight : kCheckerDark;
            const float a = p[3];
            out.at(x, y) = {toByte(p[0] * a + back * (1 - a)), toByte(p[1] * a + back * (1 - a)),
                            toByte(p[2] * a + back * (1 - a))};
        }
    }
    return out;
}

Size tileSize(int width, int height, int maxSide) {
    const int longer = std::max(width, height);
    if (longer <= 0 || maxSide <= 0)
        return {0, 0};
    if (longer > maxSide) {
        const double scale = static_cast<double>(maxSide) / longer;
        return {std::max(1, static_cast<int>(std::lround(width * scale))),
                std::max(1, static_cast<int>(std::lround(height * scale)))};
    }
    const int factor = std::max(1, std::min(kMinTileSide, maxSide) / longer);
    return {width * factor, height * factor};
}

Canvas composeSheet(const std::vector<SheetCell>& cells, int columns, int maxTileSide) {
    if (cells.empty() || columns <= 0)
        throw std::invalid_argument("contact sheet without cells");
    Size tile{kMinTileSide, kMinTileSide / 2};
    for (const SheetCell& cell : cells)
        if (cell.image) {
            tile = tileSize(cell.image->width, cell.image->height, maxTileSide);
            break;
        }

    const int scale = std::clamp(tile.width / 200, 1, 4);
    // Each column as wide as its widest tile, label or note.
    std::vector<int> columnWidth(static_cast<std::size_t>(columns), tile.width);
    for (std::size_t i = 0; i < cells.size(); ++i) {
        int& width = columnWidth[i % static_cast<std::size_t>(columns)];
        width = std::max(width, textWidth(cells[i].label, scale));
        for (const std::string& note : cells[i].notes)
            width = std::max(width, textWidth(note, scale));
    }
    std::vector<int> columnLeft;
    const int margin = 10 * scale;
    int right = margin;
    for (int width : columnWidth) {
        columnLeft.push_back(right);
        right += width + margin;
    }
    const int labelHeight = (kGlyphHeight + 5) * scale;
    const int cellHeight = labelHeight + tile.height;
    const int rows = (static_cast<int>(cells.size()) + columns - 1) / columns;

    Canvas sheet(right, margin + rows * (cellHeight + margin), kBackground);
    for (std::size_t i = 0; i < cells.size(); ++i) {
        const SheetCell& cell = cells[i];
        const int x = columnLeft[i % static_cast<std::size_t>(columns)];
        const int y = margin + static_cast<int>(i) / columns * (cellHeight + margin);
        drawText(sheet, x, y, cell.label, kLabelColour, scale);
        if (cell.image) {
            const DisplayImage shown = resample(toDisplay(*cell.image), tile.width, tile.height);
            sheet.blit(overChecker(shown, 8 * scale), x, y + labelHeight);
        }
        for (std::size_t n = 0; n < cell.notes.size(); ++n)
            drawText(sheet, x, y + labelHeight + static_cast<int>(n) * kCellHeight * scale,
                     cell.notes[n], kNoteColour, scale);
    }
    return sheet;
}

Image canvasToImage(const Canvas& canvas) {
    Image image(canvas.width, canvas.height, Depth::Bits8);
    for (int y = 0; y < canvas.height; ++y) {
        PF_Pixel* row = image.row<PF_Pixel>(y);
        for (int x = 0; x < canvas.width; ++x) {
            const Rgb8& c = canvas.at(x, y);
            row[x] = PF_Pixel{255, c.r, c.g, c.b};
        }
    }
    return image;
}

std::array<double, 3> roundTripError(const Image& source, const Image& back) {
    if (source.width != back.width || source.height != back.height || source.depth != back.depth)
        throw std::invalid_argument("round trip of a different size or depth");
    std::array<double, 3> worst{0, 0, 0};
    for (int y = 0; y < source.height; ++y)
        for (int x = 0; x < source.width; ++x) {
            const auto a = asRead(source, x, y);
            const auto b = asWritten(back, x, y);
            for (int c = 0; c < 3; ++c) {
                const double d = std::fabs(b[c] - a[c]);
                worst[c] =
                    std::isnan(d) ? std::numeric_limits<double>::infinity() : std::max(worst[c], d);
            }
        }
    return worst;
}

} // namespace OmbrelRender
