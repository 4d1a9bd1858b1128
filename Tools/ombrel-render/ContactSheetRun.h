// The --contact-sheet run: one frame through every conversion and every round trip, tiled with
// labels and the round trips' largest errors into one picture (drawn by ContactSheet.h).
#pragma once

namespace OmbrelHost {
class Effect;
}

namespace OmbrelRender {

struct Frame;
struct Options;
class Reporter;

// Writes the sheet to options.contactSheet, after global and parameter setup. Leaves the popup
// at options.from. Returns false after reporting a failure, or after a stop request (reported by
// the caller).
bool makeContactSheet(OmbrelHost::Effect& effect, const Frame& frame, const Options& options,
                      Reporter& reporter);

} // namespace OmbrelRender
