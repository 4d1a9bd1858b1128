// Finding the PiPL bytes inside module files: ELF sections and PE resources, and the refusals.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "Host/ModuleFile.h"
#include "Host/OmbrelHost.h"
#include "HostRefusal.h"
#include "OmbrelPiPL.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

const Bytes kPiPL(OmbrelPiPL::kBytes.begin(), OmbrelPiPL::kBytes.end());

void put(Bytes& b, std::size_t at, std::uint64_t v, int n) {
    if (b.size() < at + static_cast<std::size_t>(n))
        b.resize(at + static_cast<std::size_t>(n), 0);
    for (int i = 0; i < n; ++i)
        b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}

using OmbrelTest::refusal;

// ---- ELF ------------------------------------------------------------------------------------

// A minimal ELF64 file: header, the section contents, a name table, then the section headers
// (null, .text, .pipl, .shstrtab).
Bytes makeElf(const Bytes& pipl, const char* name = ".pipl", std::uint32_t type = 1,
              std::uint16_t machine = 0x3E) {
    const std::string table = std::string("\0.text\0", 7) + name + '\0' + ".shstrtab" + '\0';
    const std::size_t text = 64, data = text + 16, names = data + pipl.size();
    const std::size_t shoff = (names + table.size() + 7) / 8 * 8;
    Bytes f(shoff + 4 * 64, 0);
    f[0] = 0x7f;
    f[1] = 'E';
    f[2] = 'L';
    f[3] = 'F';
    f[4] = 2; // 64-bit
    f[5] = 1; // little-endian
    f[6] = 1;
    put(f, 18, machine, 2);
    for (std::size_t i = 0; i < 16; ++i)
        f[text + i] = 0x90;
    for (std::size_t i = 0; i < pipl.size(); ++i)
        f[data + i] = pipl[i];
    for (std::size_t i = 0; i < table.size(); ++i)
        f[names + i] = static_cast<std::uint8_t>(table[i]);
    auto header = [&](std::size_t i, std::size_t nameAt, std::uint32_t t, std::size_t off,
                      std::size_t size) {
        const std::size_t h = shoff + i * 64;
        put(f, h, nameAt, 4);
        put(f, h + 4, t, 4);
        put(f, h + 24, off, 8);
        put(f, h + 32, size, 8);
    };
    header(1, 1, 1, text, 16);
    header(2, 7, type, data, pipl.size());
    header(3, 8 + std::strlen(name), 3, names, table.size());
    put(f, 0x28, shoff, 8);
    put(f, 0x3A, 64, 2);
    put(f, 0x3C, 4, 2);
    put(f, 0x3E, 3, 2);
    return f;
}

// Where the .pipl section header of makeElf's file lies.
std::size_t piplHeader(const Bytes& elf) {
    return elf.size() - 4 * 64 + 2 * 64;
}

TEST(ElfPiPL, FindsTheSectionByName) {
    EXPECT_EQ(OmbrelHost::piplFromELF(makeElf(kPiPL)), kPiPL);
    // An empty section may lie at the very end of the file.
    Bytes emptyAtEnd = makeElf(kPiPL);
    put(emptyAtEnd, piplHeader(emptyAtEnd) + 24, emptyAtEnd.size(), 8);
    put(emptyAtEnd, piplHeader(emptyAtEnd) + 32, 0, 8);
    EXPECT_EQ(OmbrelHost::piplFromELF(emptyAtEnd), Bytes{});
}

struct Corruption {
    const char* what;
    std::function<Bytes()> file;
    const char* message;
};

void expectRefusals(const std::vector<Corruption>& cases,
                    std::vector<std::uint8_t> (*parse)(std::span<const std::uint8_t>)) {
    for (const Corruption& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string message = refusal([&] { parse(c.file()); });
        EXPECT_NE(message.find(c.message), std::string::npos) << message;
    }
}

