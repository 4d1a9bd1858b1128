#include "AtomicFile.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <system_error>

#include "FileImage.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace OmbrelRender {

namespace fs = std::filesystem;

namespace {

std::string uniqueTag() {
    static std::atomic<unsigned> counter{0};
    static const unsigned long long seed = [] {
        std::random_device device;
        return (static_cast<unsigned long long>(device()) << 32) ^ device();
    }();
    char text[48];
    std::snprintf(text, sizeof text, "%llx-%u", seed, counter.fetch_add(1));
    return text;
}

} // namespace

AtomicFile::AtomicFile(fs::path target) : target_(std::move(target)) {
    if (target_.filename().empty())
        throw ToolError("cannot write: not a file name");
    std::error_code ec;
    if (fs::is_directory(target_, ec))
        throw ToolError("cannot write: is a folder");
    fs::path folder = target_.parent_path();
    if (folder.empty())
        folder = ".";
    if (!fs::is_directory(folder, ec))
        throw ToolError("cannot write: folder " + folder.string() + " does not exist");
    std::string name(1, '.');
    name += target_.stem().string();
    name += ".tmp-";
    name += uniqueTag();
    name += target_.extension().string();
    temp_ = target_.parent_path() / name;
}

AtomicFile::~AtomicFile() {
    if (!committed_) {
        std::error_code ec;
        fs::remove(temp_, ec);
    }
}

void AtomicFile::commit() {
    std::error_code ec;
#ifdef _WIN32
    // Replaces an existing target in one step, as rename does on POSIX.
    if (!MoveFileExW(temp_.c_str(), target_.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        ec = std::error_code(static_cast<int>(GetLastError()), std::system_category());
#else
    fs::rename(temp_, target_, ec);
#endif
    if (ec) {
        std::error_code ignored; // the rename's reason is the one to report
        fs::remove(temp_, ignored);
        throw ToolError("cannot write: " + ec.message());
    }
    committed_ = true;
}

void writeAtomically(const fs::path& target, const std::function<void(const fs::path&)>& write) {
    AtomicFile file(target);
    write(file.tempPath());
    std::error_code ec;
    if (!fs::is_regular_file(file.tempPath(), ec))
        throw ToolError("cannot write: the writer produced no file");
    file.commit();
}

void writeBytes(const fs::path& path, std::span<const std::uint8_t> bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out)
        throw ToolError(std::string("cannot write: ") + std::strerror(errno));
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out)
        throw ToolError("cannot write: write failed (disk full?)");
}

void writeBytesAtomically(const fs::path& target, std::span<const std::uint8_t> bytes) {
    writeAtomically(target, [&](const fs::path& temp) { writeBytes(temp, bytes); });
}

} // namespace OmbrelRender
