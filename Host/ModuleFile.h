// Finding the PiPL bytes in a module file without loading it: readModuleFile picks the reader
// by the file's magic (or a bundle's folder), and the parsers of each format's bytes, which are
// independent of the platform the host runs on.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "Host/PiPL.h"

namespace OmbrelHost {

// A module as found on disk, read without loading it: what it is, whether this host can load
// it, and its PiPL bytes.
struct ModuleFile {
    std::filesystem::path path;     // as given: a file, or a bundle's folder
    std::string format;             // "ELF module", "PE module", "macOS bundle"
    std::string platform;           // what it is for: "Linux x86-64", "Windows x64", "macOS"
    bool loadableHere = false;      // this host's loader can open `binary`
    std::filesystem::path binary;   // what the loader opens (a bundle's Contents/MacOS/<name>)
    PiPLFormat piplFormat{};        // how its PiPL is encoded
    std::vector<std::uint8_t> pipl; // undecoded
};

// Reads a module file (ELF section ".pipl"; PE resource "PIPL" 16000, language 1033; or a macOS
// bundle's 'PiPL' resource 16000 in Contents/Resources/<executable>.rsrc); throws HostError
// naming the path when it cannot be read or carries no PiPL.
ModuleFile readModuleFile(const std::filesystem::path& module);
// The module's PiPL decoded in its format; throws HostError naming the module's path when the
// bytes are malformed.
PiPL decodePiPL(const ModuleFile& module);
// readModuleFile's PiPL bytes.
std::vector<std::uint8_t> readModulePiPL(const std::filesystem::path& module);

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
