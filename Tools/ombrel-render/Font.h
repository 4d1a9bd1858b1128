// A small built-in bitmap font (5x7 glyphs on a 6x9 cell) for the contact sheet's labels, so the
// tool depends on no system font. Printable ASCII only; any other character is drawn as '?'
// (one per UTF-8 sequence).
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "Canvas.h"

namespace OmbrelRender {

inline constexpr int kGlyphWidth = 5;
inline constexpr int kGlyphHeight = 7;
inline constexpr int kCellWidth = 6;  // advance per character
inline constexpr int kCellHeight = 9; // line height

// Row bits of a glyph, top row first; bit 4 is the leftmost column.
const std::array<std::uint8_t, kGlyphHeight>& glyph(char c);

// Width in pixels of the text at the given scale (whole pixels per font pixel), without the
// trailing space of the last cell.
int textWidth(std::string_view text, int scale = 1);
// Draws with the top-left corner of the first cell at (x, y); clipped to the canvas.
void drawText(Canvas& canvas, int x, int y, std::string_view text, Rgb8 colour, int scale = 1);

} // namespace OmbrelRender
