// What can be known of an image file before it is decoded, so that a file whose header claims
// more than the run allows, or more than the file can hold, is refused before any memory is
// spent on its pixels.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace OmbrelRender {

class InputFile;

// Refuses an image wider or taller than the host renders (Host/Image.h: kMaxFrameSide), or of more
// than `maxPixels` pixels: ToolError("refused: ...") naming the limit.
void checkPixelCount(long long width, long long height, long long maxPixels);

// The structure of a PNG file, read without decoding it.
struct PngLayout {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    int bitsPerPixel = 0;        // bit depth times samples per pixel (palette: the index)
    std::uint64_t dataBytes = 0; // the compressed image data (all IDAT chunks)
};

bool startsLikePng(const InputFile& file);

// Walks the chunks of a PNG file, checking their lengths and checksums, the header's values and
// that the file ends with its IEND chunk; throws ToolError("cannot read: damaged PNG: ...").
PngLayout readPngLayout(const InputFile& file);

// Refuses a PNG whose pixels could not come from its compressed data (deflate expands at most
// 1032 times): ToolError("refused: ...").
void checkPngPlausible(const PngLayout& png);

// The most a file's data can expand to for a compression method as image readers name it
// ("none", "zip", "lzw", "packbits", "rle", ...); nothing when the method allows no bound
// worth checking.
std::optional<std::uint64_t> maxExpansion(const std::string& compression);

// Refuses a width x height image whose pixels, at one bit each at least, could not fit in
// `fileBytes` expanded `expansion` times: ToolError("refused: ...").
void checkPlausibleSize(long long width, long long height, std::uint64_t fileBytes,
                        std::uint64_t expansion);

} // namespace OmbrelRender
