// Colour values, their packing into the host's pixel records, and the small geometry types of
// the image library.
//
// Host channel ranges: 8-bit channels run 0..255, 16-bit channels 0..32768 (not 65535), 32-bit
// channels are floats with 1.0 as full intensity. A ColorFloat is either normalised (every
// channel 0..1) or raw (the pixel's own range); nothing in the value says which, the caller knows.
//
// The colour types and their packers are templates defined here so that per-pixel loops in other
// units can inline them. Only float/double (ColorFloat) and int/unsigned int (ColorInt) are used.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <type_traits>

#include "HostInterface/EffectInterface.h"

namespace Ombrel {

// ---- Colour values --------------------------------------------------------------------------

// Floating-point ARGB colour; members in host pixel order so that a pixel maps member for member.
// Never clamps on its own: only clamp() and the packers do.
template <typename T>
struct ColorFloat {
    static_assert(std::is_floating_point_v<T>, "ColorFloat holds float or double channels");

    T alpha, red, green, blue;

    ColorFloat() : alpha(0), red(0), green(0), blue(0) {}
    ColorFloat(T r, T g, T b) : alpha(1), red(r), green(g), blue(b) {}
    ColorFloat(T a, T r, T g, T b) : alpha(a), red(r), green(g), blue(b) {}

    // The pixel constructors are explicit because they rescale: an 8-bit pixel is divided by 255,
    // a 16-bit one multiplied by 2^-15. All four channels, alpha included, are scaled. The 8-bit
    // scale is a true division: x / 255 and x * (1 / 255) differ in the last bit for about half
    // of the byte values.
    explicit ColorFloat(const PF_Pixel& p)
        : alpha(T(p.alpha) / T(255)), red(T(p.red) / T(255)), green(T(p.green) / T(255)),
          blue(T(p.blue) / T(255)) {}
    ColorFloat(const PF_Pixel& p, bool normalize) : ColorFloat(raw(p)) {
        if (normalize) {
            alpha /= T(255);
            red /= T(255);
            green /= T(255);
            blue /= T(255);
        }
    }
    explicit ColorFloat(const PF_Pixel16& p)
        : alpha(T(p.alpha) * kInv32768), red(T(p.red) * kInv32768), green(T(p.green) * kInv32768),
          blue(T(p.blue) * kInv32768) {}
    ColorFloat(const PF_Pixel16& p, bool normalize) : ColorFloat(raw(p)) {
        if (normalize) {
            *this *= kInv32768;
        }
    }
    // Copied as is: float pixels may lie outside 0..1 and are not clamped here.
    explicit ColorFloat(const PF_PixelFloat& p)
        : alpha(T(p.alpha)), red(T(p.red)), green(T(p.green)), blue(T(p.blue)) {}

    // The operators treat the value as a 4-vector (alpha takes part) ...
    ColorFloat& operator+=(const ColorFloat& o) {
        alpha += o.alpha;
        red += o.red;
        green += o.green;
        blue += o.blue;
        return *this;
    }
    ColorFloat& operator-=(const ColorFloat& o) {
        alpha -= o.alpha;
        red -= o.red;
        green -= o.green;
        blue -= o.blue;
        return *this;
    }
    ColorFloat& operator*=(const T& s) {
        alpha *= s;
        red *= s;
        green *= s;
        blue *= s;
        return *this;
    }
    ColorFloat& operator*=(const int& s) { return *this *= T(s); }
    ColorFloat& operator/=(const T& s) {
        alpha /= s;
        red /= s;
        green /= s;
        blue /= s;
        return *this;
    }
    // The integer divisor goes through float even for ColorFloat<double>, so a divisor beyond
    // 2^24 is rounded to float precision first.
    ColorFloat& operator/=(const int& s) { return *this /= T(static_cast<float>(s)); }

    ColorFloat operator+(const ColorFloat& o) const { return ColorFloat(*this) += o; }
    ColorFloat operator-(const ColorFloat& o) const { return ColorFloat(*this) -= o; }
    ColorFloat operator*(const T& s) const { return ColorFloat(*this) *= s; }
    ColorFloat operator*(const int& s) const { return ColorFloat(*this) *= s; }
    ColorFloat operator/(const T& s) const { return ColorFloat(*this) /= s; }
    ColorFloat operator/(const int& s) const { return ColorFloat(*this) /= s; }

