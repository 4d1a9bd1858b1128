#include "Canvas.h"

#include <algorithm>

namespace OmbrelRender {

void Canvas::fill(int x, int y, int w, int h, Rgb8 colour) {
    const int x0 = std::max(x, 0), y0 = std::max(y, 0);
    const int x1 = std::min(x + w, width), y1 = std::min(y + h, height);
    for (int yy = y0; yy < y1; ++yy)
        for (int xx = x0; xx < x1; ++xx)
            at(xx, yy) = colour;
}

void Canvas::blit(const Canvas& from, int x, int y) {
    for (int yy = 0; yy < from.height; ++yy)
        for (int xx = 0; xx < from.width; ++xx)
            if (contains(x + xx, y + yy))
                at(x + xx, y + yy) = from.at(xx, yy);
}

} // namespace OmbrelRender
