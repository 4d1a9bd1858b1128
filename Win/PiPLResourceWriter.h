// Writes the resource script that carries a module's PiPL on Windows: resource type "PIPL" (a
// named type), id 16000, language US English, holding the PiPL bytes as 16-bit little-endian
// words. The build compiles a small program around the PiPL bytes, runs it (under wine when
// cross compiling) and compiles the script it writes into the module, so the resource is made
// from the same bytes as the Linux section and the values global setup reports.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "OmbrelPiPL.h"

namespace OmbrelWin {

// Writes the script to `file` (in the current folder when relative); false, with the reason on
// stderr, when it cannot be written or the PiPL has an odd number of bytes (a resource script
// has no single bytes; a PiPL is always made of 16-bit units).
inline bool writePiPLResource(const char* file, const std::uint8_t* bytes, std::size_t size) {
    if (size % 2 != 0) {
        std::fprintf(stderr, "%s: a PiPL of %zu bytes is not a whole number of 16-bit words\n",
                     file, size);
        return false;
    }
    std::FILE* out = std::fopen(file, "wb");
    if (out == nullptr) {
        std::perror(file);
        return false;
    }
    std::fprintf(out, "// The PiPL, written by the build from the PiPL bytes. Do not edit.\n");
    std::fprintf(out, "LANGUAGE %d, %d\n", OmbrelPiPL::kResourceLanguage & 0x3FF,
                 OmbrelPiPL::kResourceLanguage >> 10);
    std::fprintf(out, "%d PIPL\nBEGIN\n", OmbrelPiPL::kResourceId);
    for (std::size_t i = 0; i < size; i += 2) {
        const unsigned word = bytes[i] | (unsigned{bytes[i + 1]} << 8);
        const bool last = i + 2 == size;
        const bool endOfLine = last || (i / 2) % 8 == 7;
        std::fprintf(out, "%s0x%04X%s", (i / 2) % 8 == 0 ? "    " : "", word,
                     last        ? "\n"
                     : endOfLine ? ",\n"
                                 : ", ");
    }
    std::fprintf(out, "END\n");
    if (std::fclose(out) != 0) {
        std::perror(file);
        return false;
    }
    return true;
}

} // namespace OmbrelWin
