// Pixels as an image file stores them, before any conversion to host units.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <vector>

namespace OmbrelRender {

// What a file holds per channel. UInt8 values run 0..255, UInt16 0..65535; Half and Float are
// floats with 1.0 as full intensity.
enum class SampleType { UInt8, UInt16, Half, Float };

// RGBA, straight (unassociated) alpha, row-major, top row first. Values are kept in the file's
// own units as floats (0..255, 0..65535 or the stored float), which holds every 8-bit, 16-bit
// and half value exactly.
struct FileImage {
    int width = 0;
    int height = 0;
    SampleType type = SampleType::UInt8;
    std::vector<float> rgba;

    FileImage() = default;
    FileImage(int w, int h, SampleType t)
        : width(w), height(h), type(t),
          rgba(static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * 4) {}

    float* pixel(int x, int y) {
        return rgba.data() + (static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                              static_cast<std::size_t>(x)) *
                                 4;
    }
    const float* pixel(int x, int y) const {
        return rgba.data() + (static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                              static_cast<std::size_t>(x)) *
                                 4;
    }
};

// A failure with a one-line cause; the caller adds the file it concerns.
class ToolError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

} // namespace OmbrelRender
