#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <vector>

#include "FakeBasicSuite.h"
#include "Ombrel/Filter/OmbrelFilterMulti.h"
#include "TestUtils.h"

using namespace Ombrel;
using OmbrelTest::FakeBasicSuite;
using OmbrelTest::Records;

namespace {

struct Band {
    int left, top, right, bottom;
    bool operator==(const Band&) const = default;
};

// Records the bands it is asked to run; counts live instances.
class RecordingFilter : public IFilterWithRegion {
public:
    struct Parameter {
        std::vector<Band>* bands;
        std::mutex* lock;
        int* alive;
    };
    explicit RecordingFilter(const Parameter& p) : p_(p) { ++*p_.alive; }
    ~RecordingFilter() override { --*p_.alive; }
    void execute(Layer&, Layer&) override {}
    void execute(Layer&, Layer&, const Rect& r) override {
        std::lock_guard<std::mutex> guard(*p_.lock);
        p_.bands->push_back({r.left, r.top, r.right, r.bottom});
    }

private:
    Parameter p_;
};

// An iterate suite that runs iterations one after another and remembers what it was asked.
struct FakeIterate {
    static inline int calls = 0;
    static inline A_long lastIterations = -1;
    static inline PF_Err result = PF_Err_NONE;
    static PF_Err iterateGeneric(A_long iterations, void* refcon, PF_IterateGenericFunc fn) {
        ++calls;
        lastIterations = iterations;
        for (A_long i = 0; i < iterations; ++i)
            EXPECT_EQ(fn(refcon, 0, i, iterations), PF_Err_NONE);
        return result;
    }
};

class FilterMultiTest : public ::testing::Test {
protected:
    FilterMultiTest() : records(&host.suite) {
        suite.iterate_generic = &FakeIterate::iterateGeneric;
        host.provide(kPFIterate8Suite, 1, &suite);
        FakeIterate::calls = 0;
        FakeIterate::result = PF_Err_NONE;
        world.width = 8;
        world.height = 40;
        world.rowbytes = 8 * 4;
    }

    std::vector<Band> run(const Rect& region, int count) {
        bands.clear();
        Layer layer(&records.in, &records.out, &world, BPC_8);
        err = FilterMulti<RecordingFilter>(&records.in, layer, layer, region, count,
                                           {&bands, &lock, &alive});
        std::sort(bands.begin(), bands.end(),
                  [](const Band& a, const Band& b) { return a.top < b.top; });
        return bands;
    }

    FakeBasicSuite host;
    Records records;
    PF_Iterate8Suite1 suite{};
    PF_LayerDef world{};
    std::vector<Band> bands;
    std::mutex lock;
    int alive = 0;
    PF_Err err = -1;
};

TEST_F(FilterMultiTest, BandsSpreadLeftoverRows) {
    EXPECT_EQ(run(Rect(0, 0, 8, 10), 4),
              (std::vector<Band>{{0, 0, 8, 2}, {0, 2, 8, 5}, {0, 5, 8, 7}, {0, 7, 8, 10}}));
    EXPECT_EQ(err, PF_Err_NONE);
    EXPECT_EQ(FakeIterate::lastIterations, 4);
}

TEST_F(FilterMultiTest, BandsStartAtTheRegionTopAndKeepItsColumns) {
    EXPECT_EQ(run(Rect(3, 5, 6, 15), 2), (std::vector<Band>{{3, 5, 6, 10}, {3, 10, 6, 15}}));
}

TEST_F(FilterMultiTest, BandsCoverEveryRowOnceForAnyCount) {
    for (int count = 1; count <= 40; ++count) {
        const auto got = run(Rect(0, 3, 8, 40), count);
        ASSERT_EQ(got.size(), static_cast<std::size_t>(std::min(count, 37)));
        int next = 3;
        for (const Band& b : got) {
            EXPECT_EQ(b.top, next);
            EXPECT_GE(b.bottom - b.top, 37 / static_cast<int>(got.size()));
            EXPECT_LE(b.bottom - b.top, 37 / static_cast<int>(got.size()) + 1);
            next = b.bottom;
        }
        EXPECT_EQ(next, 40);
    }
}

TEST_F(FilterMultiTest, CountIsKeptBetweenOneAndTheRows) {
    EXPECT_EQ(run(Rect(0, 0, 8, 3), 0), (std::vector<Band>{{0, 0, 8, 3}}));
    EXPECT_EQ(run(Rect(0, 0, 8, 3), -5), (std::vector<Band>{{0, 0, 8, 3}}));
    EXPECT_EQ(run(Rect(0, 0, 8, 3), 1000000),
              (std::vector<Band>{{0, 0, 8, 1}, {0, 1, 8, 2}, {0, 2, 8, 3}}));
    EXPECT_EQ(FakeIterate::lastIterations, 3);
}

TEST_F(FilterMultiTest, EmptyRegionTouchesNothing) {
    for (const Rect& r : {Rect(0, 0, 8, 0), Rect(0, 0, 0, 10), Rect(5, 5, 2, 9)}) {
        EXPECT_TRUE(run(r, 4).empty());
        EXPECT_EQ(err, PF_Err_NONE);
    }
    EXPECT_EQ(FakeIterate::calls, 0);
    EXPECT_TRUE(host.acquires.empty());
}

TEST_F(FilterMultiTest, ReturnsTheIterationStatusAndReleasesEverything) {
    FakeIterate::result = 1234;
    run(Rect(0, 0, 8, 10), 2);
    EXPECT_EQ(err, 1234);
    EXPECT_EQ(alive, 0);
    EXPECT_EQ(host.held(kPFIterate8Suite, 1), 0);
    EXPECT_EQ(host.acquires.size(), 1u);
}

TEST_F(FilterMultiTest, MissingIterateSuiteThrows516WithNothingLeft) {
    host.tables.clear();
    EXPECT_THROW(run(Rect(0, 0, 8, 10), 2), PF_Err);
    EXPECT_EQ(alive, 0);
}

TEST_F(FilterMultiTest, TallRegionsSplitManyWaysDoNotOverflow) {
    // i * h exceeds 32 bits here; the bands must still tile the rows.
    world.height = 3000000;
    Layer layer(&records.in, &records.out, &world, BPC_8);
    std::vector<Band> got;
    int count = 2000;
    err = FilterMulti<RecordingFilter>(&records.in, layer, layer, Rect(0, 0, 1, 3000000), count,
                                       {&got, &lock, &alive});
    ASSERT_EQ(got.size(), 2000u);
    std::sort(got.begin(), got.end(), [](const Band& a, const Band& b) { return a.top < b.top; });
    EXPECT_EQ(got.front().top, 0);
    EXPECT_EQ(got.back().bottom, 3000000);
    for (std::size_t i = 1; i < got.size(); ++i)
        ASSERT_EQ(got[i].top, got[i - 1].bottom);
}

} // namespace
