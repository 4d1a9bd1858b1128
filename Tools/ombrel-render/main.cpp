// ombrel-render: renders image files through the effect module in the simulated host.
#include <cstdio>
#include <exception>
#include <filesystem>
#include <iostream>
#include <string>
#include <system_error>
#include <vector>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "Program.h"
#include "Reporter.h"
#include "Stop.h"

namespace {

// The folder of this executable, where the build puts the effect module beside it.
std::filesystem::path executableFolder(const char* argv0) {
#ifdef _WIN32
    wchar_t buffer[32768];
    const DWORD n = GetModuleFileNameW(nullptr, buffer, 32768);
    if (n > 0 && n < 32768)
        return std::filesystem::path(std::wstring(buffer, n)).parent_path();
#else
    std::error_code ec;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec)
        return self.parent_path();
#endif
    return std::filesystem::absolute(argv0).parent_path();
}

bool stderrIsTerminal() {
#ifdef _WIN32
    return _isatty(_fileno(stderr)) != 0;
#else
    return isatty(STDERR_FILENO) != 0;
#endif
}

} // namespace

int main(int argc, char** argv) {
    OmbrelRender::catchStopSignals();
    try {
        const std::vector<std::string> args(argv + 1, argv + argc);
        const auto module =
            executableFolder(argc > 0 ? argv[0] : "ombrel-render") / OMBREL_MODULE_FILE_NAME;
        return OmbrelRender::runProgram(args, std::cout, std::cerr, module, stderrIsTerminal());
    } catch (const std::exception& e) {
        OmbrelRender::Reporter(std::cout, std::cerr).error(e.what());
    } catch (...) {
        OmbrelRender::Reporter(std::cout, std::cerr).error("unexpected failure");
    }
    return 1;
}
