// Moving pixels between file units and the host's units at a render depth.
//
// Host units: 8 bits 0..255; 16 bits 0..32768 (not 65535); 32 bits float, 1.0 full intensity.
// A 16-bit file value v maps to round(v * 32768 / 65535) and back to round(h * 65535 / 32768),
// so every host value survives a write and a read exactly. Any other pair of depths converts by
// scaling, rounding to nearest and clamping to the target range.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "Host/Image.h"

namespace OmbrelRender {

using OmbrelHost::Depth;
using OmbrelHost::Image;

// What a file holds per channel. UInt8 values run 0..255, UInt16 0..65535; Half and Float are
// floats with 1.0 as full intensity.
enum class SampleType { UInt8, UInt16, Half, Float };

// A row of file samples in memory: RGBA, four samples a pixel, straight alpha, in the file's
// units, held as std::uint8_t, std::uint16_t, or float for both Half and Float.
std::size_t sampleBytes(SampleType type);

// The render depth a file suggests: 8 for 8-bit files, 16 for 16-bit, 32 for half and float.
Depth naturalDepth(SampleType type);

// Row y of `image` from one row of file samples (image.width RGBA pixels of `type`).
void rowToHost(SampleType type, const void* samples, Image& image, int y);
// One row of file samples of `type` from row y of `image`.
void rowFromHost(const Image& image, int y, SampleType type, void* samples);

// What a file of the given extension (".png", case-insensitive) stores for a render at `depth`:
// PNG holds 8-bit renders as 8 bits and deeper ones as 16; TIFF holds the render's own depth
// (float at 32); EXR holds float; anything else the render's own depth, left to the format's
// writer to narrow.
SampleType storedType(const std::string& extension, Depth depth);

int depthBits(Depth depth);
const char* sampleTypeName(SampleType type);

// A float with 1.0 full intensity scaled to 0..max and rounded to the nearest integer, halves
// up (the product is exact in double, so this is the rounding of the exact value); clamped to
// 0..max, NaN gives 0. How file and chart values become host units.
unsigned quantiseNearest(float value, unsigned max);

// Pixel (x, y) as red, green, blue, alpha with 1.0 full intensity (8 bits over 255, 16 bits over
// 32768, floats as stored).
std::array<double, 4> unitPixel(const Image& image, int x, int y);

// Single channels, exposed for the tests.
unsigned fileToHost16(unsigned fileValue);
unsigned host16ToFile(unsigned hostValue);

} // namespace OmbrelRender