    // ... while these treat it as a colour and leave alpha alone.
    T dot(const ColorFloat& o) const { return red * o.red + green * o.green + blue * o.blue; }
    ColorFloat& mult(T s) {
        red *= s;
        green *= s;
        blue *= s;
        return *this;
    }
    ColorFloat& div(T s) {
        red /= s;
        green /= s;
        blue /= s;
        return *this;
    }
    // Limits red, green and blue to 0..max; NaN channels are left as they are.
    ColorFloat& clamp(T max) {
        red = clampChannel(red, max);
        green = clampChannel(green, max);
        blue = clampChannel(blue, max);
        return *this;
    }

private:
    static constexpr T kInv32768 = T(1) / T(32768); // exactly 2^-15

    static ColorFloat raw(const PF_Pixel& p) {
        return {T(p.alpha), T(p.red), T(p.green), T(p.blue)};
    }
    static ColorFloat raw(const PF_Pixel16& p) {
        return {T(p.alpha), T(p.red), T(p.green), T(p.blue)};
    }
    static T clampChannel(T v, T max) {
        if (v > max) {
            return max;
        }
        if (v < T(0)) {
            return T(0);
        }
        return v;
    }
};

// Integer ARGB colour holding channels in the pixel's own range (0..255 or 0..32768). Plain
// integer arithmetic without clamping; overflow and division by zero are the caller's to avoid.
template <typename T>
struct ColorInt {
    static_assert(std::is_same_v<T, int> || std::is_same_v<T, unsigned int>,
                  "ColorInt holds int or unsigned int channels");

    T alpha, red, green, blue;

    ColorInt() : alpha(0), red(0), green(0), blue(0) {}
    ColorInt(T a, T r, T g, T b) : alpha(a), red(r), green(g), blue(b) {}
    explicit ColorInt(const PF_Pixel& p)
        : alpha(p.alpha), red(p.red), green(p.green), blue(p.blue) {}
    explicit ColorInt(const PF_Pixel16& p)
        : alpha(p.alpha), red(p.red), green(p.green), blue(p.blue) {}

    ColorInt& operator+=(const ColorInt& o) {
        alpha += o.alpha;
        red += o.red;
        green += o.green;
        blue += o.blue;
        return *this;
    }
    ColorInt& operator-=(const ColorInt& o) {
        alpha -= o.alpha;
        red -= o.red;
        green -= o.green;
        blue -= o.blue;
        return *this;
    }
    // For unsigned channels the int operand is taken as unsigned (modulo 2^32).
    ColorInt& operator*=(const int& s) {
        const T k = static_cast<T>(s);
        alpha *= k;
        red *= k;
        green *= k;
        blue *= k;
        return *this;
    }
    ColorInt& operator/=(const int& s) {
        const T k = static_cast<T>(s);
        alpha /= k;
        red /= k;
        green /= k;
        blue /= k;
        return *this;
    }
    ColorInt operator+(const ColorInt& o) const { return ColorInt(*this) += o; }
    ColorInt operator-(const ColorInt& o) const { return ColorInt(*this) -= o; }
    ColorInt operator*(const int& s) const { return ColorInt(*this) *= s; }
    ColorInt operator/(const int& s) const { return ColorInt(*this) /= s; }

