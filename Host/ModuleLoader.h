// The platform's part of loading an effect module: reading its PiPL the way the platform's host
// does, opening it as a shared library and finding a symbol in it. Everything else about
// modules (file formats, PiPL decoding, validation) is platform-neutral.
//
// ModuleLoaderPosix.cpp implements this with dlopen for Linux and macOS; ModuleLoaderWindows.cpp
// with the resource functions and LoadLibraryW for the Windows build, which loads a .aex. The
// build picks one of the two.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "Host/OmbrelHost.h"

namespace OmbrelHost::detail {

class LoadedLibrary {
public:
    virtual ~LoadedLibrary() = default;
    // The address of an exported symbol, or null.
    virtual void* symbol(const std::string& name) const = 0;
};

// The PiPL bytes of a module this host can load, read without running any of its code: on
// Windows through the resource functions of the module mapped as data; elsewhere those the
// file reader found (the ELF section, the bundle's resource file). Throws HostError saying why
// there are none (the caller adds the path).
std::vector<std::uint8_t> readPiPL(const ModuleFile& module);

// Loads the library; throws HostError with the loader's reason (the caller adds the path).
std::shared_ptr<LoadedLibrary> loadLibrary(const std::filesystem::path& path);

} // namespace OmbrelHost::detail
