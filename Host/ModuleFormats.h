// The module readers' side of Host/ModuleFile.h: each format's parser over a ByteReader, so the
// same code reads bytes in memory (tests, fuzzing) and files on disk piece by piece.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "Host/ByteReader.h"
#include "Host/HostError.h"
#include "Host/ModuleFile.h"

namespace OmbrelHost {

// Readers whose overruns say "truncated ELF file: ..." / "truncated PE file: ...".
ByteReader elfReader(std::span<const std::uint8_t> file);
ByteReader elfReader(const RegularFile& file);
ByteReader peReader(std::span<const std::uint8_t> file);
ByteReader peReader(const RegularFile& file);

std::vector<std::uint8_t> piplFromELF(const ByteReader& file);
std::vector<std::uint8_t> piplFromPE(const ByteReader& file);
ModuleTarget targetOfELF(const ByteReader& file);
ModuleTarget targetOfPE(const ByteReader& file);

// "Linux x86-64" for an ELF file's e_machine 0x3E, "Windows x64" for a PE file's 0x8664, and
// whether this host loads it.
ModuleTarget moduleTarget(bool elf, std::uint64_t machine);

} // namespace OmbrelHost
