// Keeping stderr to the tool's own one line per error.
//
// Some codecs under the image library print their complaints straight to stderr (libpng's
// "libpng error: ..."), which would put a second line beside the tool's own message, the same
// cause again. While any image file is being read or written, stderr is pointed at the null
// device; the tool's messages wait until no file operation is in progress, so none is lost.
#pragma once

#include <mutex>
#include <shared_mutex>

namespace OmbrelRender {

// Held (shared) around image library calls; several may be held at once.
class QuietStderr {
public:
    QuietStderr();
    ~QuietStderr();
    QuietStderr(const QuietStderr&) = delete;
    QuietStderr& operator=(const QuietStderr&) = delete;
};

// Held (exclusive) while writing to stderr: waits for file operations to finish.
std::unique_lock<std::shared_mutex> lockConsole();

} // namespace OmbrelRender
