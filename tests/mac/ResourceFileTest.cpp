// The resource file writer (build-time) and the host's reader: the format's structural rules
// checked byte by byte, round trips through both, and refusal of damaged files.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "Host/OmbrelHost.h"
#include "Host/ResourceFork.h"
#include "HostRefusal.h"
#include "Mac/ResourceFileWriter.h"
#include "OmbrelPiPL.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using OmbrelMac::Resource;

std::uint32_t be(const Bytes& b, std::size_t at, int n) {
    std::uint32_t v = 0;
    for (int i = 0; i < n; ++i)
        v = (v << 8) | b.at(at + static_cast<std::size_t>(i));
    return v;
}

void setBe(Bytes& b, std::size_t at, std::uint32_t v, int n) {
    for (int i = n - 1; i >= 0; --i, v >>= 8)
        b.at(at + static_cast<std::size_t>(i)) = static_cast<std::uint8_t>(v);
}

constexpr std::uint32_t code(const char (&c)[5]) {
    return OmbrelPiPL::fourCC(c);
}

Bytes piplFile() {
    return OmbrelMac::writeResourceFile(
        {{code("PiPL"), 16000, Bytes(OmbrelPiPL::kMacBytes.begin(), OmbrelPiPL::kMacBytes.end())}});
}

std::string refusal(const Bytes& file) {
    return OmbrelTest::refusal([&] { OmbrelHost::readResourceFile(file); });
}

// Every field of the one-resource file, read with plain offsets rather than the reader.
TEST(ResourceFileWriter, KeepsTheFormatsStructuralRules) {
    const Bytes f = piplFile();
    const auto pipl = static_cast<std::uint32_t>(OmbrelPiPL::kMacBytes.size());
    const std::uint32_t dataLength = 4 + pipl;
    const std::uint32_t mapOffset = 256 + dataLength;
    const std::uint32_t mapLength = 28 + 2 + 8 + 12; // header, type count, one type, one ref
    ASSERT_EQ(f.size(), mapOffset + mapLength);
    EXPECT_EQ(be(f, 0, 4), 256u);
    EXPECT_EQ(be(f, 4, 4), mapOffset);
    EXPECT_EQ(be(f, 8, 4), dataLength);
    EXPECT_EQ(be(f, 12, 4), mapLength);
    for (std::size_t i = 16; i < 256; ++i)
        ASSERT_EQ(f[i], 0) << "reserved byte " << i;
    EXPECT_EQ(be(f, 256, 4), pipl); // the resource's length, then its bytes
    EXPECT_TRUE(
        std::equal(OmbrelPiPL::kMacBytes.begin(), OmbrelPiPL::kMacBytes.end(), f.begin() + 260));

    const std::size_t map = mapOffset;
    EXPECT_TRUE(std::equal(f.begin(), f.begin() + 16, f.begin() + map)) << "header copy";
    EXPECT_EQ(be(f, map + 16, 4), 0u); // next map handle
    EXPECT_EQ(be(f, map + 20, 2), 0u); // file reference
    EXPECT_EQ(be(f, map + 22, 2), 0u); // attributes
    EXPECT_EQ(be(f, map + 24, 2), 28u);
    EXPECT_EQ(be(f, map + 26, 2), mapLength); // empty name list at the end
    const std::size_t types = map + 28;
    EXPECT_EQ(be(f, types, 2), 0u); // one type, stored minus one
    EXPECT_EQ(be(f, types + 2, 4), code("PiPL"));
    EXPECT_EQ(be(f, types + 6, 2), 0u);  // one resource, stored minus one
    EXPECT_EQ(be(f, types + 8, 2), 10u); // reference list, from the type list's start
    const std::size_t ref = types + 10;
    EXPECT_EQ(be(f, ref, 2), 16000u);
    EXPECT_EQ(be(f, ref + 2, 2), 0xFFFFu); // no name
    EXPECT_EQ(be(f, ref + 4, 1), 0u);      // attributes
    EXPECT_EQ(be(f, ref + 5, 3), 0u);      // data offset
    EXPECT_EQ(be(f, ref + 8, 4), 0u);      // handle
}

TEST(ResourceFileReader, ReadsBackExactlyOnePiPLResource) {
    const auto resources = OmbrelHost::readResourceFile(piplFile());
    ASSERT_EQ(resources.size(), 1u);
    EXPECT_EQ(resources[0].type, "PiPL");
    EXPECT_EQ(resources[0].id, 16000);
    EXPECT_EQ(resources[0].attributes, 0);
    EXPECT_FALSE(resources[0].name.has_value());
    EXPECT_EQ(resources[0].data, Bytes(OmbrelPiPL::kMacBytes.begin(), OmbrelPiPL::kMacBytes.end()));
}

