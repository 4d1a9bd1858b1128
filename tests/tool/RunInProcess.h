// Runs ombrel-render's program in this process on the built module (OMBREL_MODULE_PATH),
// capturing its exit code and output; `prepare` sees the host before the module is loaded.
#pragma once

#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "Host/OmbrelHost.h"
#include "Program.h"

namespace OmbrelRenderTest {

struct ProgramRun {
    int exitCode;
    std::string out;
    std::string err;
};

inline ProgramRun run(const std::vector<std::string>& args,
                      const std::function<void(OmbrelHost::Host&)>& prepare = {}) {
    std::ostringstream out, err;
    const int code = OmbrelRender::runProgram(args, out, err, OMBREL_MODULE_PATH, false, prepare);
    return {code, out.str(), err.str()};
}

} // namespace OmbrelRenderTest