    ColorInt& mult(T s) {
        red *= s;
        green *= s;
        blue *= s;
        return *this;
    }
    ColorInt& div(T s) {
        red /= s;
        green /= s;
        blue /= s;
        return *this;
    }
};

// ---- Quantisers ------------------------------------------------------------------------------

// A channel value already in channel units (0..max, max being 255 or 32768) to an integer
// channel, clamped to 0..max. Negative values and NaN give 0: NaN is caught here because
// converting it to an integer is undefined.

// Truncated toward zero: 127.9 gives 127. The packers aePixel8 and aePixel16 store this way.
template <typename Out, typename T>
inline Out quantizeTruncate(T v, T max) {
    if (!(v >= T(0))) {
        return 0;
    }
    if (v > max) {
        return static_cast<Out>(max);
    }
    return static_cast<Out>(v);
}

// Rounded half up, as v + 0.5 truncated: 127.5 gives 128, 127.4 gives 127. The addition is
// rounded to T first, so a value just below a half (0.49999997f) can still round up. The
// conversion filter stores its 8- and 16-bit channels this way.
template <typename Out, typename T>
inline Out quantizeRoundHalfUp(T v, T max) {
    return quantizeTruncate<Out>(v + T(0.5), max);
}

// ---- Packing into host pixels ---------------------------------------------------------------

namespace detail {

template <typename Out, typename T>
inline Out packIntChannel(T v, T m) {
    if constexpr (std::is_signed_v<T>) {
        if (v < 0) {
            return 0;
        }
    }
    return static_cast<Out>(v > m ? m : v);
}

template <typename T>
using IfFloat = std::enable_if_t<std::is_floating_point_v<T>, int>;
template <typename T>
using IfInt = std::enable_if_t<std::is_integral_v<T>, int>;

} // namespace detail

// Each channel times 255 (or raw when normalize is false), then clamped to 0..255 and truncated:
// 0.5 gives 127, 1.2 gives 255, -0.1 and NaN give 0.
template <typename T, detail::IfFloat<T> = 0>
inline PF_Pixel aePixel8(const ColorFloat<T>& c, bool normalize) {
    const T s = normalize ? T(255) : T(1);
    PF_Pixel p;
    p.alpha = quantizeTruncate<A_u_char>(c.alpha * s, T(255));
    p.red = quantizeTruncate<A_u_char>(c.red * s, T(255));
    p.green = quantizeTruncate<A_u_char>(c.green * s, T(255));
    p.blue = quantizeTruncate<A_u_char>(c.blue * s, T(255));
    return p;
}
template <typename T, detail::IfFloat<T> = 0>
inline PF_Pixel aePixel8(const ColorFloat<T>& c) {
    return aePixel8(c, true);
}

// Each channel times 32768 (or raw), clamped to 0..32768 (never 65535) and truncated.
template <typename T, detail::IfFloat<T> = 0>
inline PF_Pixel16 aePixel16(const ColorFloat<T>& c, bool normalize) {
    const T s = normalize ? T(32768) : T(1);
    PF_Pixel16 p;
    p.alpha = quantizeTruncate<A_u_short>(c.alpha * s, T(32768));
    p.red = quantizeTruncate<A_u_short>(c.red * s, T(32768));
    p.green = quantizeTruncate<A_u_short>(c.green * s, T(32768));
    p.blue = quantizeTruncate<A_u_short>(c.blue * s, T(32768));
    return p;
}
template <typename T, detail::IfFloat<T> = 0>
inline PF_Pixel16 aePixel16(const ColorFloat<T>& c) {
    return aePixel16(c, true);
}

// No scaling and no clamping: float pixels may leave 0..1.
template <typename T, detail::IfFloat<T> = 0>
inline PF_PixelFloat aePixel32(const ColorFloat<T>& c) {
    PF_PixelFloat p;
    p.alpha = static_cast<PF_FpShort>(c.alpha);
    p.red = static_cast<PF_FpShort>(c.red);
    p.green = static_cast<PF_FpShort>(c.green);
    p.blue = static_cast<PF_FpShort>(c.blue);
    return p;
}

// Integer channels are already in pixel units: limited to 0..255 (negative values only exist for
// ColorInt<int>).
template <typename T, detail::IfInt<T> = 0>
inline PF_Pixel aePixel8(const ColorInt<T>& c) {
    PF_Pixel p;
    p.alpha = detail::packIntChannel<A_u_char>(c.alpha, T(255));
    p.red = detail::packIntChannel<A_u_char>(c.red, T(255));
    p.green = detail::packIntChannel<A_u_char>(c.green, T(255));
    p.blue = detail::packIntChannel<A_u_char>(c.blue, T(255));
    return p;
}
template <typename T, detail::IfInt<T> = 0>
inline PF_Pixel16 aePixel16(const ColorInt<T>& c) {
    PF_Pixel16 p;
    p.alpha = detail::packIntChannel<A_u_short>(c.alpha, T(32768));
    p.red = detail::packIntChannel<A_u_short>(c.red, T(32768));
    p.green = detail::packIntChannel<A_u_short>(c.green, T(32768));
    p.blue = detail::packIntChannel<A_u_short>(c.blue, T(32768));
    return p;
}

// ---- Vectors --------------------------------------------------------------------------------

template <typename T>
struct Vector {
    T x, y;

    Vector() : x(0), y(0) {}
    explicit Vector(T v) : x(v), y(v) {}
    Vector(T x_, T y_) : x(x_), y(y_) {}

