#include "Mac/ResourceFileWriter.h"

#include <stdexcept>

namespace OmbrelMac {

namespace {

constexpr std::uint32_t kDataOffset = 256;
constexpr std::uint32_t kHeaderSize = 16;
constexpr std::uint32_t kMapHeaderSize = kHeaderSize + 4 + 2 + 2 + 2 + 2;
constexpr std::uint32_t kTypeEntrySize = 8;
constexpr std::uint32_t kReferenceSize = 12;
constexpr std::uint16_t kNoName = 0xFFFF;

class BigEndian {
public:
    void u8(std::uint32_t v) { bytes_.push_back(static_cast<std::uint8_t>(v & 0xFFu)); }
    void u16(std::uint32_t v) {
        u8(v >> 8);
        u8(v);
    }
    void u24(std::uint32_t v) {
        u8(v >> 16);
        u16(v);
    }
    void u32(std::uint32_t v) {
        u16(v >> 16);
        u16(v);
    }
    void raw(const std::vector<std::uint8_t>& b) {
        bytes_.insert(bytes_.end(), b.begin(), b.end());
    }
    std::vector<std::uint8_t>& bytes() { return bytes_; }

private:
    std::vector<std::uint8_t> bytes_;
};

struct TypeGroup {
    std::uint32_t type;
    std::vector<const Resource*> members;
};

} // namespace

std::vector<std::uint8_t> writeResourceFile(const std::vector<Resource>& resources) {
    std::vector<TypeGroup> groups;
    for (const Resource& r : resources) {
        TypeGroup* group = nullptr;
        for (TypeGroup& g : groups)
            if (g.type == r.type)
                group = &g;
        if (group == nullptr)
            group = &groups.emplace_back(TypeGroup{r.type, {}});
        group->members.push_back(&r);
    }

    // The data, in the order of the reference lists, remembering each resource's offset.
    BigEndian data;
    std::vector<std::uint32_t> dataOffsets;
    for (const TypeGroup& g : groups)
        for (const Resource* r : g.members) {
            dataOffsets.push_back(static_cast<std::uint32_t>(data.bytes().size()));
            if (dataOffsets.back() > 0xFFFFFFu)
                throw std::length_error("resource data past the 24-bit offsets of the map");
            data.u32(static_cast<std::uint32_t>(r->data.size()));
            data.raw(r->data);
        }

    const std::size_t typeListSize = 2 + kTypeEntrySize * groups.size();
    const std::size_t mapSize =
        kMapHeaderSize + typeListSize + kReferenceSize * resources.size(); // empty name list
    if (groups.empty() || mapSize > 0xFFFFu)
        throw std::length_error("a resource file holds 1 to about 5000 resources");
    const auto dataLength = static_cast<std::uint32_t>(data.bytes().size());
    const std::uint32_t mapOffset = kDataOffset + dataLength;
    const auto mapLength = static_cast<std::uint32_t>(mapSize);

    BigEndian header;
    header.u32(kDataOffset);
    header.u32(mapOffset);
    header.u32(dataLength);
    header.u32(mapLength);

    BigEndian map;
    map.raw(header.bytes());
    map.u32(0); // next map handle
    map.u16(0); // file reference number
    map.u16(0); // attributes
    map.u16(kMapHeaderSize);
    map.u16(mapLength); // the name list: empty, at the map's end
    map.u16(static_cast<std::uint32_t>(groups.size() - 1));
    std::size_t referenceList = typeListSize; // from the type list's start
    for (const TypeGroup& g : groups) {
        map.u32(g.type);
        map.u16(static_cast<std::uint32_t>(g.members.size() - 1));
        map.u16(static_cast<std::uint32_t>(referenceList));
        referenceList += kReferenceSize * g.members.size();
    }
    std::size_t next = 0;
    for (const TypeGroup& g : groups)
        for (const Resource* r : g.members) {
            map.u16(static_cast<std::uint16_t>(r->id));
            map.u16(kNoName);
            map.u8(0); // attributes
            map.u24(dataOffsets[next++]);
            map.u32(0); // handle, filled in by the loader
        }

    std::vector<std::uint8_t> file = header.bytes();
    file.resize(kDataOffset, 0);
    file.insert(file.end(), data.bytes().begin(), data.bytes().end());
    file.insert(file.end(), map.bytes().begin(), map.bytes().end());
    return file;
}

} // namespace OmbrelMac
