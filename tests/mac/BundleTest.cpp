// The bundle the build lays out without its binary: its resource file parses back to the
// effect's PiPL, the same values the Linux module carries, with the entry point under "mi64".
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "Host/OmbrelHost.h"
#include "Host/ResourceFork.h"

namespace {

namespace fs = std::filesystem;

const fs::path kBundle = OMBREL_MAC_BUNDLE_PATH;
const fs::path kLinuxModule = OMBREL_MODULE_PATH;

std::vector<std::uint8_t> readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in) << path;
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(MacBundle, IsLaidOutWithoutABinary) {
    const fs::path contents = kBundle / "Contents";
    EXPECT_TRUE(fs::is_regular_file(contents / "Info.plist"));
    EXPECT_EQ(fs::file_size(contents / "PkgInfo"), 8u);
    EXPECT_TRUE(fs::is_regular_file(contents / "Resources" / "OmbrelColorSpaceConversion.rsrc"));
    ASSERT_TRUE(fs::is_directory(contents / "MacOS"));
    EXPECT_TRUE(fs::is_empty(contents / "MacOS"));
}

TEST(MacBundle, ResourceFileHoldsOnlyThePiPLWithTheLinuxModulesValues) {
    const auto resources = OmbrelHost::readResourceFile(
        readFile(kBundle / "Contents" / "Resources" / "OmbrelColorSpaceConversion.rsrc"));
    ASSERT_EQ(resources.size(), 1u);
    EXPECT_EQ(resources[0].type, "PiPL");
    EXPECT_EQ(resources[0].id, 16000);

    const OmbrelHost::PiPL mac =
        OmbrelHost::decodePiPL(resources[0].data, OmbrelHost::kMacIntelPiPL);
    const OmbrelHost::PiPL elf =
        OmbrelHost::decodePiPL(OmbrelHost::readModulePiPL(kLinuxModule), OmbrelHost::kWindowsPiPL);
    ASSERT_EQ(mac.properties.size(), 12u);
    ASSERT_EQ(elf.properties.size(), 12u);
    for (std::size_t i = 0; i < 12; ++i) {
        SCOPED_TRACE(elf.properties[i].key);
        EXPECT_EQ(mac.properties[i].key,
                  elf.properties[i].key == "8664" ? "mi64" : elf.properties[i].key);
        EXPECT_EQ(mac.properties[i].text, elf.properties[i].text);
    }
    EXPECT_EQ(mac.entryPoint, "EntryPointFunc");
}

} // namespace
