#include "Program.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <optional>
#include <sstream>
#include <thread>

#include "AtomicFile.h"
#include "Chart.h"
#include "Console.h"
#include "ContactSheet.h"
#include "FileImage.h"
#include "Frames.h"
#include "Host/OmbrelHost.h"
#include "HostUnits.h"
#include "ImageFiles.h"
#include "Modes.h"
#include "Options.h"
#include "RawFiles.h"

namespace OmbrelRender {

namespace fs = std::filesystem;
using OmbrelHost::Depth;
using OmbrelHost::Effect;
using OmbrelHost::HostError;
using OmbrelHost::Image;

namespace {

constexpr const char* kProgram = "ombrel-render";
constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
// Progress is shown for runs of more frames than this.
constexpr std::size_t kProgressAfter = 3;

std::string hex32(std::uint32_t v) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", v);
    return text;
}

std::string flagNames(std::uint32_t flags,
                      std::initializer_list<std::pair<std::uint32_t, const char*>> known) {
    std::string names;
    for (const auto& [bit, name] : known)
        if (flags & bit) {
            names += (names.empty() ? "" : ", ") + std::string(name);
            flags &= ~bit;
        }
    if (flags)
        names += (names.empty() ? "" : ", ") + hex32(flags);
    return names.empty() ? "none" : names;
}

std::string versionText(std::uint32_t v) {
    static const char* const stages[] = {"develop", "alpha", "beta", "release"};
    return std::to_string((v >> 19) & 0x7) + "." + std::to_string((v >> 15) & 0xF) + "." +
           std::to_string((v >> 11) & 0xF) + ", " + stages[(v >> 9) & 0x3] + ", build " +
           std::to_string(v & 0x1FF);
}

std::string failureText(PF_Err err, const std::string& message) {
    std::string text = OmbrelHost::errorName(err);
    if (!message.empty())
        text += ": " + message;
    return text;
}

std::string millis(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f ms", seconds * 1000.0);
    return text;
}

// Serialises what the frames report, and keeps the progress line out of the way of messages.
class Reporter {
public:
    Reporter(std::ostream& out, std::ostream& err, bool quiet, bool progress, std::size_t total)
        : out_(out), err_(err), quiet_(quiet),
          progress_(progress && !quiet && total > kProgressAfter), total_(total),
          start_(std::chrono::steady_clock::now()) {}

    void info(const std::string& line) {
        if (quiet_)
            return;
        std::lock_guard lock(mutex_);
        const auto console = lockConsole();
        clearProgress();
        out_ << line << '\n' << std::flush;
    }
    void error(const std::string& subject, const std::string& cause) {
        std::lock_guard lock(mutex_);
        const auto console = lockConsole();
        clearProgress();
        err_ << kProgram << ": " << (subject.empty() ? "" : subject + ": ") << cause << '\n'
             << std::flush;
    }
    void frameDone() {
        std::lock_guard lock(mutex_);
        ++done_;
        if (!progress_)
            return;
        const auto console = lockConsole();
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
        char text[96];
        std::snprintf(text, sizeof text, "\r%zu/%zu frames, %.1f frames/s", done_, total_,
                      seconds > 0 ? static_cast<double>(done_) / seconds : 0.0);
        err_ << text << std::flush;
        shown_ = true;
    }
    void finish() {
        std::lock_guard lock(mutex_);
        const auto console = lockConsole();
        if (shown_)
            err_ << '\n' << std::flush;
        shown_ = false;
    }

private:
    void clearProgress() {
        if (shown_)
            err_ << "\r\x1b[K";
        shown_ = false;
    }

