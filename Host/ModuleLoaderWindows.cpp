#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "Host/ModuleLoader.h"
#include "Host/OmbrelHost.h"

namespace OmbrelHost::detail {

namespace {

// Where the PiPL lives among a module's resources: type "PIPL", id 16000, US English.
constexpr const wchar_t* kPiPLType = L"PIPL";
constexpr WORD kPiPLId = 16000;
constexpr WORD kUSEnglish = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US); // 1033

std::string lastErrorText() {
    const DWORD code = GetLastError();
    char* text = nullptr;
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                       FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, code, 0, reinterpret_cast<LPSTR>(&text), 0, nullptr);
    std::string message = n != 0 && text != nullptr ? std::string(text, n) : std::string();
    if (text != nullptr)
        LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r'))
        message.pop_back();
    return message + " (error " + std::to_string(code) + ")";
}

// LoadLibrary wants a full path with backslashes; a bare name would be looked for on the DLL
// search path instead of in the current folder.
std::wstring loaderPath(const std::filesystem::path& path) {
    return std::filesystem::absolute(path).make_preferred().wstring();
}

class ModuleHandle {
public:
    explicit ModuleHandle(HMODULE module) : module_(module) {}
    ~ModuleHandle() { FreeLibrary(module_); }
    ModuleHandle(const ModuleHandle&) = delete;
    ModuleHandle& operator=(const ModuleHandle&) = delete;

    HMODULE get() const { return module_; }

private:
    HMODULE module_;
};

class WindowsLibrary : public LoadedLibrary {
public:
    explicit WindowsLibrary(HMODULE module) : module_(module) {}

    void* symbol(const std::string& name) const override {
        return reinterpret_cast<void*>(GetProcAddress(module_.get(), name.c_str()));
    }

private:
    ModuleHandle module_;
};

} // namespace

std::vector<std::uint8_t> readPiPL(const ModuleFile& file) {
    // Mapped as data and as an image for its resources only: nothing of the module runs, and a
    // module without the resource is refused before LoadLibrary would start it.
    const HMODULE data = LoadLibraryExW(loaderPath(file.binary).c_str(), nullptr,
                                        LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (data == nullptr)
        throw HostError("cannot read the module's resources: " + lastErrorText());
    const ModuleHandle module(data);
    HRSRC resource = FindResourceExW(data, kPiPLType, MAKEINTRESOURCEW(kPiPLId), kUSEnglish);
    if (resource == nullptr) // any language
        resource = FindResourceW(data, MAKEINTRESOURCEW(kPiPLId), kPiPLType);
    if (resource == nullptr)
        throw HostError("no PiPL: the module has no \"PIPL\" resource 16000");
    const DWORD size = SizeofResource(data, resource);
    const HGLOBAL loaded = LoadResource(data, resource);
    const void* bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (bytes == nullptr)
        throw HostError("cannot read the \"PIPL\" resource: " + lastErrorText());
    const auto* first = static_cast<const std::uint8_t*>(bytes);
    return std::vector<std::uint8_t>(first, first + size);
}

std::shared_ptr<LoadedLibrary> loadLibrary(const std::filesystem::path& path) {
    HMODULE module = LoadLibraryW(loaderPath(path).c_str());
    if (module == nullptr)
        throw HostError("cannot load: " + lastErrorText());
    return std::make_shared<WindowsLibrary>(module);
}

} // namespace OmbrelHost::detail