TEST(ResourceFileReader, WalksSeveralTypesAndReferenceLists) {
    // Types interleaved on input: the writer groups them, offsets and counts must follow.
    const std::vector<Resource> in = {
        {code("STR "), 128, {'a', 'b'}},
        {code("PiPL"), 16001, {1, 2, 3}},
        {code("STR "), -1, {}},
        {code("PiPL"), 16000, {4, 5, 6, 7, 8}},
        {code("vers"), 1, Bytes(70000, 9)},
    };
    const Bytes file = OmbrelMac::writeResourceFile(in);
    const auto out = OmbrelHost::readResourceFile(file);
    const std::vector<std::pair<std::string, int>> order = {
        {"STR ", 128}, {"STR ", -1}, {"PiPL", 16001}, {"PiPL", 16000}, {"vers", 1}};
    ASSERT_EQ(out.size(), order.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(out[i].type, order[i].first);
        EXPECT_EQ(out[i].id, order[i].second);
        const auto& want = *std::find_if(in.begin(), in.end(), [&](const Resource& r) {
            return static_cast<int>(r.id) == order[i].second;
        });
        EXPECT_EQ(out[i].data, want.data);
    }
    EXPECT_EQ(OmbrelHost::piplFromResourceFile(file), (Bytes{4, 5, 6, 7, 8}));
}

TEST(ResourceFileReader, ReadsNamesAndAZeroHeaderCopy) {
    // What the writer never makes but other resource compilers do: a named resource, and a map
    // whose header copy is left zero.
    Bytes f = piplFile();
    const std::size_t map = be(f, 4, 4);
    const std::size_t mapLength = be(f, 12, 4);
    const std::string name = "Ombrel";
    f.push_back(static_cast<std::uint8_t>(name.size()));
    f.insert(f.end(), name.begin(), name.end());
    setBe(f, 12, static_cast<std::uint32_t>(mapLength + 1 + name.size()), 4);
    std::fill(f.begin() + static_cast<std::ptrdiff_t>(map),
              f.begin() + static_cast<std::ptrdiff_t>(map + 16), 0);
    setBe(f, map + 28 + 10 + 2, 0, 2); // the name at the start of the name list
    const auto resources = OmbrelHost::readResourceFile(f);
    ASSERT_EQ(resources.size(), 1u);
    EXPECT_EQ(resources[0].name, name);
}

TEST(ResourceFileReader, RefusesEveryTruncation) {
    const Bytes whole = piplFile();
    for (std::size_t size = 0; size < whole.size(); ++size) {
        const std::string message = refusal(Bytes(whole.begin(), whole.begin() + size));
        ASSERT_EQ(message.rfind("truncated resource file: ", 0), 0u)
            << size << " bytes: " << message;
    }
}

struct Damage {
    const char* what;
    std::function<void(Bytes&)> apply;
    std::string message;
};

TEST(ResourceFileReader, RefusesInconsistentFilesSayingWhy) {
    // Offsets within the one-resource file: its data is the PiPL after its 4-byte length.
    const std::size_t data = 4 + OmbrelPiPL::kMacBytes.size();
    const std::size_t map = 256 + data, types = map + 28, ref = types + 10;
    const std::string dataText = std::to_string(data);
    const std::vector<Damage> cases = {
        {"data longer than the file", [](Bytes& f) { setBe(f, 8, 1000, 4); },
         "truncated resource file: the header puts 1000 bytes of data at 256"},
        {"map past the end", [&](Bytes& f) { setBe(f, 4, map + 1, 4); },
         "truncated resource file: the header puts the 50-byte map at " + std::to_string(map + 1)},
        {"data over the header", [](Bytes& f) { setBe(f, 0, 8, 4); },
         "overlaps the 16-byte header"},
        {"map inside the data", [](Bytes& f) { setBe(f, 4, 300, 4); }, "overlap"},
        {"map too short", [&](Bytes& f) { setBe(f, 12, 20, 4); }, "too short"},
        {"header copy differs", [&](Bytes& f) { f[map + 3] ^= 1; },
         "the map's copy of the header differs"},
        {"type list past the map", [&](Bytes& f) { setBe(f, map + 24, 60, 2); },
         "the type count (bytes 60 to 62) lies past the 50-byte map"},
        {"name list past the map", [&](Bytes& f) { setBe(f, map + 26, 51, 2); },
         "the name list (at 51)"},
        {"more types than the map holds", [&](Bytes& f) { setBe(f, types, 2, 2); },
         "the type list of 3 types (bytes 30 to 54) lies past the 50-byte map"},
        {"type list over the reference list", [&](Bytes& f) { setBe(f, types, 1, 2); },
         "the reference list of 'PiPL' resources (at 10 from the type list) overlaps the list of 2 "
         "types"},
        {"more resources than listed", [&](Bytes& f) { setBe(f, types + 6, 1, 2); },
         "the reference list of 2 'PiPL' resources"},
        {"reference list past the map", [&](Bytes& f) { setBe(f, types + 8, 40, 2); },
         "the reference list of 1 'PiPL' resources"},
        {"data offset past the data",
         [&](Bytes& f) { setBe(f, ref + 5, static_cast<std::uint32_t>(data), 3); },
         "the length of 'PiPL' resource 16000"},
        {"resource longer than the data",
         [&](Bytes& f) { setBe(f, 256, static_cast<std::uint32_t>(data - 3), 4); },
         "the " + std::to_string(data - 3) + " bytes of 'PiPL' resource 16000 (bytes 4 to " +
             std::to_string(data + 1) + ") lies past the " + dataText + "-byte data"},
        {"name past the map", [&](Bytes& f) { setBe(f, ref + 2, 0, 2); },
         "the name of 'PiPL' resource 16000"},
    };
    for (const Damage& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes f = piplFile();
        c.apply(f);
        const std::string message = refusal(f);
        EXPECT_NE(message.find(c.message), std::string::npos) << message;
        EXPECT_EQ(message.find('\n'), std::string::npos) << message;
    }
}

