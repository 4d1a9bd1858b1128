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

template <class P>
void fillHost(const FileImage& file, Image& image) {
    for (int y = 0; y < file.height; ++y) {
        P* row = image.row<P>(y);
        for (int x = 0; x < file.width; ++x) {
            const float* in = file.pixel(x, y);
            P& out = row[x];
            if constexpr (std::is_same_v<P, PF_PixelFloat>) {
                out.red = fileToHost32(in[0], file.type);
                out.green = fileToHost32(in[1], file.type);
                out.blue = fileToHost32(in[2], file.type);
                out.alpha = fileToHost32(in[3], file.type);
            } else {
                using C = decltype(out.red);
                out.red = static_cast<C>(fileToHostInt(in[0], file.type, image.depth));
                out.green = static_cast<C>(fileToHostInt(in[1], file.type, image.depth));
                out.blue = static_cast<C>(fileToHostInt(in[2], file.type, image.depth));
                out.alpha = static_cast<C>(fileToHostInt(in[3], file.type, image.depth));
            }
        }
    }
}

template <class P>
void fillFile(const Image& image, FileImage& file) {
    for (int y = 0; y < image.height; ++y) {
        const P* row = image.row<P>(y);
        for (int x = 0; x < image.width; ++x) {
            const P& in = row[x];
            float* out = file.pixel(x, y);
            if constexpr (std::is_same_v<P, PF_PixelFloat>) {
                out[0] = hostFloatToFile(in.red, file.type);
                out[1] = hostFloatToFile(in.green, file.type);
                out[2] = hostFloatToFile(in.blue, file.type);
                out[3] = hostFloatToFile(in.alpha, file.type);
            } else {
                out[0] = hostToFile(in.red, image.depth, file.type);
                out[1] = hostToFile(in.green, image.depth, file.type);
                out[2] = hostToFile(in.blue, image.depth, file.type);
                out[3] = hostToFile(in.alpha, image.depth, file.type);
            }
        }
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

Image toHost(const FileImage& file, Depth depth) {
    Image image(file.width, file.height, depth);
    switch (depth) {
    case Depth::Bits8:
        fillHost<PF_Pixel>(file, image);
        break;
    case Depth::Bits16:
        fillHost<PF_Pixel16>(file, image);
        break;
    case Depth::Bits32:
        fillHost<PF_PixelFloat>(file, image);
        break;
    }
    return image;
}

FileImage fromHost(const Image& image, SampleType type) {
    FileImage file(image.width, image.height, type);
    switch (image.depth) {
    case Depth::Bits8:
        fillFile<PF_Pixel>(image, file);
        break;
    case Depth::Bits16:
        fillFile<PF_Pixel16>(image, file);
        break;
    case Depth::Bits32:
        fillFile<PF_PixelFloat>(image, file);
        break;
    }
    return file;
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
