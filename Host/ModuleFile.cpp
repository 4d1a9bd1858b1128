// Format detection and the reading of module files and bundles from disk.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "Host/MacBundle.h"
#include "Host/ModuleFormats.h"
#include "Host/ResourceFork.h"

namespace OmbrelHost {

// ---- Files ----------------------------------------------------------------------------------

namespace {

// `what` names the file in messages; the caller adds the module's path.
std::vector<std::uint8_t> readBytes(const std::filesystem::path& file, const std::string& what) {
    std::ifstream in(file, std::ios::binary);
    if (!in)
        throw HostError("cannot open " + what);
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                    std::istreambuf_iterator<char>());
    if (in.bad())
        throw HostError("cannot read " + what);
    return bytes;
}

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
    if (!std::filesystem::is_regular_file(contents / "Info.plist", ec))
        throw HostError("a folder but not a bundle: it has no Contents/Info.plist");
    const std::vector<std::uint8_t> plist =
        readBytes(contents / "Info.plist", "Contents/Info.plist");
    std::string executable;
    try {
        executable = bundleExecutable(
            std::string_view(reinterpret_cast<const char*>(plist.data()), plist.size()));
    } catch (const HostError& e) {
        throw HostError(std::string("Contents/Info.plist: ") + e.what());
    }
    m.format = "macOS bundle";
    m.platform = "macOS";
    m.loadableHere = kLoadsMacBundle;
    m.binary = contents / "MacOS" / executable;
    m.piplFormat = kMacIntelPiPL;
    const std::string rsrc = "Contents/Resources/" + executable + ".rsrc";
    const std::vector<std::uint8_t> bytes = readBytes(m.path / rsrc, rsrc);
    try {
        m.pipl = piplFromResourceFile(bytes);
    } catch (const HostError& e) {
        throw HostError(rsrc + ": " + e.what());
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
        if (!std::filesystem::is_regular_file(module, ec))
            throw HostError("no such module file");
        const std::vector<std::uint8_t> bytes = readBytes(module, "the module file");
        if (bytes.size() >= 4 && std::memcmp(bytes.data(),
                                             "\x7f"
                                             "ELF",
                                             4) == 0) {
            m.format = "ELF module";
            m.pipl = piplFromELF(bytes);
            const ModuleTarget t = targetOfELF(bytes);
            m.platform = t.platform;
            m.loadableHere = t.loadableHere;
            m.piplFormat = kWindowsPiPL;
            return m;
        }
        if (bytes.size() >= 2 && bytes[0] == 'M' && bytes[1] == 'Z') {
            m.format = "PE module";
            m.pipl = piplFromPE(bytes);
            const ModuleTarget t = targetOfPE(bytes);
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

} // namespace OmbrelHost
