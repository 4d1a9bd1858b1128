// The PiPL section and the target of a 64-bit little-endian ELF file (a Linux module).
#include <cstring>

#include "Host/ModuleFormats.h"

namespace OmbrelHost {

namespace {

std::string truncatedELF(std::string_view, std::uint64_t, std::uint64_t, std::uint64_t,
                         const std::string& what) {
    return "truncated ELF file: " + what + " lies past its end";
}

} // namespace

ByteReader elfReader(std::span<const std::uint8_t> file) {
    return ByteReader(file, Endian::little, truncatedELF, "ELF file");
}
ByteReader elfReader(const RegularFile& file) {
    return ByteReader(file, Endian::little, truncatedELF, "ELF file");
}

std::vector<std::uint8_t> piplFromELF(const ByteReader& f) {
    f.need(0, 64, "the ELF header");
    if (f.u32(0, "the ELF header") != 0x464C457Fu)
        throw HostError("not an ELF file");
    if (f.u(4, 1, "the ELF header") != 2 || f.u(5, 1, "the ELF header") != 1)
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
    const ByteReader headers =
        f.area(shoff, shnum * shentsize, "section header table", "the section header table", true);
    if (shstrndx >= shnum)
        throw HostError("the ELF section name table index is out of range");

    const std::uint64_t namesHeader = shstrndx * shentsize;
    const std::uint64_t namesOffset = headers.u(namesHeader + 24, 8, "section names");
    const std::uint64_t namesSize = headers.u(namesHeader + 32, 8, "section names");
    const ByteReader names =
        f.area(namesOffset, namesSize, "section name table", "the section name table", true);
    const auto text = names.view(0, namesSize, "the section name table");

    for (std::uint64_t i = 0; i < shnum; ++i) {
        const std::uint64_t header = i * shentsize;
        const std::uint64_t name = headers.u(header, 4, "a section header");
        if (name >= namesSize)
            continue;
        const char* at = reinterpret_cast<const char*>(text.data() + name);
        const std::size_t room = static_cast<std::size_t>(namesSize - name);
        if (strnlen(at, room) == room || std::strcmp(at, ".pipl") != 0)
            continue;
        constexpr std::uint64_t kNoBits = 8;
        if (headers.u(header + 4, 4, "a section header") == kNoBits)
            throw HostError("the ELF .pipl section holds no bytes in the file");
        const std::uint64_t offset = headers.u(header + 24, 8, "a section header");
        const std::uint64_t size = headers.u(header + 32, 8, "a section header");
        return f.copy(offset, size, "the .pipl section");
    }
    throw HostError("no PiPL: the ELF file has no .pipl section");
}

std::vector<std::uint8_t> piplFromELF(std::span<const std::uint8_t> file) {
    return piplFromELF(elfReader(file));
}

ModuleTarget targetOfELF(const ByteReader& f) {
    return moduleTarget(true, f.u(18, 2, "e_machine"));
}

ModuleTarget targetOfELF(std::span<const std::uint8_t> file) {
    return targetOfELF(elfReader(file));
}

} // namespace OmbrelHost
