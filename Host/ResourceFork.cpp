#include "Host/ResourceFork.h"

#include <algorithm>
#include <set>
#include <utility>

#include "Host/OmbrelHost.h"
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

// Big-endian reads within one area of the file (the whole file, the data or the map); reading
// past the area's end reports which area and what was being read.
class Area {
public:
    Area(std::span<const std::uint8_t> bytes, const char* name) : bytes_(bytes), name_(name) {}

    std::uint64_t size() const { return bytes_.size(); }
    bool fits(std::uint64_t offset, std::uint64_t length) const {
        return offset <= bytes_.size() && length <= bytes_.size() - offset;
    }
    void need(std::uint64_t offset, std::uint64_t length, const std::string& what) const {
        if (!fits(offset, length))
            inconsistent(what + " (bytes " + n(offset) + " to " + n(offset + length) +
                         ") lies past the " + n(bytes_.size()) + "-byte " + name_);
    }
    std::uint32_t u(std::uint64_t offset, int bytes, const std::string& what) const {
        need(offset, static_cast<std::uint64_t>(bytes), what);
        std::uint32_t v = 0;
        for (int i = 0; i < bytes; ++i)
            v = (v << 8) | bytes_[static_cast<std::size_t>(offset) + static_cast<std::size_t>(i)];
        return v;
    }
    std::span<const std::uint8_t> sub(std::uint64_t offset, std::uint64_t length) const {
        return bytes_.subspan(static_cast<std::size_t>(offset), static_cast<std::size_t>(length));
    }

private:
    std::span<const std::uint8_t> bytes_;
    const char* name_;
};

} // namespace

std::vector<MacResource> readResourceFile(std::span<const std::uint8_t> bytes) {
    const Area file(bytes, "file");
    if (file.size() < kHeaderSize)
        truncated(n(file.size()) + " bytes, shorter than the 16-byte header");
    const std::uint32_t dataOffset = file.u(0, 4, "the header");
    const std::uint32_t mapOffset = file.u(4, 4, "the header");
    const std::uint32_t dataLength = file.u(8, 4, "the header");
    const std::uint32_t mapLength = file.u(12, 4, "the header");
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

    const Area data(file.sub(dataOffset, dataLength), "data");
    const Area map(file.sub(mapOffset, mapLength), "map");
    // Resource compilers repeat the header at the map's start; some leave zeros.
    const auto copy = map.sub(0, kHeaderSize);
    if (!std::equal(copy.begin(), copy.end(), bytes.begin()) &&
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
                map.need(name + 1, length, "the name of " + which);
                const auto text = map.sub(name + 1, length);
                resource.name = std::string(text.begin(), text.end());
            }
            const std::uint32_t length = data.u(at, 4, "the length of " + which);
            data.need(at + 4, length, "the " + n(length) + " bytes of " + which);
            const auto body = data.sub(at + 4, length);
            resource.data.assign(body.begin(), body.end());
            if (!seen.emplace(resource.type, resource.id).second)
                inconsistent("two " + which + "s");
            resources.push_back(std::move(resource));
        }
    }
    return resources;
}

std::vector<std::uint8_t> piplFromResourceFile(std::span<const std::uint8_t> file) {
    std::vector<MacResource> resources = readResourceFile(file);
    for (MacResource& r : resources)
        if (r.type == "PiPL" && r.id == kPiPLResourceId)
            return std::move(r.data);
    throw HostError("no PiPL: the resource file has no 'PiPL' resource 16000");
}

} // namespace OmbrelHost
