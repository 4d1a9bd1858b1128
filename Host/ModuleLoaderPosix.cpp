#include <dlfcn.h>

#include "Host/ModuleLoader.h"
#include "Host/OmbrelHost.h"

namespace OmbrelHost::detail {

namespace {

class PosixLibrary : public LoadedLibrary {
public:
    explicit PosixLibrary(void* handle) : handle_(handle) {}
    ~PosixLibrary() override { dlclose(handle_); }
    PosixLibrary(const PosixLibrary&) = delete;
    PosixLibrary& operator=(const PosixLibrary&) = delete;

    void* symbol(const std::string& name) const override { return dlsym(handle_, name.c_str()); }

private:
    void* handle_;
};

} // namespace

std::vector<std::uint8_t> readPiPL(const ModuleFile& module) {
    return module.pipl;
}

std::shared_ptr<LoadedLibrary> loadLibrary(const std::filesystem::path& path) {
    // An absolute path: dlopen searches the library path for a name without a slash, and could
    // load another file than the one whose PiPL was read. RTLD_LOCAL: the module's symbols stay
    // its own, as with a host loading plug-ins.
    const std::string file = std::filesystem::absolute(path).string();
    void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* reason = dlerror();
        throw HostError(std::string("cannot load: ") + (reason != nullptr ? reason : "unknown"));
    }
    return std::make_shared<PosixLibrary>(handle);
}

} // namespace OmbrelHost::detail
