#include "Reporter.h"

#include <cstdio>

namespace OmbrelRender {

namespace {

// Progress is shown for runs of more frames than this.
constexpr std::size_t kProgressAfter = 3;

} // namespace

Reporter::Reporter(std::ostream& out, std::ostream& err) : out_(out), err_(err) {}

void Reporter::setQuiet(bool quiet) {
    std::lock_guard lock(mutex_);
    quiet_ = quiet;
}

void Reporter::print(const std::string& text) {
    std::lock_guard lock(mutex_);
    clearProgress();
    out_ << text << std::flush;
}

void Reporter::info(const std::string& line) {
    std::lock_guard lock(mutex_);
    if (quiet_)
        return;
    clearProgress();
    out_ << line << '\n' << std::flush;
}

void Reporter::error(const std::string& subject, const std::string& cause) {
    std::lock_guard lock(mutex_);
    clearProgress();
    err_ << kProgramName << ": " << (subject.empty() ? "" : subject + ": ") << cause << '\n'
         << std::flush;
}

void Reporter::warning(const std::string& subject, const std::string& cause) {
    std::lock_guard lock(mutex_);
    clearProgress();
    err_ << kProgramName << ": warning: " << (subject.empty() ? "" : subject + ": ") << cause
         << '\n'
         << std::flush;
}

Warn Reporter::warningsAbout(const std::string& subject) {
    return [this, subject](const std::string& cause) { warning(subject, cause); };
}

void Reporter::usageError(const std::string& cause) {
    std::lock_guard lock(mutex_);
    clearProgress();
    err_ << kProgramName << ": " << cause << "\nTry '" << kProgramName << " --help'.\n"
         << std::flush;
}

void Reporter::startFrames(std::size_t total, bool show) {
    std::lock_guard lock(mutex_);
    progress_ = show && !quiet_ && total > kProgressAfter;
    total_ = total;
    done_ = 0;
    start_ = std::chrono::steady_clock::now();
}

void Reporter::frameDone() {
    std::lock_guard lock(mutex_);
    ++done_;
    if (!progress_)
        return;
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    char text[96];
    std::snprintf(text, sizeof text, "\r%zu/%zu frames, %.1f frames/s", done_, total_,
                  seconds > 0 ? static_cast<double>(done_) / seconds : 0.0);
    err_ << text << std::flush;
    shown_ = true;
}

void Reporter::finishFrames() {
    std::lock_guard lock(mutex_);
    if (shown_)
        err_ << '\n' << std::flush;
    shown_ = false;
    progress_ = false;
}

void Reporter::clearProgress() {
    if (shown_)
        err_ << "\r\x1b[K";
    shown_ = false;
}

} // namespace OmbrelRender
