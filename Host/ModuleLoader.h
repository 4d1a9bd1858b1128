// The platform's part of loading an effect module: opening a shared library and finding a
// symbol in it. Everything else about modules (the PiPL, validation) is platform-neutral.
//
// ModuleLoaderPosix.cpp implements this with dlopen for Linux and macOS; ModuleLoaderWindows.cpp
// with LoadLibraryW for the Windows build, which loads a .aex. The build picks one of the two.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

namespace OmbrelHost::detail {

class LoadedLibrary {
public:
    virtual ~LoadedLibrary() = default;
    // The address of an exported symbol, or null.
    virtual void* symbol(const std::string& name) const = 0;
};

// Loads the library; throws HostError with the loader's reason (the caller adds the path).
std::shared_ptr<LoadedLibrary> loadLibrary(const std::filesystem::path& path);

} // namespace OmbrelHost::detail
