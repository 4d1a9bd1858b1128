// The macOS PiPL against the Windows one: the same description, differing only in byte order and
// in the key that names the entry point; and the host decodes both to the same values.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "Host/OmbrelHost.h"
#include "HostRefusal.h"
#include "OmbrelPiPL.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// The Windows bytes turned into what the macOS bytes must be: walk the layout, reverse every
// integer field in place, leave text alone, put "mi64" where "8664" stands and repeat that
// property under "ma64" right after it; the property count grows by one.
Bytes windowsToMac(const Bytes& w) {
    Bytes m = w;
    std::size_t armCopyAt = 0, armCopySize = 0;
    auto reverse = [&](std::size_t at, std::size_t n) {
        std::reverse(m.begin() + static_cast<std::ptrdiff_t>(at),
                     m.begin() + static_cast<std::ptrdiff_t>(at + n));
    };
    reverse(0, 2);
    reverse(2, 4);
    reverse(6, 4);
    std::size_t at = 10;
    for (const OmbrelPiPL::Property& p : OmbrelPiPL::kProperties) {
        reverse(at, 4); // vendor
        const bool entryPoint = std::equal(w.begin() + static_cast<std::ptrdiff_t>(at + 4),
                                           w.begin() + static_cast<std::ptrdiff_t>(at + 8),
                                           std::begin("4668")); // "8664" as stored little-endian
        if (entryPoint)
            std::copy_n("mi64", 4, m.begin() + static_cast<std::ptrdiff_t>(at + 4));
        else
            reverse(at + 4, 4);
        reverse(at + 8, 4);  // id
        reverse(at + 12, 4); // length
        const std::size_t length = w[at + 12] | (w[at + 13] << 8);
        const std::size_t data = at + 16;
        switch (p.data) {
        case OmbrelPiPL::Data::FourCC:
        case OmbrelPiPL::Data::Long:
            reverse(data, 4);
            break;
        case OmbrelPiPL::Data::Short:
            reverse(data, 2);
            break;
        case OmbrelPiPL::Data::ShortPair:
            reverse(data, 2);
            reverse(data + 2, 2);
            break;
        case OmbrelPiPL::Data::PascalZ:
        case OmbrelPiPL::Data::Pascal:
        case OmbrelPiPL::Data::CString16:
            break;
        }
        const std::size_t end = data + (length + 3) / 4 * 4;
        if (entryPoint) {
            armCopyAt = end;
            armCopySize = end - at;
        }
        at = end;
    }
    EXPECT_EQ(at, w.size());
    EXPECT_NE(armCopySize, 0u);
    Bytes arm(m.begin() + static_cast<std::ptrdiff_t>(armCopyAt - armCopySize),
              m.begin() + static_cast<std::ptrdiff_t>(armCopyAt));
    const std::string armKey = "ma64";
    for (std::size_t k = 0; k < armKey.size(); ++k)
        arm.at(4 + k) = static_cast<std::uint8_t>(armKey[k]);
    m.insert(m.begin() + static_cast<std::ptrdiff_t>(armCopyAt), arm.begin(), arm.end());
    ++m[9]; // the count's low byte, big-endian
    return m;
}

const Bytes kWindows(OmbrelPiPL::kBytes.begin(), OmbrelPiPL::kBytes.end());
const Bytes kMac(OmbrelPiPL::kMacBytes.begin(), OmbrelPiPL::kMacBytes.end());

TEST(MacPiPL, DiffersFromTheWindowsOneOnlyInByteOrderAndTheEntryPointKeys) {
    EXPECT_EQ(windowsToMac(kWindows), kMac);
    // One property more: the entry point's 16-byte header and 16 bytes of name.
    EXPECT_EQ(kMac.size(), kWindows.size() + 32);
}

TEST(MacPiPL, FourCharacterCodesReadInTheirNaturalOrder) {
    const std::string text(kMac.begin(), kMac.end());
    for (const char* code : {"8BIMkind", "eFKT", "8BIMmi64", "8BIMma64", "ePVR", "eGL2", "aeFL"})
        EXPECT_NE(text.find(code), std::string::npos) << code;
    EXPECT_EQ(text.find("8664"), std::string::npos);
    EXPECT_EQ(text.find("MIB8"), std::string::npos);
}

TEST(MacPiPL, DecodesToTheSameValuesAsTheWindowsOne) {
    const OmbrelHost::PiPL mac = OmbrelHost::decodePiPL(kMac, OmbrelHost::kMacIntelPiPL);
    const OmbrelHost::PiPL windows = OmbrelHost::decodePiPL(kWindows, OmbrelHost::kWindowsPiPL);
    ASSERT_EQ(mac.properties.size(), windows.properties.size() + 1);
    // The Windows properties with "ma64" after "8664": the same name under both Mac keys.
    std::size_t i = 0;
    for (const auto& w : windows.properties) {
        for (const char* armKey : {"", "ma64"}) {
            if (*armKey && w.key != "8664")
                continue;
            const auto& m = mac.properties[i++];
            SCOPED_TRACE(m.key);
            EXPECT_EQ(m.vendor, w.vendor);
            EXPECT_EQ(m.key, *armKey ? armKey : w.key == "8664" ? "mi64" : w.key);
            EXPECT_EQ(m.id, w.id);
            EXPECT_EQ(m.text, w.text);
        }
    }
    EXPECT_EQ(mac.kind, "eFKT");
    EXPECT_EQ(mac.name, windows.name);
    EXPECT_EQ(mac.category, windows.category);
    EXPECT_EQ(mac.matchName, windows.matchName);
    EXPECT_EQ(mac.entryPoint, "EntryPointFunc");
    EXPECT_EQ(mac.version, 0x00080601u);
    EXPECT_EQ(mac.outFlags, windows.outFlags);
    EXPECT_EQ(mac.outFlags2, windows.outFlags2);
    ASSERT_NE(mac.find("mi64"), nullptr);
    ASSERT_NE(mac.find("ma64"), nullptr);
    EXPECT_EQ(mac.find("ma64")->text, "EntryPointFunc");
    EXPECT_EQ(mac.find("8664"), nullptr);
}

std::string refusal(const Bytes& bytes, const OmbrelHost::PiPLFormat& format) {
    return OmbrelTest::refusal([&] { OmbrelHost::decodePiPL(bytes, format); });
}

TEST(MacPiPL, EachFormatRefusesTheOthersBytes) {
    EXPECT_NE(refusal(kMac, OmbrelHost::kWindowsPiPL)
                  .find("its integers are big-endian, not little-endian"),
              std::string::npos);
    EXPECT_NE(refusal(kWindows, OmbrelHost::kMacIntelPiPL)
                  .find("its integers are little-endian, not big-endian"),
              std::string::npos);
}

TEST(MacPiPL, TheEntryPointComesFromTheFormatsKeyOnly) {
    // Windows bytes read as if "8664" were not the key: no entry point.
    const OmbrelHost::PiPLFormat other{false, "mi64"};
    EXPECT_NE(refusal(kWindows, other).find("no entry point name (property \"mi64\")"),
              std::string::npos);
    Bytes renamed = kMac;
    const std::string text(renamed.begin(), renamed.end());
    renamed[text.find("mi64") + 3] = '5'; // "mi65"
    EXPECT_NE(refusal(renamed, OmbrelHost::kMacIntelPiPL).find("no entry point name"),
              std::string::npos);
}

} // namespace