    std::ostream& out_;
    std::ostream& err_;
    bool quiet_;
    bool progress_;
    std::size_t total_;
    std::size_t done_ = 0;
    bool shown_ = false;
    std::chrono::steady_clock::time_point start_;
    std::mutex mutex_;
};

// A frame that could not be done: what it concerns and why, for one line on stderr.
struct FrameFailure {
    std::string subject;
    std::string cause;
};

// The host session every mode runs in: module loaded, global and parameter setup done.
class Session {
public:
    Session(const Options& options, const fs::path& modulePath,
            const std::function<void(OmbrelHost::Host&)>& prepareHost)
        : host_(OmbrelHost::HostOptions{options.threads}),
          effect_(host_, prepareAndLoad(host_, modulePath, prepareHost)) {}

    Effect& effect() { return effect_; }
    OmbrelHost::Host& host() { return host_; }

private:
    static OmbrelHost::Module
    prepareAndLoad(OmbrelHost::Host& host, const fs::path& modulePath,
                   const std::function<void(OmbrelHost::Host&)>& prepare) {
        if (prepare)
            prepare(host);
        return OmbrelHost::Module::load(modulePath);
    }

    OmbrelHost::Host host_;
    Effect effect_;
};

Image loadFrame(const Frame& frame, const Options& options) {
    if (frame.input.empty()) {
        const auto [w, h] = options.size.value_or(std::pair{kChartWidth, kChartHeight});
        return makeChart(w, h, options.depth.value_or(Depth::Bits8));
    }
    if (isRawPath(frame.input))
        return readRawFile(frame.input, options.size->first, options.size->second, *options.depth);
    if (!imageFilesAvailable())
        throw ToolError("cannot read: this build reads raw files only");
    const FileImage file = readImageFile(frame.input);
    return toHost(file, options.depth.value_or(naturalDepth(file.type)));
}

OmbrelHost::FrameResult renderOnce(Effect& effect, const Image& image, int number) {
    OmbrelHost::FrameRequest request;
    request.input = &image;
    request.time = A_Time{number, 1};
    return effect.render(request);
}

void checkRender(const OmbrelHost::FrameResult& result) {
    if (result.preRenderErr != PF_Err_NONE)
        throw ToolError("smart pre-render failed: " +
                        failureText(result.preRenderErr, result.message));
    if (result.renderErr != PF_Err_NONE)
        throw ToolError("smart render failed: " + failureText(result.renderErr, result.message));
}

void writeOutput(AtomicFile& file, const Image& image) {
    if (isRawPath(file.target())) {
        writeBytes(file.tempPath(), encodeRaw(image));
    } else {
        const SampleType type = storedType(file.target().extension().string(), image.depth);
        writeImageFile(file.tempPath(), file.target(), fromHost(image, type));
    }
    file.commit();
}

// Renders one frame and writes it; throws FrameFailure.
void processFrame(Effect& effect, const Frame& frame, const Options& options, Reporter& reporter) {
    Image input;
    try {
        input = loadFrame(frame, options);
    } catch (const std::exception& e) {
        throw FrameFailure{frame.label, e.what()};
    }

    // Refuse an output that cannot be written before spending a render on it.
    std::optional<AtomicFile> file;
    try {
        file.emplace(frame.output);
        if (!isRawPath(frame.output)) {
            if (!imageFilesAvailable())
                throw ToolError("cannot write: this build writes raw files only");
            checkImageFormat(frame.output);
        }
    } catch (const std::exception& e) {
        throw FrameFailure{frame.output.string(), e.what()};
    }

    const int runs = std::max(options.repeat, 1);
    std::vector<double> seconds;
    OmbrelHost::FrameResult result;
    try {
        for (int run = 0; run < runs; ++run) {
            result = renderOnce(effect, input, frame.number);
            checkRender(result);
            seconds.push_back(result.renderSeconds);
        }
    } catch (const std::exception& e) {
        throw FrameFailure{frame.label, e.what()};
    }

    try {
        writeOutput(*file, result.output);
    } catch (const std::exception& e) {
        throw FrameFailure{frame.output.string(), e.what()};
    }

    const std::string what = std::to_string(input.width) + "x" + std::to_string(input.height) +
                             ", " + std::to_string(depthBits(input.depth)) + " bits, " +
                             std::string(modeName(options.from));
    if (options.repeat > 0) {
        std::sort(seconds.begin(), seconds.end());
        const double median =
            seconds.size() % 2
                ? seconds[seconds.size() / 2]
                : (seconds[seconds.size() / 2 - 1] + seconds[seconds.size() / 2]) / 2;
        const double megapixels = static_cast<double>(input.width) * input.height / 1e6;
        char rate[64];
        std::snprintf(rate, sizeof rate, "%.1f MP/s", median > 0 ? megapixels / median : 0.0);
        reporter.info(frame.label + " (" + what + "): " + std::to_string(runs) + " renders, min " +
                      millis(seconds.front()) + ", median " + millis(median) + ", " + rate);
    } else {
        reporter.info(frame.label + " -> " + frame.output.string() + " (" + what + ")");
    }
}

int renderFrames(Session& session, std::vector<Frame>& frames, const Options& options,
                 std::ostream& out, std::ostream& err, bool progress) {
    Reporter reporter(out, err, options.quiet, progress, frames.size());
    std::atomic<std::size_t> next{0};
    std::atomic<bool> stop{false};
    std::atomic<int> failures{0};
    auto worker = [&] {
        for (;;) {
            if (stop)
                return;
            const std::size_t i = next++;
            if (i >= frames.size())
                return;
            try {
                processFrame(session.effect(), frames[i], options, reporter);
            } catch (const FrameFailure& f) {
                reporter.error(f.subject, f.cause);
                ++failures;
                if (options.failFast)
                    stop = true;
            } catch (const std::exception& e) {
                reporter.error(frames[i].label, e.what());
                ++failures;
                if (options.failFast)
                    stop = true;
            }
            reporter.frameDone();
        }
    };
    const std::size_t workers =
        std::min<std::size_t>(static_cast<std::size_t>(options.jobs), frames.size());
    if (workers <= 1) {
        worker();
    } else {
        std::vector<std::jthread> pool;
        for (std::size_t w = 0; w < workers; ++w)
            pool.emplace_back(worker);
    }
    reporter.finish();
    return failures == 0 ? kExitOk : kExitFailure;
}

int contactSheet(Session& session, std::vector<Frame>& frames, const Options& options,
                 std::ostream& out, std::ostream& err) {
    Reporter reporter(out, err, options.quiet, false, 1);
    const Frame& frame = frames.front();
    const fs::path& target = *options.contactSheet;
    Image source;
    try {
        source = loadFrame(frame, options);
    } catch (const std::exception& e) {
        reporter.error(frame.label, e.what());
        return kExitFailure;
    }
    std::optional<AtomicFile> file;
    try {
        file.emplace(target);
        if (!imageFilesAvailable())
            throw ToolError("cannot write: this build writes raw files only");
        checkImageFormat(target);
    } catch (const std::exception& e) {
        reporter.error(target.string(), e.what());
        return kExitFailure;
    }

    Effect& effect = session.effect();
    auto render = [&](const Image& image, int mode) {
        effect.setPopup(mode);
        auto result = renderOnce(effect, image, 0);
        try {
            checkRender(result);
        } catch (const ToolError& e) {
            throw ToolError(std::string(modeName(mode)) + ": " + e.what());
        }
        return std::move(result.output);
    };

    std::vector<Image> converted(kModeCount);
    std::vector<Image> roundTrips(3);
    std::vector<std::string> errors;
    try {
        for (int mode = 1; mode <= kModeCount; ++mode)
            converted[static_cast<std::size_t>(mode - 1)] = render(source, mode);
        for (int k = 0; k < 3; ++k) {
            const int forward = 2 * k + 1;
            roundTrips[static_cast<std::size_t>(k)] =
                render(converted[static_cast<std::size_t>(forward - 1)], inverseMode(forward));
        }
    } catch (const std::exception& e) {
        reporter.error(frame.label, e.what());
        return kExitFailure;
    }
    effect.setPopup(options.from);

    const int bits = depthBits(source.depth);
    std::vector<std::string> errorNotes{"Round trip, max error:"};
    for (int k = 0; k < 3; ++k) {
        const int forward = 2 * k + 1;
        const auto e = roundTripError(source, roundTrips[static_cast<std::size_t>(k)]);
        char text[160];
        if (source.depth == Depth::Bits32)
            std::snprintf(text, sizeof text, "%.3g %.3g %.3g", e[0], e[1], e[2]);
        else
            std::snprintf(text, sizeof text, "%.0f %.0f %.0f", e[0], e[1], e[2]);
        const std::string pair = std::string(modeName(forward)).substr(7);
        errorNotes.push_back(pair + ": " + text);
        reporter.info(std::string(modeName(forward)) + " to RGB at " + std::to_string(bits) +
                      " bits: max abs error R G B = " + text +
                      (source.depth == Depth::Bits32 ? "" : " (host units)"));
    }

    const std::string system[3] = {"YUV", "HLS", "HSB"};
    std::vector<SheetCell> cells;
    cells.push_back({"Source", &source, {}});
    for (int k = 0; k < 3; ++k)
        cells.push_back(
            {std::string(modeName(2 * k + 1)), &converted[static_cast<std::size_t>(2 * k)], {}});
    cells.push_back(
        {"",
         nullptr,
         {"OmbrelColorSpaceConversion",
          std::to_string(source.width) + " x " + std::to_string(source.height) + ", " +
              std::to_string(bits) + " bits",
          frame.input.empty() ? std::string("test chart") : frame.input.filename().string()}});
    for (int k = 0; k < 3; ++k)
        cells.push_back({std::string(modeName(2 * k + 2)),
                         &converted[static_cast<std::size_t>(2 * k + 1)],
                         {}});
    cells.push_back({"", nullptr, errorNotes});
    for (int k = 0; k < 3; ++k)
        cells.push_back(
            {"RGB to " + system[k] + " to RGB", &roundTrips[static_cast<std::size_t>(k)], {}});

    try {
        const Canvas sheet = composeSheet(cells, 4, options.tileSize);
        writeImageFile(file->tempPath(), target, canvasToFile(sheet));
        file->commit();
    } catch (const std::exception& e) {
        reporter.error(target.string(), e.what());
        return kExitFailure;
    }
    reporter.info("contact sheet -> " + target.string());
    return kExitOk;
}

void printInfo(Session& session, const OmbrelHost::CommandResult& setup, const fs::path& module,
               std::ostream& out) {
    const OmbrelHost::PiPL& pipl = session.effect().module().pipl();
    out << "Module: " << module.string() << '\n';
    out << "PiPL: " << pipl.properties.size() << " properties\n";
    for (const auto& p : pipl.properties)
        out << "  " << p.vendor << ' ' << p.key << "  " << p.text << '\n';
    const auto version = static_cast<std::uint32_t>(setup.out.my_version);
    const auto flags = static_cast<std::uint32_t>(setup.out.out_flags);
    const auto flags2 = static_cast<std::uint32_t>(setup.out.out_flags2);
    out << "Global setup:\n";
    out << "  version     " << hex32(version) << " (" << versionText(version) << ")\n";
    out << "  out_flags   " << hex32(flags) << " ("
        << flagNames(flags, {{PF_OutFlag_DISPLAY_ERROR_MESSAGE, "DISPLAY_ERROR_MESSAGE"},
                             {PF_OutFlag_DEEP_COLOR_AWARE, "DEEP_COLOR_AWARE"}})
        << ")\n";
    out << "  out_flags2  " << hex32(flags2) << " ("
        << flagNames(flags2, {{PF_OutFlag2_SUPPORTS_SMART_RENDER, "SUPPORTS_SMART_RENDER"},
                              {PF_OutFlag2_FLOAT_COLOR_AWARE, "FLOAT_COLOR_AWARE"}})
        << ")\n";
}

std::string aboutText(std::string message) {
    std::string text;
    for (std::size_t i = 0; i < message.size(); ++i) {
        if (message[i] == '\r') {
            text += '\n';
            if (i + 1 < message.size() && message[i + 1] == '\n')
                ++i;
        } else {
            text += message[i];
        }
    }
    if (!text.empty() && text.back() != '\n')
        text += '\n';
    return text;
}

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

} // namespace

