// Runs the built ombrel-render (or another program) as a user would, capturing its exit code,
// output and peak memory,
// and ending it when it outlives a time limit, so that a hang fails the test instead of holding
// it until ctest's timeout.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "TempFolder.h"

namespace OmbrelRenderTest {

struct ToolRun {
    int exitCode = -1; // -1 when it did not exit by itself
    int signal = 0;    // the signal that ended it, if any
    bool timedOut = false;
    long peakKilobytes = 0; // its largest resident set
    double seconds = 0;
    std::string out;
    std::string err;
};

inline std::filesystem::path toolPath() {
    return OMBREL_RENDER_PATH;
}

// ombrel-render started in `folder` (its working directory), stdin from /dev/null, stdout and
// stderr into files beside the folder.
class ToolProcess {
public:
    // A program and its arguments, for running something other than ombrel-render.
    struct Command {
        std::vector<std::string> argv;
    };

    ToolProcess(const TempFolder& folder, const std::vector<std::string>& args)
        : ToolProcess(folder, withTool(args)) {}
    ToolProcess(const TempFolder& folder, const Command& command) {
        static int counter = 0;
        const std::string base =
            folder.path().filename().string() + "." + std::to_string(counter++);
        outFile_ = folder.path().parent_path() / (base + ".out");
        errFile_ = folder.path().parent_path() / (base + ".err");
        // Everything the child needs is prepared before fork: after it only async-signal-safe
        // calls are allowed.
        std::vector<std::string> argStore = command.argv;
        const std::string program = argStore.at(0);
        const std::string dir = folder.path().string();
        const std::string out = outFile_.string();
        const std::string err = errFile_.string();
        std::vector<char*> argv;
        for (std::string& a : argStore)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        start_ = std::chrono::steady_clock::now();
        pid_ = fork();
        if (pid_ == 0) {
            const int in = open("/dev/null", O_RDONLY);
            const int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (in < 0 || o < 0 || e < 0 || dup2(in, 0) < 0 || dup2(o, 1) < 0 || dup2(e, 2) < 0 ||
                chdir(dir.c_str()) != 0)
                _exit(127);
            // A test runner may have left these ignored or blocked; the tool gets the defaults.
            signal(SIGINT, SIG_DFL);
            signal(SIGTERM, SIG_DFL);
            sigset_t none;
            sigemptyset(&none);
            sigprocmask(SIG_SETMASK, &none, nullptr);
            execvp(program.c_str(), argv.data());
            _exit(127);
        }
    }
    ~ToolProcess() {
        if (pid_ > 0 && !finished_)
            wait(std::chrono::seconds(0));
        std::error_code ec;
        std::filesystem::remove(outFile_, ec);
        std::filesystem::remove(errFile_, ec);
    }
    ToolProcess(const ToolProcess&) = delete;
    ToolProcess& operator=(const ToolProcess&) = delete;

    void sendSignal(int signal) const { kill(pid_, signal); }
    // What stdout holds so far.
    std::string outputSoFar() const { return readText(outFile_); }

    // Waits up to `limit` for the end; kills it (SIGKILL) when it runs longer.
    ToolRun wait(std::chrono::duration<double> limit) {
        ToolRun run;
        int status = 0;
        rusage usage{};
        const auto deadline = start_ + std::chrono::duration_cast<std::chrono::nanoseconds>(limit);
        for (;;) {
            const pid_t done = wait4(pid_, &status, WNOHANG, &usage);
            if (done == pid_ || done < 0)
                break;
            if (std::chrono::steady_clock::now() > deadline) {
                run.timedOut = true;
                kill(pid_, SIGKILL);
                wait4(pid_, &status, 0, &usage);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        finished_ = true;
        run.seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
        run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        run.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
        run.peakKilobytes = usage.ru_maxrss;
        run.out = readText(outFile_);
        run.err = readText(errFile_);
        return run;
    }

private:
    static Command withTool(const std::vector<std::string>& args) {
        Command command{{toolPath().string()}};
        command.argv.insert(command.argv.end(), args.begin(), args.end());
        return command;
    }

    pid_t pid_ = -1;
    bool finished_ = false;
    std::chrono::steady_clock::time_point start_;
    std::filesystem::path outFile_;
    std::filesystem::path errFile_;
};

// Runs to the end, or for at most `limit`.
inline ToolRun runTool(const TempFolder& folder, const std::vector<std::string>& args,
                       std::chrono::duration<double> limit = std::chrono::seconds(50)) {
    ToolProcess process(folder, args);
    return process.wait(limit);
}

// Runs `command` (a program, found on PATH when it has no folder, and its arguments) in
// `folder` to the end, or for at most `limit`.
inline ToolRun runCommand(const TempFolder& folder, const std::vector<std::string>& command,
                          std::chrono::duration<double> limit = std::chrono::seconds(50)) {
    ToolProcess process(folder, ToolProcess::Command{command});
    return process.wait(limit);
}

inline int countLines(const std::string& text) {
    return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

} // namespace OmbrelRenderTest
