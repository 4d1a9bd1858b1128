#include <gtest/gtest.h>

#include <sstream>

#include "Reporter.h"

using namespace OmbrelRender;

TEST(Reporter, ErrorsAreOneLineNamingTheProgramOnce) {
    std::ostringstream out, err;
    Reporter reporter(out, err);
    reporter.error("in.png", "cannot read: no such file");
    reporter.error("global setdown failed: PF_Err 7");
    reporter.usageError("unknown option '--x'");
    EXPECT_EQ(err.str(), "ombrel-render: in.png: cannot read: no such file\n"
                         "ombrel-render: global setdown failed: PF_Err 7\n"
                         "ombrel-render: unknown option '--x'\n"
                         "Try 'ombrel-render --help'.\n");
    EXPECT_EQ(out.str(), "");
}

TEST(Reporter, QuietDropsInfoButNeitherErrorsNorWhatWasAskedFor) {
    std::ostringstream out, err;
    Reporter reporter(out, err);
    reporter.info("a -> b");
    reporter.setQuiet(true);
    reporter.info("c -> d");
    reporter.print("About\n");
    reporter.error("x", "failed");
    EXPECT_EQ(out.str(), "a -> b\nAbout\n");
    EXPECT_EQ(err.str(), "ombrel-render: x: failed\n");
}

TEST(Reporter, TheProgressLineIsClearedBeforeAnyOtherLineAndEndedOnce) {
    std::ostringstream out, err;
    Reporter reporter(out, err);
    reporter.startFrames(5, true);
    reporter.frameDone();
    EXPECT_EQ(err.str().rfind("\r1/5 frames, ", 0), 0u) << err.str();
    reporter.error("f", "failed");
    const std::string afterError = err.str();
    EXPECT_NE(afterError.find("\r\x1b[Kombrel-render: f: failed\n"), std::string::npos)
        << afterError;
    reporter.finishFrames();
    EXPECT_EQ(err.str(), afterError) << "no progress since the error: nothing to end";
    reporter.startFrames(5, true);
    reporter.frameDone();
    reporter.finishFrames();
    EXPECT_EQ(err.str().back(), '\n');

    // No progress line for short runs, when not asked for, or when quiet.
    std::ostringstream quietErr;
    Reporter quiet(out, quietErr);
    for (const auto& [total, show, beQuiet] :
         {std::tuple{3u, true, false}, std::tuple{9u, false, false}, std::tuple{9u, true, true}}) {
        quiet.setQuiet(beQuiet);
        quiet.startFrames(total, show);
        quiet.frameDone();
        quiet.finishFrames();
    }
    EXPECT_EQ(quietErr.str(), "");
}
