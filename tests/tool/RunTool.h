// Runs the built ombrel-render (or another program) as a user would, capturing its exit code
// and output.
#pragma once

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "TempFolder.h"

namespace OmbrelRenderTest {

struct ToolRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};

inline std::string shellQuoted(const std::string& s) {
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

inline std::filesystem::path toolPath() {
    return OMBREL_RENDER_PATH;
}

// Runs `command` (a program and its arguments) in `folder`, its working directory, output
// captured beside the files.
inline ToolRun runCommand(const TempFolder& folder, const std::vector<std::string>& command) {
    static int counter = 0;
    const auto outFile = folder.path().parent_path() / (folder.path().filename().string() + "." +
                                                        std::to_string(counter) + ".out");
    const auto errFile = folder.path().parent_path() / (folder.path().filename().string() + "." +
                                                        std::to_string(counter++) + ".err");
    // Built with += only: GCC 12 at -O3 warns falsely about "literal" + std::string.
    std::string line = "cd ";
    line += shellQuoted(folder.path().string());
    line += " &&";
    for (const std::string& word : command) {
        line += ' ';
        line += shellQuoted(word);
    }
    line += " >";
    line += shellQuoted(outFile.string());
    line += " 2>";
    line += shellQuoted(errFile.string());
    line += " </dev/null";
    const int status = std::system(line.c_str());
    ToolRun run;
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = readText(outFile);
    run.err = readText(errFile);
    std::error_code ec;
    std::filesystem::remove(outFile, ec);
    std::filesystem::remove(errFile, ec);
    return run;
}

// Runs the built ombrel-render in `folder`.
inline ToolRun runTool(const TempFolder& folder, const std::vector<std::string>& args) {
    std::vector<std::string> command{toolPath().string()};
    command.insert(command.end(), args.begin(), args.end());
    return runCommand(folder, command);
}

} // namespace OmbrelRenderTest
