#include "Host/ModuleFile.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "Host/MacBundle.h"
#include "Host/OmbrelHost.h"
#include "Host/ResourceFork.h"

namespace OmbrelHost {

namespace {

// Bounds-checked little-endian reads; every offset comes from the file and is distrusted.
class Bytes {
public:
    Bytes(std::span<const std::uint8_t> bytes, const char* kind) : bytes_(bytes), kind_(kind) {}

    std::size_t size() const { return bytes_.size(); }

    bool fits(std::uint64_t offset, std::uint64_t length) const {
        return offset <= bytes_.size() && length <= bytes_.size() - offset;
    }
    void need(std::uint64_t offset, std::uint64_t length, const char* what) const {
        if (!fits(offset, length))
            throw HostError(std::string("truncated ") + kind_ + " file: " + what +
                            " lies past its end");
    }
    std::uint64_t u(std::uint64_t offset, int bytes, const char* what) const {
        need(offset, static_cast<std::uint64_t>(bytes), what);
        std::uint64_t v = 0;
        for (int i = bytes - 1; i >= 0; --i)
            v = (v << 8) | bytes_[static_cast<std::size_t>(offset) + static_cast<std::size_t>(i)];
        return v;
    }
    std::vector<std::uint8_t> slice(std::uint64_t offset, std::uint64_t length,
                                    const char* what) const {
        need(offset, length, what);
        const auto* start = bytes_.data() + offset;
        return std::vector<std::uint8_t>(start, start + length);
    }
    const std::uint8_t* at(std::uint64_t offset) const { return bytes_.data() + offset; }

private:
    std::span<const std::uint8_t> bytes_;
    const char* kind_;
};

} // namespace

// ---- ELF ------------------------------------------------------------------------------------

std::vector<std::uint8_t> piplFromELF(std::span<const std::uint8_t> file) {
    const Bytes f(file, "ELF");
    f.need(0, 64, "the ELF header");
    if (std::memcmp(f.at(0),
                    "\x7f"
                    "ELF",
                    4) != 0)
        throw HostError("not an ELF file");
    if (file[4] != 2 || file[5] != 1)
        throw HostError("not a 64-bit little-endian ELF file");
    const std::uint64_t shoff = f.u(0x28, 8, "e_shoff");
    const std::uint64_t shentsize = f.u(0x3A, 2, "e_shentsize");
    std::uint64_t shnum = f.u(0x3C, 2, "e_shnum");
    std::uint64_t shstrndx = f.u(0x3E, 2, "e_shstrndx");
    if (shoff == 0)
        throw HostError("the ELF file has no section headers, so no .pipl section");
    if (shentsize < 64)
        throw HostError("the ELF section headers are " + std::to_string(shentsize) +
                        " bytes, less than 64");
    // Extended numbering: counts too large for the header live in section 0.
    if (shnum == 0)
        shnum = f.u(shoff + 32, 8, "section 0");
    if (shstrndx == 0xFFFF)
        shstrndx = f.u(shoff + 40, 4, "section 0");
    if (shnum > f.size() / shentsize)
        throw HostError("truncated ELF file: " + std::to_string(shnum) +
                        " section headers do not fit");
    f.need(shoff, shnum * shentsize, "the section header table");
    if (shstrndx >= shnum)
        throw HostError("the ELF section name table index is out of range");

    const std::uint64_t namesHeader = shoff + shstrndx * shentsize;
    const std::uint64_t namesOffset = f.u(namesHeader + 24, 8, "section names");
    const std::uint64_t namesSize = f.u(namesHeader + 32, 8, "section names");
    f.need(namesOffset, namesSize, "the section name table");

    for (std::uint64_t i = 0; i < shnum; ++i) {
        const std::uint64_t header = shoff + i * shentsize;
        const std::uint64_t name = f.u(header, 4, "a section header");
        if (name >= namesSize)
            continue;
        const char* text = reinterpret_cast<const char*>(f.at(namesOffset + name));
        const std::size_t room = static_cast<std::size_t>(namesSize - name);
        if (strnlen(text, room) == room || std::strcmp(text, ".pipl") != 0)
            continue;
        constexpr std::uint64_t kNoBits = 8;
        if (f.u(header + 4, 4, "a section header") == kNoBits)
            throw HostError("the ELF .pipl section holds no bytes in the file");
        const std::uint64_t offset = f.u(header + 24, 8, "a section header");
        const std::uint64_t size = f.u(header + 32, 8, "a section header");
        return f.slice(offset, size, "the .pipl section");
    }
    throw HostError("no PiPL: the ELF file has no .pipl section");
}

// ---- PE -------------------------------------------------------------------------------------

namespace {

struct PESection {
    std::uint64_t virtualAddress, virtualSize, rawSize, rawOffset;
};

constexpr std::uint32_t kSubdirectory = 0x80000000u;
constexpr int kPiPLResourceId = 16000;
constexpr int kUSEnglish = 1033;

class PEResources {
public:
    PEResources(const Bytes& f, std::vector<PESection> sections)
        : f_(f), sections_(std::move(sections)) {}

