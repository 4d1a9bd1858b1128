// The host's reader of a macOS bundle's resource file, on untrusted bytes: every resource, and
// the PiPL among them.
#include <span>

#include "Host/ResourceFork.h"
#include "PiPLDecoding.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> file(data, size);
    try {
        for (const OmbrelHost::MacResource& r : OmbrelHost::readResourceFile(file))
            (void)r.data.size();
    } catch (const OmbrelHost::HostError&) {
    }
    try {
        OmbrelFuzz::decode(OmbrelHost::piplFromResourceFile(file), OmbrelHost::kMacIntelPiPL);
    } catch (const OmbrelHost::HostError&) {
    }
    return 0;
}
