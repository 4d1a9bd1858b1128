// Reading integers and byte ranges out of a file format whose every offset, count and length
// comes from the file and is distrusted: each read is checked against the end of the area it
// reads from, in the format's byte order. One reader serves the ELF, PE, PiPL and resource-file
// parsers, over bytes in memory or over a file on disk read piece by piece (only the headers
// and sections a parser asks for are read, never the whole file).
//
// Copies out of a reader (blocks read from a file, bytes handed back to the caller) are charged
// to a budget that its sub-readers share, so a file that points many times at the same bytes
// cannot make a parser take more than the budget, whatever it claims.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace OmbrelHost {

enum class Endian { little, big };

// What a parser may copy out of one file in all: blocks read from disk plus bytes returned.
inline constexpr std::uint64_t kReaderBudget = 64u << 20;

// The kind of file a POSIX st_mode says (regular, directory, FIFO, ...), for the causes that
// name it. POSIX systems only.
std::filesystem::file_type fileTypeOfMode(unsigned mode);

// A regular file open for reading at any offset. Refuses, without opening it, what is missing or
// not a regular file (a FIFO would block the open, a device has no end), and checks the type
// again on what was opened. Throws HostError with the cause ("is a FIFO", "no such file").
class RegularFile {
public:
    explicit RegularFile(const std::filesystem::path& path);
    ~RegularFile();
    RegularFile(const RegularFile&) = delete;
    RegularFile& operator=(const RegularFile&) = delete;

    std::uint64_t size() const { return size_; }
    // Exactly `count` bytes at `offset`, which the caller has checked lie within size(); throws
    // HostError when the file gives fewer (it shrank) or the read fails.
    void read(std::uint64_t offset, std::uint8_t* out, std::size_t count) const;

private:
    std::intptr_t handle_ = -1; // file descriptor, or a FILE* on Windows
    std::uint64_t size_ = 0;
};

class ByteReader {
public:
    // The message for a read of `length` bytes at `offset` that does not fit the `areaSize`-byte
    // area called `area`; `what` says what was being read.
    using Overrun = std::string (*)(std::string_view area, std::uint64_t areaSize,
                                    std::uint64_t offset, std::uint64_t length,
                                    const std::string& what);

    ByteReader(std::span<const std::uint8_t> bytes, Endian endian, Overrun overrun,
               const char* area);
    ByteReader(const RegularFile& file, Endian endian, Overrun overrun, const char* area);

    std::uint64_t size() const { return size_; }
    bool fits(std::uint64_t offset, std::uint64_t length) const {
        return offset <= size_ && length <= size_ - offset;
    }
    // Throws HostError(overrun(...)) unless `length` bytes at `offset` lie within the area.
    void need(std::uint64_t offset, std::uint64_t length, const std::string& what) const;

    // An unsigned integer of 1 to 8 bytes at `offset`.
    std::uint64_t u(std::uint64_t offset, int bytes, const std::string& what) const;
    std::uint16_t u16(std::uint64_t offset, const std::string& what) const {
        return static_cast<std::uint16_t>(u(offset, 2, what));
    }
    std::uint32_t u32(std::uint64_t offset, const std::string& what) const {
        return static_cast<std::uint32_t>(u(offset, 4, what));
    }

    // A copy of `length` bytes at `offset`, charged to the budget.
    std::vector<std::uint8_t> copy(std::uint64_t offset, std::uint64_t length,
                                   const std::string& what) const;
    // The `length` bytes at `offset` as an area of their own called `area`, offsets counted from
    // its start, sharing this reader's budget. Over a file, the area is read into memory in one
    // piece (charged to the budget) when `inMemory` is set; else it reads through to the file.
    ByteReader area(std::uint64_t offset, std::uint64_t length, const char* area,
                    const std::string& what, bool inMemory = false) const;
    // The bytes at `offset` of an area held in memory (see area()); `length` is checked.
    std::span<const std::uint8_t> view(std::uint64_t offset, std::uint64_t length,
                                       const std::string& what) const;

    Endian endian() const { return endian_; }

private:
    struct Budget {
        std::uint64_t left = kReaderBudget;
    };
    ByteReader() = default;
    void charge(std::uint64_t length, const std::string& what) const;
    void read(std::uint64_t offset, std::uint8_t* out, std::size_t count) const;

    std::span<const std::uint8_t> bytes_; // the area, when in memory
    const RegularFile* file_ = nullptr;   // else the file it lies in
    std::uint64_t base_ = 0;              // where in the file the area starts
    std::uint64_t size_ = 0;
    std::shared_ptr<std::vector<std::uint8_t>> owned_{}; // a block read from the file
    std::shared_ptr<Budget> budget_{};
    Endian endian_ = Endian::little;
    Overrun overrun_ = nullptr;
    const char* area_ = "";
};

} // namespace OmbrelHost
