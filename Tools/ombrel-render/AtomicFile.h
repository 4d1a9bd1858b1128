// Writing a file so that nobody ever sees it half-written: the content goes to a temporary file
// beside the target (same folder, so the rename cannot cross file systems) and is renamed over
// the target only once it is complete. On any failure the target keeps its old content, or stays
// absent, and the temporary is removed.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>

namespace OmbrelRender {

class AtomicFile {
public:
    // Checks that the target's folder exists and the target is not a folder; throws ToolError.
    explicit AtomicFile(std::filesystem::path target);
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // Where to write: hidden, in the target's folder, with the target's extension so that
    // writers choosing a format by extension choose the same one.
    const std::filesystem::path& tempPath() const { return temp_; }
    const std::filesystem::path& target() const { return target_; }

    // Renames the temporary over the target; throws ToolError (and removes the temporary).
    void commit();

private:
    std::filesystem::path target_;
    std::filesystem::path temp_;
    bool committed_ = false;
};

// Runs `write` on the temporary path and commits; a throwing `write` leaves the target alone.
void writeAtomically(const std::filesystem::path& target,
                     const std::function<void(const std::filesystem::path& temp)>& write);

// Plain write of a whole file (not atomic by itself); throws ToolError.
void writeBytes(const std::filesystem::path& path, std::span<const std::uint8_t> bytes);

void writeBytesAtomically(const std::filesystem::path& target, std::span<const std::uint8_t> bytes);

} // namespace OmbrelRender
