#include "Util/Smart_Utils.h"

bool IsEmptyRect(const PF_LRect* r) {
    return r->left >= r->right || r->top >= r->bottom;
}

void UnionLRect(const PF_LRect* src, PF_LRect* dst) {
    if (IsEmptyRect(dst)) {
        *dst = *src;
    } else if (!IsEmptyRect(src)) {
        if (src->left < dst->left)
            dst->left = src->left;
        if (src->top < dst->top)
            dst->top = src->top;
        if (src->right > dst->right)
            dst->right = src->right;
        if (src->bottom > dst->bottom)
            dst->bottom = src->bottom;
    }
}

bool IsEdgePixel(const PF_LRect* rect, A_long x, A_long y) {
    if (x == rect->left || x == rect->right)
        return rect->top <= y && y <= rect->bottom;
    if (y == rect->top || y == rect->bottom)
        return rect->left <= x && x <= rect->right;
    return false;
}
