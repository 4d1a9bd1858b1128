// The bundle the build lays out without its binary, read as the simulated host reads modules:
// its resource file parses back to the effect's PiPL, the same values the Linux module carries
// with the entry point under "mi64", and the host refuses to load its binary here, or to read
// a damaged copy, with one line saying why.
#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <sys/stat.h>
#endif

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <system_error>
#include <utility>
#include <vector>

#include "Host/OmbrelHost.h"
#include "Host/ResourceFork.h"
#include "HostRefusal.h"
#include "OmbrelPiPL.h"
#include "TempFolder.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

const fs::path kBundle = OMBREL_MAC_BUNDLE_PATH;
const fs::path kElfModule = OMBREL_MODULE_PATH;
const fs::path kRsrc = fs::path("Contents") / "Resources" / "OmbrelColorSpaceConversion.rsrc";

Bytes readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in) << path;
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeFile(const fs::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

using OmbrelTest::refusal;

TEST(MacBundle, IsLaidOutWithoutABinary) {
    const fs::path contents = kBundle / "Contents";
    EXPECT_TRUE(fs::is_regular_file(contents / "Info.plist"));
    EXPECT_EQ(fs::file_size(contents / "PkgInfo"), 8u);
    EXPECT_TRUE(fs::is_regular_file(kBundle / kRsrc));
    ASSERT_TRUE(fs::is_directory(contents / "MacOS"));
    EXPECT_TRUE(fs::is_empty(contents / "MacOS"));
}

TEST(MacBundle, ResourceFileHoldsOnlyThePiPLWithTheLinuxModulesValues) {
    const auto resources = OmbrelHost::readResourceFile(readFile(kBundle / kRsrc));
    ASSERT_EQ(resources.size(), 1u);
    EXPECT_EQ(resources[0].type, "PiPL");
    EXPECT_EQ(resources[0].id, 16000);

    const OmbrelHost::PiPL mac =
        OmbrelHost::decodePiPL(resources[0].data, OmbrelHost::kMacIntelPiPL);
    const OmbrelHost::PiPL elf =
        OmbrelHost::decodePiPL(OmbrelHost::readModulePiPL(kElfModule), OmbrelHost::kWindowsPiPL);
    // The Linux section's twelve, "8664" become "mi64" followed by "ma64" naming the same function.
    ASSERT_EQ(mac.properties.size(), 13u);
    ASSERT_EQ(elf.properties.size(), 12u);
    for (std::size_t i = 0, m = 0; i < 12; ++i, ++m) {
        SCOPED_TRACE(elf.properties[i].key);
        const bool entryPoint = elf.properties[i].key == "8664";
        EXPECT_EQ(mac.properties[m].key, entryPoint ? "mi64" : elf.properties[i].key);
        EXPECT_EQ(mac.properties[m].text, elf.properties[i].text);
        if (entryPoint) {
            EXPECT_EQ(mac.properties[++m].key, "ma64");
            EXPECT_EQ(mac.properties[m].text, elf.properties[i].text);
        }
    }
    EXPECT_EQ(mac.entryPoint, "EntryPointFunc");
}

TEST(MacBundle, TheHostReadsItAsAModuleForAnotherPlatform) {
    const OmbrelHost::ModuleFile file = OmbrelHost::readModuleFile(kBundle);
    EXPECT_EQ(file.format, "macOS bundle");
    EXPECT_EQ(file.platform, "macOS");
    EXPECT_FALSE(file.loadableHere);
    EXPECT_EQ(file.binary, kBundle / "Contents" / "MacOS" / "OmbrelColorSpaceConversion");
    EXPECT_EQ(file.piplFormat.entryPointKey, std::string("mi64"));
    EXPECT_EQ(file.pipl, Bytes(OmbrelPiPL::kMacBytes.begin(), OmbrelPiPL::kMacBytes.end()));

    const std::string message = refusal([] { OmbrelHost::Module::load(kBundle); });
    EXPECT_EQ(message, kBundle.string() + ": a macOS bundle: its binary cannot be loaded on this "
                                          "platform (it is for macOS)");

    const OmbrelHost::ModuleFile elf = OmbrelHost::readModuleFile(kElfModule);
    EXPECT_EQ(elf.format, "ELF module");
    EXPECT_TRUE(elf.loadableHere);
    EXPECT_EQ(elf.binary, kElfModule);
}

// Set when the file system refused a sparse file: the case is skipped.
bool noSparseFile = false;

// Makes `file` 3 GB long, zeros throughout or after its bytes.
void resizeSparse(const fs::path& file, bool zeros) {
    if (zeros)
        writeFile(file, {});
    std::error_code ec;
    fs::resize_file(file, std::uintmax_t{3} << 30, ec);
    noSparseFile = static_cast<bool>(ec);
}

struct Damage {
    const char* what;
    std::function<void(const fs::path& bundle)> apply;
    const char* message; // after "<bundle>: "
};

TEST(MacBundle, ADamagedCopyIsRefusedSayingWhichFileAndWhy) {
    const std::vector<Damage> cases = {
        {"no Info.plist", [](const fs::path& b) { fs::remove(b / "Contents" / "Info.plist"); },
         "a folder but not a bundle: it has no Contents/Info.plist"},
        {"no resource file", [](const fs::path& b) { fs::remove(b / kRsrc); },
         "Contents/Resources/OmbrelColorSpaceConversion.rsrc: no such file"},
        {"truncated resource file",
         [](const fs::path& b) {
             Bytes bytes = readFile(b / kRsrc);
             bytes.resize(bytes.size() - 1);
             writeFile(b / kRsrc, bytes);
         },
         "Contents/Resources/OmbrelColorSpaceConversion.rsrc: truncated resource file: "},
#if !defined(_WIN32)
        {"resource file a FIFO",
         [](const fs::path& b) {
             fs::remove(b / kRsrc);
             ASSERT_EQ(::mkfifo((b / kRsrc).c_str(), 0600), 0);
         },
         "Contents/Resources/OmbrelColorSpaceConversion.rsrc: is a FIFO"},
        {"resource file a link to /dev/zero",
         [](const fs::path& b) {
             fs::remove(b / kRsrc);
             fs::create_symlink("/dev/zero", b / kRsrc);
         },
         "Contents/Resources/OmbrelColorSpaceConversion.rsrc: is a device"},
#endif
        // 3 GB of nothing, refused from the header.
        {"3 GB resource file", [](const fs::path& b) { resizeSparse(b / kRsrc, true); },
         "Contents/Resources/OmbrelColorSpaceConversion.rsrc: inconsistent resource file: the "
         "data or the map overlaps the 16-byte header"},
        {"3 GB Info.plist",
         [](const fs::path& b) { resizeSparse(b / "Contents" / "Info.plist", false); },
         "Contents/Info.plist: 3221225472 bytes, more than the 1048576 bytes an Info.plist may "
         "hold"},
        {"executable named out of the bundle",
         [](const fs::path& b) {
             const Bytes plist = readFile(b / "Contents" / "Info.plist");
             std::string text(plist.begin(), plist.end());
             const std::string name = "<string>OmbrelColorSpaceConversion</string>";
             text.replace(text.find(name), name.size(), "<string>../../x</string>");
             writeFile(b / "Contents" / "Info.plist", Bytes(text.begin(), text.end()));
         },
         "Contents/Info.plist: CFBundleExecutable \"../../x\" is not a file name within the "
         "bundle"},
    };
    for (const Damage& c : cases) {
        SCOPED_TRACE(c.what);
        OmbrelRenderTest::TempFolder folder;
        const fs::path copy = folder / "Copy.plugin";
        fs::copy(kBundle, copy, fs::copy_options::recursive);
        c.apply(copy);
        if (std::exchange(noSparseFile, false))
            continue;
        const std::string message = refusal([&] { OmbrelHost::readModuleFile(copy); });
        EXPECT_EQ(message.rfind(copy.string() + ": " + c.message, 0), 0u) << message;
        EXPECT_EQ(refusal([&] { OmbrelHost::Module::load(copy); }), message);
    }
}

} // namespace
