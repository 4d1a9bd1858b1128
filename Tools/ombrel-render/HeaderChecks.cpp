#include "HeaderChecks.h"

#include <array>
#include <cstring>
#include <vector>

#include "Host/Image.h"
#include "SystemFiles.h"
#include "ToolError.h"

namespace OmbrelRender {

namespace {

constexpr unsigned char kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
// Deflate spends at least 2 bits on 258 bytes; the slack covers zlib's own header and check.
constexpr std::uint64_t kDeflateExpansion = 1032;
constexpr std::uint64_t kSlackBytes = 4096;

std::uint32_t bigEndian32(const unsigned char* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
           std::uint32_t{p[3]};
}

// CRC-32 as PNG chunks carry it (polynomial 0xEDB88320, reflected).
class Crc32 {
public:
    Crc32() {
        for (std::uint32_t n = 0; n < 256; ++n) {
            std::uint32_t c = n;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            table_[n] = c;
        }
    }
    std::uint32_t update(std::uint32_t crc, const unsigned char* p, std::size_t n) const {
        for (std::size_t i = 0; i < n; ++i)
            crc = table_[(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
        return crc;
    }

private:
    std::array<std::uint32_t, 256> table_{};
};

[[noreturn]] void damaged(const std::string& what) {
    throw ToolError("cannot read: damaged PNG: " + what);
}

// Samples per pixel by colour type; 0 for a type PNG does not have.
int samplesPerPixel(int colourType) {
    switch (colourType) {
    case 0: // grey
    case 3: // palette
        return 1;
    case 4: // grey and alpha
        return 2;
    case 2: // RGB
        return 3;
    case 6: // RGBA
        return 4;
    default:
        break;
    }
    return 0;
}

bool bitDepthAllowed(int colourType, int depth) {
    switch (colourType) {
    case 0:
        return depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16;
    case 3:
        return depth == 1 || depth == 2 || depth == 4 || depth == 8;
    default:
        break;
    }
    return depth == 8 || depth == 16;
}

std::string sizeText(long long width, long long height) {
    return std::to_string(width) + "x" + std::to_string(height);
}

} // namespace

void checkPixelCount(long long width, long long height, long long maxPixels) {
    constexpr long long kMaxSide = OmbrelHost::kMaxFrameSide;
    if (width > kMaxSide || height > kMaxSide)
        throw ToolError("refused: the image is " + sizeText(width, height) +
                        ", over the host's limit of " + std::to_string(kMaxSide) +
                        " pixels a side");
    if (width > 0 && height > 0 && width <= maxPixels / height)
        return;
    throw ToolError("refused: the image is " + sizeText(width, height) + ", over the limit of " +
                    std::to_string(maxPixels) + " pixels (--max-pixels)");
}

bool startsLikePng(const InputFile& file) {
    unsigned char head[8];
    return file.readAt(0, head, 8) == 8 && std::memcmp(head, kPngSignature, 8) == 0;
}

PngLayout readPngLayout(const InputFile& file) {
    static const Crc32 crc;
    PngLayout png;
    std::uint64_t at = 8;
    bool header = false;
    std::vector<unsigned char> data;
    for (;;) {
        unsigned char head[8];
        if (file.readAt(at, head, 8) != 8)
            damaged("the file ends before its IEND chunk");
        const std::uint32_t length = bigEndian32(head);
        const std::string type(reinterpret_cast<const char*>(head + 4), 4);
        if (length > 0x7FFFFFFFu)
            damaged("a chunk length of " + std::to_string(length));
        for (char c : type)
            if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')))
                damaged("an invalid chunk type");
        if (at + 12 + length > file.size())
            damaged("the file ends inside its " + type + " chunk");
        if (!header && type != "IHDR")
            damaged("the first chunk is " + type + ", not IHDR");

        // The checksum covers the type and the data, read in pieces.
        std::uint32_t sum = crc.update(0xFFFFFFFFu, head + 4, 4);
        constexpr std::size_t kPiece = 1 << 16;
        data.resize(std::min<std::size_t>(length, kPiece));
        unsigned char first[13] = {};
        for (std::uint32_t done = 0; done < length;) {
            const std::size_t n = std::min<std::size_t>(length - done, kPiece);
            if (file.readAt(at + 8 + done, data.data(), n) != n)
                damaged("the file ends inside its " + type + " chunk");
            if (done == 0)
                std::memcpy(first, data.data(), std::min<std::size_t>(n, 13));
            sum = crc.update(sum, data.data(), n);
            done += static_cast<std::uint32_t>(n);
        }
        unsigned char stored[4] = {};
        if (file.readAt(at + 8 + length, stored, 4) != 4)
            damaged("the file ends inside its " + type + " chunk");
        if ((sum ^ 0xFFFFFFFFu) != bigEndian32(stored))
            damaged("the " + type + " chunk's checksum does not match");

        if (type == "IHDR") {
            if (header || length != 13)
                damaged("a wrong IHDR chunk");
            header = true;
            png.width = bigEndian32(first);
            png.height = bigEndian32(first + 4);
            const int depth = first[8];
            const int colourType = first[9];
            if (png.width == 0 || png.height == 0 || png.width > 0x7FFFFFFFu ||
                png.height > 0x7FFFFFFFu)
                damaged("a size of " + sizeText(png.width, png.height));
            if (samplesPerPixel(colourType) == 0 || !bitDepthAllowed(colourType, depth) ||
                first[10] != 0 || first[11] != 0 || first[12] > 1)
                damaged("an invalid IHDR chunk");
            png.bitsPerPixel = depth * samplesPerPixel(colourType);
        } else if (type == "IDAT") {
            png.dataBytes += length;
        } else if (type == "IEND") {
            break;
        }
        at += 12 + std::uint64_t{length};
    }
    if (png.dataBytes == 0)
        damaged("no image data");
    return png;
}

void checkPngPlausible(const PngLayout& png) {
    // Every row starts with a filter byte; the pixels are packed after it.
    const std::uint64_t rowBytes = (std::uint64_t{png.width} * png.bitsPerPixel + 7) / 8;
    const std::uint64_t raw = std::uint64_t{png.height} * (1 + rowBytes);
    if (raw <= png.dataBytes * kDeflateExpansion + kSlackBytes)
        return;
    throw ToolError("refused: the header claims " + sizeText(png.width, png.height) +
                    " pixels, more than its " + std::to_string(png.dataBytes) +
                    " bytes of compressed data can hold");
}

std::optional<std::uint64_t> maxExpansion(const std::string& compression) {
    struct Method {
        const char* name;
        std::uint64_t expansion;
    };
    // Run lengths expand at most 128 times (a count and a value for 128 bytes); LZW with 12-bit
    // codes about 1300 times; the deflate family 1032 times, PXR24 a third more; B44A at most
    // 32 bytes of a flat block from 3.
    static constexpr Method kMethods[] = {
        {"none", 1},     {"packbits", 128}, {"rle", 128},      {"lzw", 2048},
        {"zip", 1032},   {"zips", 1032},    {"deflate", 1032}, {"adobe_deflate", 1032},
        {"pxr24", 1376}, {"b44", 16},       {"b44a", 16},
    };
    for (const Method& m : kMethods)
        if (compression == m.name)
            return m.expansion;
    return std::nullopt;
}

void checkPlausibleSize(long long width, long long height, std::uint64_t fileBytes,
                        std::uint64_t expansion) {
    const std::uint64_t pixels =
        static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height);
    if (pixels / 8 <= fileBytes * expansion + kSlackBytes)
        return;
    throw ToolError("refused: the header claims " + sizeText(width, height) +
                    " pixels, more than " + std::to_string(fileBytes) + " bytes can hold");
}

} // namespace OmbrelRender
