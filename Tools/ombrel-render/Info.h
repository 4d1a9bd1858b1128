// What --info and --about print: the module's PiPL and what global setup reported, and the
// effect's About text.
#pragma once

#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <optional>
#include <string>
#include <utility>

#include "Host/OmbrelHost.h"

namespace OmbrelRender {

// The PiPL's properties, then the version and flags from global setup's output record.
std::string infoText(const std::filesystem::path& module, const OmbrelHost::PiPL& pipl,
                     const PF_OutData& setup);

// For a module this host cannot load (built for another platform): the PiPL's properties, then
// "Binary: PATH (for PLATFORM): cannot be loaded on this platform".
std::string foreignModuleText(const OmbrelHost::ModuleFile& file, const OmbrelHost::PiPL& pipl);

// About text as lines: the effect's carriage returns (alone or before a line feed) become line
// feeds, and the text ends with one.
// The warning for an OMBREL_KERNEL value (`request`, null when unset) that the kernel rule does
// not know, naming the values it does and what runs instead; nothing for a value it knows.
// Whether a value is known is the rule's own answer (Ombrel/Filter/Kernels/KernelPath.h).
std::optional<std::string> unknownKernelWarning(const char* request);

std::string aboutText(const std::string& message);

// A packed effect version as "1.0.0, release, build 1" (major.minor.fix, stage, build).
std::string versionText(std::uint32_t version);

// "DEEP_COLOR_AWARE, 0x00000004": the names of the known bits that are set, then whatever is
// left in hex; "none" for no bits.
std::string flagNames(std::uint32_t flags,
                      std::initializer_list<std::pair<std::uint32_t, const char*>> known);

} // namespace OmbrelRender
