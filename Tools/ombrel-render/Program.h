// ombrel-render as a function of its arguments, so main() only finds the default module.
#pragma once

#include <filesystem>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace OmbrelHost {
class Host;
}

namespace OmbrelRender {

// Runs the program; returns its exit code (0 success, 1 render or I/O failure, 2 usage error).
// `progressToTerminal` allows the progress line on `err`. `prepareHost`, when given, sees the
// host before the module is loaded (tests use it to inject faults).
int runProgram(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
               const std::filesystem::path& defaultModule, bool progressToTerminal,
               const std::function<void(OmbrelHost::Host&)>& prepareHost = {});

} // namespace OmbrelRender
