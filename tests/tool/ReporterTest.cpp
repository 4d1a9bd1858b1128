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

TEST(Reporter, ControlCharactersNeverReachTheTerminal) {
    const std::pair<const char*, const char*> cases[] = {
        {"two\nlines.png", "two\\nlines.png"},
        {"\x1b]0;title\x07\x1b[2J", "\\e]0;title\\x07\\e[2J"},
        {"tab\there\r", "tab\\there\\r"},
        {"del\x7f", "del\\x7F"},
        {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x8e\x9e",
         "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x8e\x9e"}, // UTF-8 stays
        {"csi \xc2\x9b", "csi \\xC2\\x9B"},            // C1 as UTF-8
        {"raw \x9b"
         "2J \xff \xe2\x82",
         "raw \\x9B2J \\xFF \\xE2\\x82"},
        {"C:\\shots\\a.png", "C:\\shots\\a.png"},
    };
    for (const auto& [text, shown] : cases)
        EXPECT_EQ(printable(text), shown) << shown;
    EXPECT_EQ(printable("a\nb\x1b", true), "a\nb\\e");

    std::ostringstream out, err;
    Reporter reporter(out, err);
    reporter.error("in\n.png", "cannot read: \x1b[31m");
    reporter.warning("w\r", "x");
    reporter.info("a\nb");
    reporter.print("PiPL\n  name \x1b[2J\n");
    EXPECT_EQ(err.str(), "ombrel-render: in\\n.png: cannot read: \\e[31m\n"
                         "ombrel-render: warning: w\\r: x\n");
    EXPECT_EQ(out.str(), "a\\nb\nPiPL\n  name \\e[2J\n");
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
