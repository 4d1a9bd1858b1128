#include "RenderRun.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <exception>
#include <optional>
#include <string>

#include "FrameIO.h"
#include "HostUnits.h"
#include "JobPool.h"
#include "LoadedEffect.h"
#include "Modes.h"
#include "Options.h"
#include "Reporter.h"
#include "Stop.h"

namespace OmbrelRender {

namespace {

// A frame that could not be done: what it concerns (the input or the output) and why.
struct FrameFailure {
    std::string subject;
    std::string cause;
};

std::string millis(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f ms", seconds * 1000.0);
    return text;
}

// "label (WxH, B bits, MODE): N renders, min T, median T, R MP/s".
std::string timingLine(const std::string& subject, std::vector<double> seconds, int width,
                       int height) {
    std::sort(seconds.begin(), seconds.end());
    const std::size_t n = seconds.size();
    const double median = n % 2 ? seconds[n / 2] : (seconds[n / 2 - 1] + seconds[n / 2]) / 2;
    const double megapixels = static_cast<double>(width) * height / 1e6;
    char rate[64];
    std::snprintf(rate, sizeof rate, "%.1f MP/s", median > 0 ? megapixels / median : 0.0);
    return subject + ": " + std::to_string(n) + " renders, min " + millis(seconds.front()) +
           ", median " + millis(median) + ", " + rate;
}

// Loads, renders (--repeat times when timing) and writes one frame; throws FrameFailure, or
// Stopped at the first step after a stop request.
void processFrame(OmbrelHost::Effect& effect, const Frame& frame, const Options& options,
                  Reporter& reporter) {
    OmbrelHost::Image input;
    try {
        input = loadFrame(frame, options, reporter.warningsAbout(frame.label));
    } catch (const std::exception& e) {
        throw FrameFailure{frame.label, e.what()};
    }
    throwIfStopped();

    // Refuse an output that cannot be written before spending a render on it.
    std::optional<OutputFile> output;
    try {
        output.emplace(frame.output, OutputFile::Accepts::FrameFiles, options.half);
    } catch (const std::exception& e) {
        throw FrameFailure{frame.output.string(), e.what()};
    }

    const int runs = std::max(options.repeat, 1);
    std::vector<double> seconds;
    Rendered rendered;
    try {
        for (int run = 0; run < runs; ++run) {
            rendered = renderFrame(effect, input, frame.number, options.worldOrder);
            seconds.push_back(rendered.seconds);
            throwIfStopped();
        }
    } catch (const std::exception& e) {
        throw FrameFailure{frame.label, e.what()};
    }
    const std::string what = std::to_string(input.width) + "x" + std::to_string(input.height) +
                             ", " + std::to_string(depthBits(input.depth)) + " bits, " +
                             std::string(modeName(options.from));
    const int width = input.width;
    const int height = input.height;
    input = {}; // the input is not needed any more: its memory goes before the output's encoding

    try {
        output->write(rendered.output, reporter.warningsAbout(frame.output.string()));
    } catch (const std::exception& e) {
        throw FrameFailure{frame.output.string(), e.what()};
    }

    if (options.repeat > 0)
        reporter.info(
            timingLine(frame.label + " (" + what + ")", std::move(seconds), width, height));
    else
        reporter.info(frame.label + " -> " + frame.output.string() + " (" + what + ")");
}

} // namespace

FrameCounts renderFrames(OmbrelHost::Effect& effect, const std::vector<Frame>& frames,
                         const Options& options, Reporter& reporter, bool showProgress) {
    reporter.startFrames(frames.size(), showProgress);
    std::atomic<std::size_t> written{0};
    const std::size_t failures = runJobs(
        frames.size(), static_cast<std::size_t>(std::max(options.jobs, 1)), options.failFast,
        [&](std::size_t i) {
            bool ok = false;
            try {
                processFrame(effect, frames[i], options, reporter);
                ++written;
                ok = true;
            } catch (const Stopped&) {
                return true; // abandoned, not failed: the caller reports the stop
            } catch (const FrameFailure& f) {
                reporter.error(f.subject, f.cause);
            } catch (const std::exception& e) {
                reporter.error(frames[i].label, e.what());
            } catch (...) {
                reporter.error(frames[i].label, "unexpected failure");
            }
            reporter.frameDone();
            return ok;
        },
        stopRequested);
    reporter.finishFrames();
    return {written, failures};
}

} // namespace OmbrelRender
