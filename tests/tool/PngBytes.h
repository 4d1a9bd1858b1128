// PNG files made byte by byte, for damaged and forged files no encoder would write.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace OmbrelRenderTest {

using Bytes = std::string;

inline void put32(Bytes& b, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8)
        b += static_cast<char>((v >> shift) & 0xFF);
}

// Bit by bit, independent of the table the tool's checker uses.
inline std::uint32_t crc32(const Bytes& data) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char byte : data) {
        crc ^= byte;
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    return crc ^ 0xFFFFFFFFu;
}

inline Bytes pngChunk(const std::string& type, const Bytes& data) {
    Bytes b;
    put32(b, static_cast<std::uint32_t>(data.size()));
    b += type + data;
    put32(b, crc32(type + data));
    return b;
}

inline Bytes pngHeader(std::uint32_t w, std::uint32_t h, int depth, int colourType) {
    Bytes d;
    put32(d, w);
    put32(d, h);
    d += static_cast<char>(depth);
    d += static_cast<char>(colourType);
    d += std::string(3, '\0');
    return pngChunk("IHDR", d);
}

inline const Bytes kPngSignature("\x89PNG\r\n\x1a\n", 8);

inline Bytes pngFile(const Bytes& ihdr, const std::vector<Bytes>& idat) {
    Bytes b = kPngSignature + ihdr;
    for (const Bytes& d : idat)
        b += pngChunk("IDAT", d);
    return b + pngChunk("IEND", "");
}

// A whole zlib stream of four zero bytes: a well-formed file whose data runs out at once.
inline const Bytes kFourZeroBytes("\x78\x9c\x63\x60\x60\x60\x00\x00\x00\x04\x00\x01", 12);

// 69 bytes whose header claims width x height 16-bit RGBA.
inline Bytes forgedPng(std::uint32_t width, std::uint32_t height) {
    return pngFile(pngHeader(width, height, 16, 6), {kFourZeroBytes});
}

} // namespace OmbrelRenderTest
