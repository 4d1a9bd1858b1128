#include "Host/ModuleLoader.h"
#include "Host/OmbrelHost.h"
#include "Host/Text.h"

namespace OmbrelHost {

struct Module::Impl {
    std::filesystem::path path;
    PiPL pipl;
    PF_EntryPointFunc entry = nullptr;
    std::shared_ptr<detail::LoadedLibrary> library; // null for an effect linked in
};

Module Module::load(const std::filesystem::path& path) {
    auto impl = std::make_shared<Impl>();
    impl->path = path;
    const ModuleFile file = readModuleFile(path);
    try {
        // A module this host can load has its PiPL read the platform's way.
        impl->pipl =
            decodePiPL(file.loadableHere ? detail::readPiPL(file) : file.pipl, file.piplFormat);
        if (!file.loadableHere)
            throw HostError(withArticle(file.format) +
                            ": its binary cannot be loaded on this platform" + " (it is for " +
                            file.platform + ")");
        impl->library = detail::loadLibrary(file.binary);
    } catch (const HostError& e) {
        throw HostError(path.string() + ": " + e.what());
    }
    void* symbol = impl->library->symbol(impl->pipl.entryPoint);
    if (symbol == nullptr)
        throw HostError(path.string() + ": the entry point \"" + impl->pipl.entryPoint +
                        "\" named by its PiPL is not exported");
    impl->entry = reinterpret_cast<PF_EntryPointFunc>(symbol);
    Module module;
    module.impl_ = std::move(impl);
    return module;
}

Module Module::fromEntryPoint(PF_EntryPointFunc entry, PiPL pipl) {
    if (entry == nullptr)
        throw HostError("an effect needs an entry point");
    auto impl = std::make_shared<Impl>();
    impl->pipl = std::move(pipl);
    impl->entry = entry;
    Module module;
    module.impl_ = std::move(impl);
    return module;
}

const PiPL& Module::pipl() const {
    return impl_->pipl;
}

PF_EntryPointFunc Module::entryPoint() const {
    return impl_->entry;
}

const std::filesystem::path& Module::path() const {
    return impl_->path;
}

} // namespace OmbrelHost
