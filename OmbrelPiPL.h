// The effect's PiPL: the property list the host reads from the module before loading it. This
// is the one description of it; the Linux section, the Windows resource and the macOS resource
// are all encoded from here, and global setup reports the same version and flags, so the two
// cannot drift.
//
// Encoding: a 10-byte header (16-bit 1, 32-bit list version 0, 32-bit property count), then per
// property the vendor code, the key, a 32-bit id 0, the 32-bit length of the data without
// padding, and the data zero-padded to a multiple of 4. Four-character codes are stored as the
// 32-bit integer of the code.
//
// Two encodings exist, differing in exactly two ways. Windows (and the Linux section): integers
// little-endian, so four-character codes read reversed in the file, and the entry point under
// "8664" (64-bit x86 Windows). macOS: integers big-endian, so codes read in their natural order,
// and the entry point under "mi64" (64-bit Intel macOS) and again, right after it, under "ma64"
// (64-bit ARM macOS), the same function name: one PiPL for both slices of the universal binary.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "HostInterface/EffectInterface.h"

namespace OmbrelPiPL {

inline constexpr char kEffectName[] = "OmbrelColorSpaceConversion";
inline constexpr char kCategory[] = "Ombrel";
inline constexpr char kEntryPointName[] = "EntryPointFunc";

inline constexpr int kMajorVersion = 1;
inline constexpr int kMinorVersion = 0;
inline constexpr int kFixVersion = 0;
inline constexpr int kStage = PF_Stage_RELEASE;
inline constexpr int kBuild = 1;
inline constexpr A_u_long kVersion =
    PF_VERSION(kMajorVersion, kMinorVersion, kFixVersion, kStage, kBuild);
static_assert(kVersion == 0x00080601u);

inline constexpr PF_OutFlags kOutFlags = PF_OutFlag_DEEP_COLOR_AWARE;
inline constexpr PF_OutFlags2 kOutFlags2 =
    PF_OutFlag2_SUPPORTS_SMART_RENDER | PF_OutFlag2_FLOAT_COLOR_AWARE;

// Windows resource type "PIPL", identifier and language (US English).
inline constexpr int kResourceId = 16000;
inline constexpr int kResourceLanguage = 1033;

// The 32-bit integer of a four-character code: first character in the top byte.
constexpr std::uint32_t fourCC(const char (&code)[5]) {
    return (std::uint32_t(std::uint8_t(code[0])) << 24) |
           (std::uint32_t(std::uint8_t(code[1])) << 16) |
           (std::uint32_t(std::uint8_t(code[2])) << 8) | std::uint32_t(std::uint8_t(code[3]));
}

inline constexpr std::uint32_t kVendor = fourCC("8BIM");

enum class ByteOrder { Little, Big };

struct Encoding {
    ByteOrder order;
    std::uint32_t entryPointKey;       // the property that names the entry point on that platform
    std::uint32_t secondEntryPointKey; // another architecture's, right after it; 0 for none
};

inline constexpr Encoding kWindows{ByteOrder::Little, fourCC("8664"), 0};
inline constexpr Encoding kMac{ByteOrder::Big, fourCC("mi64"), fourCC("ma64")};

enum class Data {
    FourCC,    // 32-bit code
    Long,      // 32-bit value
    Short,     // 16-bit value
    ShortPair, // two 16-bit values: value, then value2
    PascalZ,   // length byte, characters, zero byte
    Pascal,    // length byte, characters
    CString16, // characters, zero-filled to 16 bytes
};

struct Property {
    std::uint32_t key;
    Data data;
    std::uint32_t value;
    std::uint32_t value2;
    const char* text;
};

inline constexpr Property kProperties[] = {
    {fourCC("kind"), Data::FourCC, fourCC("eFKT"), 0, nullptr},
    {fourCC("name"), Data::PascalZ, 0, 0, kEffectName},
    {fourCC("catg"), Data::PascalZ, 0, 0, kCategory},
    // Listed under the Windows key; another encoding puts its own key here.
    {kWindows.entryPointKey, Data::CString16, 0, 0, kEntryPointName},
    {fourCC("ePVR"), Data::ShortPair, 2, 0, nullptr},
    {fourCC("eSVR"), Data::ShortPair, 13, 0, nullptr},
    {fourCC("eVER"), Data::Long, kVersion, 0, nullptr},
    {fourCC("eINF"), Data::Short, 0, 0, nullptr},
    {fourCC("eGLO"), Data::Long, static_cast<std::uint32_t>(kOutFlags), 0, nullptr},
    {fourCC("eGL2"), Data::Long, static_cast<std::uint32_t>(kOutFlags2), 0, nullptr},
    {fourCC("eMNA"), Data::Pascal, 0, 0, kEffectName},
    {fourCC("aeFL"), Data::Long, 8, 0, nullptr},
};

inline constexpr std::size_t kPropertyCount = sizeof(kProperties) / sizeof(kProperties[0]);

// The key a property is stored under in the given encoding.
constexpr std::uint32_t keyIn(const Property& p, const Encoding& encoding) {
    return p.key == kWindows.entryPointKey ? encoding.entryPointKey : p.key;
}

constexpr std::size_t textLength(const char* s) {
    std::size_t n = 0;
    while (s[n] != '\0')
        ++n;
    return n;
}

// Bytes of a property's data, without padding.
constexpr std::size_t dataLength(const Property& p) {
    switch (p.data) {
    case Data::FourCC:
    case Data::Long:
    case Data::ShortPair:
        return 4;
    case Data::Short:
        return 2;
    case Data::PascalZ:
        return 1 + textLength(p.text) + 1;
    case Data::Pascal:
        return 1 + textLength(p.text);
    case Data::CString16:
        return 16;
    }
    return 0;
}

constexpr std::size_t padded(std::size_t n) {
    return (n + 3) / 4 * 4;
}

inline constexpr std::size_t kHeaderSize = 10;
inline constexpr std::size_t kPropertyHeaderSize = 16;

// How often a property is stored in the given encoding: the entry point once per key.
constexpr std::size_t copiesIn(const Property& p, const Encoding& encoding) {
    return p.key == kWindows.entryPointKey && encoding.secondEntryPointKey != 0 ? 2 : 1;
}

constexpr std::size_t propertyCount(const Encoding& encoding) {
    std::size_t n = 0;
    for (const Property& p : kProperties)
        n += copiesIn(p, encoding);
    return n;
}

constexpr std::size_t encodedSize(const Encoding& encoding) {
    std::size_t n = kHeaderSize;
    for (const Property& p : kProperties)
        n += copiesIn(p, encoding) * (kPropertyHeaderSize + padded(dataLength(p)));
    return n;
}

template <std::size_t N>
using EncodedBytes = std::array<std::uint8_t, N>;
// The Windows resource and the Linux section.
using Bytes = EncodedBytes<encodedSize(kWindows)>;
using MacBytes = EncodedBytes<encodedSize(kMac)>;

namespace detail {

template <std::size_t N>
struct Writer {
    ByteOrder order;
    EncodedBytes<N> bytes{};
    std::size_t at = 0;