TEST(ElfPiPL, RefusesFilesWithoutAUsableSection) {
    expectRefusals(
        {
            {"no .pipl", [] { return makeElf(kPiPL, ".data"); },
             "no PiPL: the ELF file has no .pipl section"},
            {"a NOBITS section", [] { return makeElf(kPiPL, ".pipl", 8); }, "holds no bytes"},
            {"truncated",
             [] {
                 Bytes f = makeElf(kPiPL);
                 f.resize(f.size() - 10);
                 return f;
             },
             "truncated ELF file"},
            {"32-bit",
             [] {
                 Bytes f = makeElf(kPiPL);
                 f[4] = 1;
                 return f;
             },
             "not a 64-bit little-endian ELF file"},
            {"section offset far past the end",
             [] {
                 Bytes f = makeElf(kPiPL);
                 put(f, piplHeader(f) + 24, 0xFFFFFFFFFFFF0000ull, 8);
                 return f;
             },
             "truncated ELF file"},
            {"one byte past the end",
             [] {
                 Bytes f = makeElf(kPiPL);
                 put(f, piplHeader(f) + 24, f.size() - kPiPL.size() + 1, 8);
                 return f;
             },
             "truncated ELF file: the .pipl section lies past its end"},
        },
        OmbrelHost::piplFromELF);
}

// ---- PE -------------------------------------------------------------------------------------

struct Resource {
    std::string type; // named type
    std::uint32_t id;
    std::vector<std::pair<std::uint32_t, Bytes>> languages;
};

constexpr std::uint32_t kSectionRva = 0x1000;
constexpr std::size_t kRaw = 0x200;

// A minimal PE32+ file with one section, at kSectionRva and file offset kRaw: `rsrc`, the
// resources.
Bytes wrapPE(const Bytes& rsrc, std::uint16_t machine = 0x8664) {
    Bytes f(kRaw, 0);
    f[0] = 'M';
    f[1] = 'Z';
    put(f, 0x3C, 0x40, 4);
    std::memcpy(f.data() + 0x40, "PE\0\0", 4);
    const std::size_t coff = 0x44, optional = 0x58;
    put(f, coff, machine, 2);
    put(f, coff + 2, 1, 2);
    put(f, coff + 16, 240, 2);
    put(f, optional, 0x20B, 2);
    put(f, optional + 108, 16, 4);
    put(f, optional + 112 + 16, kSectionRva, 4);
    put(f, optional + 112 + 20, rsrc.size(), 4);
    const std::size_t section = optional + 240;
    std::memcpy(f.data() + section, ".rsrc", 5);
    put(f, section + 8, rsrc.size(), 4);
    put(f, section + 12, kSectionRva, 4);
    put(f, section + 16, rsrc.size(), 4);
    put(f, section + 20, kRaw, 4);
    f.insert(f.end(), rsrc.begin(), rsrc.end());
    return f;
}
// Where wrapPE puts the section's VirtualSize.
constexpr std::size_t kVirtualSize = 0x58 + 240 + 8;

// A PE file whose resource tree has one type, one id and the given languages.
Bytes makePE(const Resource& r, std::uint16_t machine = 0x8664) {
    Bytes rsrc;
    auto dir = [&](std::size_t at, int named, int ids) {
        put(rsrc, at + 12, static_cast<std::uint64_t>(named), 2);
        put(rsrc, at + 14, static_cast<std::uint64_t>(ids), 2);
    };
    const std::size_t root = 0, typeDir = 24, langDir = 48;
    const std::size_t nameAt = langDir + 16 + 8 * r.languages.size();
    const std::size_t entries = nameAt + 2 + 2 * r.type.size() + 2;
    const std::size_t data = entries + 16 * r.languages.size();
    dir(root, 1, 0);
    put(rsrc, root + 16, 0x80000000u | nameAt, 4);
    put(rsrc, root + 20, 0x80000000u | typeDir, 4);
    dir(typeDir, 0, 1);
    put(rsrc, typeDir + 16, r.id, 4);
    put(rsrc, typeDir + 20, 0x80000000u | langDir, 4);
    dir(langDir, 0, static_cast<int>(r.languages.size()));
    put(rsrc, nameAt, r.type.size(), 2);
    for (std::size_t c = 0; c < r.type.size(); ++c)
        put(rsrc, nameAt + 2 + 2 * c, static_cast<std::uint8_t>(r.type[c]), 2);
    std::size_t at = data;
    for (std::size_t i = 0; i < r.languages.size(); ++i) {
        const auto& [language, bytes] = r.languages[i];
        put(rsrc, langDir + 16 + 8 * i, language, 4);
        put(rsrc, langDir + 20 + 8 * i, entries + 16 * i, 4);
        put(rsrc, entries + 16 * i, kSectionRva + at, 4);
        put(rsrc, entries + 16 * i + 4, bytes.size(), 4);
        rsrc.resize(at);
        rsrc.insert(rsrc.end(), bytes.begin(), bytes.end());
        at = rsrc.size();
    }
    return wrapPE(rsrc, machine);
}
// The file offset of makePE's first language entry (its data address, then its size), for a
// type name of four characters.
constexpr std::size_t kFirstDataEntry = kRaw + 48 + 16 + 8 + 2 + 2 * 4 + 2;

