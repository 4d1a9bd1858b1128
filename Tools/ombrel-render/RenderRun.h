// The render run, what ombrel-render does unless asked for --contact-sheet, --info or --about:
// every frame loaded, rendered and written to its output, after global and parameter setup,
// with the popup set to --from.
#pragma once

#include <cstddef>
#include <vector>

#include "FrameList.h"

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

// Renders the frames, --jobs at once (JobPool.h). Reports each frame done (or timed, with
// --repeat) and each failure on its own line; a failed frame does not stop the others unless
// --fail-fast. A stop request (Stop.h) starts no new frame and abandons the frames in progress,
// which count as neither written nor failed.
FrameCounts renderFrames(OmbrelHost::Effect& effect, const std::vector<Frame>& frames,
                         const Options& options, Reporter& reporter, bool showProgress);

} // namespace OmbrelRender
