// Writes a classic Mac resource file (the resource fork's format, kept in the data fork, as a
// bundle's Resources/<name>.rsrc is). Runs on the build machine; nothing of it is linked into
// the module.
//
// All integers are big-endian. Layout:
//   header (16 bytes): data offset (256), map offset, data length, map length; the rest of the
//     first 256 bytes is reserved and zero;
//   data: per resource a 32-bit length, then its bytes;
//   map: a copy of the header, 4 + 2 + 2 reserved bytes (next map handle, file reference,
//     attributes), the type list's and the name list's offsets from the map's start (16-bit),
//     the type list (count of types minus one, then per type its code, count of resources minus
//     one and the offset of its reference list from the type list's start), the reference lists
//     (per resource: 16-bit id, name offset 0xFFFF for "no name", attribute byte, 24-bit offset
//     of its data from the data's start, 4 reserved bytes) and an empty name list.
#pragma once

#include <cstdint>
#include <vector>

namespace OmbrelMac {

struct Resource {
    std::uint32_t type; // four-character code, first character in the top byte
    std::int16_t id;
    std::vector<std::uint8_t> data;
};

// The bytes of a resource file holding `resources`, grouped by type in order of first
// appearance. Throws std::length_error when the data or the map outgrow the format's offsets.
std::vector<std::uint8_t> writeResourceFile(const std::vector<Resource>& resources);

} // namespace OmbrelMac
