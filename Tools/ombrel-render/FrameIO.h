// A frame's pixels in and out: its input loaded in host units (an image file, a raw file or the
// chart), and its output file, checked before a render is spent on it and written atomically.
#pragma once

#include <filesystem>

#include "AtomicFile.h"
#include "Canvas.h"
#include "Host/Image.h"
#include "ToolError.h"

namespace OmbrelRender {

struct Frame;
struct Options;

// The frame's input in host units: at --depth when given, else the file's own depth (the chart
// at 8 bits). Throws ToolError with the cause; the caller names the frame.
OmbrelHost::Image loadFrame(const Frame& frame, const Options& options, const Warn& warn);

class OutputFile {
public:
    enum class Accepts {
        FrameFiles, // raw files, or image files by extension
        ImageFiles, // image files only (pictures such as the contact sheet)
    };

    // Refuses a target that cannot be written (no folder, a folder, a format nobody writes);
    // throws ToolError with the cause. `halfFloats`: a format that would store floats stores
    // half floats.
    OutputFile(const std::filesystem::path& target, Accepts accepts, bool halfFloats = false);

    // Writes a rendered frame: raw records as they are, or an image file of the type the
    // format stores for the frame's depth. Throws ToolError or Stopped; the target is kept as
    // it was.
    void write(const OmbrelHost::Image& frame, const Warn& warn);
    // Writes a picture as an opaque 8-bit image file.
    void write(const Canvas& picture, const Warn& warn);

private:
    std::filesystem::path target_;
    bool halfFloats_;
    AtomicFile file_;
};

} // namespace OmbrelRender
