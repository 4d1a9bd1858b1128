#include "Host/ResourceFork.h"

#include <algorithm>
#include <set>
#include <utility>

#include "Host/ByteReader.h"
#include "Host/HostError.h"
#include "Host/Text.h"

namespace OmbrelHost {

namespace {

constexpr std::uint64_t kHeaderSize = 16;
// Header copy, next map handle (4), file reference (2), attributes (2), type and name list
// offsets (2 + 2).
constexpr std::uint64_t kMapHeaderSize = kHeaderSize + 12;
constexpr std::uint64_t kTypeEntrySize = 8;
constexpr std::uint64_t kReferenceSize = 12;
constexpr std::uint32_t kNoName = 0xFFFF;
constexpr int kPiPLResourceId = 16000;

[[noreturn]] void truncated(const std::string& why) {
    throw HostError("truncated resource file: " + why);
}

[[noreturn]] void inconsistent(const std::string& why) {
    throw HostError("inconsistent resource file: " + why);
}

std::string n(std::uint64_t v) {
    return std::to_string(v);
}

// Reading past the end of an area of the file (the whole file, the data or the map) reports
// which area and what was being read.
std::string pastArea(std::string_view area, std::uint64_t areaSize, std::uint64_t offset,
                     std::uint64_t length, const std::string& what) {
    return "inconsistent resource file: " + what + " (bytes " + n(offset) + " to " +
           n(offset + length) + ") lies past the " + n(areaSize) + "-byte " + std::string(area);
}

struct Wanted {
    std::string type;
    int id;
};

// Every resource, or only the one `only` names, with its data; the others' data is checked but
// not read.
std::vector<MacResource> readResources(const ByteReader& file, const Wanted* only) {
    if (file.size() < kHeaderSize)
        truncated(n(file.size()) + " bytes, shorter than the 16-byte header");
    const std::uint32_t dataOffset = file.u32(0, "the header");
    const std::uint32_t mapOffset = file.u32(4, "the header");
    const std::uint32_t dataLength = file.u32(8, "the header");
    const std::uint32_t mapLength = file.u32(12, "the header");
    if (!file.fits(dataOffset, dataLength))
        truncated("the header puts " + n(dataLength) + " bytes of data at " + n(dataOffset) +
                  ", past the file's " + n(file.size()) + " bytes");
    if (!file.fits(mapOffset, mapLength))
        truncated("the header puts the " + n(mapLength) + "-byte map at " + n(mapOffset) +
                  ", past the file's " + n(file.size()) + " bytes");
    if (dataOffset < kHeaderSize || mapOffset < kHeaderSize)
        inconsistent("the data or the map overlaps the 16-byte header");
    if (std::uint64_t{dataOffset} + dataLength > mapOffset &&
        std::uint64_t{mapOffset} + mapLength > dataOffset)
        inconsistent("the data (" + n(dataOffset) + ", " + n(dataLength) + " bytes) and the map (" +
                     n(mapOffset) + ", " + n(mapLength) + " bytes) overlap");
    if (mapLength < kMapHeaderSize + 2)
        inconsistent("the map is " + n(mapLength) +
                     " bytes, too short for its header and type list");

    // The map is read whole, the data only where a resource lies.
    const ByteReader data = file.area(dataOffset, dataLength, "data", "the data");
    const ByteReader map = file.area(mapOffset, mapLength, "map", "the map", true);
    // Resource compilers repeat the header at the map's start; some leave zeros.
    const ByteReader headerArea = file.area(0, kHeaderSize, "header", "the header", true);
    const auto header = headerArea.view(0, kHeaderSize, "the header");
    const auto copy = map.view(0, kHeaderSize, "the map's copy of the header");
    if (!std::equal(copy.begin(), copy.end(), header.begin()) &&
        std::any_of(copy.begin(), copy.end(), [](std::uint8_t b) { return b != 0; }))
        inconsistent("the map's copy of the header differs from the header");

    const std::uint32_t typeList = map.u(24, 2, "the type list offset");
    const std::uint32_t nameList = map.u(26, 2, "the name list offset");
    if (typeList < kMapHeaderSize || nameList < kMapHeaderSize || nameList > mapLength)
        inconsistent("the type list (at " + n(typeList) + ") or the name list (at " + n(nameList) +
                     ") is not within the " + n(mapLength) + "-byte map after its header");
    // Counts are stored minus one: 0xFFFF is an empty list.
    const std::uint64_t typeCount = (map.u(typeList, 2, "the type count") + 1) & 0xFFFFu;
    map.need(typeList + 2, kTypeEntrySize * typeCount,
             "the type list of " + n(typeCount) + " types");

    std::vector<MacResource> resources;
    std::set<std::pair<std::string, int>> seen;
    // Each resource's data (and its 4-byte length) takes its own bytes of the data area, so
    // together they fit in it: references that share bytes would make a small file claim any
    // number of copies of them.
    std::uint64_t claimed = 0;
    for (std::uint64_t t = 0; t < typeCount; ++t) {
        const std::uint64_t entry = typeList + 2 + kTypeEntrySize * t;
        const std::string type = fourCCText(map.u(entry, 4, "a type"));
        const std::uint64_t count = map.u(entry + 4, 2, "a type") + std::uint64_t{1};
        const std::uint64_t referencesFromList = map.u(entry + 6, 2, "a type");
        const std::uint64_t references = typeList + referencesFromList;
        const std::string of = "'" + type + "'";
        if (referencesFromList < 2 + kTypeEntrySize * typeCount)
            inconsistent("the reference list of " + of + " resources (at " + n(referencesFromList) +
                         " from the type list) overlaps the list of " + n(typeCount) + " types");
        map.need(references, kReferenceSize * count,
                 "the reference list of " + n(count) + " " + of + " resources");
        for (std::uint64_t r = 0; r < count; ++r) {
            const std::uint64_t ref = references + kReferenceSize * r;
            MacResource resource;
            resource.type = type;
            resource.id = static_cast<std::int16_t>(map.u(ref, 2, "a reference"));
            const std::string which = of + " resource " + std::to_string(resource.id);
            const std::uint32_t nameOffset = map.u(ref + 2, 2, "a reference");
            resource.attributes = static_cast<std::uint8_t>(map.u(ref + 4, 1, "a reference"));
            const std::uint32_t at = map.u(ref + 5, 3, "a reference");
            if (nameOffset != kNoName) {
                const std::uint64_t name = std::uint64_t{nameList} + nameOffset;
                const std::uint32_t length = map.u(name, 1, "the name of " + which);
                const auto text = map.view(name + 1, length, "the name of " + which);
                resource.name = std::string(text.begin(), text.end());
            }
            const std::uint32_t length = data.u32(at, "the length of " + which);
            const std::string bytes = "the " + n(length) + " bytes of " + which;
            data.need(at + 4, length, bytes);
            claimed += 4 + std::uint64_t{length};
            if (claimed > data.size())
                inconsistent("its resources up to " + which + " claim " + n(claimed) +
                             " bytes of data, more than the " + n(data.size()) +
                             " bytes there are (they share bytes)");
            if (!seen.emplace(resource.type, resource.id).second)
                inconsistent("two " + which + "s");
            if (only != nullptr && (resource.type != only->type || resource.id != only->id))
                continue;
            resource.data = data.copy(at + 4, length, bytes);
            resources.push_back(std::move(resource));
        }
    }
    return resources;
}

} // namespace

ByteReader resourceFileReader(std::span<const std::uint8_t> file) {
    return ByteReader(file, Endian::big, pastArea, "file");
}
ByteReader resourceFileReader(const RegularFile& file) {
    return ByteReader(file, Endian::big, pastArea, "file");
}

std::vector<MacResource> readResourceFile(std::span<const std::uint8_t> file) {
    return readResources(resourceFileReader(file), nullptr);
}

std::vector<std::uint8_t> piplFromResourceFile(const ByteReader& file) {
    const Wanted pipl{"PiPL", kPiPLResourceId};
    std::vector<MacResource> resources = readResources(file, &pipl);
    if (resources.empty())
        throw HostError("no PiPL: the resource file has no 'PiPL' resource 16000");
    return std::move(resources.front().data);
}

std::vector<std::uint8_t> piplFromResourceFile(std::span<const std::uint8_t> file) {
    return piplFromResourceFile(resourceFileReader(file));
}

} // namespace OmbrelHost