    void setRoot(std::uint64_t root) { root_ = root; }
    std::uint64_t root() const { return root_; }

    std::uint64_t fileOffset(std::uint64_t rva, const char* what) const {
        for (const PESection& s : sections_) {
            const std::uint64_t extent = std::max(s.virtualSize, s.rawSize);
            if (rva >= s.virtualAddress && rva - s.virtualAddress < extent) {
                const std::uint64_t delta = rva - s.virtualAddress;
                if (delta >= s.rawSize)
                    break;
                return s.rawOffset + delta;
            }
        }
        throw HostError(std::string("the PE file's ") + what + " lies in no section");
    }

    struct Entry {
        bool named;
        std::string name; // for named entries, upper-cased
        std::uint32_t id;
        std::uint32_t target; // offset from the resource root, subdirectory bit kept
    };

    std::vector<Entry> directory(std::uint32_t offset) const {
        const std::uint64_t at = root_ + offset;
        const std::uint64_t named = f_.u(at + 12, 2, "a resource directory");
        const std::uint64_t ids = f_.u(at + 14, 2, "a resource directory");
        std::vector<Entry> entries;
        for (std::uint64_t i = 0; i < named + ids; ++i) {
            const std::uint64_t e = at + 16 + 8 * i;
            const auto nameField = static_cast<std::uint32_t>(f_.u(e, 4, "a resource entry"));
            Entry entry{};
            entry.target = static_cast<std::uint32_t>(f_.u(e + 4, 4, "a resource entry"));
            entry.named = (nameField & kSubdirectory) != 0;
            if (entry.named) {
                // A length-prefixed UTF-16 name; resource names compare case-insensitively.
                const std::uint64_t s = root_ + (nameField & ~kSubdirectory);
                const std::uint64_t length = f_.u(s, 2, "a resource name");
                for (std::uint64_t c = 0; c < length; ++c) {
                    const std::uint64_t unit = f_.u(s + 2 + 2 * c, 2, "a resource name");
                    entry.name +=
                        unit < 0x80 ? static_cast<char>(std::toupper(static_cast<int>(unit))) : '?';
                }
            } else {
                entry.id = nameField & 0xFFFFu;
            }
            entries.push_back(std::move(entry));
        }
        return entries;
    }

private:
    const Bytes& f_;
    std::vector<PESection> sections_;
    std::uint64_t root_ = 0;
};

} // namespace

std::vector<std::uint8_t> piplFromPE(std::span<const std::uint8_t> file) {
    const Bytes f(file, "PE");
    f.need(0, 64, "the DOS header");
    if (file[0] != 'M' || file[1] != 'Z')
        throw HostError("not a PE file");
    const std::uint64_t pe = f.u(0x3C, 4, "e_lfanew");
    f.need(pe, 24, "the PE header");
    if (std::memcmp(f.at(pe), "PE\0\0", 4) != 0)
        throw HostError("not a PE file: no PE signature");
    const std::uint64_t sectionCount = f.u(pe + 6, 2, "the COFF header");
    const std::uint64_t optionalSize = f.u(pe + 20, 2, "the COFF header");
    const std::uint64_t optional = pe + 24;
    const std::uint64_t magic = f.u(optional, 2, "the optional header");
    std::uint64_t directories = 0;
    std::uint64_t directoryCount = 0;
    if (magic == 0x20B) { // PE32+
        directoryCount = f.u(optional + 108, 4, "the optional header");
        directories = optional + 112;
    } else if (magic == 0x10B) { // PE32
        directoryCount = f.u(optional + 92, 4, "the optional header");
        directories = optional + 96;
    } else {
        throw HostError("the PE optional header has an unknown magic");
    }
    constexpr std::uint64_t kResourceDirectory = 2;
    if (directoryCount <= kResourceDirectory || directories + 8 * 3 > optional + optionalSize)
        throw HostError("no PiPL: the PE file has no resources");
    const std::uint64_t resourceRva = f.u(directories + 8 * kResourceDirectory, 4, "directories");
    if (resourceRva == 0)
        throw HostError("no PiPL: the PE file has no resources");

    std::vector<PESection> sections;
    const std::uint64_t table = optional + optionalSize;
    for (std::uint64_t i = 0; i < sectionCount; ++i) {
        const std::uint64_t s = table + 40 * i;
        sections.push_back(
            PESection{f.u(s + 12, 4, "the section table"), f.u(s + 8, 4, "the section table"),
                      f.u(s + 16, 4, "the section table"), f.u(s + 20, 4, "the section table")});
    }
    PEResources tree(f, std::move(sections));
    tree.setRoot(tree.fileOffset(resourceRva, "resource directory"));

    auto subdirectory = [](const PEResources::Entry& e, const char* level) {
        if ((e.target & kSubdirectory) == 0)
            throw HostError(std::string("the PE resource ") + level + " entry is not a directory");
        return e.target & ~kSubdirectory;
    };

    const auto types = tree.directory(0);
    const PEResources::Entry* type = nullptr;
    for (const auto& e : types) {
        if (e.named && e.name == "PIPL")
            type = &e;
    }
    if (type == nullptr)
        throw HostError("no PiPL: the PE file has no resource of type \"PIPL\"");
    const auto ids = tree.directory(subdirectory(*type, "type"));
    const PEResources::Entry* id = nullptr;
    for (const auto& e : ids) {
        if (!e.named && e.id == kPiPLResourceId)
            id = &e;
    }
    if (id == nullptr)
        throw HostError("no PiPL: the PE file has no \"PIPL\" resource 16000");
    const auto languages = tree.directory(subdirectory(*id, "id"));
    if (languages.empty())
        throw HostError("no PiPL: the \"PIPL\" resource 16000 has no language");
    const PEResources::Entry* language = &languages.front();
    for (const auto& e : languages) {
        if (!e.named && e.id == kUSEnglish)
            language = &e;
    }
    if ((language->target & kSubdirectory) != 0)
        throw HostError("the PE \"PIPL\" resource entry is a directory, not data");
    const std::uint64_t entry = tree.root() + language->target;
    const std::uint64_t dataRva = f.u(entry, 4, "the PiPL resource entry");
    const std::uint64_t dataSize = f.u(entry + 4, 4, "the PiPL resource entry");
    return f.slice(tree.fileOffset(dataRva, "PiPL resource data"), dataSize,
                   "the PiPL resource data");
}

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

// "Linux x86-64" for an ELF file's e_machine 0x3E, "Windows x64" for a PE file's 0x8664.
ModuleTarget target(bool elf, std::uint64_t code) {
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

ModuleTarget targetOfELF(std::span<const std::uint8_t> file) {
    const std::uint64_t machine = Bytes(file, "ELF").u(18, 2, "e_machine");
    return target(true, machine);
}

ModuleTarget targetOfPE(std::span<const std::uint8_t> file) {
    const Bytes f(file, "PE");
    const std::uint64_t machine = f.u(f.u(0x3C, 4, "e_lfanew") + 4, 2, "the COFF header");
    return target(false, machine);
}

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
