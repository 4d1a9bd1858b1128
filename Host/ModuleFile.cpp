// Format detection and the reading of module files and bundles from disk.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "Host/MacBundle.h"
#include "Host/ModuleFormats.h"
#include "Host/ResourceFork.h"

namespace OmbrelHost {

// ---- Files ----------------------------------------------------------------------------------

namespace {

// A file of a bundle, opened for reading; `what` names it in messages ("Contents/Info.plist").
std::unique_ptr<RegularFile> openPart(const std::filesystem::path& file, const std::string& what) {
    try {
        return std::make_unique<RegularFile>(file);
    } catch (const HostError& e) {
        throw HostError(what + ": " + e.what());
    }
}

// Info.plist files of bundles are a few kilobytes; the scan for the executable's name reads it
// whole, so a larger one is refused before it is read.
constexpr std::uint64_t kMaxInfoPlist = 1u << 20;

// The platforms whose modules this host's loader opens.
#if defined(_WIN32)
constexpr bool kLoadsELF = false, kLoadsPE = true, kLoadsMacBundle = false;
#elif defined(__APPLE__) && defined(__x86_64__)
constexpr bool kLoadsELF = false, kLoadsPE = false, kLoadsMacBundle = true;
#elif defined(__APPLE__)
constexpr bool kLoadsELF = false, kLoadsPE = false, kLoadsMacBundle = false;
#else
constexpr bool kLoadsELF = true, kLoadsPE = false, kLoadsMacBundle = false;
#endif

// The processors modules are built for: ELF e_machine and PE machine codes, with the names each
// platform gives them.
struct Machine {
    std::uint32_t elf, pe;
    const char *linuxName, *windowsName;
};
constexpr Machine kMachines[] = {
    {0x3E, 0x8664, "x86-64", "x64"},
    {0xB7, 0xAA64, "AArch64", "ARM64"},
    {0x03, 0x014C, "x86", "x86"},
};
#if defined(__x86_64__) || defined(_M_X64)
constexpr const Machine* kHostMachine = &kMachines[0];
#elif defined(__aarch64__) || defined(_M_ARM64)
constexpr const Machine* kHostMachine = &kMachines[1];
#elif defined(__i386__) || defined(_M_IX86)
constexpr const Machine* kHostMachine = &kMachines[2];
#else
constexpr const Machine* kHostMachine = nullptr;
#endif

} // namespace

ModuleTarget moduleTarget(bool elf, std::uint64_t code) {
    const char* system = elf ? "Linux" : "Windows";
    const bool loadsFormat = elf ? kLoadsELF : kLoadsPE;
    for (const Machine& m : kMachines) {
        if ((elf ? m.elf : m.pe) == code)
            return {std::string(system) + " " + (elf ? m.linuxName : m.windowsName),
                    loadsFormat && &m == kHostMachine};
    }
    char text[32];
    std::snprintf(text, sizeof text, ", machine 0x%04X", static_cast<unsigned>(code));
    return {system + std::string(text), false};
}

namespace {

// A macOS bundle: the executable named by Contents/Info.plist, its PiPL in the resource file of
// the same name, as the host on a Mac reads it before loading the binary.
void readMacBundle(ModuleFile& m) {
    const std::filesystem::path contents = m.path / "Contents";
    std::error_code ec;
    if (!std::filesystem::exists(contents / "Info.plist", ec))
        throw HostError("a folder but not a bundle: it has no Contents/Info.plist");
    std::string plist;
    {
        const auto file = openPart(contents / "Info.plist", "Contents/Info.plist");
        if (file->size() > kMaxInfoPlist)
            throw HostError("Contents/Info.plist: " + std::to_string(file->size()) +
                            " bytes, more than the " + std::to_string(kMaxInfoPlist) +
                            " bytes an Info.plist may hold");
        plist.resize(static_cast<std::size_t>(file->size()));
        try {
            file->read(0, reinterpret_cast<std::uint8_t*>(plist.data()), plist.size());
        } catch (const HostError& e) {
            throw HostError(std::string("Contents/Info.plist: ") + e.what());
        }
    }
    std::string executable;
    try {
        executable = bundleExecutable(plist);
    } catch (const HostError& e) {
        throw HostError(std::string("Contents/Info.plist: ") + e.what());
    }
    m.format = "macOS bundle";
    m.platform = "macOS";
    m.loadableHere = kLoadsMacBundle;
    m.binary = contents / "MacOS" / executable;
    m.piplFormat = kMacIntelPiPL;
    const std::string rsrc = "Contents/Resources/" + executable + ".rsrc";
    const auto file = openPart(m.path / rsrc, rsrc);
    try {
        m.pipl = piplFromResourceFile(resourceFileReader(*file));
    } catch (const HostError& e) {
        throw HostError(rsrc + ": " + e.what());
    }
}

// The module file's own reasons for a path that is not one: missing, or not a regular file.
std::unique_ptr<RegularFile> openModule(const std::filesystem::path& module) {
    std::error_code ec;
    const std::filesystem::file_type type = std::filesystem::status(module, ec).type();
    if (type == std::filesystem::file_type::not_found)
        throw HostError("no such module file");
    try {
        return std::make_unique<RegularFile>(module);
    } catch (const HostError& e) {
        throw HostError(std::string("not a module file: ") + e.what());
    }
}

} // namespace

ModuleFile readModuleFile(const std::filesystem::path& module) {
    ModuleFile m;
    m.path = module;
    m.binary = module;
    std::error_code ec;
    try {
        if (std::filesystem::is_directory(module, ec)) {
            readMacBundle(m);
            return m;
        }
        const auto file = openModule(module);
        // Each reader reads the headers and sections it needs, never the whole file.
        if (const ByteReader elf = elfReader(*file);
            elf.fits(0, 4) && elf.u32(0, "the magic") == 0x464C457Fu) { // "\x7fELF"
            m.format = "ELF module";
            m.pipl = piplFromELF(elf);
            const ModuleTarget t = targetOfELF(elf);
            m.platform = t.platform;
            m.loadableHere = t.loadableHere;
            m.piplFormat = kWindowsPiPL;
            return m;
        }
        if (const ByteReader pe = peReader(*file);
            pe.fits(0, 2) && pe.u16(0, "the magic") == 0x5A4D) { // "MZ"
            m.format = "PE module";
            m.pipl = piplFromPE(pe);
            const ModuleTarget t = targetOfPE(pe);
            m.platform = t.platform;
            m.loadableHere = t.loadableHere;
            m.piplFormat = kWindowsPiPL;
            return m;
        }
    } catch (const HostError& e) {
        throw HostError(module.string() + ": " + e.what());
    }
    throw HostError(module.string() +
                    ": not an effect module (neither ELF nor PE, nor a bundle folder)");
}

std::vector<std::uint8_t> readModulePiPL(const std::filesystem::path& module) {
    return readModuleFile(module).pipl;
}

PiPL decodePiPL(const ModuleFile& module) {
    try {
        return decodePiPL(module.pipl, module.piplFormat);
    } catch (const HostError& e) {
        throw HostError(module.path.string() + ": " + e.what());
    }
}

} // namespace OmbrelHost
