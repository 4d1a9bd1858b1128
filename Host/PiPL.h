// A PiPL (the property list that describes an effect to its host), decoded.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "Host/HostError.h"

namespace OmbrelHost {

struct PiPLProperty {
    std::string vendor; // "8BIM"
    std::string key;    // "kind", "name", ...
    std::uint32_t id = 0;
    std::vector<std::uint8_t> data; // without padding
    std::string text; // decoded value for display: "eFKT", "OmbrelColorSpaceConversion",
                      // "0x00080601", "2.0"
};

struct PiPL {
    std::vector<PiPLProperty> properties; // in file order
    // Decoded values of the properties the host acts on. An absent eVER, eGLO or eGL2 reads 0.
    std::string kind;
    std::string name;
    std::string category;
    std::string entryPoint; // from the format's entry point property ("8664", "mi64")
    std::string matchName;
    std::uint32_t version = 0;
    std::uint32_t outFlags = 0;
    std::uint32_t outFlags2 = 0;

    const PiPLProperty* find(std::string_view key) const; // first property with that key
};

// How a platform stores its PiPL: the byte order of its integers (four-character codes are
// integers too) and the property naming the entry point for the platform's processor.
struct PiPLFormat {
    bool bigEndian;
    const char* entryPointKey;
};
// Windows x64 resource, and the Linux section in the same form.
inline constexpr PiPLFormat kWindowsPiPL{false, "8664"};
// macOS bundle resource, for 64-bit Intel.
inline constexpr PiPLFormat kMacIntelPiPL{true, "mi64"};

// Decodes PiPL bytes; throws HostError naming what is malformed: bad header (also when the
// bytes are in the other byte order), truncated property, count mismatch, length past the end,
// a property of the wrong size for its key, no "kind" eFKT, no entry point name under the
// format's key.
PiPL decodePiPL(std::span<const std::uint8_t> bytes, const PiPLFormat& format = kWindowsPiPL);

} // namespace OmbrelHost