// A resource root of `count` named types sharing one name of `length` characters.
Bytes makePENames(std::size_t count, std::size_t length) {
    Bytes rsrc;
    const std::size_t name = 16 + 8 * count;
    put(rsrc, 12, count, 2);
    for (std::size_t i = 0; i < count; ++i) {
        put(rsrc, 16 + 8 * i, 0x80000000u | name, 4);
        put(rsrc, 20 + 8 * i, 0x80000000u, 4);
    }
    put(rsrc, name, length, 2);
    for (std::size_t c = 0; c < length; ++c)
        put(rsrc, name + 2 + 2 * c, 'A', 2);
    return wrapPE(rsrc);
}

TEST(PePiPL, FindsThePiPLResourceInUSEnglish) {
    const Bytes other = {1, 2, 3, 4};
    EXPECT_EQ(OmbrelHost::piplFromPE(makePE({"PIPL", 16000, {{1033, kPiPL}}})), kPiPL);
    EXPECT_EQ(OmbrelHost::piplFromPE(makePE({"PIPL", 16000, {{1031, other}, {1033, kPiPL}}})),
              kPiPL);
    // Resource names compare case-insensitively; without US English the first language serves.
    EXPECT_EQ(OmbrelHost::piplFromPE(makePE({"pipl", 16000, {{1031, kPiPL}}})), kPiPL);
}

TEST(PePiPL, RefusesFilesWithoutThePiPLResource) {
    expectRefusals(
        {
            {"another type",
             [] {
                 return makePE({"ICON", 16000, {{1033, kPiPL}}});
             },
             "no resource of type \"PIPL\""},
            {"another id",
             [] {
                 return makePE({"PIPL", 16001, {{1033, kPiPL}}});
             },
             "no \"PIPL\" resource 16000"},
            {"truncated",
             [] {
                 Bytes f = makePE({"PIPL", 16000, {{1033, kPiPL}}});
                 f.resize(f.size() - 20);
                 return f;
             },
             "truncated PE file"},
            {"no signature",
             [] {
                 Bytes f = makePE({"PIPL", 16000, {{1033, kPiPL}}});
                 f[0x41] = 'X';
                 return f;
             },
             "no PE signature"},
            // Past its raw bytes a section is zeros in memory, not what the file holds there.
            {"data just past the raw bytes of a larger section",
             [] {
                 Bytes f = makePE({"PIPL", 16000, {{1033, kPiPL}}});
                 const std::size_t raw = f.size() - kRaw;
                 put(f, kVirtualSize, raw + 0x1000, 4);
                 put(f, kFirstDataEntry, kSectionRva + raw, 4);
                 f.insert(f.end(), kPiPL.begin(), kPiPL.end());
                 return f;
             },
             "the PE file's PiPL resource data lies in no section"},
            // Every name would be 64 K characters, 8 G characters in all.
            {"65535 names of 65535 characters", [] { return makePENames(65535, 65535); },
             "no resource of type \"PIPL\""},
        },
        OmbrelHost::piplFromPE);
}

// ---- Module files ---------------------------------------------------------------------------

