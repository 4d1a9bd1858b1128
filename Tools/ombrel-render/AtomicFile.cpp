#include "AtomicFile.h"

#include <atomic>
#include <string>
#include <system_error>

#include "Stop.h"
#include "SystemFiles.h"
#include "ToolError.h"

namespace OmbrelRender {

namespace fs = std::filesystem;

namespace {

// At most `limit` code units of a name, not cutting a character in two (UTF-8 on POSIX, UTF-16
// on Windows).
fs::path::string_type shortened(fs::path::string_type name, std::size_t limit) {
    if (name.size() <= limit)
        return name;
    std::size_t cut = limit;
    if constexpr (sizeof(fs::path::value_type) == 1) {
        while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80)
            --cut;
    } else {
        const auto unit = static_cast<std::uint32_t>(name[cut]);
        if (cut > 0 && unit >= 0xDC00 && unit <= 0xDFFF) // the second half of a surrogate pair
            --cut;
    }
    name.resize(cut);
    return name;
}

class TemporaryFile {
public:
    explicit TemporaryFile(const fs::path& path) : path_(path) {}
    ~TemporaryFile() {
        if (!kept_) {
            std::error_code ec;
            fs::remove(path_, ec);
        }
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    void keep() { kept_ = true; }

private:
    fs::path path_;
    bool kept_ = false;
};

} // namespace

fs::path followLinks(fs::path path) {
    std::error_code ec;
    for (int hops = 0; fs::is_symlink(path, ec); ++hops) {
        if (hops == 40)
            throw ToolError("cannot write: too many levels of symbolic links");
        const fs::path to = fs::read_symlink(path, ec);
        if (ec)
            throw ToolError("cannot write: " + ec.message());
        path = to.is_absolute() ? to : path.parent_path() / to;
    }
    return path;
}

fs::path temporaryName(const fs::path& targetName, unsigned long pid, unsigned long serial) {
    const std::string tag =
        ".ombrel-render-" + std::to_string(pid) + "-" + std::to_string(serial) + "-";
    fs::path name(tag);
    name += shortened(targetName.native(), 160);
    name += ".tmp";
    return name;
}

AtomicFile::AtomicFile(const fs::path& target) {
    if (target.filename().empty() || target.filename() == "." || target.filename() == "..")
        throw ToolError("cannot write: not a file name");
    file_ = followLinks(target);
    checkReplaceable(file_);
    const fs::path folder = file_.parent_path();
    std::error_code ec;
    // A name taken by a temporary that a killed process with the same id left behind is skipped.
    static std::atomic<unsigned long> serial{0};
    do
        temp_ = folder / temporaryName(file_.filename(), processId(), serial++);
    while (fs::exists(fs::symlink_status(temp_, ec)));
}

void AtomicFile::write(std::span<const std::uint8_t> bytes) {
    throwIfStopped();
    TemporaryFile temporary(temp_);
    writeNewFile(temp_, bytes, file_);
    throwIfStopped();
    replaceFile(temp_, file_);
    temporary.keep();
    syncFolder(file_.parent_path());
}

void writeBytesAtomically(const fs::path& target, std::span<const std::uint8_t> bytes) {
    AtomicFile(target).write(bytes);
}

} // namespace OmbrelRender
