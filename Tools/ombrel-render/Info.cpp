#include "Info.h"

#include <cstring>
#include <sstream>

#include "Host/Text.h"
#include "Ombrel/Filter/Kernels/KernelPath.h"
#include "Reporter.h"

namespace OmbrelRender {

using OmbrelHost::hex32;

std::string flagNames(std::uint32_t flags,
                      std::initializer_list<std::pair<std::uint32_t, const char*>> known) {
    std::string names;
    for (const auto& [bit, name] : known)
        if (flags & bit) {
            names += (names.empty() ? "" : ", ") + std::string(name);
            flags &= ~bit;
        }
    if (flags)
        names += (names.empty() ? "" : ", ") + hex32(flags);
    return names.empty() ? "none" : names;
}

std::string versionText(std::uint32_t v) {
    // Build in bits 0-8, stage 9-10, fix level 11-14, minor 15-18, major 19-21.
    static const char* const stages[] = {"develop", "alpha", "beta", "release"};
    return std::to_string((v >> 19) & 0x7) + "." + std::to_string((v >> 15) & 0xF) + "." +
           std::to_string((v >> 11) & 0xF) + ", " + stages[(v >> 9) & 0x3] + ", build " +
           std::to_string(v & 0x1FF);
}

namespace {

void writePiPL(std::ostream& out, const std::filesystem::path& module,
               const OmbrelHost::PiPL& pipl) {
    out << "Module: " << printable(module.string()) << '\n';
    out << "PiPL: " << pipl.properties.size() << " properties\n";
    for (const auto& p : pipl.properties)
        out << "  " << printable(p.vendor) << ' ' << printable(p.key) << "  " << printable(p.text)
            << '\n';
}

} // namespace

std::string foreignModuleText(const OmbrelHost::ModuleFile& file, const OmbrelHost::PiPL& pipl) {
    std::ostringstream out;
    writePiPL(out, file.path, pipl);
    out << "Binary: " << printable(file.binary.string()) << " (for " << printable(file.platform)
        << "): cannot be loaded on this platform\n";
    return out.str();
}

std::string infoText(const std::filesystem::path& module, const OmbrelHost::PiPL& pipl,
                     const PF_OutData& setup) {
    std::ostringstream out;
    writePiPL(out, module, pipl);
    const auto version = static_cast<std::uint32_t>(setup.my_version);
    const auto flags = static_cast<std::uint32_t>(setup.out_flags);
    const auto flags2 = static_cast<std::uint32_t>(setup.out_flags2);
    out << "Global setup:\n";
    out << "  version     " << hex32(version) << " (" << versionText(version) << ")\n";
    out << "  out_flags   " << hex32(flags) << " ("
        << flagNames(flags, {{PF_OutFlag_DISPLAY_ERROR_MESSAGE, "DISPLAY_ERROR_MESSAGE"},
                             {PF_OutFlag_DEEP_COLOR_AWARE, "DEEP_COLOR_AWARE"}})
        << ")\n";
    out << "  out_flags2  " << hex32(flags2) << " ("
        << flagNames(flags2, {{PF_OutFlag2_SUPPORTS_SMART_RENDER, "SUPPORTS_SMART_RENDER"},
                              {PF_OutFlag2_FLOAT_COLOR_AWARE, "FLOAT_COLOR_AWARE"}})
        << ")\n";
    // The module keeps its choice to itself; this applies the same rule, from the header both are
    // built with, to this process's CPU and environment, which the module shares.
    const Ombrel::Kernels::PathChoice kernels = Ombrel::Kernels::choosePath();
    out << "Conversion kernels: " << Ombrel::Kernels::pathName(kernels.path) << " ("
        << kernels.reason << ")\n";
    return out.str();
}

std::optional<std::string> unknownKernelWarning(const char* request) {
    namespace K = Ombrel::Kernels;
    if (request == nullptr)
        return std::nullopt;
    // Known when the rule answers as it does for no value or for some path's own name.
    const K::Path best = K::cpuBestPath();
    const char* reason = K::choosePath(best, request).reason;
    std::string names;
    bool known = std::strcmp(reason, K::choosePath(best, nullptr).reason) == 0;
    for (const K::Path p : K::kPaths) {
        known = known || std::strcmp(reason, K::choosePath(best, K::pathName(p)).reason) == 0;
        names += (names.empty() ? "" : ", ") + std::string(K::pathName(p));
    }
    if (known)
        return std::nullopt;
    return "OMBREL_KERNEL='" + std::string(request) + "' is not a kernel path (" + names +
           " or auto): " + reason;
}

std::string aboutText(const std::string& message) {
    std::string text;
    for (std::size_t i = 0; i < message.size(); ++i) {
        if (message[i] == '\r') {
            text += '\n';
            if (i + 1 < message.size() && message[i + 1] == '\n')
                ++i;
        } else {
            text += message[i];
        }
    }
    if (!text.empty() && text.back() != '\n')
        text += '\n';
    return text;
}

} // namespace OmbrelRender
