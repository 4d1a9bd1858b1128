// Everything ombrel-render says: results on stdout, one line per error on stderr, and the
// progress line of long runs. Every message of the program goes through one Reporter, which
// writes the program's name before each error and keeps the progress line out of the way.
// Safe to use from several threads at once.
#pragma once

#include <chrono>
#include <cstddef>
#include <mutex>
#include <ostream>
#include <string>
#include <string_view>

#include "ToolError.h"

namespace OmbrelRender {

inline constexpr std::string_view kProgramName = "ombrel-render";

// `text` safe to show on a terminal: control characters (C0, DEL, and C1 as UTF-8) as \n, \r,
// \t, \e or \xHH, bytes that are not UTF-8 as \xHH (a backslash stays as it is: Windows paths
// are full of them). With `keepNewlines`
// a newline stays one (text of several lines). File names and strings from module files may
// hold anything: an escape sequence must not reach the terminal, nor a newline split a line.
std::string printable(std::string_view text, bool keepNewlines = false);

class Reporter {
public:
    Reporter(std::ostream& out, std::ostream& err);

    // Quiet drops the info lines and the progress line; errors and printed text stay.
    void setQuiet(bool quiet);

    // Everything below is written through printable(): lines stay lines.
    // Text the user asked for (help, --info, --about), printed as it is, quiet or not.
    void print(const std::string& text);
    // One line of what was done; dropped when quiet.
    void info(const std::string& line);
    // "ombrel-render: SUBJECT: CAUSE", or "ombrel-render: CAUSE" without a subject.
    void error(const std::string& subject, const std::string& cause);
    void error(const std::string& cause) { error({}, cause); }
    // "ombrel-render: warning: SUBJECT: CAUSE": something was done differently from what was
    // asked, and the run goes on. Shown even when quiet.
    void warning(const std::string& subject, const std::string& cause);
    // Warnings about `subject`, for code that knows the cause but not the file.
    Warn warningsAbout(const std::string& subject);
    // An error in the command line, followed by the hint to ask for help.
    void usageError(const std::string& cause);

    // A progress line "done/total frames, rate" on stderr while `total` frames render, when
    // `show` and not quiet and the run is long enough to want one.
    void startFrames(std::size_t total, bool show);
    void frameDone();
    // Ends the progress line, if one was shown.
    void finishFrames();

private:
    void clearProgress();

    std::ostream& out_;
    std::ostream& err_;
    bool quiet_ = false;
    bool progress_ = false;
    bool shown_ = false;
    std::size_t total_ = 0;
    std::size_t done_ = 0;
    std::chrono::steady_clock::time_point start_;
    std::mutex mutex_;
};

} // namespace OmbrelRender