    Vector& operator+=(const Vector& o) {
        x += o.x;
        y += o.y;
        return *this;
    }
    Vector& operator-=(const Vector& o) {
        x -= o.x;
        y -= o.y;
        return *this;
    }
    Vector& operator*=(const Vector& o) {
        x *= o.x;
        y *= o.y;
        return *this;
    }
    Vector& operator/=(const Vector& o) {
        x /= o.x;
        y /= o.y;
        return *this;
    }
    Vector& operator*=(const T& s) {
        x *= s;
        y *= s;
        return *this;
    }
    Vector& operator/=(const T& s) {
        x /= s;
        y /= s;
        return *this;
    }

    // Always double. For float the sum of squares is formed in float; for int it is formed in
    // double, which is exact wherever the 32-bit sum would be and cannot overflow.
    double length() const {
        if constexpr (std::is_integral_v<T>) {
            const double dx = x, dy = y;
            return std::sqrt(dx * dx + dy * dy);
        } else {
            return std::sqrt(static_cast<double>(x * x + y * y));
        }
    }
    // A zero vector stays zero. For int the quotients truncate, so only axis-aligned vectors
    // keep a non-zero component.
    Vector& normalize() {
        const double len = length();
        if (len > 0) {
            // Divided in double, the length's precision, then narrowed back to T.
            x = static_cast<T>(static_cast<double>(x) / len);
            y = static_cast<T>(static_cast<double>(y) / len);
        }
        return *this;
    }
    T dot(const Vector& o) const { return x * o.x + y * o.y; }
    // The z of the 3-D cross product.
    T cross(const Vector& o) const { return x * o.y - y * o.x; }
};

template <typename T>
struct Vector3d {
    static_assert(std::is_floating_point_v<T>, "Vector3d holds float or double components");

    T x, y, z;

    Vector3d() : x(0), y(0), z(0) {}
    Vector3d(T x_, T y_, T z_) : x(x_), y(y_), z(z_) {}

    Vector3d& operator+=(const Vector3d& o) {
        x += o.x;
        y += o.y;
        z += o.z;
        return *this;
    }
    Vector3d& operator-=(const Vector3d& o) {
        x -= o.x;
        y -= o.y;
        z -= o.z;
        return *this;
    }
    Vector3d& operator*=(const Vector3d& o) {
        x *= o.x;
        y *= o.y;
        z *= o.z;
        return *this;
    }
    Vector3d& operator/=(const Vector3d& o) {
        x /= o.x;
        y /= o.y;
        z /= o.z;
        return *this;
    }
    Vector3d& operator*=(const T& s) {
        x *= s;
        y *= s;
        z *= s;
        return *this;
    }
    Vector3d& operator/=(const T& s) {
        x /= s;
        y /= s;
        z /= s;
        return *this;
    }

    T length() const { return std::sqrt(x * x + y * y + z * z); }
    Vector3d& normalize() {
        const T len = length();
        if (len > T(0)) {
            *this /= len;
        }
        return *this;
    }
    T dot(const Vector3d& o) const { return x * o.x + y * o.y + z * o.z; }
    Vector3d cross(const Vector3d& o) const {
        return {y * o.z - z * o.y, z * o.x - x * o.z, x * o.y - y * o.x};
    }
};

// 2-D vector in 16.16 fixed point: 0x10000 is 1.0. Arithmetic wraps modulo 2^32 instead of
// overflowing.
struct VectorFixed {
    A_long x, y;

    VectorFixed() : x(0), y(0) {}
    VectorFixed(A_long x_, A_long y_) : x(x_), y(y_) {}

    VectorFixed& operator+=(const VectorFixed& o) {
        x = wrap(int64_t(x) + o.x);
        y = wrap(int64_t(y) + o.y);
        return *this;
    }
    VectorFixed& operator-=(const VectorFixed& o) {
        x = wrap(int64_t(x) - o.x);
        y = wrap(int64_t(y) - o.y);
        return *this;
    }
    VectorFixed& operator*=(const int& s) {
        x = wrap(int64_t(x) * s);
        y = wrap(int64_t(y) * s);
        return *this;
    }
    VectorFixed operator+(const VectorFixed& o) const { return VectorFixed(*this) += o; }
    VectorFixed operator-(const VectorFixed& o) const { return VectorFixed(*this) -= o; }
    VectorFixed operator*(const int& s) const { return VectorFixed(*this) *= s; }

