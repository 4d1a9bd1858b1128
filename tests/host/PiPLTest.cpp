// Decoding the effect's own PiPL bytes, and refusing damaged ones with a message that says why.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "Host/OmbrelHost.h"
#include "OmbrelPiPL.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

std::string codeText(std::uint32_t code) {
    std::string text(4, ' ');
    for (int i = 0; i < 4; ++i)
        text[static_cast<std::size_t>(i)] = static_cast<char>(code >> (24 - 8 * i));
    return text;
}

// The data bytes a property should carry, built from the description's fields.
Bytes expectedData(const OmbrelPiPL::Property& p) {
    Bytes d;
    auto le = [&](std::uint32_t v, int n) {
        for (int i = 0; i < n; ++i)
            d.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    };
    const std::string text = p.text != nullptr ? p.text : "";
    switch (p.data) {
    case OmbrelPiPL::Data::FourCC:
    case OmbrelPiPL::Data::Long:
        le(p.value, 4);
        break;
    case OmbrelPiPL::Data::Short:
        le(p.value, 2);
        break;
    case OmbrelPiPL::Data::ShortPair:
        le(p.value, 2);
        le(p.value2, 2);
        break;
    case OmbrelPiPL::Data::PascalZ:
    case OmbrelPiPL::Data::Pascal:
        d.push_back(static_cast<std::uint8_t>(text.size()));
        d.insert(d.end(), text.begin(), text.end());
        if (p.data == OmbrelPiPL::Data::PascalZ)
            d.push_back(0);
        break;
    case OmbrelPiPL::Data::CString16:
        d.assign(16, 0);
        std::memcpy(d.data(), text.data(), text.size());
        break;
    }
    return d;
}

TEST(PiPLDecode, DecodesTheEffectsBytesPropertyByProperty) {
    const OmbrelHost::PiPL pipl = OmbrelHost::decodePiPL(OmbrelPiPL::kBytes);
    const std::vector<std::pair<std::string, std::string>> shown = {
        {"kind", "eFKT"},
        {"name", "OmbrelColorSpaceConversion"},
        {"catg", "Ombrel"},
        {"8664", "EntryPointFunc"},
        {"ePVR", "2.0"},
        {"eSVR", "13.0"},
        {"eVER", "0x00080601"},
        {"eINF", "0"},
        {"eGLO", "0x02000000"},
        {"eGL2", "0x00001400"},
        {"eMNA", "OmbrelColorSpaceConversion"},
        {"aeFL", "8"}};
    ASSERT_EQ(pipl.properties.size(), OmbrelPiPL::kPropertyCount);
    ASSERT_EQ(shown.size(), OmbrelPiPL::kPropertyCount);
    for (std::size_t i = 0; i < OmbrelPiPL::kPropertyCount; ++i) {
        const OmbrelPiPL::Property& want = OmbrelPiPL::kProperties[i];
        const OmbrelHost::PiPLProperty& got = pipl.properties[i];
        SCOPED_TRACE(shown[i].first);
        EXPECT_EQ(got.vendor, "8BIM");
        EXPECT_EQ(got.key, codeText(want.key));
        EXPECT_EQ(got.key, shown[i].first);
        EXPECT_EQ(got.id, 0u);
        EXPECT_EQ(got.data, expectedData(want));
        EXPECT_EQ(got.text, shown[i].second);
    }
    EXPECT_EQ(pipl.kind, "eFKT");
    EXPECT_EQ(pipl.name, OmbrelPiPL::kEffectName);
    EXPECT_EQ(pipl.category, OmbrelPiPL::kCategory);
    EXPECT_EQ(pipl.entryPoint, OmbrelPiPL::kEntryPointName);
    EXPECT_EQ(pipl.matchName, OmbrelPiPL::kEffectName);
    EXPECT_EQ(pipl.version, OmbrelPiPL::kVersion);
    EXPECT_EQ(pipl.outFlags, static_cast<std::uint32_t>(OmbrelPiPL::kOutFlags));
    EXPECT_EQ(pipl.outFlags2, static_cast<std::uint32_t>(OmbrelPiPL::kOutFlags2));
    ASSERT_NE(pipl.find("eGL2"), nullptr);
    EXPECT_EQ(pipl.find("eGL2")->text, "0x00001400");
    EXPECT_EQ(pipl.find("none"), nullptr);
}

