// The --contact-sheet run: one frame through every conversion and every round trip, tiled with
// labels and the round trips' largest errors into one picture.
#pragma once

#include "Frames.h"

namespace OmbrelHost {
class Effect;
}

namespace OmbrelRender {

struct Options;
class Reporter;

// Renders and writes the sheet to options.contactSheet, reporting each round trip's error; the
// popup is left at options.from. Returns false after reporting a failure.
bool makeContactSheet(OmbrelHost::Effect& effect, const Frame& frame, const Options& options,
                      Reporter& reporter);

} // namespace OmbrelRender
