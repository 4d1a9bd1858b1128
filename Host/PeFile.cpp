// The PiPL resource and the target of a PE file (a Windows .aex or .dll).
#include <algorithm>
#include <cctype>

#include "Host/ModuleFormats.h"

namespace OmbrelHost {

namespace {

std::string truncatedPE(std::string_view, std::uint64_t, std::uint64_t, std::uint64_t,
                        const std::string& what) {
    return "truncated PE file: " + what + " lies past its end";
}

struct PESection {
    std::uint64_t virtualAddress, virtualSize, rawSize, rawOffset;
};

constexpr std::uint32_t kSubdirectory = 0x80000000u;
constexpr int kPiPLResourceId = 16000;
constexpr int kUSEnglish = 1033;
constexpr std::string_view kTypeName = "PIPL";

class PEResources {
public:
    PEResources(const ByteReader& f, std::vector<PESection> sections)
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
        // At most 131070 entries of 8 bytes, read in one piece.
        const ByteReader list =
            f_.area(at + 16, 8 * (named + ids), "resource directory", "a resource entry", true);
        std::vector<Entry> entries;
        for (std::uint64_t i = 0; i < named + ids; ++i) {
            const auto nameField = list.u32(8 * i, "a resource entry");
            Entry entry{};
            entry.target = list.u32(8 * i + 4, "a resource entry");
            entry.named = (nameField & kSubdirectory) != 0;
            if (entry.named) {
                // A length-prefixed UTF-16 name; resource names compare case-insensitively. Only
                // a name of the length of the one looked for is read: the others cannot match,
                // and a file may give thousands of names of 65535 characters.
                const std::uint64_t s = root_ + (nameField & ~kSubdirectory);
                const std::uint64_t length = f_.u(s, 2, "a resource name");
                f_.need(s + 2, 2 * length, "a resource name");
                if (length == kTypeName.size()) {
                    for (std::uint64_t c = 0; c < length; ++c) {
                        const std::uint64_t unit = f_.u(s + 2 + 2 * c, 2, "a resource name");
                        entry.name += unit < 0x80
                                          ? static_cast<char>(std::toupper(static_cast<int>(unit)))
                                          : '?';
                    }
                }
            } else {
                entry.id = nameField & 0xFFFFu;
            }
            entries.push_back(std::move(entry));
        }
        return entries;
    }

private:
    const ByteReader& f_;
    std::vector<PESection> sections_;
    std::uint64_t root_ = 0;
};

} // namespace

ByteReader peReader(std::span<const std::uint8_t> file) {
    return ByteReader(file, Endian::little, truncatedPE, "PE file");
}
ByteReader peReader(const RegularFile& file) {
    return ByteReader(file, Endian::little, truncatedPE, "PE file");
}

std::vector<std::uint8_t> piplFromPE(const ByteReader& f) {
    f.need(0, 64, "the DOS header");
    if (f.u16(0, "the DOS header") != 0x5A4D) // "MZ"
        throw HostError("not a PE file");
    const std::uint64_t pe = f.u(0x3C, 4, "e_lfanew");
    f.need(pe, 24, "the PE header");
    if (f.u32(pe, "the PE header") != 0x4550) // "PE\0\0"
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
    const ByteReader table = f.area(optional + optionalSize, 40 * sectionCount, "section table",
                                    "the section table", true);
    for (std::uint64_t i = 0; i < sectionCount; ++i) {
        const std::uint64_t s = 40 * i;
        sections.push_back(PESection{
            table.u(s + 12, 4, "the section table"), table.u(s + 8, 4, "the section table"),
            table.u(s + 16, 4, "the section table"), table.u(s + 20, 4, "the section table")});
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
        if (e.named && e.name == kTypeName)
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
    return f.copy(tree.fileOffset(dataRva, "PiPL resource data"), dataSize,
                  "the PiPL resource data");
}

std::vector<std::uint8_t> piplFromPE(std::span<const std::uint8_t> file) {
    return piplFromPE(peReader(file));
}

ModuleTarget targetOfPE(const ByteReader& f) {
    const std::uint64_t machine = f.u(f.u(0x3C, 4, "e_lfanew") + 4, 2, "the COFF header");
    return moduleTarget(false, machine);
}

ModuleTarget targetOfPE(std::span<const std::uint8_t> file) {
    return targetOfPE(peReader(file));
}

} // namespace OmbrelHost
