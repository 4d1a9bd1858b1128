// The frame list: which frames a run renders (inputs and numbered sequences expanded) and the
// output file of each, checked so that no output destroys another frame's input.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "Host/Image.h"

namespace OmbrelRender {

// A file name with one frame-number placeholder: "%d", or "%0Nd" for N digits with leading
// zeros, N up to 32 ("%%" is a literal percent sign).
inline constexpr int kMaxNumberWidth = 32;
struct NumberPattern {
    std::string prefix;
    int width = 0; // 0: as many digits as needed
    std::string suffix;

    std::string format(int number) const;
};
// Nothing when `text` holds no placeholder; throws UsageError for a width over 32.
std::optional<NumberPattern> parseNumberPattern(const std::string& text);

struct Frame {
    std::string label;           // as the user named it, for messages
    std::filesystem::path input; // empty for the built-in chart
    int number = 1;              // from the sequence, else the 1-based position
    std::filesystem::path output;
};

// Expands inputs into frames, in the order given: a name with a placeholder that is not itself
// an existing file stands for every existing file it matches, in frame-number order. No input
// gives one chart frame. Throws ToolError when a sequence matches no file.
std::vector<Frame> listFrames(const std::vector<std::string>& inputs);

// Fills each frame's output: `output` may be a pattern, a folder (existing, or ending in a
// slash) or, for one frame, a file; without it, NAME.<mode>.<ext> beside the input (the
// chart: chart.<mode>.png, or .exr at 32 bits, in the current folder). Throws UsageError when
// several frames would share one file.
void assignOutputs(std::vector<Frame>& frames, const std::optional<std::string>& output, int mode,
                   std::optional<OmbrelHost::Depth> depth);

// Throws UsageError when a frame's output is another frame's input or another frame's output.
// Paths are compared with links, "." and ".." resolved, and files that exist also by identity
// (a hard link is the same file). A frame may write over its own input, which is read whole
// before anything is written.
void checkCollisions(const std::vector<Frame>& frames);

} // namespace OmbrelRender
