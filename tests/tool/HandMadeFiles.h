// TIFF files made byte by byte, for sample types the image library's TIFF writer does not write
// (it stores half as float, and double it stores so that its own reader hands over zeros).
#pragma once

#include <OpenImageIO/half.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace OmbrelRenderTest {

// `values` as samples of `bits` bits, little-endian: sampleFormat 1 unsigned integers (already
// in 0..2^bits-1), 3 floats (16 bits: half).
inline std::string samplesLE(const std::vector<double>& values, int bits, int sampleFormat) {
    std::string out;
    for (const double v : values) {
        std::uint64_t word = 0;
        if (sampleFormat == 3 && bits == 16) {
            const half h(static_cast<float>(v));
            std::uint16_t b;
            std::memcpy(&b, &h, 2);
            word = b;
        } else if (sampleFormat == 3 && bits == 32) {
            const float f = static_cast<float>(v);
            std::uint32_t b;
            std::memcpy(&b, &f, 4);
            word = b;
        } else if (sampleFormat == 3) {
            std::memcpy(&word, &v, 8);
        } else {
            word = static_cast<std::uint64_t>(v);
        }
        for (int k = 0; k < bits / 8; ++k)
            out += static_cast<char>((word >> (8 * k)) & 0xFF);
    }
    return out;
}

// An uncompressed little-endian TIFF of one strip: RGB, or RGBA with unassociated alpha.
inline std::string tiffFile(int width, int height, int channels, int bits, int sampleFormat,
                            const std::string& samples) {
    std::string b = "II";
    auto u16 = [&](unsigned v) {
        b += static_cast<char>(v & 0xFF);
        b += static_cast<char>((v >> 8) & 0xFF);
    };
    auto u32 = [&](unsigned v) {
        u16(v & 0xFFFF);
        u16(v >> 16);
    };
    struct Entry {
        unsigned tag, type, count, value;
    };
    const unsigned tags = channels == 4 ? 11 : 10;
    const unsigned bitsAt = 8 + 2 + tags * 12 + 4;
    const unsigned formatAt = bitsAt + 2 * channels;
    const unsigned dataAt = formatAt + 2 * channels;
    const auto ch = static_cast<unsigned>(channels);
    std::vector<Entry> entries = {{256, 4, 1, static_cast<unsigned>(width)},
                                  {257, 4, 1, static_cast<unsigned>(height)},
                                  {258, 3, ch, bitsAt},
                                  {259, 3, 1, 1},
                                  {262, 3, 1, 2},
                                  {273, 4, 1, dataAt},
                                  {277, 3, 1, ch},
                                  {278, 4, 1, static_cast<unsigned>(height)},
                                  {279, 4, 1, static_cast<unsigned>(samples.size())}};
    if (channels == 4)
        entries.push_back({338, 3, 1, 2});
    entries.push_back({339, 3, ch, formatAt});
    u16(42);
    u32(8);
    u16(tags);
    for (const Entry& e : entries) {
        u16(e.tag);
        u16(e.type);
        u32(e.count);
        if (e.type == 3 && e.count == 1) {
            u16(e.value);
            u16(0);
        } else {
            u32(e.value);
        }
    }
    u32(0);
    for (int i = 0; i < channels; ++i)
        u16(static_cast<unsigned>(bits));
    for (int i = 0; i < channels; ++i)
        u16(static_cast<unsigned>(sampleFormat));
    return b + samples;
}

} // namespace OmbrelRenderTest
