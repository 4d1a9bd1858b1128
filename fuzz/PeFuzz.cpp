// The host's reader of a PE module's "PIPL" resource, on untrusted bytes.
#include <span>

#include "Host/ModuleFile.h"
#include "PiPLDecoding.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    try {
        OmbrelFuzz::decode(OmbrelHost::piplFromPE(std::span(data, size)), OmbrelHost::kWindowsPiPL);
    } catch (const OmbrelHost::HostError&) {
    }
    return 0;
}
