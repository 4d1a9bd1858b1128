#include "Program.h"

#include <cstdlib>
#include <exception>
#include <optional>
#include <sstream>
#include <system_error>

#include "Chart.h"
#include "ContactSheetRun.h"
#include "FrameList.h"
#include "Host/Text.h"
#include "Info.h"
#include "LoadedEffect.h"
#include "Options.h"
#include "RawFiles.h"
#include "RenderRun.h"
#include "Reporter.h"
#include "Stop.h"

namespace OmbrelRender {

namespace fs = std::filesystem;

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

// Checks what can be checked before the module is loaded; throws UsageError.
void checkFrames(const std::vector<Frame>& frames, const Options& options) {
    if (options.contactSheet && frames.size() > 1)
        throw UsageError("--contact-sheet takes one input, and " + frames.front().label +
                         " names " + std::to_string(frames.size()) + " frames");
    for (const Frame& frame : frames) {
        if (!frame.input.empty() && isRawPath(frame.input) && (!options.size || !options.depth))
            throw UsageError(frame.label + ": a raw input needs --size WxH and --depth");
        if (frame.input.empty() && options.size &&
            (options.size->first < kChartMinSide || options.size->second < kChartMinSide))
            throw UsageError("--size: the test chart needs at least " +
                             std::to_string(kChartMinSide) + "x" + std::to_string(kChartMinSide));
    }
}

// Checks the outputs the frames were given; throws UsageError.
void checkOutputs(const std::vector<Frame>& frames, const Options& options) {
    for (const Frame& frame : frames)
        if (options.half && OmbrelHost::asciiLower(frame.output.extension().string()) != ".exr")
            throw UsageError("--half: " + frame.output.string() +
                             " is not an EXR file; --half writes EXR outputs as half floats");
}

// What a stop request left undone, for the line that reports it.
std::string undone(const std::vector<Frame>& frames, const Options& options, std::size_t written) {
    if (options.contactSheet)
        return "the contact sheet is not written";
    return std::to_string(written) + " of " + std::to_string(frames.size()) + " frames written";
}

// After global setup: --info, --about, then the renders; returns the exit code.
int runSetUp(OmbrelHost::Effect& effect, const OmbrelHost::CommandResult& setup,
             const Options& options, const fs::path& modulePath, const std::vector<Frame>& frames,
             Reporter& reporter, bool progressToTerminal, std::size_t& written) {
    int status = kExitOk;
    if (options.info)
        reporter.print(infoText(modulePath, effect.module().pipl(), setup.out));
    if (options.about) {
        const auto about = effect.about();
        if (about.err != PF_Err_NONE) {
            reporter.error("About failed: " + failureText(about.err, about.message));
            status = kExitFailure;
        } else {
            reporter.print(aboutText(about.message));
        }
    }
    if (options.about || options.info)
        return status;

    const auto params = effect.paramsSetup();
    if (params.err != PF_Err_NONE) {
        reporter.error("parameter setup failed: " + failureText(params.err, params.message));
        return kExitFailure;
    }
    effect.setPopup(options.from);
    if (options.contactSheet)
        return makeContactSheet(effect, frames.front(), options, reporter) ? kExitOk : kExitFailure;
    const FrameCounts counts = renderFrames(effect, frames, options, reporter, progressToTerminal);
    written = counts.written;
    return counts.failed == 0 ? kExitOk : kExitFailure;
}

} // namespace

int runProgram(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
               const fs::path& defaultModule, bool progressToTerminal,
               const std::function<void(OmbrelHost::Host&)>& prepareHost) {
    Reporter reporter(out, err);
    Options options;
    try {
        options = parseCommandLine(args);
    } catch (const UsageError& e) {
        reporter.usageError(e.what());
        return kExitUsage;
    }
    if (options.help) {
        reporter.print(usageText());
        return kExitOk;
    }
    reporter.setQuiet(options.quiet);
    if (const auto warning = unknownKernelWarning(std::getenv("OMBREL_KERNEL")))
        reporter.warning({}, *warning);

    std::vector<Frame> frames;
    if (!options.about && !options.info) {
        try {
            frames = listFrames(options.inputs);
            checkFrames(frames, options);
            if (!options.contactSheet) {
                assignOutputs(frames, options.output, options.from, options.depth);
                checkOutputs(frames, options);
                checkCollisions(frames);
            }
        } catch (const UsageError& e) {
            reporter.usageError(e.what());
            return kExitUsage;
        } catch (const std::exception& e) {
            reporter.error(e.what());
            return kExitFailure;
        }
    }

    // Absolute, so that the loader opens the file whose PiPL was read rather than searching its
    // own paths for a bare name.
    fs::path modulePath = options.module.value_or(defaultModule);
    std::error_code ec;
    if (fs::path absolute = fs::absolute(modulePath, ec); !ec)
        modulePath = std::move(absolute);
    if (options.info && !options.about) {
        // A module for another platform: its PiPL is all there is to show.
        try {
            const OmbrelHost::ModuleFile file = OmbrelHost::readModuleFile(modulePath);
            if (!file.loadableHere) {
                reporter.print(foreignModuleText(file, OmbrelHost::decodePiPL(file)));
                return kExitOk;
            }
        } catch (const std::exception& e) {
            reporter.error(e.what());
            return kExitFailure;
        }
    }
    std::optional<LoadedEffect> session;
    try {
        session.emplace(options, modulePath, prepareHost);
    } catch (const std::exception& e) {
        // Loading failures name the module file themselves.
        reporter.error(e.what());
        return kExitFailure;
    }
    OmbrelHost::Effect& effect = session->effect();

    int status = kExitOk;
    bool setUp = false;
    std::size_t written = 0;
    try {
        const auto setup = effect.globalSetup();
        if (setup.err != PF_Err_NONE) {
            reporter.error("module " + modulePath.string(),
                           "global setup failed: " + failureText(setup.err, setup.message));
            return kExitFailure;
        }
        setUp = true;
        status = runSetUp(effect, setup, options, modulePath, frames, reporter, progressToTerminal,
                          written);
    } catch (const std::exception& e) {
        reporter.error("module " + modulePath.string(), e.what());
        status = kExitFailure;
    }

    if (setUp) {
        try {
            const auto setdown = effect.globalSetdown();
            if (setdown.err != PF_Err_NONE) {
                reporter.error("global setdown failed: " +
                               failureText(setdown.err, setdown.message));
                status = kExitFailure;
            }
        } catch (const std::exception& e) {
            reporter.error("global setdown failed", e.what());
            status = kExitFailure;
        }
    }
    const OmbrelHost::HeldResources held = session->host().held();
    if (!held.empty()) {
        std::istringstream lines(held.describe());
        for (std::string line; std::getline(lines, line);)
            if (!line.empty())
                reporter.error("still held after global setdown", line);
        status = kExitFailure;
    }
    if (const int signal = stopSignal(); signal != 0) {
        reporter.error("stopped by " + std::string(signalName(signal)) + ": " +
                       undone(frames, options, written));
        return 128 + signal;
    }
    return status;
}

} // namespace OmbrelRender
