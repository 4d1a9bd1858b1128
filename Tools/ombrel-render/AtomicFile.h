// Writing a file so that nobody ever sees it half-written: the bytes go to a temporary file
// beside the target (same folder, so the rename cannot cross file systems), every write checked
// and flushed to the disk, and the temporary is renamed over the target only once all of that
// has succeeded. On any failure, or a stop request, the target keeps its old content (or stays
// absent) and the temporary is removed.
//
// Temporaries are named ".ombrel-render-PID-N-NAME.tmp" (NAME: the target's name, shortened so
// that the whole stays within the file-name limit), so that one left by a killed process is
// recognisable and tells which process made it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>

namespace OmbrelRender {

class AtomicFile {
public:
    // Checks that the target may be replaced (SystemFiles.h: checkReplaceable); throws ToolError.
    // A target that is a symbolic link is followed: the file it names is replaced and the link
    // stays.
    explicit AtomicFile(const std::filesystem::path& target);

    // The file that will be replaced: the target with its links followed.
    const std::filesystem::path& file() const { return file_; }
    const std::filesystem::path& tempPath() const { return temp_; }

    // Writes `bytes` as the file's new content. Throws ToolError with the cause, or Stopped when
    // a stop was requested before the rename; either way the file is as it was and the
    // temporary is gone.
    void write(std::span<const std::uint8_t> bytes);

private:
    std::filesystem::path file_;
    std::filesystem::path temp_;
};

// The file a write to `target` replaces: `target` with its chain of symbolic links followed
// (it need not exist). Throws ToolError for a loop.
std::filesystem::path followLinks(std::filesystem::path target);

void writeBytesAtomically(const std::filesystem::path& target, std::span<const std::uint8_t> bytes);

// The temporary's name for a target name: ".ombrel-render-PID-N-NAME.tmp", NAME cut to 160
// bytes, so the whole stays well within the usual 255-byte limit.
std::filesystem::path temporaryName(const std::filesystem::path& targetName, unsigned long pid,
                                    unsigned long serial);

} // namespace OmbrelRender
