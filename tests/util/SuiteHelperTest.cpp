#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <string>

#include "FakeBasicSuite.h"
#include "TestUtils.h"
#include "Util/AEFX_SuiteHelper.h"

using OmbrelTest::FakeBasicSuite;
using OmbrelTest::Records;
using OmbrelTest::SuiteKey;

namespace {

const int kTables[4] = {};
const char kDraw[] = "DRAWBOT Draw Suite";
const char kSupplier[] = "DRAWBOT Supplier Suite";
const char kSurface[] = "DRAWBOT Surface Suite";
const char kPath[] = "DRAWBOT Path Suite";

void* const kUntouched = reinterpret_cast<void*>(0x1234);

TEST(SuiteHelper, AcquireWithoutBasicSuiteReportsTheDefaultMessage) {
    Records r;
    r.out.out_flags = 0x4;
    void* suite = kUntouched;
    EXPECT_EQ(AEFX_AcquireSuite(&r.in, &r.out, "PF World Suite", 2, nullptr, &suite),
              PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(suite, kUntouched);
    EXPECT_STREQ(r.out.return_msg, "Not able to acquire AEFX Suite.");
    EXPECT_EQ(r.out.out_flags, 0x4 | PF_OutFlag_DISPLAY_ERROR_MESSAGE);
}

// Without the host's formatter the message is copied, cut to fit: at most 255 characters and the
// terminator, never a byte past return_msg.
TEST(SuiteHelper, LongMessagesAreCutToFitReturnMsg) {
    for (std::size_t length : {254u, 255u, 256u, 300u}) {
        struct {
            PF_OutData out;
            unsigned char after[16];
        } guarded;
        std::memset(&guarded, 0x5A, sizeof guarded);
        guarded.out.out_flags = 0;
        Records r;
        r.in.utils = nullptr;
        const std::string message(length, 'm');
        void* suite = nullptr;
        AEFX_AcquireSuite(&r.in, &guarded.out, "PF World Suite", 2, message.c_str(), &suite);
        const char* text = guarded.out.return_msg;
        EXPECT_EQ(std::string(text, strnlen(text, sizeof guarded.out.return_msg)),
                  message.substr(0, PF_MAX_EFFECT_MSG_LEN))
            << length << " characters";
        const auto* bytes = reinterpret_cast<const unsigned char*>(&guarded);
        const std::size_t end = offsetof(PF_OutData, return_msg) + sizeof guarded.out.return_msg;
        for (std::size_t i = end; i < sizeof guarded; ++i)
            ASSERT_EQ(bytes[i], 0x5A)
                << length << " characters: byte " << i - end << " past return_msg written";
    }
}

TEST(SuiteHelper, RefusedSuiteReportsTheCallersMessage) {
    FakeBasicSuite host;
    Records r(&host.suite);
    void* suite = nullptr;
    EXPECT_EQ(AEFX_AcquireSuite(&r.in, &r.out, "PF World Suite", 2, "Couldn't load suite.", &suite),
              PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(suite, nullptr);
    EXPECT_STREQ(r.out.return_msg, "Couldn't load suite.");
    EXPECT_EQ(r.out.out_flags, PF_OutFlag_DISPLAY_ERROR_MESSAGE);
}

TEST(SuiteHelper, TableCountsAsSuccessWhateverTheHostCode) {
    FakeBasicSuite host;
    host.provide("PF World Suite", 2, &kTables[0]);
    host.errorButTable.insert({"PF World Suite", 2});
    Records r(&host.suite);
    void* suite = nullptr;
    EXPECT_EQ(AEFX_AcquireSuite(&r.in, &r.out, "PF World Suite", 2, nullptr, &suite), PF_Err_NONE);
    EXPECT_EQ(suite, &kTables[0]);
    EXPECT_EQ(r.out.out_flags, 0);
    EXPECT_STREQ(r.out.return_msg, "");
}

TEST(SuiteHelper, ReleaseGoesToTheHostOrReportsItsAbsence) {
    FakeBasicSuite host;
    Records withHost(&host.suite);
    EXPECT_EQ(AEFX_ReleaseSuite(&withHost.in, &withHost.out, "PF World Suite", 2, nullptr),
              PF_Err_NONE);
    EXPECT_EQ(host.releases, (std::vector<SuiteKey>{{"PF World Suite", 2}}));

    Records without;
    EXPECT_EQ(AEFX_ReleaseSuite(&without.in, &without.out, "PF World Suite", 2, nullptr),
              PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_STREQ(without.out.return_msg, "Not able to release AEFX Suite.");
    EXPECT_EQ(without.out.out_flags, PF_OutFlag_DISPLAY_ERROR_MESSAGE);

    Records custom;
    AEFX_ReleaseSuite(&custom.in, &custom.out, "PF World Suite", 2, "Couldn't release suite.");
    EXPECT_STREQ(custom.out.return_msg, "Couldn't release suite.");
}

TEST(SuiteHelper, DrawbotSuitesAreAcquiredInOrderUpToTheFirstFailure) {
    FakeBasicSuite host;
    host.provide(kDraw, 1, &kTables[0]);
    host.provide(kSupplier, 1, &kTables[1]);
    host.provide(kPath, 1, &kTables[3]); // the surface suite is missing
    Records r(&host.suite);
    DrawbotSuites suites{nullptr, nullptr, nullptr, kUntouched};
    EXPECT_EQ(AEFX_AcquireDrawbotSuites(&r.in, &r.out, &suites), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(suites.draw, &kTables[0]);
    EXPECT_EQ(suites.supplier, &kTables[1]);
    EXPECT_EQ(suites.surface, nullptr);
    EXPECT_EQ(suites.path, kUntouched);
    EXPECT_EQ(host.acquires, (std::vector<SuiteKey>{{kDraw, 1}, {kSupplier, 1}, {kSurface, 1}}));
    EXPECT_STREQ(r.out.return_msg, "Not able to acquire AEFX Suite.");

    host.provide(kSurface, 1, &kTables[2]);
    EXPECT_EQ(AEFX_AcquireDrawbotSuites(&r.in, &r.out, &suites), PF_Err_NONE);
    EXPECT_EQ(suites.path, &kTables[3]);
}

TEST(SuiteHelper, DrawbotReleaseTriesAllFourAndAlwaysSucceeds) {
    FakeBasicSuite host;
    Records r(&host.suite);
    EXPECT_EQ(AEFX_ReleaseDrawbotSuites(&r.in, &r.out), PF_Err_NONE);
    EXPECT_EQ(host.releases,
              (std::vector<SuiteKey>{{kDraw, 1}, {kSupplier, 1}, {kSurface, 1}, {kPath, 1}}));

    Records without;
    EXPECT_EQ(AEFX_ReleaseDrawbotSuites(&without.in, &without.out), PF_Err_NONE);
    EXPECT_STREQ(without.out.return_msg, "Not able to release AEFX Suite.");
    EXPECT_EQ(without.out.out_flags, PF_OutFlag_DISPLAY_ERROR_MESSAGE);
}

} // namespace
