// Rectangles, vectors, 16.16 rotation and border folding.
#include <climits>
#include <cmath>
#include <numbers>

#include <gtest/gtest.h>

#include "Ombrel/OmbrelGeneral.h"

using namespace Ombrel;

namespace {

TEST(ColourGeometry, Rectangles) {
    EXPECT_EQ(Rect(0, 0, 10, 5).getWidth(), 10);
    EXPECT_EQ(Rect(0, 0, 10, 5).getHeight(), 5);
    EXPECT_FALSE(Rect(0, 0, 10, 5).isEmpty());
    EXPECT_TRUE(Rect(3, 0, 3, 5).isEmpty());
    EXPECT_TRUE(Rect(0, 5, 3, 4).isEmpty());
    EXPECT_EQ(Rect(4, 0, 1, 5).getWidth(), -3); // stored unsorted

    EXPECT_EQ(Rect(Vector<int>(5, 1), Vector<int>(2, 7)), Rect(2, 1, 5, 7));
    // Truncation toward zero, not floor or rounding.
    EXPECT_EQ(Rect(Vector<double>(-1.5, 0.9), Vector<double>(2.7, 3.2)), Rect(-1, 0, 2, 3));
    EXPECT_EQ(Rect(Vector<double>(2.7, -0.2), Vector<double>(-1.5, -3.9)), Rect(-1, -3, 2, 0));
    // Doubles no int can hold saturate; a NaN corner coordinate makes both sides of its axis 0.
    EXPECT_EQ(Rect(Vector<double>(-1e300, NAN), Vector<double>(1e300, 2)),
              Rect(INT_MIN, 0, INT_MAX, 0));

    const PF_LRect host{-3, 4, 100, 200};
    const PF_LRect back = aeRect(Rect(host));
    EXPECT_TRUE(back.left == -3 && back.top == 4 && back.right == 100 && back.bottom == 200);
    Rect r;
    EXPECT_TRUE(r.isEmpty());
    r.setRect(host);
    EXPECT_EQ(r.getLeftTop().x, -3);
    EXPECT_EQ(r.getRightBottom().y, 200);
    EXPECT_NE(r, Rect(-3, 4, 100, 201));
}

TEST(ColourGeometry, IntersectionKeepsTheOverlapOnly) {
    struct Case {
        Rect a, b, overlap;
        bool empty;
    };
    const Rect layer(0, 0, 10, 5);
    const Case cases[] = {
        {Rect(2, 1, 4, 3), layer, Rect(2, 1, 4, 3), false},      // inside
        {Rect(-5, -3, 4, 2), layer, Rect(0, 0, 4, 2), false},    // over the top left corner
        {Rect(7, 2, 100, 100), layer, Rect(7, 2, 10, 5), false}, // over the bottom right
        {Rect(-9, -9, 99, 99), layer, layer, false},             // around
        {Rect(3, -2, 4, 9), layer, Rect(3, 0, 4, 5), false},     // one column through
        {Rect(10, 0, 12, 5), layer, Rect(10, 0, 10, 5), true},   // touching the right edge
        {Rect(-4, -4, 0, 5), layer, Rect(0, 0, 0, 5), true},     // touching the left edge
        {Rect(0, 6, 10, 9), layer, Rect(0, 6, 10, 5), true},     // below: corners cross
        {Rect(5, 3, 2, 4), layer, Rect(5, 3, 2, 4), true},       // crossed to begin with
        {Rect(INT_MIN, INT_MIN, INT_MAX, INT_MAX), layer, layer, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.a.intersect(c.b), c.overlap) << c.a.left << "," << c.a.top;
        EXPECT_EQ(c.b.intersect(c.a), c.overlap) << "order matters for " << c.a.left;
        EXPECT_EQ(c.a.intersect(c.b).isEmpty(), c.empty) << c.a.left << "," << c.a.top;
    }
}

TEST(ColourGeometry, BorderTableForSizeFour) {
    struct Case {
        BorderType type;
        int pos, want;
    };
    const Case cases[] = {{BorderClamp, -3, 0},   {BorderClamp, 6, 3},   {BorderClamp, 2, 2},
                          {BorderRepeat, -1, 3},  {BorderRepeat, 9, 1},  {BorderRepeat, -8, 0},
                          {BorderMirror, -1, 0},  {BorderMirror, -5, 3}, {BorderMirror, 4, 3},
                          {BorderMirror, 8, 0},   {BorderMirror, 5, 2},  {BorderNone, -7, -7},
                          {BorderType(9), 17, 17}};
    for (const Case& k : cases) {
        EXPECT_EQ(Border::offset(k.pos, 4, k.type), k.want) << k.type << ' ' << k.pos;
    }

    struct FixedCase {
        BorderType type;
        int pos, want;
    };
    const FixedCase fixed[] = {{BorderClamp, 0x3FFFF, 0x30000},
                               {BorderClamp, 0x50000, 0x30000},
                               {BorderClamp, -1, 0},
                               {BorderMirror, -0x8000, 0},
                               {BorderMirror, 0x40000, 0x30000},
                               {BorderMirror, 0x48000, 0x28000},
                               {BorderRepeat, -0x8000, 0x30000},
                               {BorderRepeat, 0x48000, 0x8000},
                               {BorderNone, -0x8000, -0x8000}};
    for (const FixedCase& k : fixed) {
        EXPECT_EQ(Border::offsetF(k.pos, 4, k.type, false), k.want) << k.type << ' ' << k.pos;
        EXPECT_EQ(Border::offsetF(k.pos, 0x40000, k.type, true), k.want) << k.type << ' ' << k.pos;
    }
}

// Repeat has period size, mirror period 2 * size and symmetry about -0.5; every fold lands on a
// pixel. At whole-pixel positions the 16.16 forms agree with the integer one.
TEST(ColourGeometry, BorderFoldsAreConsistent) {
    for (int size = 1; size <= 9; ++size) {
        for (int pos = -60; pos <= 60; ++pos) {
            for (const BorderType t : {BorderClamp, BorderRepeat, BorderMirror}) {
                const int got = Border::offset(pos, size, t);
                ASSERT_TRUE(got >= 0 && got < size) << t << ' ' << size << ' ' << pos;
                if (pos >= 0 && pos < size) {
                    ASSERT_EQ(got, pos);
                }
                const int fixedPos = pos * 0x10000;
                ASSERT_EQ(Border::offsetF(fixedPos, size, t, false), got * 0x10000);
                VectorFixed v(fixedPos, fixedPos + 0x8000), w = v;
                Border::offsetF(v, size, 2 * size, t, false);
                Border::offsetF(w, size << 16, (size << 16) - 0x10000, 2 * size << 16,
                                (2 * size << 16) - 0x10000, t);
                ASSERT_EQ(v.x, got * 0x10000);
                ASSERT_EQ(v.y, Border::offsetF(fixedPos + 0x8000, 2 * size, t, false));
                ASSERT_TRUE(v.x == w.x && v.y == w.y);
            }
            EXPECT_EQ(Border::offset(pos + size, size, BorderRepeat),
                      Border::offset(pos, size, BorderRepeat));
            EXPECT_EQ(Border::offset(pos + 2 * size, size, BorderMirror),
                      Border::offset(pos, size, BorderMirror));
            EXPECT_EQ(Border::offset(-1 - pos, size, BorderMirror),
                      Border::offset(pos, size, BorderMirror));
        }
    }
    // Degenerate and huge sizes neither divide by zero nor overflow.
    EXPECT_EQ(Border::offset(5, 0, BorderRepeat), 5);
    EXPECT_EQ(Border::offsetF(5, 0, BorderMirror, true), 5);
    EXPECT_EQ(Border::offset(INT_MIN, INT_MAX, BorderMirror), INT_MAX - 1);
    EXPECT_EQ(Border::offsetF(-1, 40000, BorderRepeat, false), INT_MAX);
}

TEST(ColourGeometry, FixedPointRotation) {
    const VectorFixed zero = createRotatedFixed(0),
                      quarter = createRotatedFixed(std::numbers::pi / 2);
    EXPECT_TRUE(zero.x == 65536 && zero.y == 0);
    EXPECT_TRUE(quarter.x == 0 && quarter.y == -65536);
    const VectorFixed turned = VectorFixed(65536, 0).rotate(quarter);
    EXPECT_TRUE(turned.x == 0 && turned.y == -65536);
    EXPECT_TRUE(createRotatedFixed(NAN).x == 0 && createRotatedFixed(NAN).y == 0);

    const VectorFixed p(5 * 65536 + 1234, -3 * 65536 - 777);
    for (int i = -64; i <= 64; ++i) {
        const double a = i * 0.1;
        const VectorFixed r = createRotatedFixed(a);
        // Nearest, halves away from zero.
        ASSERT_EQ(r.x, std::lround(std::cos(a) * 65536)) << a;
        ASSERT_EQ(r.y, std::lround(-std::sin(a) * 65536)) << a;
        const VectorFixed q = p.rotate(r);
        const double wantX = p.x * std::cos(a) + p.y * std::sin(a);
        const double wantY = p.y * std::cos(a) - p.x * std::sin(a);
        ASSERT_NEAR(q.x, wantX, 0.25 * 65536) << a; // a quarter pixel
        ASSERT_NEAR(q.y, wantY, 0.25 * 65536) << a;
    }
    VectorFixed s = VectorFixed(INT_MAX, 1) + VectorFixed(1, 1);
    EXPECT_TRUE(s.x == INT_MIN && s.y == 2); // wraps, no overflow
    s = (s - VectorFixed(0, 5)) * 3;
    EXPECT_EQ(s.y, -9);
}

TEST(ColourGeometry, Vectors) {
    Vector<double> z;
    z.normalize();
    EXPECT_TRUE(z.x == 0 && z.y == 0);
    Vector<int> i(3, 4);
    EXPECT_EQ(i.length(), 5.0);
    i.normalize();
    EXPECT_TRUE(i.x == 0 && i.y == 0);
    Vector<int> axis(0, -7);
    axis.normalize();
    EXPECT_TRUE(axis.x == 0 && axis.y == -1);
    EXPECT_NEAR(Vector<int>(46341, 46341).length(), 46341 * std::numbers::sqrt2, 1e-6);
    Vector<double> d(3, 4);
    d.normalize();
    EXPECT_TRUE(d.x == 0.6 && d.y == 0.8);
    Vector<float> f(2.0f);
    f *= Vector<float>(1.5f, -2.0f);
    EXPECT_TRUE(f.x == 3.0f && f.y == -4.0f);
    EXPECT_EQ(f.dot(Vector<float>(1, 1)), -1.0f);
    EXPECT_EQ(f.cross(Vector<float>(1, 0)), 4.0f);

    const Vector3d<double> x(1, 0, 0), y(0, 1, 0);
    const Vector3d<double> c = x.cross(y);
    EXPECT_TRUE(c.x == 0 && c.y == 0 && c.z == 1);
    EXPECT_EQ(y.cross(x).z, -1);
    Vector3d<float> v(2, 3, 6);
    EXPECT_EQ(v.length(), 7.0f);
    v.normalize();
    EXPECT_FLOAT_EQ(v.dot(v), 1.0f);
}

} // namespace
