#include "Ombrel/OmbrelGeneral.h"

#include <climits>

namespace Ombrel {

// Every member of the value templates, compiled once for the types the library uses so that a
// fault in a member nobody calls yet still breaks the build.
template struct ColorFloat<float>;
template struct ColorFloat<double>;
template struct ColorInt<int>;
template struct ColorInt<unsigned int>;
template struct Vector<double>;
template struct Vector<float>;
template struct Vector<int>;
template struct Vector3d<double>;
template struct Vector3d<float>;

namespace {

constexpr int64_t kOne = 0x10000; // 1.0 in 16.16

// double to int truncating toward zero. Converting a NaN or an out-of-range double is undefined,
// so those saturate instead (NaN gives 0).
int truncToInt(double v) {
    if (!(v == v)) {
        return 0;
    }
    if (v <= double(INT_MIN)) {
        return INT_MIN;
    }
    if (v >= double(INT_MAX)) {
        return INT_MAX;
    }
    return static_cast<int>(v);
}

// A 16.16 result for a size of 32768 pixels or more can lie beyond 32 bits; it saturates.
int saturate(int64_t v) {
    return static_cast<int>(std::min<int64_t>(std::max<int64_t>(v, INT_MIN), INT_MAX));
}

// 16.16 folding with the size s and the last position max in 64 bits, so that 2 * s and
// size * 0x10000 cannot overflow.
int64_t foldFixed(int64_t pos, int64_t s, int64_t max, BorderType type) {
    switch (type) {
    case BorderClamp:
        return pos < 0 ? 0 : std::min(pos, max);
    case BorderRepeat: {
        if (s < 1) {
            return pos;
        }
        int64_t m = pos % s;
        if (m < 0) {
            m += s;
        }
        return std::min(m, max);
    }
    case BorderMirror: {
        if (s < 1) {
            return pos;
        }
        int64_t m = pos;
        if (pos < 0 || pos >= s) {
            const int64_t p = pos >= s ? pos : -kOne - pos;
            m = p % (2 * s);
            if (m >= s) {
                m = 2 * s - kOne - m;
            }
        }
        return m < 0 ? 0 : std::min(m, max);
    }
    default:
        return pos;
    }
}

} // namespace

VectorFixed createRotatedFixed(double angle) {
    const double x = std::cos(angle) * 65536.0;
    const double y = -std::sin(angle) * 65536.0;
    return {truncToInt(x >= 0 ? x + 0.5 : x - 0.5), truncToInt(y >= 0 ? y + 0.5 : y - 0.5)};
}

void Rect::setRect(const Vector<double>& a, const Vector<double>& b) {
    setRect(truncToInt(std::min(a.x, b.x)), truncToInt(std::min(a.y, b.y)),
            truncToInt(std::max(a.x, b.x)), truncToInt(std::max(a.y, b.y)));
}

int Border::offset(int pos, int size, BorderType type) {
    switch (type) {
    case BorderClamp:
        if (pos < 0) {
            return 0;
        }
        return pos >= size ? size - 1 : pos;
    case BorderRepeat: {
        if (size < 1) {
            return pos;
        }
        const int m = pos % size;
        return m < 0 ? m + size : m;
    }
    case BorderMirror: {
        if (size < 1 || (pos >= 0 && pos < size)) {
            return pos;
        }
        // ~pos is -pos - 1 without overflow; the period 2 * size may exceed INT_MAX.
        const int64_t p = pos >= size ? pos : ~pos;
        const int64_t period = 2 * int64_t(size);
        const int64_t m = p % period;
        return static_cast<int>(m < size ? m : period - 1 - m);
    }
    default:
        return pos;
    }
}

int Border::offsetF(int pos, int size, BorderType type, bool sizeIsFixed) {
    const int64_t s = sizeIsFixed ? int64_t(size) : int64_t(size) * kOne;
    return saturate(foldFixed(pos, s, s - kOne, type));
}

void Border::offsetF(VectorFixed& v, int width, int height, BorderType type, bool sizeIsFixed) {
    v.x = offsetF(v.x, width, type, sizeIsFixed);
    v.y = offsetF(v.y, height, type, sizeIsFixed);
}

void Border::offsetF(VectorFixed& v, int width, int maxX, int height, int maxY, BorderType type) {
    v.x = saturate(foldFixed(v.x, width, maxX, type));
    v.y = saturate(foldFixed(v.y, height, maxY, type));
}

} // namespace Ombrel