// Offset of a four-character code as it appears in the file (bytes reversed).
std::size_t codeAt(const Bytes& b, const char (&code)[5]) {
    const std::uint8_t reversed[4] = {std::uint8_t(code[3]), std::uint8_t(code[2]),
                                      std::uint8_t(code[1]), std::uint8_t(code[0])};
    for (std::size_t i = 0; i + 4 <= b.size(); ++i) {
        if (std::memcmp(b.data() + i, reversed, 4) == 0)
            return i;
    }
    ADD_FAILURE() << "no " << code << " in the bytes";
    return 0;
}

void setU32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}

struct Damage {
    const char* what;
    std::function<void(Bytes&)> apply;
    const char* message;
};

TEST(PiPLDecode, RefusesDamagedBytesSayingWhy) {
    // The last property, "aeFL", is 16 header bytes and 4 data bytes.
    const std::vector<Damage> cases = {
        {"short", [](Bytes& b) { b.resize(6); }, "shorter than the 10-byte header"},
        {"first value", [](Bytes& b) { b[0] = 2; }, "bad header: it starts with 2, expected 1"},
        {"list version", [](Bytes& b) { b[2] = 1; }, "bad header: list version 1, expected 0"},
        {"count too high", [](Bytes& b) { setU32(b, 6, 13); },
         "count mismatch: the header says 13 properties, the data ends after 12"},
        {"count too low", [](Bytes& b) { setU32(b, 6, 11); },
         "count mismatch: the header says 11 properties, but 20 more bytes follow them"},
        {"truncated property", [](Bytes& b) { b.resize(b.size() - 12); },
         "property 12 is truncated: 8 bytes left of its 16-byte header"},
        {"length past end", [](Bytes& b) { setU32(b, b.size() - 8, 100); },
         "property 12 (\"aeFL\") length 100 runs past the end (4 bytes left)"},
        {"huge length", [](Bytes& b) { setU32(b, b.size() - 8, 0xFFFFFFFFu); },
         "length 4294967295 runs past the end"},
        {"no kind", [](Bytes& b) { b[codeAt(b, "kind")] = 'x'; }, "no \"kind\" property"},
        {"not an effect", [](Bytes& b) { b[codeAt(b, "eFKT")] = 'X'; },
         "\"kind\" is eFKX, not eFKT"},
        {"no entry point", [](Bytes& b) { b[codeAt(b, "8664")] = '5'; }, "no entry point name"},
        {"empty entry point", [](Bytes& b) { b[codeAt(b, "8664") + 12] = 0; },
         "no entry point name"},
        {"short version", [](Bytes& b) { b[codeAt(b, "eVER") + 8] = 2; },
         "property 7 (\"eVER\") holds 2 bytes, expected 4"},
        {"Pascal overrun", [](Bytes& b) { b[codeAt(b, "name") + 12] = 200; },
         "property 2 (\"name\") is not a Pascal string"},
        {"Pascal length of the whole property",
         [](Bytes& b) { b[codeAt(b, "name") + 12] = b[codeAt(b, "name") + 8]; },
         "property 2 (\"name\") is not a Pascal string"},
        {"last property unpadded",
         [](Bytes& b) {
             setU32(b, b.size() - 8, 3);
             b.resize(b.size() - 1);
         },
         "property 12 (\"aeFL\") length 3 runs past the end (3 bytes left)"},
    };
    for (const Damage& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes bytes(OmbrelPiPL::kBytes.begin(), OmbrelPiPL::kBytes.end());
        c.apply(bytes);
        try {
            OmbrelHost::decodePiPL(bytes);
            ADD_FAILURE() << "accepted";
        } catch (const OmbrelHost::HostError& e) {
            const std::string message = e.what();
            EXPECT_NE(message.find("malformed PiPL: "), std::string::npos) << message;
            EXPECT_NE(message.find(c.message), std::string::npos) << message;
            EXPECT_EQ(message.find('\n'), std::string::npos) << message;
        }
    }
}

TEST(PiPLDecode, AcceptsZeroAlignmentAfterTheLastProperty) {
    Bytes bytes(OmbrelPiPL::kBytes.begin(), OmbrelPiPL::kBytes.end());
    bytes.resize(bytes.size() + 2, 0);
    EXPECT_EQ(OmbrelHost::decodePiPL(bytes).properties.size(), OmbrelPiPL::kPropertyCount);
}

} // namespace
