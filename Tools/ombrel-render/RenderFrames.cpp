#include "Runs.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <optional>
#include <string>

#include "FrameFiles.h"
#include "HostUnits.h"
#include "Modes.h"
#include "Options.h"
#include "Reporter.h"
#include "Schedule.h"
#include "Session.h"

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
std::string timingLine(const std::string& subject, std::vector<double> seconds,
                       const OmbrelHost::Image& input) {
    std::sort(seconds.begin(), seconds.end());
    const std::size_t n = seconds.size();
    const double median = n % 2 ? seconds[n / 2] : (seconds[n / 2 - 1] + seconds[n / 2]) / 2;
    const double megapixels = static_cast<double>(input.width) * input.height / 1e6;
    char rate[64];
    std::snprintf(rate, sizeof rate, "%.1f MP/s", median > 0 ? megapixels / median : 0.0);
    return subject + ": " + std::to_string(n) + " renders, min " + millis(seconds.front()) +
           ", median " + millis(median) + ", " + rate;
}

// Loads, renders (--repeat times when timing) and writes one frame; throws FrameFailure.
void processFrame(OmbrelHost::Effect& effect, const Frame& frame, const Options& options,
                  Reporter& reporter) {
    OmbrelHost::Image input;
    try {
        input = loadFrame(frame, options);
    } catch (const std::exception& e) {
        throw FrameFailure{frame.label, e.what()};
    }

    // Refuse an output that cannot be written before spending a render on it.
    std::optional<OutputFile> output;
    try {
        output.emplace(frame.output, OutputFile::Accepts::FrameFiles);
    } catch (const std::exception& e) {
        throw FrameFailure{frame.output.string(), e.what()};
    }

    const int runs = std::max(options.repeat, 1);
    std::vector<double> seconds;
    Rendered rendered;
    try {
        for (int run = 0; run < runs; ++run) {
            rendered = renderFrame(effect, input, frame.number);
            seconds.push_back(rendered.seconds);
        }
    } catch (const std::exception& e) {
        throw FrameFailure{frame.label, e.what()};
    }

    try {
        output->write(rendered.output);
    } catch (const std::exception& e) {
        throw FrameFailure{frame.output.string(), e.what()};
    }

    const std::string what = std::to_string(input.width) + "x" + std::to_string(input.height) +
                             ", " + std::to_string(depthBits(input.depth)) + " bits, " +
                             std::string(modeName(options.from));
    if (options.repeat > 0)
        reporter.info(timingLine(frame.label + " (" + what + ")", std::move(seconds), input));
    else
        reporter.info(frame.label + " -> " + frame.output.string() + " (" + what + ")");
}

} // namespace

std::size_t renderFrames(OmbrelHost::Effect& effect, const std::vector<Frame>& frames,
                         const Options& options, Reporter& reporter, bool showProgress) {
    reporter.startFrames(frames.size(), showProgress);
    const std::size_t failures =
        runScheduled(frames.size(), static_cast<std::size_t>(std::max(options.jobs, 1)),
                     options.failFast, [&](std::size_t i) {
                         bool ok = false;
                         try {
                             processFrame(effect, frames[i], options, reporter);
                             ok = true;
                         } catch (const FrameFailure& f) {
                             reporter.error(f.subject, f.cause);
                         } catch (const std::exception& e) {
                             reporter.error(frames[i].label, e.what());
                         } catch (...) {
                             reporter.error(frames[i].label, "unexpected failure");
                         }
                         reporter.frameDone();
                         return ok;
                     });
    reporter.finishFrames();
    return failures;
}

} // namespace OmbrelRender
