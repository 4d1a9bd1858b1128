#include <gtest/gtest.h>

#include "FrameList.h"
#include "Options.h"
#include "TempFolder.h"
#include "ToolError.h"

using namespace OmbrelRender;
using OmbrelRenderTest::TempFolder;
namespace fs = std::filesystem;

TEST(NumberPatterns, ParseAndFormat) {
    struct Case {
        const char* pattern;
        int number;
        const char* name;
    };
    for (const Case& c : {Case{"out.%04d.png", 7, "out.0007.png"}, Case{"%d.raw", 123, "123.raw"},
                          Case{"f%02d", 12345, "f12345"}, Case{"a%%b%d", 5, "a%b5"}}) {
        const auto pattern = parseNumberPattern(c.pattern);
        ASSERT_TRUE(pattern) << c.pattern;
        EXPECT_EQ(pattern->format(c.number), c.name);
    }
    for (const char* notOne :
         {"plain.png", "100%%.png", "%5d.png", "%s.png", "%d%d.png", "%0d", "%", "%04"})
        EXPECT_FALSE(parseNumberPattern(notOne)) << notOne;
}

TEST(NumberPatterns, AWidthOverThirtyTwoDigitsIsAUsageError) {
    const auto widest = parseNumberPattern("f%032d.png");
    ASSERT_TRUE(widest);
    EXPECT_EQ(widest->format(7), "f" + std::string(31, '0') + "7.png");
    for (const char* tooWide : {"f%033d.png", "f%0999d.png", "f%099999999999999999999d"})
        EXPECT_THROW(parseNumberPattern(tooWide), UsageError) << tooWide;
    std::vector<Frame> frames = listFrames({"x.png"});
    EXPECT_THROW(assignOutputs(frames, "f%0999d.png", 1, std::nullopt), UsageError);
}

TEST(FrameList, NoInputIsTheChart) {
    const auto frames = listFrames({});
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_TRUE(frames[0].input.empty());
}

TEST(FrameList, ASequenceStandsForItsExistingFilesInNumberOrder) {
    TempFolder folder;
    for (const char* name : {"s.0010.png", "s.0002.png", "s.12.png", "s.0003.tif", "t.0001.png"})
        OmbrelRenderTest::writeText(folder / name, "");
    const auto frames = listFrames({(folder / "s.%04d.png").string(), "plain.png"});
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[0].input, folder / "s.0002.png");
    EXPECT_EQ(frames[0].number, 2);
    EXPECT_EQ(frames[1].number, 10);
    EXPECT_EQ(frames[2].input, fs::path("plain.png"));
    EXPECT_EQ(frames[2].number, 3);

    EXPECT_THROW(listFrames({(folder / "none.%d.png").string()}), ToolError);
}

TEST(FrameList, AnExistingFileWhoseNameLooksLikeAPatternIsJustAFile) {
    TempFolder folder;
    OmbrelRenderTest::writeText(folder / "odd%d.png", "");
    const auto frames = listFrames({(folder / "odd%d.png").string()});
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].input, folder / "odd%d.png");
}

TEST(FrameList, OutputsByDefaultPatternFolderOrFile) {
    TempFolder folder;
    auto frames = listFrames({(folder / "in.png").string(), (folder / "b.raw").string()});
    assignOutputs(frames, std::nullopt, 3, std::nullopt);
    EXPECT_EQ(frames[0].output, folder / "in.rgb-to-hls.png");
    EXPECT_EQ(frames[1].output, folder / "b.rgb-to-hls.raw");

    assignOutputs(frames, (folder / "o.%03d.exr").string(), 1, std::nullopt);
    EXPECT_EQ(frames[0].output, folder / "o.001.exr");
    EXPECT_EQ(frames[1].output, folder / "o.002.exr");

    assignOutputs(frames, folder.path().string(), 6, std::nullopt);
    EXPECT_EQ(frames[1].output, folder / "b.hsb-to-rgb.raw");
    assignOutputs(frames, (folder / "new").string() + "/", 6, std::nullopt);
    EXPECT_EQ(frames[0].output, folder / "new" / "in.hsb-to-rgb.png");

    EXPECT_THROW(assignOutputs(frames, (folder / "one.png").string(), 1, std::nullopt), UsageError);

    auto single = listFrames({"x.tif"});
    assignOutputs(single, "y.exr", 1, std::nullopt);
    EXPECT_EQ(single[0].output, fs::path("y.exr"));
}

