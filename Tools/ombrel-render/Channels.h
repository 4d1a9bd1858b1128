// Which of a file's channels are red, green, blue and alpha.
//
// Channels are taken by name where the file names them: R, G, B and A (also Red, Green, Blue,
// Alpha), in any case, alone or after a layer prefix ("rgba.R", "diffuse.G"), all four from one
// layer (the unprefixed one first). A channel is alpha only when it is named so, or when it is
// the one channel beside R, G and B and has no name of its own ("", "3", "channel3"), which is
// read as alpha with a warning. A named channel such as Z, depth or W is never alpha.
//
// Without R, G and B names: one channel is grey; two are grey and alpha (the second named A, or
// unnamed with a warning); three or four unnamed channels are read in order with a warning.
// Anything else is refused.
#pragma once

#include <string>
#include <vector>

#include "ToolError.h"

namespace OmbrelRender {

struct ChannelPlan {
    // Indices into the file's channels; alpha -1 when the image is opaque. A grey image has
    // red == green == blue.
    int red = 0;
    int green = 0;
    int blue = 0;
    int alpha = -1;

    bool operator==(const ChannelPlan&) const = default;
};

// Throws ToolError("unsupported image: ...") naming the channels when none of the rules fits.
ChannelPlan planChannels(const std::vector<std::string>& names, const Warn& warn);

// Whether the channels hold a picture: R, G and B of one layer, or grey (a first channel named
// Y, or unnamed channels). Depth alone (Z), or masks and vectors, do not.
bool hasColour(const std::vector<std::string>& names);

} // namespace OmbrelRender
