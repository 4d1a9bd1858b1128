// Small utilities on the host's integer rectangle.
#pragma once

#include "HostInterface/EffectInterface.h"

// True when the rectangle holds no pixel: left >= right or top >= bottom (right and bottom
// exclusive).
bool IsEmptyRect(const PF_LRect* r);

// Grows dst to take in src. An empty dst takes src as it is (even an empty src); an empty src
// leaves dst alone.
void UnionLRect(const PF_LRect* src, PF_LRect* dst);

// Whether (x, y) lies on the border of rect, whose right and bottom here are the last column and
// row themselves (inclusive).
bool IsEdgePixel(const PF_LRect* rect, A_long x, A_long y);
