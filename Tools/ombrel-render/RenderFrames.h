// The ordinary run: every frame loaded, rendered with the popup as set, and written to its
// output, --jobs frames at once.
#pragma once

#include <vector>

#include "Frames.h"

namespace OmbrelHost {
class Effect;
}

namespace OmbrelRender {

struct Options;
class Reporter;

// Reports each frame done (or timed, with --repeat) and each failure on its own line; a failed
// frame does not stop the others unless --fail-fast. Returns the number of failed frames.
std::size_t renderFrames(OmbrelHost::Effect& effect, const std::vector<Frame>& frames,
                         const Options& options, Reporter& reporter, bool showProgress);

} // namespace OmbrelRender