TEST(ResourceFileReader, RefusesTwoResourcesOfOneTypeAndId) {
    const Bytes f =
        OmbrelMac::writeResourceFile({{code("PiPL"), 16000, {1}}, {code("PiPL"), 16000, {2}}});
    EXPECT_NE(refusal(f).find("two 'PiPL' resource 16000s"), std::string::npos) << refusal(f);
}

// `count` 'PiPL' resources, ids 0 up, whose references all point at the same `length` bytes.
Bytes sharedDataFile(std::uint32_t count, std::uint32_t length) {
    const std::uint32_t data = 256, dataLength = 4 + length, mapLength = 28 + 2 + 8 + 12 * count;
    Bytes f(data + dataLength + mapLength, 0);
    const std::uint32_t header[] = {data, data + dataLength, dataLength, mapLength};
    for (std::size_t i = 0; i < 4; ++i)
        setBe(f, 4 * i, header[i], 4);
    setBe(f, data, length, 4);
    const std::size_t map = data + dataLength;
    std::copy(f.begin(), f.begin() + 16, f.begin() + static_cast<std::ptrdiff_t>(map));
    setBe(f, map + 24, 28, 2); // the type list, and an empty name list, after the map header
    setBe(f, map + 26, 28, 2);
    setBe(f, map + 30, code("PiPL"), 4);
    setBe(f, map + 34, count - 1, 2);
    setBe(f, map + 36, 10, 2);
    for (std::uint32_t i = 0; i < count; ++i) {
        setBe(f, map + 38 + 12 * i, i, 2);
        setBe(f, map + 40 + 12 * i, 0xFFFF, 2);
    }
    return f;
}

TEST(ResourceFileReader, RefusesReferencesThatShareData) {
    // 65536 references to one 64 KB resource: 4 GB to a reader that copies each.
    EXPECT_EQ(OmbrelHost::readResourceFile(sharedDataFile(1, 65536)).size(), 1u);
    for (const std::uint32_t count : {2u, 65536u}) {
        SCOPED_TRACE(count);
        const Bytes f = sharedDataFile(count, 65536);
        const char* message = "claim 131080 bytes of data, more than the 65540 bytes there are";
        EXPECT_NE(refusal(f).find(message), std::string::npos) << refusal(f);
        EXPECT_NE(OmbrelTest::refusal([&] { OmbrelHost::piplFromResourceFile(f); }).find(message),
                  std::string::npos);
    }
}

TEST(ResourceFileReader, SaysWhenThereIsNoPiPL) {
    Bytes noTypes = piplFile();
    const std::size_t map = 256 + 4 + OmbrelPiPL::kMacBytes.size();
    setBe(noTypes, map + 28, 0xFFFF, 2); // counts are stored minus one: no types
    ASSERT_TRUE(OmbrelHost::readResourceFile(noTypes).empty());
    const std::vector<Bytes> files = {
        OmbrelMac::writeResourceFile({{code("PiPL"), 16001, {1}}}),
        OmbrelMac::writeResourceFile({{code("PIPL"), 16000, {1}}}),
        noTypes,
    };
    for (const Bytes& f : files) {
        try {
            OmbrelHost::piplFromResourceFile(f);
            ADD_FAILURE() << "found a PiPL";
        } catch (const OmbrelHost::HostError& e) {
            EXPECT_STREQ(e.what(), "no PiPL: the resource file has no 'PiPL' resource 16000");
        }
    }
}

} // namespace
