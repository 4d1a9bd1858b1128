#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "Host/ByteReader.h"
#include "Host/Text.h"
#include "SystemFiles.h"
#include "ToolError.h"

namespace OmbrelRender {

namespace fs = std::filesystem;
using OmbrelHost::systemCause;

namespace {

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }

private:
    int fd_;
};

} // namespace

InputFile::InputFile(const fs::path& path) {
    // The type is checked on the name first, so a FIFO is never opened (opening one waits for a
    // writer), then again on what was opened, in case the name changed in between.
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        throw ToolError("cannot read: " +
                        (errno == ENOENT ? std::string("no such file") : systemCause(errno)));
    if (!S_ISREG(info.st_mode))
        throw ToolError("cannot read: " +
                        notARegularFile(OmbrelHost::fileTypeOfMode(info.st_mode)));
    Descriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (fd.get() < 0)
        throw ToolError("cannot read: " + systemCause(errno));
    if (::fstat(fd.get(), &info) != 0)
        throw ToolError("cannot read: " + systemCause(errno));
    if (!S_ISREG(info.st_mode))
        throw ToolError("cannot read: " +
                        notARegularFile(OmbrelHost::fileTypeOfMode(info.st_mode)));
    size_ = static_cast<std::uint64_t>(info.st_size);
    handle_ = fd.release();
}

InputFile::~InputFile() {
    if (handle_ >= 0)
        ::close(static_cast<int>(handle_));
}

std::size_t InputFile::readAt(std::uint64_t offset, void* buffer, std::size_t count) const {
    std::size_t done = 0;
    auto* bytes = static_cast<unsigned char*>(buffer);
    while (done < count) {
        const ssize_t n = ::pread(static_cast<int>(handle_), bytes + done, count - done,
                                  static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw ToolError("cannot read: " + systemCause(errno));
        if (n == 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    return done;
}

std::optional<FileId> fileIdOf(const fs::path& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return std::nullopt;
    return FileId{static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
}

void writeNewFile(const fs::path& path, std::span<const std::uint8_t> bytes,
                  const fs::path& permissionsOf) {
    Descriptor fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666));
    if (fd.get() < 0)
        throw ToolError("cannot write: " + systemCause(errno));
    struct stat old {};
    if (::stat(permissionsOf.c_str(), &old) == 0 && S_ISREG(old.st_mode))
        ::fchmod(fd.get(), old.st_mode & 07777); // best effort: the content matters more
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd.get(), bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            throw ToolError("cannot write: " + systemCause(n < 0 ? errno : EIO));
        done += static_cast<std::size_t>(n);
    }
    // Some file systems report a full disk or an I/O error only here or at close.
    while (::fsync(fd.get()) != 0)
        if (errno != EINTR)
            throw ToolError("cannot write: " + systemCause(errno));
    if (::close(fd.release()) != 0 && errno != EINTR)
        throw ToolError("cannot write: " + systemCause(errno));
}

void checkReplaceable(const fs::path& file) {
    struct stat info {};
    if (::stat(file.c_str(), &info) == 0) {
        // Renaming over a device or a FIFO would put a file in its place.
        if (!S_ISREG(info.st_mode))
            throw ToolError("cannot write: " +
                            notARegularFile(OmbrelHost::fileTypeOfMode(info.st_mode)));
        if (::faccessat(AT_FDCWD, file.c_str(), W_OK, AT_EACCESS) != 0)
            throw ToolError("cannot write: " + systemCause(errno) +
                            (errno == EACCES ? " (the file is read-only for this user)" : ""));
        if (::geteuid() == 0 && (info.st_mode & 0222) == 0)
            throw ToolError("cannot write: the file is read-only (no write permission for anyone)");
    } else if (errno != ENOENT && errno != ENOTDIR) {
        throw ToolError("cannot write: " + systemCause(errno));
    }
    const fs::path folder = file.parent_path().empty() ? fs::path(".") : file.parent_path();
    struct stat place {};
    if (::stat(folder.c_str(), &place) != 0 && errno != ENOENT && errno != ENOTDIR)
        throw ToolError("cannot write: folder " + folder.string() + ": " + systemCause(errno));
    if (!S_ISDIR(place.st_mode))
        throw ToolError("cannot write: folder " + folder.string() + " does not exist");
    if (::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0)
        throw ToolError("cannot write: folder " + folder.string() + ": " + systemCause(errno));
}

void replaceFile(const fs::path& from, const fs::path& to) {
    if (::rename(from.c_str(), to.c_str()) != 0)
        throw ToolError("cannot write: " + systemCause(errno));
}

void syncFolder(const fs::path& folder) {
    const int fd =
        ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

unsigned long processId() {
    return static_cast<unsigned long>(::getpid());
}

} // namespace OmbrelRender
