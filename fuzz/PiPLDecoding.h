// What the module-file targets do with the PiPL bytes they find: decode them as the host would,
// in the format of the file's platform. A HostError is the reader's refusal and is fine; any
// other exception, a crash or a leak is a fault.
#pragma once

#include <cstdint>
#include <vector>

#include "Host/OmbrelHost.h"

namespace OmbrelFuzz {

inline void decode(const std::vector<std::uint8_t>& pipl, const OmbrelHost::PiPLFormat& format) {
    try {
        const OmbrelHost::PiPL decoded = OmbrelHost::decodePiPL(pipl, format);
        (void)decoded.find("eVER");
    } catch (const OmbrelHost::HostError&) {
    }
}

} // namespace OmbrelFuzz
