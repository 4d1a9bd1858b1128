// The loaded effect every mode of ombrel-render works with: a simulated host with the effect
// module loaded into it, and one frame through the effect's smart pre-render and smart render.
#pragma once

#include <filesystem>
#include <functional>
#include <string>

#include "Host/OmbrelHost.h"

namespace OmbrelRender {

struct Options;

// A simulated host with the effect module loaded into it. Setup and setdown are the caller's:
// the program reports each of them in its own words.
class LoadedEffect {
public:
    // `prepareHost`, when given, sees the host before the module is loaded. Throws HostError
    // naming the module when it cannot be loaded.
    LoadedEffect(const Options& options, const std::filesystem::path& modulePath,
                 const std::function<void(OmbrelHost::Host&)>& prepareHost);

    OmbrelHost::Effect& effect() { return effect_; }
    OmbrelHost::Host& host() { return host_; }

private:
    static OmbrelHost::Module prepareAndLoad(OmbrelHost::Host& host,
                                             const std::filesystem::path& modulePath,
                                             const std::function<void(OmbrelHost::Host&)>& prepare);

    OmbrelHost::Host host_;
    OmbrelHost::Effect effect_;
};

// "PF_Err_OUT_OF_MEMORY (4)", then ": " and the effect's message when it set one.
std::string failureText(PF_Err err, const std::string& message);

struct Rendered {
    OmbrelHost::Image output;
    double seconds = 0; // smart pre-render plus smart render
};

// One frame at time `number` (in frames) through smart pre-render and smart render, with the
// popup as it stands, through worlds of the given channel order. Throws ToolError naming the
// command that failed and the effect's error.
Rendered renderFrame(OmbrelHost::Effect& effect, const OmbrelHost::Image& input, int number,
                     OmbrelHost::WorldOrder order = OmbrelHost::WorldOrder::Argb);

} // namespace OmbrelRender
