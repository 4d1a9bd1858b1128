#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "Util/Smart_Utils.h"

namespace {

bool same(const PF_LRect& a, const PF_LRect& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

TEST(SmartUtils, IsEmptyRect) {
    const struct {
        PF_LRect r;
        bool empty;
    } cases[] = {{{0, 0, 0, 5}, true},
                 {{0, 0, 1, 1}, false},
                 {{5, 0, 3, 1}, true},
                 {{0, 4, 3, 4}, true},
                 {{-3, -3, -2, -2}, false}};
    for (const auto& c : cases)
        EXPECT_EQ(IsEmptyRect(&c.r), c.empty) << c.r.left << "," << c.r.top << "," << c.r.right;
}

TEST(SmartUtils, UnionLRect) {
    const struct {
        PF_LRect src, dst, expected;
    } cases[] = {
        {{2, 2, 4, 4}, {0, 0, 0, 0}, {2, 2, 4, 4}},   // empty dst takes src
        {{7, 7, 7, 7}, {0, 0, 0, 0}, {7, 7, 7, 7}},   // ... even an empty src
        {{7, 7, 7, 7}, {0, 0, 3, 3}, {0, 0, 3, 3}},   // empty src changes nothing
        {{2, -1, 5, 2}, {0, 0, 3, 3}, {0, -1, 5, 3}}, // bounding box
    };
    for (const auto& c : cases) {
        PF_LRect dst = c.dst;
        UnionLRect(&c.src, &dst);
        EXPECT_TRUE(same(dst, c.expected))
            << dst.left << "," << dst.top << "," << dst.right << "," << dst.bottom;
    }
}

TEST(SmartUtils, UnionOfNonEmptyRectsContainsBothAndNoMore) {
    std::mt19937 rng(7);
    std::uniform_int_distribution<A_long> coord(-50, 50);
    for (int i = 0; i < 1000; ++i) {
        PF_LRect a{coord(rng), coord(rng), 0, 0}, b{coord(rng), coord(rng), 0, 0};
        a.right = a.left + 1 + coord(rng) % 20 + 20;
        a.bottom = a.top + 1 + coord(rng) % 20 + 20;
        b.right = b.left + 1 + coord(rng) % 20 + 20;
        b.bottom = b.top + 1 + coord(rng) % 20 + 20;
        PF_LRect u = b;
        UnionLRect(&a, &u);
        EXPECT_EQ(u.left, std::min(a.left, b.left));
        EXPECT_EQ(u.top, std::min(a.top, b.top));
        EXPECT_EQ(u.right, std::max(a.right, b.right));
        EXPECT_EQ(u.bottom, std::max(a.bottom, b.bottom));
    }
}

TEST(SmartUtils, IsEdgePixelTreatsRightAndBottomAsInclusive) {
    const PF_LRect r{0, 0, 10, 10};
    const struct {
        A_long x, y;
        bool edge;
    } cases[] = {{10, 5, true}, {5, 10, true},  {0, 0, true},    {10, 10, true}, {0, 11, false},
                 {5, 5, false}, {11, 5, false}, {10, 11, false}, {-1, 0, false}};
    for (const auto& c : cases)
        EXPECT_EQ(IsEdgePixel(&r, c.x, c.y), c.edge) << c.x << "," << c.y;
}

} // namespace
