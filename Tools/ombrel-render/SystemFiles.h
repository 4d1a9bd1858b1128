// The file operations the tool asks of the operating system itself, so that every failure is
// seen and named: reading only regular files, writing a new file with every write checked and
// flushed to the disk, replacing one file by another in one step. One implementation for POSIX
// (SystemFilesPosix.cpp), one for Windows (SystemFilesWindows.cpp).
//
// Failures throw ToolError with the system's cause in lower case ("no space left on device").
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>

#include "Host/Text.h"

namespace OmbrelRender {

// A regular file open for reading.
class InputFile {
public:
    // Refuses, without reading from it, a path that is missing or is not a regular file (a
    // folder, FIFO, device or socket): ToolError("cannot read: is a FIFO").
    explicit InputFile(const std::filesystem::path& path);
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    std::uint64_t size() const { return size_; }
    // Reads up to `count` bytes at `offset`; fewer only at the end of the file.
    std::size_t readAt(std::uint64_t offset, void* buffer, std::size_t count) const;

private:
    std::intptr_t handle_ = -1; // file descriptor, or HANDLE on Windows
    std::uint64_t size_ = 0;
};

// Who a file is, whatever path names it: equal for two hard links or a link and its target.
struct FileId {
    std::uint64_t device = 0;
    std::uint64_t index = 0;
    auto operator<=>(const FileId&) const = default;
};
// Nothing when the path does not exist (links are followed).
std::optional<FileId> fileIdOf(const std::filesystem::path& path);

// Creates `path`, which must not exist yet, writes `bytes` and flushes them to the disk before
// closing it. The new file takes the permissions of `permissionsOf` when that file exists. A
// file left half-written by a failure is the caller's to remove.
void writeNewFile(const std::filesystem::path& path, std::span<const std::uint8_t> bytes,
                  const std::filesystem::path& permissionsOf);

// Refuses, before anything is rendered for it, a file the user may not replace: one that exists
// and is not a regular file, or that the user may not write (as `cp` would refuse it), or whose
// folder is missing or does not let the user create a file. Root, whom the system lets write
// anything, is refused a file that has no write permission for anyone (as `rm` asks before
// removing one): a file made read-only is kept. Throws ToolError("cannot write: ...").
void checkReplaceable(const std::filesystem::path& file);

// Puts `from` in the place of `to` in one step: a reader sees the old file or the new one.
void replaceFile(const std::filesystem::path& from, const std::filesystem::path& to);

// Makes a rename in `folder` durable where the system allows it; failures are ignored (the
// rename itself has succeeded).
void syncFolder(const std::filesystem::path& folder);

unsigned long processId();

// "is a folder", "is a FIFO", "is a device", "is a socket" for what is not a regular file: the
// host's words, which its module readers use too.
using OmbrelHost::notARegularFile;

} // namespace OmbrelRender
