#include "RawFiles.h"

#include <bit>
#include <cstring>
#include <string>

#include "AtomicFile.h"
#include "Host/Text.h"
#include "SystemFiles.h"
#include "ToolError.h"

namespace OmbrelRender {

using OmbrelHost::Depth;
using OmbrelHost::Image;
namespace fs = std::filesystem;

namespace {

// Host pixel records hold four channels of one type each; the file holds them in the same
// order, little-endian whatever the machine.
template <class C>
void encodeChannels(const Image& image, std::uint8_t* out) {
    const std::size_t count = image.pixels.size() / sizeof(C);
    for (std::size_t i = 0; i < count; ++i) {
        C value;
        std::memcpy(&value, image.pixels.data() + i * sizeof(C), sizeof(C));
        std::uint32_t bits;
        if constexpr (sizeof(C) == 4)
            bits = std::bit_cast<std::uint32_t>(value);
        else
            bits = value;
        for (std::size_t b = 0; b < sizeof(C); ++b)
            *out++ = static_cast<std::uint8_t>(bits >> (8 * b));
    }
}

template <class C>
void decodeChannels(const std::uint8_t* in, Image& image) {
    const std::size_t count = image.pixels.size() / sizeof(C);
    for (std::size_t i = 0; i < count; ++i) {
        std::uint32_t bits = 0;
        for (std::size_t b = 0; b < sizeof(C); ++b)
            bits |= std::uint32_t{*in++} << (8 * b);
        C value;
        if constexpr (sizeof(C) == 4)
            value = std::bit_cast<float>(bits);
        else
            value = static_cast<C>(bits);
        std::memcpy(image.pixels.data() + i * sizeof(C), &value, sizeof(C));
    }
}

std::string sizeText(int width, int height, Depth depth) {
    return std::to_string(width) + "x" + std::to_string(height) + " at " +
           std::to_string(static_cast<int>(depth)) + " bits";
}

} // namespace

std::size_t rawByteCount(int width, int height, Depth depth) {
    return static_cast<std::size_t>(width) * static_cast<std::size_t>(height) *
           OmbrelHost::pixelBytes(depth);
}

std::vector<std::uint8_t> encodeRaw(const Image& image) {
    std::vector<std::uint8_t> bytes(image.pixels.size());
    switch (image.depth) {
    case Depth::Bits8:
        bytes = image.pixels;
        break;
    case Depth::Bits16:
        encodeChannels<std::uint16_t>(image, bytes.data());
        break;
    case Depth::Bits32:
        encodeChannels<float>(image, bytes.data());
        break;
    }
    return bytes;
}

Image decodeRaw(std::span<const std::uint8_t> bytes, int width, int height, Depth depth) {
    const std::size_t expected = rawByteCount(width, height, depth);
    if (bytes.size() != expected)
        throw ToolError("wrong raw size: " + sizeText(width, height, depth) + " needs " +
                        std::to_string(expected) + " bytes, the file has " +
                        std::to_string(bytes.size()));
    Image image(width, height, depth);
    switch (depth) {
    case Depth::Bits8:
        std::memcpy(image.pixels.data(), bytes.data(), bytes.size());
        break;
    case Depth::Bits16:
        decodeChannels<std::uint16_t>(bytes.data(), image);
        break;
    case Depth::Bits32:
        decodeChannels<float>(bytes.data(), image);
        break;
    }
    return image;
}

Image readRawFile(const fs::path& path, int width, int height, Depth depth) {
    const InputFile file(path);
    const std::size_t expected = rawByteCount(width, height, depth);
    if (file.size() != expected)
        throw ToolError("wrong raw size: " + sizeText(width, height, depth) + " needs " +
                        std::to_string(expected) + " bytes, the file has " +
                        std::to_string(file.size()));
    std::vector<std::uint8_t> bytes(expected);
    if (file.readAt(0, bytes.data(), bytes.size()) != expected)
        throw ToolError("cannot read: the file ended early");
    return decodeRaw(bytes, width, height, depth);
}

void writeRawFile(const fs::path& path, const Image& image) {
    writeBytesAtomically(path, encodeRaw(image));
}

bool isRawPath(const fs::path& path) {
    return OmbrelHost::asciiLower(path.extension().string()) == ".raw";
}

} // namespace OmbrelRender