TEST(FrameList, TheChartIsNamedAfterItselfAndItsDepth) {
    auto chart = listFrames({});
    assignOutputs(chart, std::nullopt, 2, std::nullopt);
    EXPECT_EQ(chart[0].output, fs::path("chart.yuv-to-rgb.png"));
    assignOutputs(chart, std::nullopt, 2, OmbrelHost::Depth::Bits32);
    EXPECT_EQ(chart[0].output, fs::path("chart.yuv-to-rgb.exr"));
}

TEST(FrameList, TwoFramesNeverWriteOneFile) {
    TempFolder folder;
    fs::create_directory(folder / "a");
    fs::create_directory(folder / "b");
    auto frames =
        listFrames({(folder / "a" / "x.png").string(), (folder / "b" / "x.png").string()});
    EXPECT_THROW(assignOutputs(frames, (folder.path() / "out").string() + "/", 1, std::nullopt),
                 UsageError);
    auto same = listFrames({"x.png", "./x.png"});
    EXPECT_THROW(assignOutputs(same, std::nullopt, 1, std::nullopt), UsageError);
}

// ---- Outputs that would destroy an input --------------------------------------------------------

namespace {

std::string collisionOf(const std::vector<std::string>& inputs, const std::string& output) {
    auto frames = listFrames(inputs);
    assignOutputs(frames, output, 1, std::nullopt);
    try {
        checkCollisions(frames);
    } catch (const UsageError& e) {
        return e.what();
    }
    return "(accepted)";
}

} // namespace

TEST(Collisions, AnOutputMayNotBeAnotherFramesInput) {
    TempFolder folder;
    fs::create_directory(folder / "sub");
    for (const char* name : {"1.png", "2.png", "3.png"})
        OmbrelRenderTest::writeText(folder / name, "image");
    fs::create_hard_link(folder / "1.png", folder / "hard.png");
    const auto at = [&](const std::string& name) { return (folder / name).string(); };

    // Frame 1 (2.png) would write 1.png, the input of frame 2.
    const std::string cause = collisionOf({at("2.png"), at("1.png")}, at("%d.png"));
    EXPECT_NE(cause.find("the input of " + at("1.png")), std::string::npos) << cause;
    // The same file by other names: "." and "..", a hard link, a symbolic link.
    EXPECT_NE(collisionOf({at("3.png"), at("sub/../1.png")}, at("%d.png")), "(accepted)");
    EXPECT_NE(collisionOf({at("3.png"), at("hard.png")}, at("./%d.png")), "(accepted)");
    if (!OmbrelRenderTest::symbolicLinksWork(folder))
        GTEST_SKIP() << "no symbolic links on this system";
    fs::create_symlink("2.png", folder / "soft.png");
    EXPECT_NE(collisionOf({at("soft.png"), at("3.png")}, at("sub/../%d.png")), "(accepted)");
    // An output that is a link to another frame's input.
    fs::create_symlink("3.png", folder / "o1.png");
    EXPECT_NE(collisionOf({at("1.png"), at("3.png")}, at("o%d.png")), "(accepted)");
}

TEST(Collisions, AFrameMayReplaceItsOwnInput) {
    TempFolder folder;
    for (const char* name : {"1.png", "2.png"})
        OmbrelRenderTest::writeText(folder / name, "image");
    const auto at = [&](const std::string& name) { return (folder / name).string(); };
    EXPECT_EQ(collisionOf({at("1.png"), at("2.png")}, at("%d.png")), "(accepted)");
    EXPECT_EQ(collisionOf({at("1.png")}, at("1.png")), "(accepted)");
    EXPECT_EQ(collisionOf({}, at("chart.png")), "(accepted)");
    // The same input twice is read twice; writing it is still another frame's input.
    EXPECT_NE(collisionOf({at("1.png"), at("1.png")}, at("%d.png")), "(accepted)");
}

TEST(Collisions, TwoOutputsMayNotBeOneFile) {
    TempFolder folder;
    fs::create_directory(folder / "out");
    OmbrelRenderTest::writeText(folder / "out" / "real.png", "old");
    if (!OmbrelRenderTest::symbolicLinksWork(folder))
        GTEST_SKIP() << "no symbolic links on this system";
    fs::create_symlink("real.png", folder / "out" / "1.png");
    fs::create_symlink("real.png", folder / "out" / "2.png");
    const auto at = [&](const std::string& name) { return (folder / name).string(); };
    const std::string cause = collisionOf({at("a.png"), at("b.png")}, at("out/%d.png"));
    EXPECT_NE(cause.find("several frames would write"), std::string::npos) << cause;
}
