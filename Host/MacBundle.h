// A macOS bundle seen from the host: which executable its Info.plist names, from which follow
// the binary (Contents/MacOS/<executable>) and the resource file holding the PiPL
// (Contents/Resources/<executable>.rsrc). Pure text parsing, on any platform.
#pragma once

#include <string>
#include <string_view>

namespace OmbrelHost {

// The CFBundleExecutable of an XML Info.plist. Throws HostError when the plist names none, or a
// name that is not a plain file name (empty, with a slash, "." or ".."), which would lead the
// host outside the bundle.
std::string bundleExecutable(std::string_view infoPlist);

} // namespace OmbrelHost
