// The contact sheet: several renders of one frame tiled with their labels into one picture.
// Tiles show straight colour over a checkerboard, so alpha stays visible.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "Canvas.h"
#include "Host/Image.h"

namespace OmbrelRender {

// Straight RGBA, 0..1, for display: 8-bit channels / 255, 16-bit / 32768, floats clamped.
struct DisplayImage {
    int width = 0;
    int height = 0;
    std::vector<float> rgba;
};

DisplayImage toDisplay(const OmbrelHost::Image& image);
// Area-averaging resample to any size (colour weighted by alpha, so transparent pixels do not
// bleed into their neighbours); enlarging repeats pixels.
DisplayImage resample(const DisplayImage& image, int width, int height);
// Composites over a grey checkerboard of `cell`-pixel squares.
Canvas overChecker(const DisplayImage& image, int cell);

struct Size {
    int width = 0;
    int height = 0;
    bool operator==(const Size&) const = default;
};
// The tile size for an image: shrunk to fit maxSide on its longer side, or enlarged by a whole
// factor while its longer side stays at most kMinTileSide and maxSide.
inline constexpr int kMinTileSide = 128;
Size tileSize(int width, int height, int maxSide);

struct SheetCell {
    std::string label;
    const OmbrelHost::Image* image = nullptr; // null: a text cell of `notes`, or an empty cell
    std::vector<std::string> notes;
};

// Cells in row-major order, `columns` per row; all images of one size.
Canvas composeSheet(const std::vector<SheetCell>& cells, int columns, int maxTileSide);

// The picture as an opaque 8-bit host image, for writing as a PNG.
OmbrelHost::Image canvasToImage(const Canvas& canvas);

// Largest absolute difference per colour channel (red, green, blue) between a frame and its
// forward-then-backward round trip, in the host units of their depth. The source is compared as
// the plug-in reads it: 16-bit channels above 32768 and floats outside 0..1 clamped.
std::array<double, 3> roundTripError(const OmbrelHost::Image& source,
                                     const OmbrelHost::Image& back);

} // namespace OmbrelRender
