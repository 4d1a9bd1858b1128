// Reading a classic Mac resource file: the resource fork's format, kept in a data fork as in a
// bundle's Contents/Resources/<executable>.rsrc. A pure parser of the file's bytes, independent
// of the platform the host runs on; every offset and count in the file is distrusted.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

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
// (the caller adds the file name).
std::vector<MacResource> readResourceFile(std::span<const std::uint8_t> file);

// The data of the resource of type 'PiPL', id 16000. Throws HostError like readResourceFile,
// or saying that there is no such resource.
std::vector<std::uint8_t> piplFromResourceFile(std::span<const std::uint8_t> file);

} // namespace OmbrelHost
