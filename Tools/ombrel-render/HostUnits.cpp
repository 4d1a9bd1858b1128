#include "HostUnits.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <type_traits>

#include "Host/Text.h"

namespace OmbrelRender {

namespace {

// round(num / den) for non-negative operands, halves rounding up.
unsigned roundDiv(std::uint64_t num, std::uint64_t den) {
    return static_cast<unsigned>((2 * num + den) / (2 * den));
}

float fileToHost32(float v, SampleType type) {
    switch (type) {
    case SampleType::UInt8:
        return v / 255.0f;
    case SampleType::UInt16:
        return v / 65535.0f;
    case SampleType::Half:
    case SampleType::Float:
        break;
    }
    return v;
}

unsigned fileToHostInt(float v, SampleType type, Depth depth) {
    const bool to8 = depth == Depth::Bits8;
    switch (type) {
    case SampleType::UInt8: {
        const auto u = static_cast<std::uint64_t>(v);
        return to8 ? static_cast<unsigned>(u) : roundDiv(u * 32768, 255);
    }
    case SampleType::UInt16: {
        const auto u = static_cast<std::uint64_t>(v);
        return to8 ? roundDiv(u * 255, 65535) : fileToHost16(static_cast<unsigned>(u));
    }
    case SampleType::Half:
    case SampleType::Float:
        break;
    }
    return quantiseNearest(v, to8 ? 255u : 32768u);
}

float hostToFile(unsigned h, Depth depth, SampleType type) {
    if (depth == Depth::Bits8) {
        switch (type) {
        case SampleType::UInt8:
            return static_cast<float>(h);
        case SampleType::UInt16:
            return static_cast<float>(h * 257u);
        case SampleType::Half:
        case SampleType::Float:
            break;
        }
        return static_cast<float>(h) / 255.0f;
    }
    // 16 bits. Only alpha of a raw input can exceed 32768 (the plug-in copies it); integer
    // files clamp it, float files keep it.
    const std::uint64_t c = std::min(h, 32768u);
    switch (type) {
    case SampleType::UInt8:
        return static_cast<float>(roundDiv(c * 255, 32768));
    case SampleType::UInt16:
        return static_cast<float>(host16ToFile(h));
    case SampleType::Half:
    case SampleType::Float:
        break;
    }
    return static_cast<float>(h) / 32768.0f;
}

float hostFloatToFile(float f, SampleType type) {
    switch (type) {
    case SampleType::UInt8:
        return static_cast<float>(quantiseNearest(f, 255));
    case SampleType::UInt16:
        return static_cast<float>(quantiseNearest(f, 65535));
    case SampleType::Half:
    case SampleType::Float:
        break;
    }
    return f;
}

template <class P, class C>
void fillHostRow(const C* in, SampleType type, P* out, int width, Depth depth) {
    for (int x = 0; x < width; ++x, in += 4) {
        P& p = out[x];
        if constexpr (std::is_same_v<P, PF_PixelFloat>) {
            p.red = fileToHost32(static_cast<float>(in[0]), type);
            p.green = fileToHost32(static_cast<float>(in[1]), type);
            p.blue = fileToHost32(static_cast<float>(in[2]), type);
            p.alpha = fileToHost32(static_cast<float>(in[3]), type);
        } else {
            using H = decltype(p.red);
            p.red = static_cast<H>(fileToHostInt(static_cast<float>(in[0]), type, depth));
            p.green = static_cast<H>(fileToHostInt(static_cast<float>(in[1]), type, depth));
            p.blue = static_cast<H>(fileToHostInt(static_cast<float>(in[2]), type, depth));
            p.alpha = static_cast<H>(fileToHostInt(static_cast<float>(in[3]), type, depth));
        }
    }
}

template <class C>
void toHostRow(const C* in, SampleType type, Image& image, int y) {
    switch (image.depth) {
    case Depth::Bits8:
        fillHostRow(in, type, image.row<PF_Pixel>(y), image.width, image.depth);
        break;
    case Depth::Bits16:
        fillHostRow(in, type, image.row<PF_Pixel16>(y), image.width, image.depth);
        break;
    case Depth::Bits32:
        fillHostRow(in, type, image.row<PF_PixelFloat>(y), image.width, image.depth);
        break;
    }
}

// Every value stored is already a whole number in the type's range for the integer types.
template <class P, class C>
void fillFileRow(const P* in, int width, Depth depth, SampleType type, C* out) {
    for (int x = 0; x < width; ++x, out += 4) {
        const P& p = in[x];
        if constexpr (std::is_same_v<P, PF_PixelFloat>) {
            out[0] = static_cast<C>(hostFloatToFile(p.red, type));
            out[1] = static_cast<C>(hostFloatToFile(p.green, type));
            out[2] = static_cast<C>(hostFloatToFile(p.blue, type));
            out[3] = static_cast<C>(hostFloatToFile(p.alpha, type));
        } else {
            out[0] = static_cast<C>(hostToFile(p.red, depth, type));
            out[1] = static_cast<C>(hostToFile(p.green, depth, type));
            out[2] = static_cast<C>(hostToFile(p.blue, depth, type));
            out[3] = static_cast<C>(hostToFile(p.alpha, depth, type));
        }
    }
}

template <class C>
void fromHostRow(const Image& image, int y, SampleType type, C* out) {
    switch (image.depth) {
    case Depth::Bits8:
        fillFileRow(image.row<PF_Pixel>(y), image.width, image.depth, type, out);
        break;
    case Depth::Bits16:
        fillFileRow(image.row<PF_Pixel16>(y), image.width, image.depth, type, out);
        break;
    case Depth::Bits32:
        fillFileRow(image.row<PF_PixelFloat>(y), image.width, image.depth, type, out);
        break;
    }
}

} // namespace

unsigned quantiseNearest(float f, unsigned max) {
    if (!(f > 0.0f))
        return 0;
    if (f >= 1.0f)
        return max;
    return static_cast<unsigned>(std::floor(static_cast<double>(f) * max + 0.5));
}

unsigned fileToHost16(unsigned fileValue) {
    return roundDiv(std::uint64_t{fileValue} * 32768, 65535);
}

unsigned host16ToFile(unsigned hostValue) {
    return roundDiv(std::uint64_t{std::min(hostValue, 32768u)} * 65535, 32768);
}

Depth naturalDepth(SampleType type) {
    switch (type) {
    case SampleType::UInt8:
        return Depth::Bits8;
    case SampleType::UInt16:
        return Depth::Bits16;
    case SampleType::Half:
    case SampleType::Float:
        break;
    }
    return Depth::Bits32;
}

std::size_t sampleBytes(SampleType type) {
    switch (type) {
    case SampleType::UInt8:
        return 1;
    case SampleType::UInt16:
        return 2;
    case SampleType::Half:
    case SampleType::Float:
        break;
    }
    return 4;
}

void rowToHost(SampleType type, const void* samples, Image& image, int y) {
    switch (type) {
    case SampleType::UInt8:
        toHostRow(static_cast<const std::uint8_t*>(samples), type, image, y);
        break;
    case SampleType::UInt16:
        toHostRow(static_cast<const std::uint16_t*>(samples), type, image, y);
        break;
    case SampleType::Half:
    case SampleType::Float:
        toHostRow(static_cast<const float*>(samples), type, image, y);
        break;
    }
}

void rowFromHost(const Image& image, int y, SampleType type, void* samples) {
    switch (type) {
    case SampleType::UInt8:
        fromHostRow(image, y, type, static_cast<std::uint8_t*>(samples));
        break;
    case SampleType::UInt16:
        fromHostRow(image, y, type, static_cast<std::uint16_t*>(samples));
        break;
    case SampleType::Half:
    case SampleType::Float:
        fromHostRow(image, y, type, static_cast<float*>(samples));
        break;
    }
}

SampleType storedType(const std::string& extension, Depth depth) {
    const std::string ext = OmbrelHost::asciiLower(extension);
    if (ext == ".png")
        return depth == Depth::Bits8 ? SampleType::UInt8 : SampleType::UInt16;
    if (ext == ".exr")
        return SampleType::Float;
    switch (depth) {
    case Depth::Bits8:
        return SampleType::UInt8;
    case Depth::Bits16:
        return SampleType::UInt16;
    case Depth::Bits32:
        break;
    }
    return SampleType::Float;
}

int depthBits(Depth depth) {
    return static_cast<int>(depth);
}

const char* sampleTypeName(SampleType type) {
    switch (type) {
    case SampleType::UInt8:
        return "8-bit";
    case SampleType::UInt16:
        return "16-bit";
    case SampleType::Half:
        return "half float";
    case SampleType::Float:
        return "float";
    }
    return "?";
}

std::array<double, 4> unitPixel(const Image& image, int x, int y) {
    switch (image.depth) {
    case Depth::Bits8: {
        const PF_Pixel& p = image.row<PF_Pixel>(y)[x];
        return {p.red / 255.0, p.green / 255.0, p.blue / 255.0, p.alpha / 255.0};
    }
    case Depth::Bits16: {
        const PF_Pixel16& p = image.row<PF_Pixel16>(y)[x];
        return {p.red / 32768.0, p.green / 32768.0, p.blue / 32768.0, p.alpha / 32768.0};
    }
    case Depth::Bits32:
        break;
    }
    const PF_PixelFloat& p = image.row<PF_PixelFloat>(y)[x];
    return {p.red, p.green, p.blue, p.alpha};
}

} // namespace OmbrelRender
