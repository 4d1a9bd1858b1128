// The message of the HostError a call throws, for tests of what the simulated host refuses.
#pragma once

#include <functional>
#include <string>

#include "Host/OmbrelHost.h"

namespace OmbrelTest {

// HostError's text, or `accepted` when f returns without throwing one.
inline std::string refusal(const std::function<void()>& f, const char* accepted = "(accepted)") {
    try {
        f();
    } catch (const OmbrelHost::HostError& e) {
        return e.what();
    }
    return accepted;
}

} // namespace OmbrelTest
