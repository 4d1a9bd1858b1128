#include <gtest/gtest.h>

#include <set>
#include <string>

#include "FakeBasicSuite.h"
#include "Util/AEGP_SuiteHandler.h"

using OmbrelTest::FakeBasicSuite;
using OmbrelTest::SuiteKey;

namespace {

// Distinct non-null tables; the handler never calls through them here.
const int kTable[8] = {};

class SuiteHandlerTest : public ::testing::Test {
protected:
    SuiteHandlerTest() {
        host.provide("PF Handle Suite", 2, &kTable[0]);
        host.provide("AEGP Utility Suite", 7, &kTable[1]);
        host.provide("PF Iterate8 Suite", 1, &kTable[2]);
        host.provide("PF World Suite", 1, &kTable[3]);
        host.provide("AEGP Iterate Suite", 1, &kTable[4]);
        host.provide("AEGP Layer Suite", 8, &kTable[5]);
        host.provide("AEGP Layer Suite", 10, &kTable[6]);
    }

    std::size_t slotOf(const std::string& name, A_long version) {
        for (std::size_t i = 0; i < AEGP_SuiteHandler::kSuiteCount; ++i) {
            const auto& s = AEGP_SuiteHandler::KnownSuites()[i];
            if (name == s.name && s.version == version)
                return i;
        }
        ADD_FAILURE() << name << " v" << version << " is not a known suite";
        return 0;
    }

    FakeBasicSuite host;
};

TEST_F(SuiteHandlerTest, UnusedHandlerMakesNoHostCall) {
    { AEGP_SuiteHandler suites(&host.suite); }
    EXPECT_TRUE(host.acquires.empty());
    EXPECT_TRUE(host.releases.empty());
}

TEST_F(SuiteHandlerTest, AcquiresOnceAndReleasesOnce) {
    {
        AEGP_SuiteHandler suites(&host.suite);
        const void* first = suites.HandleSuite2();
        EXPECT_EQ(first, suites.HandleSuite2());
        EXPECT_EQ(first, suites.HandleSuite2());
        EXPECT_EQ(first, &kTable[0]);
        EXPECT_EQ(host.acquires.size(), 1u);
        EXPECT_TRUE(host.releases.empty());
    }
    ASSERT_EQ(host.releases.size(), 1u);
    EXPECT_EQ(host.releases[0], (SuiteKey{"PF Handle Suite", 2}));
    EXPECT_EQ(host.held("PF Handle Suite", 2), 0);
}

TEST_F(SuiteHandlerTest, EachAccessorNamesItsSuite) {
    AEGP_SuiteHandler suites(&host.suite);
    EXPECT_EQ(static_cast<const void*>(suites.UtilitySuite7()), &kTable[1]);
    EXPECT_EQ(static_cast<const void*>(suites.Iterate8Suite1()), &kTable[2]);
    EXPECT_EQ(static_cast<const void*>(suites.WorldSuite1()), &kTable[3]);
    EXPECT_EQ(static_cast<const void*>(suites.IterateSuite1()), &kTable[4]);
}

TEST_F(SuiteHandlerTest, ReleasesInTableOrderWhateverTheAcquireOrder) {
    {
        AEGP_SuiteHandler suites(&host.suite);
        suites.IterateSuite1();
        suites.WorldSuite1();
        suites.Iterate8Suite1();
        suites.HandleSuite2();
        suites.UtilitySuite7();
    }
    const std::vector<SuiteKey> expected = {{"AEGP Utility Suite", 7},
                                            {"PF Handle Suite", 2},
                                            {"PF World Suite", 1},
                                            {"PF Iterate8 Suite", 1},
                                            {"AEGP Iterate Suite", 1}};
    EXPECT_EQ(host.releases, expected);
}

TEST_F(SuiteHandlerTest, VersionsOfOneNameAreSeparateSlots) {
    {
        AEGP_SuiteHandler suites(&host.suite);
        EXPECT_EQ(suites.Suite(slotOf("AEGP Layer Suite", 10)), &kTable[6]);
        EXPECT_EQ(suites.Suite(slotOf("AEGP Layer Suite", 8)), &kTable[5]);
        EXPECT_EQ(host.acquires.size(), 2u);
    }
    const std::vector<SuiteKey> expected = {{"AEGP Layer Suite", 8}, {"AEGP Layer Suite", 10}};
    EXPECT_EQ(host.releases, expected);
}

TEST_F(SuiteHandlerTest, RefusedSuiteThrows516AndIsAskedForAgain) {
    AEGP_SuiteHandler suites(&host.suite);
    const std::size_t slot = slotOf("PF Fill Matte Suite", 2);
    for (int attempt = 1; attempt <= 2; ++attempt) {
        try {
            suites.Suite(slot);
            FAIL() << "a refused suite must throw";
        } catch (const PF_Err& err) {
            EXPECT_EQ(err, PF_Err_BAD_CALLBACK_PARAM);
        }
        EXPECT_EQ(host.acquires.size(), static_cast<std::size_t>(attempt));
    }
}

TEST_F(SuiteHandlerTest, ErrorCodeWithTableCountsAsMissing) {
    host.errorButTable.insert({"PF Handle Suite", 2});
    AEGP_SuiteHandler suites(&host.suite);
    EXPECT_THROW(suites.HandleSuite2(), PF_Err);
}

TEST_F(SuiteHandlerTest, SuitesAcquiredBeforeAThrowAreStillReleased) {
    try {
        AEGP_SuiteHandler suites(&host.suite);
        suites.HandleSuite2();
        suites.Suite(slotOf("DRAWBOT Path Suite", 1)); // not provided
        FAIL();
    } catch (const PF_Err& err) {
        EXPECT_EQ(err, PF_Err_BAD_CALLBACK_PARAM);
    }
    EXPECT_EQ(host.releases, (std::vector<SuiteKey>{{"PF Handle Suite", 2}}));
}

TEST(SuiteHandler, NullBasicSuiteThrows516) {
    try {
        AEGP_SuiteHandler suites(nullptr);
        FAIL();
    } catch (const PF_Err& err) {
        EXPECT_EQ(err, PF_Err_BAD_CALLBACK_PARAM);
    }
}

TEST(SuiteHandler, KnownSuitesAreDistinctPairsInReleaseOrder) {
    const AEGP_SuiteHandler::SuiteName* suites = AEGP_SuiteHandler::KnownSuites();
    std::set<SuiteKey> seen;
    for (std::size_t i = 0; i < AEGP_SuiteHandler::kSuiteCount; ++i)
        EXPECT_TRUE(seen.insert({suites[i].name, suites[i].version}).second)
            << suites[i].name << " v" << suites[i].version << " appears twice";
    EXPECT_EQ(seen.size(), 101u);
    EXPECT_EQ(SuiteKey(suites[0].name, suites[0].version), SuiteKey("AEGP Marker Suite", 1));
    EXPECT_EQ(SuiteKey(suites[100].name, suites[100].version), SuiteKey("AEGP Iterate Suite", 1));
    // A name with several versions keeps them in their listed order, not sorted.
    EXPECT_EQ(SuiteKey(suites[4].name, suites[4].version), SuiteKey("AEGP Stream Suite", 9));
    EXPECT_EQ(SuiteKey(suites[7].name, suites[7].version), SuiteKey("AEGP Stream Suite", 4));
}

} // namespace
