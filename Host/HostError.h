// The one exception type of the simulated host, and the names it gives codes in messages.
#pragma once

#include <stdexcept>
#include <string>

#include "HostInterface/EffectInterface.h"

namespace OmbrelHost {

// A failure of the host itself or of loading a module, with one line saying what and why.
class HostError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// "PF_Err_BAD_CALLBACK_PARAM (516)"; unknown codes as "PF_Err 1234".
std::string errorName(PF_Err err);
// "PF_Cmd_SMART_RENDER", or "command 42" for one the host does not know.
std::string commandName(PF_Cmd cmd);

} // namespace OmbrelHost