const Resource kPiPLResource{"PIPL", 16000, {{1033, kPiPL}}};

TEST(ModuleFiles, ThePlatformComesFromTheMachineField) {
    const struct {
        Bytes file;
        bool elf;
        const char* platform;
    } cases[] = {
        {makeElf(kPiPL, ".pipl", 1, 0x3E), true, "Linux x86-64"},
        {makeElf(kPiPL, ".pipl", 1, 0xB7), true, "Linux AArch64"},
        {makeElf(kPiPL, ".pipl", 1, 0x28), true, "Linux, machine 0x0028"},
        {makePE(kPiPLResource, 0x8664), false, "Windows x64"},
        {makePE(kPiPLResource, 0xAA64), false, "Windows ARM64"},
        {makePE(kPiPLResource, 0x014C), false, "Windows x86"},
    };
    int loadable = 0;
    for (const auto& c : cases) {
        const OmbrelHost::ModuleTarget target =
            c.elf ? OmbrelHost::targetOfELF(c.file) : OmbrelHost::targetOfPE(c.file);
        EXPECT_EQ(target.platform, c.platform);
        loadable += target.loadableHere ? 1 : 0;
    }
#if defined(__linux__) && defined(__x86_64__)
    EXPECT_TRUE(OmbrelHost::targetOfELF(cases[0].file).loadableHere);
#endif
#if !defined(__APPLE__)
    // A Linux or Windows host loads its own processor's modules of its own format, no others.
    EXPECT_EQ(loadable, 1);
#endif
    EXPECT_NE(refusal([] {
                  OmbrelHost::targetOfPE(Bytes{'M', 'Z', 0, 0});
              }).find("truncated PE"),
              std::string::npos);
}

// A module file for another platform than this host's, written to a temporary file: the
// other system's format, and this system's format for another processor.
class ForeignModule : public ::testing::TestWithParam<bool> {
protected:
    ForeignModule() {
#if defined(_WIN32)
        const Bytes bytes = GetParam() ? makeElf(kPiPL) : makePE(kPiPLResource, 0xAA64);
        platform = GetParam() ? "Linux x86-64" : "Windows ARM64";
        kind = GetParam() ? "an ELF module" : "a PE module";
#else
        const Bytes bytes = GetParam() ? makePE(kPiPLResource) : makeElf(kPiPL, ".pipl", 1, 0xB7);
        platform = GetParam() ? "Windows x64" : "Linux AArch64";
        kind = GetParam() ? "a PE module" : "an ELF module";
#endif
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
    }
    ~ForeignModule() override {
        std::filesystem::remove(path);
    }

    // One file per case: ctest may run them at the same time.
    const std::filesystem::path path =
        std::filesystem::temp_directory_path() /
        (std::string("ombrel-host-test-") + (GetParam() ? "other-system" : "other-processor") +
         ".module");
    std::string platform;
    std::string kind; // with its article, as messages name it
};

TEST_P(ForeignModule, IsReadButNotLoaded) {
    const OmbrelHost::ModuleFile file = OmbrelHost::readModuleFile(path);
    EXPECT_EQ(file.platform, platform);
    EXPECT_FALSE(file.loadableHere);
    EXPECT_EQ(file.pipl, kPiPL);
    const OmbrelHost::PiPL pipl = OmbrelHost::decodePiPL(file.pipl, file.piplFormat);
    EXPECT_EQ(pipl.properties.size(), 12u);
    EXPECT_EQ(pipl.entryPoint, "EntryPointFunc");

    // Refused before the loader sees it, with the reason instead of the loader's complaint.
    EXPECT_EQ(refusal([&] { OmbrelHost::Module::load(path); }),
              path.string() + ": " + kind +
                  ": its binary cannot be loaded on this platform (it is for " + platform + ")");
}

INSTANTIATE_TEST_SUITE_P(OtherSystemOrProcessor, ForeignModule, ::testing::Bool(),
                         [](const auto& info) {
                             return std::string(info.param ? "OtherSystem" : "OtherProcessor");
                         });

} // namespace
