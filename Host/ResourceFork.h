// Reading a classic Mac resource file: the resource fork's format, kept in a data fork as in a
// bundle's Contents/Resources/<executable>.rsrc. A pure parser of the file's bytes, independent
// of the platform the host runs on; every offset and count in the file is distrusted.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "Host/ByteReader.h"

namespace OmbrelHost {

struct MacResource {
    std::string type; // four characters, "PiPL"
    int id = 0;       // signed 16-bit
    std::uint8_t attributes = 0;
    std::optional<std::string> name; // absent for "no name"
    std::vector<std::uint8_t> data;
};

// Every resource of the file, type by type in map order. Throws HostError beginning with
// "truncated resource file" or "inconsistent resource file" and saying which part is wrong
// (the caller adds the file name); resources whose data overlaps are inconsistent, so the data
// returned never exceeds the file's size.
std::vector<MacResource> readResourceFile(std::span<const std::uint8_t> file);

// The data of the resource of type 'PiPL', id 16000. Throws HostError like readResourceFile,
// or saying that there is no such resource.
std::vector<std::uint8_t> piplFromResourceFile(std::span<const std::uint8_t> file);

// The same over a reader made by resourceFileReader: over a file, only its header, its map and
// the PiPL's data are read.
ByteReader resourceFileReader(std::span<const std::uint8_t> file);
ByteReader resourceFileReader(const RegularFile& file);
std::vector<std::uint8_t> piplFromResourceFile(const ByteReader& file);

} // namespace OmbrelHost
