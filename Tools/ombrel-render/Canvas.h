// An 8-bit RGB picture to draw the contact sheet on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace OmbrelRender {

struct Rgb8 {
    std::uint8_t r = 0, g = 0, b = 0;
    bool operator==(const Rgb8&) const = default;
};

struct Canvas {
    int width = 0;
    int height = 0;
    std::vector<Rgb8> pixels; // row-major, top row first

    Canvas() = default;
    Canvas(int w, int h, Rgb8 fill = {})
        : width(w), height(h),
          pixels(static_cast<std::size_t>(w) * static_cast<std::size_t>(h), fill) {}

    bool contains(int x, int y) const { return x >= 0 && y >= 0 && x < width && y < height; }
    Rgb8& at(int x, int y) {
        return pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                      static_cast<std::size_t>(x)];
    }
    const Rgb8& at(int x, int y) const {
        return pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                      static_cast<std::size_t>(x)];
    }
    // Clipped to the canvas.
    void fill(int x, int y, int w, int h, Rgb8 colour);
    void blit(const Canvas& from, int x, int y);
};

} // namespace OmbrelRender
