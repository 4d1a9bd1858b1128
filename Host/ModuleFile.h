// Finding the PiPL bytes in a module file without loading it: pure parsers of the file's bytes,
// independent of the platform the host runs on. readModulePiPL (OmbrelHost.h) reads the file
// and picks the parser by the file's magic.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace OmbrelHost {

// The contents of the section named ".pipl" of a 64-bit little-endian ELF file. Throws
// HostError saying what is missing or broken (the caller adds the file name).
std::vector<std::uint8_t> piplFromELF(std::span<const std::uint8_t> file);

// The resource of type "PIPL", id 16000 of a PE file (a Windows .aex/.dll), language 1033
// (US English) when present, else the first language. Throws HostError like piplFromELF.
std::vector<std::uint8_t> piplFromPE(std::span<const std::uint8_t> file);

// What an ELF or PE file was built for, from its header's machine field.
struct ModuleTarget {
    std::string platform; // "Linux x86-64", "Windows x64", ...; "Linux, machine 0x0028"
    bool loadableHere;    // this host's platform and processor
};
// Throw HostError like the readers above for a file too short to hold the field.
ModuleTarget targetOfELF(std::span<const std::uint8_t> file);
ModuleTarget targetOfPE(std::span<const std::uint8_t> file);

} // namespace OmbrelHost
