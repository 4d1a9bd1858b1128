// Finding the PiPL bytes in a module file without loading it: pure parsers of the file's bytes,
// independent of the platform the host runs on. readModulePiPL (OmbrelHost.h) reads the file
// and picks the parser by the file's magic.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace OmbrelHost {

// The contents of the section named ".pipl" of a 64-bit little-endian ELF file. Throws
// HostError saying what is missing or broken (the caller adds the file name).
std::vector<std::uint8_t> piplFromELF(std::span<const std::uint8_t> file);

// The resource of type "PIPL", id 16000 of a PE file (a Windows .aex/.dll), language 1033
// (US English) when present, else the first language. Throws HostError like piplFromELF.
std::vector<std::uint8_t> piplFromPE(std::span<const std::uint8_t> file);

} // namespace OmbrelHost
