// The runs that render, after global and parameter setup, with the popup set to --from.
#pragma once

#include <cstddef>
#include <vector>

#include "Frames.h"

namespace OmbrelHost {
class Effect;
}

namespace OmbrelRender {

struct Options;
class Reporter;

struct FrameCounts {
    std::size_t written = 0;
    std::size_t failed = 0;
};

// The ordinary run (RenderFrames.cpp): every frame loaded, rendered and written to its output,
// --jobs frames at once. Reports each frame done (or timed, with --repeat) and each failure on
// its own line; a failed frame does not stop the others unless --fail-fast. A stop request
// (Stop.h) starts no new frame and abandons the frames in progress, which count as neither
// written nor failed.
FrameCounts renderFrames(OmbrelHost::Effect& effect, const std::vector<Frame>& frames,
                         const Options& options, Reporter& reporter, bool showProgress);

// The --contact-sheet run (ContactSheetRun.cpp): one frame through every conversion and every
// round trip, tiled with labels and the round trips' largest errors into one picture written
// to options.contactSheet. Leaves the popup at options.from. Returns false after reporting a
// failure, or after a stop request (reported by the caller).
bool makeContactSheet(OmbrelHost::Effect& effect, const Frame& frame, const Options& options,
                      Reporter& reporter);

} // namespace OmbrelRender
