#include <gtest/gtest.h>

#include "Modes.h"
#include "Options.h"

using namespace OmbrelRender;

namespace {

std::string usageErrorOf(const std::vector<std::string>& args) {
    try {
        parseCommandLine(args);
    } catch (const UsageError& e) {
        return e.what();
    }
    return "(accepted)";
}

} // namespace

TEST(CommandLine, Defaults) {
    const Options o = parseCommandLine({});
    EXPECT_EQ(o.from, 1);
    EXPECT_FALSE(o.depth);
    EXPECT_EQ(o.threads, 0);
    EXPECT_EQ(o.jobs, 1);
    EXPECT_EQ(o.repeat, 0);
    EXPECT_TRUE(o.inputs.empty());
}

TEST(CommandLine, ReadsEveryOptionInItsSpellings) {
    const Options o =
        parseCommandLine({"--from", "hsb to rgb", "--depth=16", "--threads", "5", "--jobs=2",
                          "-oout/%04d.tif", "--module", "m.so", "--repeat", "3", "--size", "64x32",
                          "-q", "--fail-fast", "a.png", "--", "-b.png"});
    EXPECT_EQ(o.from, 6);
    EXPECT_EQ(o.depth, OmbrelHost::Depth::Bits16);
    EXPECT_EQ(o.threads, 5);
    EXPECT_EQ(o.jobs, 2);
    EXPECT_EQ(o.output, "out/%04d.tif");
    EXPECT_EQ(o.module, std::filesystem::path("m.so"));
    EXPECT_EQ(o.repeat, 3);
    EXPECT_EQ(o.size, (std::pair{64, 32}));
    EXPECT_TRUE(o.quiet);
    EXPECT_TRUE(o.failFast);
    EXPECT_EQ(o.inputs, (std::vector<std::string>{"a.png", "-b.png"}));

    EXPECT_EQ(parseCommandLine({"--output", "x.exr"}).output, "x.exr");
    EXPECT_EQ(parseCommandLine({"--max-pixels=1000"}).maxPixels, 1000);
    EXPECT_EQ(parseCommandLine({}).maxPixels, kMaxPixels);
    EXPECT_TRUE(parseCommandLine({"--about", "--info"}).info);
    EXPECT_TRUE(parseCommandLine({"-h"}).help);
    EXPECT_TRUE(parseCommandLine({"--half"}).half);
    EXPECT_EQ(parseCommandLine({"--subimage", "0"}).subimage, 0);
    EXPECT_EQ(parseCommandLine({"--contact-sheet", "s.png", "in.tif"}).contactSheet,
              std::filesystem::path("s.png"));
}

TEST(CommandLine, MistakesNameTheOptionAndTheProblem) {
    struct Case {
        std::vector<std::string> args;
        const char* expected;
    };
    const Case cases[] = {
        {{"--from", "RGB to XYZ"}, "\"HSB to RGB\""},
        {{"--from", "0"}, "--from"},
        {{"--depth", "12"}, "8, 16 or 32"},
        {{"--world-order", "rgba"}, "argb or bgra"},
        {{"--threads", "0"}, "--threads"},
        {{"--jobs", "two"}, "--jobs"},
        {{"--repeat", "-1"}, "--repeat"},
        {{"--size", "64"}, "--size"},
        {{"--size", "0x5"}, "--size"},
        {{"--size", "100000x100000"}, "over the host's limit of 65536 pixels a side"},
        {{"--size", "20000x20000"}, "400000000 pixels, over the host's limit of 268435456"},
        {{"--max-pixels", "0"}, "--max-pixels"},
        {{"--subimage", "-1"}, "--subimage"},
        {{"--max-pixels", "268435457"}, "from 1 to 268435456"},
        {{"--from"}, "missing value"},
        {{"--bogus"}, "unknown option '--bogus'"},
        {{"-x"}, "unknown option"},
        {{"--quiet=yes"}, "takes no value"},
        {{"-o", ""}, "empty path"},
        {{"--contact-sheet", "s.png", "-o", "x.png"}, "-o"},
        {{"--contact-sheet", "s.png", "a.png", "b.png"}, "one input"},
        {{"--contact-sheet", "s.png", "--half"}, "--half"},
    };
    for (const Case& c : cases) {
        const std::string message = usageErrorOf(c.args);
        EXPECT_NE(message.find(c.expected), std::string::npos) << c.args.front() << ": " << message;
    }
    // The six entries are listed for a wrong conversion.
    const std::string listed = usageErrorOf({"--from", "sepia"});
    for (const Mode& c : kModes)
        EXPECT_NE(listed.find(std::string(c.name)), std::string::npos) << listed;
}

TEST(CommandLine, SizesParse) {
    EXPECT_EQ(parseSize("1920x1080"), (std::pair{1920, 1080}));
    EXPECT_EQ(parseSize("3X2"), (std::pair{3, 2}));
    for (const char* bad : {"", "x", "10x", "x10", "10x-2", "1.5x2", "10x10x10"})
        EXPECT_EQ(parseSize(bad), std::nullopt) << bad;
}

TEST(CommandLine, UsageTextMentionsEveryOption) {
    const std::string text = usageText();
    for (const char* option :
         {"--from", "--depth", "--threads", "--jobs", "--output", "--module", "--about", "--info",
          "--repeat", "--contact-sheet", "--size", "--quiet", "--fail-fast", "--help",
          "--tile-size", "--max-pixels", "--world-order", "--half"})
        EXPECT_NE(text.find(option), std::string::npos) << option;
    for (const Mode& c : kModes)
        EXPECT_NE(text.find(std::to_string(c.value) + " \"" + std::string(c.name) + "\""),
                  std::string::npos)
            << c.name;
}