    // Complex product with a unit rotation r from createRotatedFixed: (x, y) turns into
    // (x cos + y sin, y cos - x sin). The low 12 bits of this vector and the low 4 bits of r are
    // dropped first so that the products stay within 32 bits; the result is approximate and not
    // rounded.
    VectorFixed rotate(const VectorFixed& r) const {
        const int64_t a = x >> 12, b = y >> 12, c = r.x >> 4, d = r.y >> 4;
        return {wrap(a * c - b * d), wrap(c * b + d * a)};
    }

private:
    static A_long wrap(int64_t v) { return static_cast<A_long>(static_cast<uint32_t>(v)); }
};

// Unit rotation for an angle in radians: (cos, -sin) in 16.16, rounded half away from zero.
VectorFixed createRotatedFixed(double angle);

// ---- Rectangles -----------------------------------------------------------------------------

// Integer rectangle with the layout of PF_LRect; right and bottom are exclusive. Corners are
// stored as given, never sorted, so left > right is possible and makes the rectangle empty.
struct Rect {
    A_long left, top, right, bottom;

    Rect() : left(0), top(0), right(0), bottom(0) {}
    Rect(int l, int t, int r, int b) : left(l), top(t), right(r), bottom(b) {}
    Rect(const PF_LRect& r) : left(r.left), top(r.top), right(r.right), bottom(r.bottom) {}
    // Spanned by two corners in any order.
    Rect(const Vector<int>& a, const Vector<int>& b) { setRect(a, b); }
    // Spanned by two corners in any order, each coordinate truncated toward zero (-1.5 gives -1).
    Rect(const Vector<double>& a, const Vector<double>& b) { setRect(a, b); }

    void setRect(int l, int t, int r, int b) {
        left = l;
        top = t;
        right = r;
        bottom = b;
    }
    void setRect(const PF_LRect& r) { setRect(r.left, r.top, r.right, r.bottom); }
    void setRect(const Vector<int>& a, const Vector<int>& b) {
        setRect(std::min(a.x, b.x), std::min(a.y, b.y), std::max(a.x, b.x), std::max(a.y, b.y));
    }
    void setRect(const Vector<double>& a, const Vector<double>& b);

    int getWidth() const { return right - left; }
    int getHeight() const { return bottom - top; }
    Vector<int> getLeftTop() const { return {left, top}; }
    Vector<int> getRightBottom() const { return {right, bottom}; }
    bool isEmpty() const { return left >= right || top >= bottom; }
    // The part of this rectangle that lies inside r. Rectangles that do not overlap (or only
    // touch) give an empty one, whose corners may then be crossed.
    Rect intersect(const Rect& r) const {
        return Rect(std::max(left, r.left), std::max(top, r.top), std::min(right, r.right),
                    std::min(bottom, r.bottom));
    }

    bool operator==(const Rect& o) const {
        return left == o.left && top == o.top && right == o.right && bottom == o.bottom;
    }
    bool operator!=(const Rect& o) const { return !(*this == o); }
};

inline PF_LRect aeRect(const Rect& r) {
    PF_LRect out;
    out.left = r.left;
    out.top = r.top;
    out.right = r.right;
    out.bottom = r.bottom;
    return out;
}

// ---- Borders --------------------------------------------------------------------------------

// How a coordinate outside an image is folded back into it. Values other than 1..3 leave the
// coordinate as it is, like BorderNone.
enum BorderType : int { BorderNone = 0, BorderClamp = 1, BorderRepeat = 2, BorderMirror = 3 };

struct Border {
    // pos in pixels against an image of size pixels. Clamp: to 0..size-1. Repeat: period size
    // (-1 gives size-1). Mirror: reflection repeating the edge pixel, period 2*size (-1 gives 0,
    // size gives size-1). Repeat and mirror leave pos unchanged when size < 1, where there is
    // no pixel to fold onto.
    static int offset(int pos, int size, BorderType type);

    // pos in 16.16; size in pixels, or already in 16.16 when sizeIsFixed. The result lies in
    // 0..last pixel position (size - 0x10000 in 16.16) for clamp, repeat and mirror.
    static int offsetF(int pos, int size, BorderType type, bool sizeIsFixed);
    static void offsetF(VectorFixed& v, int width, int height, BorderType type, bool sizeIsFixed);
    // Sizes already in 16.16 with their last positions (normally size - 0x10000), for callers
    // that fold many points against one image.
    static void offsetF(VectorFixed& v, int width, int maxX, int height, int maxY, BorderType type);
};

} // namespace Ombrel
