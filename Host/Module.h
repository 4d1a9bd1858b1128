// An effect module: its PiPL and its entry point, loaded from a file or linked in.
#pragma once

#include <filesystem>
#include <memory>

#include "Host/PiPL.h"
#include "HostInterface/EffectInterface.h"

namespace OmbrelHost {

class Module {
public:
    // Reads and decodes the PiPL, then loads the module and resolves the entry point the PiPL
    // names; throws HostError (missing file, no or malformed PiPL, a module for another
    // platform, no entry point, not loadable) with one line that names the file. The PiPL is
    // read before any of the module's code runs, the way the platform's host reads it: on
    // Windows through the resource functions, from the module mapped as data.
    static Module load(const std::filesystem::path& path);
    // An effect linked into this process (tests), described by the given PiPL.
    static Module fromEntryPoint(PF_EntryPointFunc entry, PiPL pipl);

    const PiPL& pipl() const;
    PF_EntryPointFunc entryPoint() const;
    const std::filesystem::path& path() const;

private:
    Module() = default;
    struct Impl;
    std::shared_ptr<Impl> impl_;
};

} // namespace OmbrelHost
