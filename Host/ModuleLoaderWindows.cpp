#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "Host/ModuleLoader.h"
#include "Host/OmbrelHost.h"

namespace OmbrelHost::detail {

namespace {

class WindowsLibrary : public LoadedLibrary {
public:
    explicit WindowsLibrary(HMODULE module) : module_(module) {}
    ~WindowsLibrary() override { FreeLibrary(module_); }
    WindowsLibrary(const WindowsLibrary&) = delete;
    WindowsLibrary& operator=(const WindowsLibrary&) = delete;

    void* symbol(const std::string& name) const override {
        return reinterpret_cast<void*>(GetProcAddress(module_, name.c_str()));
    }

private:
    HMODULE module_;
};

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

} // namespace

std::shared_ptr<LoadedLibrary> loadLibrary(const std::filesystem::path& path) {
    HMODULE module = LoadLibraryW(path.c_str());
    if (module == nullptr)
        throw HostError("cannot load: " + lastErrorText());
    return std::make_shared<WindowsLibrary>(module);
}

} // namespace OmbrelHost::detail
