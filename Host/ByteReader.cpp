#include "Host/ByteReader.h"

#include <cerrno>
#include <cstring>
#include <system_error>

#include "Host/HostError.h"
#include "Host/Text.h"

#if defined(_WIN32)
#include <cstdio>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace OmbrelHost {

namespace fs = std::filesystem;

#if defined(_WIN32)

RegularFile::RegularFile(const fs::path& path) {
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (status.type() != fs::file_type::regular)
        throw HostError(notARegularFile(status.type()));
    std::FILE* file = _wfopen(path.c_str(), L"rb");
    if (file == nullptr)
        throw HostError("cannot open: " + systemCause(errno));
    if (_fseeki64(file, 0, SEEK_END) != 0) {
        std::fclose(file);
        throw HostError("cannot read: " + systemCause(errno));
    }
    size_ = static_cast<std::uint64_t>(_ftelli64(file));
    handle_ = reinterpret_cast<std::intptr_t>(file);
}

RegularFile::~RegularFile() {
    if (handle_ != -1)
        std::fclose(reinterpret_cast<std::FILE*>(handle_));
}

void RegularFile::read(std::uint64_t offset, std::uint8_t* out, std::size_t count) const {
    std::FILE* file = reinterpret_cast<std::FILE*>(handle_);
    if (_fseeki64(file, static_cast<long long>(offset), SEEK_SET) != 0 ||
        std::fread(out, 1, count, file) != count)
        throw HostError("cannot read " + std::to_string(count) + " bytes at " +
                        std::to_string(offset) + ": the file is shorter than it was");
}

#else

fs::file_type fileTypeOfMode(unsigned mode) {
    const mode_t m = static_cast<mode_t>(mode);
    if (S_ISREG(m))
        return fs::file_type::regular;
    if (S_ISDIR(m))
        return fs::file_type::directory;
    if (S_ISFIFO(m))
        return fs::file_type::fifo;
    if (S_ISCHR(m))
        return fs::file_type::character;
    if (S_ISBLK(m))
        return fs::file_type::block;
    if (S_ISSOCK(m))
        return fs::file_type::socket;
    return fs::file_type::unknown;
}

RegularFile::RegularFile(const fs::path& path) {
    // The type is checked on the name first, so a FIFO is never opened (opening one waits for a
    // writer), then again on what was opened, in case the name changed in between.
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        throw HostError(errno == ENOENT ? std::string("no such file") : systemCause(errno));
    if (!S_ISREG(info.st_mode))
        throw HostError(notARegularFile(fileTypeOfMode(info.st_mode)));
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        throw HostError("cannot open: " + systemCause(errno));
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        const std::string why = notARegularFile(fileTypeOfMode(info.st_mode));
        ::close(fd);
        throw HostError(why);
    }
    size_ = static_cast<std::uint64_t>(info.st_size);
    handle_ = fd;
}

RegularFile::~RegularFile() {
    if (handle_ >= 0)
        ::close(static_cast<int>(handle_));
}

void RegularFile::read(std::uint64_t offset, std::uint8_t* out, std::size_t count) const {
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n = ::pread(static_cast<int>(handle_), out + done, count - done,
                                  static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw HostError("cannot read: " + systemCause(errno));
        if (n == 0)
            throw HostError("cannot read " + std::to_string(count) + " bytes at " +
                            std::to_string(offset) + ": the file is shorter than it was");
        done += static_cast<std::size_t>(n);
    }
}

#endif

ByteReader::ByteReader(std::span<const std::uint8_t> bytes, Endian endian, Overrun overrun,
                       const char* area)
    : bytes_(bytes), size_(bytes.size()), budget_(std::make_shared<Budget>()), endian_(endian),
      overrun_(overrun), area_(area) {}

ByteReader::ByteReader(const RegularFile& file, Endian endian, Overrun overrun, const char* area)
    : file_(&file), size_(file.size()), budget_(std::make_shared<Budget>()), endian_(endian),
      overrun_(overrun), area_(area) {}

void ByteReader::need(std::uint64_t offset, std::uint64_t length, const std::string& what) const {
    if (!fits(offset, length))
        throw HostError(overrun_(area_, size_, offset, length, what));
}

void ByteReader::charge(std::uint64_t length, const std::string& what) const {
    if (length > budget_->left)
        throw HostError(what + " would take the reader past " +
                        std::to_string(kReaderBudget >> 20) + " MB");
    budget_->left -= length;
}

void ByteReader::read(std::uint64_t offset, std::uint8_t* out, std::size_t count) const {
    if (file_ != nullptr)
        file_->read(base_ + offset, out, count);
    else if (count != 0)
        std::memcpy(out, bytes_.data() + offset, count);
}

std::uint64_t ByteReader::u(std::uint64_t offset, int bytes, const std::string& what) const {
    need(offset, static_cast<std::uint64_t>(bytes), what);
    std::uint8_t b[8];
    read(offset, b, static_cast<std::size_t>(bytes));
    std::uint64_t v = 0;
    for (int i = 0; i < bytes; ++i) {
        const int at = endian_ == Endian::big ? i : bytes - 1 - i;
        v = (v << 8) | b[at];
    }
    return v;
}

std::vector<std::uint8_t> ByteReader::copy(std::uint64_t offset, std::uint64_t length,
                                           const std::string& what) const {
    need(offset, length, what);
    charge(length, what);
    std::vector<std::uint8_t> out(static_cast<std::size_t>(length));
    read(offset, out.data(), out.size());
    return out;
}

ByteReader ByteReader::area(std::uint64_t offset, std::uint64_t length, const char* area,
                            const std::string& what, bool inMemory) const {
    need(offset, length, what);
    ByteReader r = *this;
    r.area_ = area;
    r.size_ = length;
    if (file_ == nullptr) {
        r.bytes_ =
            bytes_.subspan(static_cast<std::size_t>(offset), static_cast<std::size_t>(length));
    } else if (inMemory) {
        r.owned_ = std::make_shared<std::vector<std::uint8_t>>(copy(offset, length, what));
        r.bytes_ = *r.owned_;
        r.file_ = nullptr;
        r.base_ = 0;
    } else {
        r.base_ = base_ + offset;
    }
    return r;
}

std::span<const std::uint8_t> ByteReader::view(std::uint64_t offset, std::uint64_t length,
                                               const std::string& what) const {
    need(offset, length, what);
    if (file_ != nullptr)
        throw HostError(what + ": read from a file area not held in memory");
    return bytes_.subspan(static_cast<std::size_t>(offset), static_cast<std::size_t>(length));
}

} // namespace OmbrelHost
