// ombrel-render-set MODULE WxH: renders, into the current folder, the frames that the Linux and
// Windows builds must render to the same bytes, each through ombrel-render's program in this
// process exactly as its command line would (one process instead of one per frame, which under
// wine saves a second each):
//   chart-<from>-<bits>.raw   the built-in chart in each conversion at 8, 16 and 32 bits
//   special-<from>.raw        special.raw (WxH, 32 bits, made by the test) in each conversion
// and prints the line of --info that says which conversion kernels ran (OMBREL_KERNEL).
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "Program.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: ombrel-render-set MODULE WxH\n";
        return 2;
    }
    const std::string module = argv[1], size = argv[2];
    auto render = [&](const std::vector<std::string>& args) {
        const int code = OmbrelRender::runProgram(args, std::cout, std::cerr, module, false);
        if (code != 0)
            std::cerr << "ombrel-render-set: exit code " << code << '\n';
        return code == 0;
    };
    std::ostringstream info;
    bool ok = OmbrelRender::runProgram({"--info"}, info, std::cerr, module, false) == 0;
    std::istringstream lines(info.str());
    for (std::string line; std::getline(lines, line);)
        if (line.rfind("Conversion kernels:", 0) == 0)
            std::cout << line << '\n';
    for (int from = 1; from <= 6; ++from) {
        const std::string mode = std::to_string(from);
        for (const char* bits : {"8", "16", "32"})
            ok = render({"-q", "--from", mode, "--depth", bits, "-o",
                         "chart-" + mode + "-" + bits + ".raw"}) &&
                 ok;
        ok = render({"-q", "--from", mode, "--depth", "32", "--size", size, "special.raw", "-o",
                     "special-" + mode + ".raw"}) &&
             ok;
    }
    return ok ? 0 : 1;
}
