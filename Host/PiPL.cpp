// Decoding and validation of PiPL bytes.
//
// Layout: a 10-byte header (16-bit 1, 32-bit list version 0, 32-bit property count), then per
// property the vendor code, the key, a 32-bit id, the 32-bit length of the data without padding,
// and the data zero-padded to a multiple of 4. Four-character codes are the 32-bit integer of
// the code (first character in the top byte), so in little-endian files their bytes read
// reversed, in big-endian ones in order. The format gives the byte order.
#include <cstdio>

#include "Host/ByteReader.h"
#include "Host/PiPL.h"
#include "Host/Text.h"

namespace OmbrelHost {

namespace {

constexpr std::size_t kHeaderSize = 10;
constexpr std::size_t kPropertyHeaderSize = 16;

[[noreturn]] void malformed(const std::string& why) {
    throw HostError("malformed PiPL: " + why);
}

std::string pastTheEnd(std::string_view, std::uint64_t, std::uint64_t, std::uint64_t,
                       const std::string& what) {
    return "malformed PiPL: " + what + " runs past the end";
}

// The property's data read in the format's byte order; callers check its size first.
ByteReader valueReader(const PiPLProperty& p, const PiPLFormat& format) {
    return ByteReader(p.data, format.bigEndian ? Endian::big : Endian::little, pastTheEnd,
                      "property");
}

std::string propertyName(std::size_t index, const std::string& key) {
    return "property " + std::to_string(index + 1) + " (\"" + key + "\")";
}

void expectSize(const PiPLProperty& p, std::size_t index, std::size_t size) {
    if (p.data.size() != size)
        malformed(propertyName(index, p.key) + " holds " + std::to_string(p.data.size()) +
                  " bytes, expected " + std::to_string(size));
}

// Pascal string: a length byte, then that many characters (the rest may be a terminator).
std::string pascalText(const PiPLProperty& p, std::size_t index) {
    if (p.data.empty() || std::size_t{p.data[0]} + 1 > p.data.size())
        malformed(propertyName(index, p.key) + " is not a Pascal string: its length byte runs " +
                  "past its " + std::to_string(p.data.size()) + " bytes");
    return std::string(reinterpret_cast<const char*>(p.data.data()) + 1, p.data[0]);
}

// Zero-terminated string within the data (all of it when no terminator).
std::string cText(const PiPLProperty& p) {
    std::string text;
    for (std::uint8_t b : p.data) {
        if (b == 0)
            break;
        text += static_cast<char>(b);
    }
    return text;
}

void decodeValue(PiPL& pipl, PiPLProperty& p, std::size_t index, const PiPLFormat& format) {
    const std::string& key = p.key;
    const ByteReader r = valueReader(p, format);
    if (key == "kind") {
        expectSize(p, index, 4);
        p.text = fourCCText(r.u32(0, p.key));
        pipl.kind = p.text;
    } else if (key == "name" || key == "catg" || key == "eMNA") {
        p.text = pascalText(p, index);
        (key == "name" ? pipl.name : key == "catg" ? pipl.category : pipl.matchName) = p.text;
    } else if (key == "8664" || key == "wx86" || key == "mi32" || key == "mi64" || key == "ma64") {
        p.text = cText(p);
        if (key == format.entryPointKey)
            pipl.entryPoint = p.text;
    } else if (key == "ePVR" || key == "eSVR") {
        expectSize(p, index, 4);
        p.text = std::to_string(r.u16(0, p.key)) + "." + std::to_string(r.u16(2, p.key));
    } else if (key == "eVER" || key == "eGLO" || key == "eGL2") {
        expectSize(p, index, 4);
        const std::uint32_t value = r.u32(0, p.key);
        p.text = hex32(value);
        (key == "eVER" ? pipl.version : key == "eGLO" ? pipl.outFlags : pipl.outFlags2) = value;
    } else if (key == "aeFL") {
        expectSize(p, index, 4);
        p.text = std::to_string(r.u32(0, p.key));
    } else if (key == "eINF") {
        expectSize(p, index, 2);
        p.text = std::to_string(r.u16(0, p.key));
    } else {
        std::string text;
        for (std::size_t i = 0; i < p.data.size() && i < 16; ++i) {
            char byte[4];
            std::snprintf(byte, sizeof byte, "%02x", p.data[i]);
            if (i != 0)
                text += ' ';
            text += byte;
        }
        p.text = p.data.size() > 16 ? text + " ..." : text;
    }
}

} // namespace

const PiPLProperty* PiPL::find(std::string_view key) const {
    for (const PiPLProperty& p : properties) {
        if (p.key == key)
            return &p;
    }
    return nullptr;
}

PiPL decodePiPL(std::span<const std::uint8_t> bytes, const PiPLFormat& format) {
    const ByteReader r(bytes, format.bigEndian ? Endian::big : Endian::little, pastTheEnd, "PiPL");
    if (bytes.size() < kHeaderSize)
        malformed(std::to_string(bytes.size()) + " bytes, shorter than the 10-byte header");
    if (const std::uint16_t first = r.u16(0, "the header"); first != 1)
        malformed("bad header: it starts with " + std::to_string(first) + ", expected 1" +
                  (first == 0x100 ? std::string(" (its integers are ") +
                                        (format.bigEndian ? "little" : "big") + "-endian, not " +
                                        (format.bigEndian ? "big" : "little") + "-endian)"
                                  : ""));
    if (const std::uint32_t version = r.u32(2, "the header"); version != 0)
        malformed("bad header: list version " + std::to_string(version) + ", expected 0");
    const std::uint32_t count = r.u32(6, "the header");

    PiPL pipl;
    std::size_t at = kHeaderSize;
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::size_t left = bytes.size() - at;
        if (left == 0)
            malformed("count mismatch: the header says " + std::to_string(count) +
                      " properties, the data ends after " + std::to_string(i));
        if (left < kPropertyHeaderSize)
            malformed("property " + std::to_string(i + 1) + " is truncated: " +
                      std::to_string(left) + " bytes left of its 16-byte header");
        PiPLProperty p;
        const std::string header = "the header of property " + std::to_string(i + 1);
        p.vendor = fourCCText(r.u32(at, header));
        p.key = fourCCText(r.u32(at + 4, header));
        p.id = r.u32(at + 8, header);
        const std::uint64_t length = r.u32(at + 12, header);
        at += kPropertyHeaderSize;
        const std::uint64_t padded = (length + 3) / 4 * 4;
        if (padded > bytes.size() - at)
            malformed(propertyName(i, p.key) + " length " + std::to_string(length) +
                      " runs past the end (" + std::to_string(bytes.size() - at) + " bytes left)");
        const auto data = r.view(at, length, propertyName(i, p.key));
        p.data.assign(data.begin(), data.end());
        at += static_cast<std::size_t>(padded);
        decodeValue(pipl, p, i, format);
        pipl.properties.push_back(std::move(p));
    }
    for (std::size_t rest = at; rest < bytes.size(); ++rest) {
        // Zero bytes after the last property are alignment; anything else is more data than
        // the header counts.
        if (bytes[rest] != 0)
            malformed("count mismatch: the header says " + std::to_string(count) +
                      " properties, but " + std::to_string(bytes.size() - at) +
                      " more bytes follow them");
    }
    if (pipl.find("kind") == nullptr)
        malformed("no \"kind\" property");
    if (pipl.kind != "eFKT")
        malformed("\"kind\" is " + pipl.kind + ", not eFKT (an effect)");
    if (pipl.entryPoint.empty())
        malformed(std::string("no entry point name (property \"") + format.entryPointKey + "\")");
    return pipl;
}

} // namespace OmbrelHost
