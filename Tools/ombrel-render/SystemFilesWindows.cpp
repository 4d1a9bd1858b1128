#include <windows.h>

#include <algorithm>
#include <system_error>
#include <utility>

#include "Host/Text.h"
#include "SystemFiles.h"
#include "ToolError.h"

namespace OmbrelRender {

namespace fs = std::filesystem;

namespace {

std::string systemCause(DWORD error) {
    std::string text = std::system_category().message(static_cast<int>(error));
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == '.'))
        text.pop_back();
    if (!text.empty() && text[0] >= 'A' && text[0] <= 'Z')
        text[0] = static_cast<char>(text[0] - 'A' + 'a');
    return text;
}

class Handle {
public:
    explicit Handle(HANDLE h) : h_(h) {}
    ~Handle() {
        if (h_ != INVALID_HANDLE_VALUE)
            CloseHandle(h_);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE get() const { return h_; }
    HANDLE release() { return std::exchange(h_, INVALID_HANDLE_VALUE); }

private:
    HANDLE h_;
};

HANDLE asHandle(std::intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}

} // namespace

InputFile::InputFile(const fs::path& path) {
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (status.type() == fs::file_type::not_found)
        throw ToolError("cannot read: no such file");
    if (!ec && status.type() != fs::file_type::regular)
        throw ToolError("cannot read: " + notARegularFile(status.type()));
    Handle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.get() == INVALID_HANDLE_VALUE)
        throw ToolError("cannot read: " + systemCause(GetLastError()));
    // Pipes and consoles are not disk files, whatever their names say.
    if (GetFileType(file.get()) != FILE_TYPE_DISK)
        throw ToolError("cannot read: is not a regular file");
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size))
        throw ToolError("cannot read: " + systemCause(GetLastError()));
    size_ = static_cast<std::uint64_t>(size.QuadPart);
    handle_ = reinterpret_cast<std::intptr_t>(file.release());
}

InputFile::~InputFile() {
    if (asHandle(handle_) != INVALID_HANDLE_VALUE)
        CloseHandle(asHandle(handle_));
}

std::size_t InputFile::readAt(std::uint64_t offset, void* buffer, std::size_t count) const {
    std::size_t done = 0;
    auto* bytes = static_cast<unsigned char*>(buffer);
    while (done < count) {
        const std::uint64_t at = offset + done;
        OVERLAPPED where{};
        where.Offset = static_cast<DWORD>(at);
        where.OffsetHigh = static_cast<DWORD>(at >> 32);
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(count - done, 1u << 30));
        DWORD n = 0;
        if (!ReadFile(asHandle(handle_), bytes + done, chunk, &n, &where)) {
            const DWORD error = GetLastError();
            if (error == ERROR_HANDLE_EOF)
                break;
            throw ToolError("cannot read: " + systemCause(error));
        }
        if (n == 0)
            break;
        done += n;
    }
    return done;
}

std::optional<FileId> fileIdOf(const fs::path& path) {
    Handle file(CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (file.get() == INVALID_HANDLE_VALUE)
        return std::nullopt;
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(file.get(), &info))
        return std::nullopt;
    return FileId{info.dwVolumeSerialNumber,
                  (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
}

void writeNewFile(const fs::path& path, std::span<const std::uint8_t> bytes, const fs::path&) {
    Handle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.get() == INVALID_HANDLE_VALUE)
        throw ToolError("cannot write: " + systemCause(GetLastError()));
    std::size_t done = 0;
    while (done < bytes.size()) {
        const DWORD chunk =
            static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 30));
        DWORD n = 0;
        if (!WriteFile(file.get(), bytes.data() + done, chunk, &n, nullptr) || n == 0)
            throw ToolError("cannot write: " + systemCause(GetLastError()));
        done += n;
    }
    if (!FlushFileBuffers(file.get()))
        throw ToolError("cannot write: " + systemCause(GetLastError()));
    if (!CloseHandle(file.release()))
        throw ToolError("cannot write: " + systemCause(GetLastError()));
}

void checkReplaceable(const fs::path& file) {
    std::error_code ec;
    const fs::file_status status = fs::status(file, ec);
    if (status.type() != fs::file_type::not_found) {
        if (ec)
            throw ToolError("cannot write: " + OmbrelHost::asciiLower(ec.message()));
        if (status.type() != fs::file_type::regular)
            throw ToolError("cannot write: " + notARegularFile(status.type()));
        const DWORD attributes = GetFileAttributesW(file.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0)
            throw ToolError("cannot write: the file is read-only");
    }
    const fs::path folder = file.parent_path().empty() ? fs::path(".") : file.parent_path();
    if (!fs::is_directory(folder, ec))
        throw ToolError("cannot write: folder " + folder.string() + " does not exist");
}

void replaceFile(const fs::path& from, const fs::path& to) {
    if (!MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        throw ToolError("cannot write: " + systemCause(GetLastError()));
}

void syncFolder(const fs::path&) {
    // MOVEFILE_WRITE_THROUGH has already made the rename durable.
}

unsigned long processId() {
    return GetCurrentProcessId();
}

} // namespace OmbrelRender