    constexpr void u8(std::uint32_t v) { bytes[at++] = static_cast<std::uint8_t>(v & 0xFFu); }
    constexpr void u16(std::uint32_t v) {
        if (order == ByteOrder::Big)
            u8(v >> 8);
        u8(v);
        if (order == ByteOrder::Little)
            u8(v >> 8);
    }
    constexpr void u32(std::uint32_t v) {
        if (order == ByteOrder::Big)
            u16(v >> 16);
        u16(v);
        if (order == ByteOrder::Little)
            u16(v >> 16);
    }
    constexpr void text(const char* s, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i)
            u8(static_cast<std::uint8_t>(s[i]));
    }
};

} // namespace detail

template <std::size_t N>
constexpr void encodeProperty(detail::Writer<N>& w, const Property& p, std::uint32_t key) {
    const std::size_t length = dataLength(p);
    w.u32(kVendor);
    w.u32(key);
    w.u32(0);
    w.u32(static_cast<std::uint32_t>(length));
    const std::size_t start = w.at;
    switch (p.data) {
    case Data::FourCC:
    case Data::Long:
        w.u32(p.value);
        break;
    case Data::Short:
        w.u16(p.value);
        break;
    case Data::ShortPair:
        w.u16(p.value);
        w.u16(p.value2);
        break;
    case Data::PascalZ:
    case Data::Pascal:
        w.u8(static_cast<std::uint32_t>(textLength(p.text)));
        w.text(p.text, textLength(p.text));
        if (p.data == Data::PascalZ)
            w.u8(0);
        break;
    case Data::CString16:
        w.text(p.text, textLength(p.text));
        break;
    }
    w.at = start + padded(length); // the array starts zeroed: padding stays 0
}

template <std::size_t N>
constexpr EncodedBytes<N> encode(const Encoding& encoding) {
    detail::Writer<N> w{encoding.order};
    w.u16(1);
    w.u32(0);
    w.u32(static_cast<std::uint32_t>(propertyCount(encoding)));
    for (const Property& p : kProperties) {
        encodeProperty(w, p, keyIn(p, encoding));
        if (copiesIn(p, encoding) == 2)
            encodeProperty(w, p, encoding.secondEntryPointKey);
    }
    return w.bytes;
}

// The Windows resource and the Linux section.
inline constexpr Bytes kBytes = encode<sizeof(Bytes)>(kWindows);
static_assert(kBytes.size() == 314);

// The 'PiPL' resource of the macOS bundle's resource file: thirteen properties, the entry point
// under "mi64" and "ma64".
inline constexpr MacBytes kMacBytes = encode<sizeof(MacBytes)>(kMac);

// The macOS resource: type 'PiPL' (not the Windows "PIPL"), the same identifier.
inline constexpr std::uint32_t kMacResourceType = fourCC("PiPL");

} // namespace OmbrelPiPL