int runProgram(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
               const fs::path& defaultModule, bool progressToTerminal,
               const std::function<void(OmbrelHost::Host&)>& prepareHost) {
    Options options;
    std::vector<Frame> frames;
    const bool renders = [&] {
        try {
            options = parseCommandLine(args);
            return true;
        } catch (const UsageError& e) {
            err << kProgram << ": " << e.what() << "\nTry '" << kProgram << " --help'.\n";
            return false;
        }
    }();
    if (!renders)
        return kExitUsage;
    if (options.help) {
        out << usageText();
        return kExitOk;
    }

    const bool rendering = !options.about && !options.info;
    if (rendering) {
        try {
            frames = listFrames(options.inputs);
            checkFrames(frames, options);
            if (!options.contactSheet)
                assignOutputs(frames, options.output, options.from, options.depth);
        } catch (const UsageError& e) {
            err << kProgram << ": " << e.what() << "\nTry '" << kProgram << " --help'.\n";
            return kExitUsage;
        } catch (const std::exception& e) {
            err << kProgram << ": " << e.what() << '\n';
            return kExitFailure;
        }
    }

    const fs::path modulePath = options.module.value_or(defaultModule);
    std::optional<Session> session;
    try {
        session.emplace(options, modulePath, prepareHost);
    } catch (const std::exception& e) {
        // Loading failures name the module file themselves.
        err << kProgram << ": " << e.what() << '\n';
        return kExitFailure;
    }
    Effect& effect = session->effect();

    int status = kExitOk;
    bool setUp = false;
    try {
        const auto setup = effect.globalSetup();
        if (setup.err != PF_Err_NONE) {
            err << kProgram << ": module " << modulePath.string()
                << ": global setup failed: " << failureText(setup.err, setup.message) << '\n';
            return kExitFailure;
        }
        setUp = true;
        if (options.info)
            printInfo(*session, setup, modulePath, out);
        if (options.about) {
            const auto about = effect.about();
            if (about.err != PF_Err_NONE) {
                err << kProgram << ": About failed: " << failureText(about.err, about.message)
                    << '\n';
                status = kExitFailure;
            } else {
                out << aboutText(about.message);
            }
        }
        if (rendering) {
            const auto params = effect.paramsSetup();
            if (params.err != PF_Err_NONE) {
                err << kProgram
                    << ": parameter setup failed: " << failureText(params.err, params.message)
                    << '\n';
                status = kExitFailure;
            } else {
                effect.setPopup(options.from);
                status = options.contactSheet ? contactSheet(*session, frames, options, out, err)
                                              : renderFrames(*session, frames, options, out, err,
                                                             progressToTerminal);
            }
        }
    } catch (const std::exception& e) {
        err << kProgram << ": module " << modulePath.string() << ": " << e.what() << '\n';
        status = kExitFailure;
    }

    if (setUp) {
        try {
            const auto setdown = effect.globalSetdown();
            if (setdown.err != PF_Err_NONE) {
                err << kProgram
                    << ": global setdown failed: " << failureText(setdown.err, setdown.message)
                    << '\n';
                status = kExitFailure;
            }
        } catch (const std::exception& e) {
            err << kProgram << ": global setdown failed: " << e.what() << '\n';
            status = kExitFailure;
        }
    }
    const OmbrelHost::HeldResources held = session->host().held();
    if (!held.empty()) {
        std::istringstream lines(held.describe());
        for (std::string line; std::getline(lines, line);)
            if (!line.empty())
                err << kProgram << ": still held after global setdown: " << line << '\n';
        status = kExitFailure;
    }
    return status;
}

} // namespace OmbrelRender
