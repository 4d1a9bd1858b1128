#include "Reporter.h"

#include <cstdio>

namespace OmbrelRender {

namespace {

// Progress is shown for runs of more frames than this.
constexpr std::size_t kProgressAfter = 3;

// The length of the UTF-8 sequence at text[i] when it is well formed and not a C1 control
// (U+0080..U+009F), else 0.
std::size_t utf8Length(std::string_view text, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[i + k]); };
    const unsigned char lead = byte(0);
    const std::size_t n = lead >= 0xF0 && lead <= 0xF4  ? 4
                          : lead >= 0xE0                ? 3
                          : lead >= 0xC2 && lead < 0xE0 ? 2
                                                        : 0;
    if (n == 0 || i + n > text.size())
        return 0;
    for (std::size_t k = 1; k < n; ++k)
        if ((byte(k) & 0xC0) != 0x80)
            return 0;
    if (n == 2 && lead == 0xC2 && byte(1) < 0xA0)
        return 0; // C1
    if (n == 3 && ((lead == 0xE0 && byte(1) < 0xA0) || (lead == 0xED && byte(1) >= 0xA0)))
        return 0; // overlong, or a surrogate
    if (n == 4 && ((lead == 0xF0 && byte(1) < 0x90) || (lead == 0xF4 && byte(1) >= 0x90)))
        return 0; // overlong, or beyond U+10FFFF
    return n;
}

} // namespace

std::string printable(std::string_view text, bool keepNewlines) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
            ++i;
            continue;
        }
        if (c >= 0x80) {
            if (const std::size_t n = utf8Length(text, i); n > 0) {
                out.append(text.substr(i, n));
                i += n;
                continue;
            }
        }
        if (c == '\n' && keepNewlines)
            out += '\n';
        else if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else if (c == '\t')
            out += "\\t";
        else if (c == 0x1B)
            out += "\\e";
        else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
        ++i;
    }
    return out;
}

Reporter::Reporter(std::ostream& out, std::ostream& err) : out_(out), err_(err) {}

void Reporter::setQuiet(bool quiet) {
    std::lock_guard lock(mutex_);
    quiet_ = quiet;
}

void Reporter::print(const std::string& text) {
    std::lock_guard lock(mutex_);
    clearProgress();
    out_ << printable(text, true) << std::flush;
}

void Reporter::info(const std::string& line) {
    std::lock_guard lock(mutex_);
    if (quiet_)
        return;
    clearProgress();
    out_ << printable(line) << '\n' << std::flush;
}

void Reporter::error(const std::string& subject, const std::string& cause) {
    std::lock_guard lock(mutex_);
    clearProgress();
    err_ << kProgramName << ": " << printable(subject.empty() ? cause : subject + ": " + cause)
         << '\n'
         << std::flush;
}

void Reporter::warning(const std::string& subject, const std::string& cause) {
    std::lock_guard lock(mutex_);
    clearProgress();
    err_ << kProgramName
         << ": warning: " << printable(subject.empty() ? cause : subject + ": " + cause) << '\n'
         << std::flush;
}

Warn Reporter::warningsAbout(const std::string& subject) {
    return [this, subject](const std::string& cause) { warning(subject, cause); };
}

void Reporter::usageError(const std::string& cause) {
    std::lock_guard lock(mutex_);
    clearProgress();
    err_ << kProgramName << ": " << printable(cause) << "\nTry '" << kProgramName << " --help'.\n"
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
