#include <gtest/gtest.h>

#include "Channels.h"

using namespace OmbrelRender;

namespace OmbrelRender {
void PrintTo(const ChannelPlan& p, std::ostream* os) {
    *os << "{" << p.red << ", " << p.green << ", " << p.blue << ", " << p.alpha << "}";
}
} // namespace OmbrelRender

namespace {

struct ChannelCase {
    const char* name;
    std::vector<std::string> channels;
    ChannelPlan plan;
    const char* warning; // part of the one warning, or "" for none
};

void PrintTo(const ChannelCase& c, std::ostream* os) {
    *os << c.name;
}

class Channels : public ::testing::TestWithParam<ChannelCase> {};

} // namespace

TEST_P(Channels, AreTakenByName) {
    const ChannelCase& c = GetParam();
    std::vector<std::string> warnings;
    const ChannelPlan plan =
        planChannels(c.channels, [&](const std::string& w) { warnings.push_back(w); });
    EXPECT_EQ(plan, c.plan);
    if (*c.warning == '\0') {
        EXPECT_TRUE(warnings.empty()) << warnings.front();
    } else {
        ASSERT_EQ(warnings.size(), 1u);
        EXPECT_NE(warnings[0].find(c.warning), std::string::npos) << warnings[0];
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Channels,
    ::testing::Values(
        ChannelCase{"Rgba", {"R", "G", "B", "A"}, {0, 1, 2, 3}, ""},
        ChannelCase{"AnyOrderAnyCase", {"a", "b", "g", "r"}, {3, 2, 1, 0}, ""},
        ChannelCase{"LongNames", {"Blue", "Green", "Red", "Alpha"}, {2, 1, 0, 3}, ""},
        ChannelCase{"RgbIsOpaque", {"R", "G", "B"}, {0, 1, 2, -1}, ""},
        ChannelCase{"DepthIsNotAlpha", {"R", "G", "B", "Z"}, {0, 1, 2, -1}, "'Z' is not alpha"},
        ChannelCase{"MoreAfterRgba", {"R", "G", "B", "A", "Z", "channel5"}, {0, 1, 2, 3}, ""},
        ChannelCase{"ALayer", {"rgba.R", "rgba.G", "rgba.B", "rgba.A"}, {0, 1, 2, 3}, ""},
        ChannelCase{"TheUnprefixedLayerFirst",
                    {"specular.R", "specular.G", "specular.B", "specular.A", "R", "G", "B", "A"},
                    {4, 5, 6, 7},
                    ""},
        ChannelCase{"AlphaFromTheSameLayer",
                    {"diffuse.R", "diffuse.G", "diffuse.B", "specular.A", "diffuse.A"},
                    {0, 1, 2, 4},
                    ""},
        ChannelCase{"AnUnnamedFourthIsAlpha",
                    {"R", "G", "B", "channel3"},
                    {0, 1, 2, 3},
                    "'channel3' has no name"},
        ChannelCase{"UnnamedInOrder", {"0", "1", "2"}, {0, 1, 2, -1}, "read in order"},
        ChannelCase{"UnnamedWithAlpha", {"", "", "", ""}, {0, 1, 2, 3}, "read in order"},
        ChannelCase{"Grey", {"Y"}, {0, 0, 0, -1}, ""},
        ChannelCase{"GreyAndAlpha", {"Y", "A"}, {0, 0, 0, 1}, ""},
        ChannelCase{"GreyAndUnnamed", {"Y", "channel1"}, {0, 0, 0, 1}, "no name"},
        ChannelCase{"GreyAndDepth", {"Y", "Z"}, {0, 0, 0, -1}, "'Z' is not alpha"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Channels, WithoutRgbNamesNamedChannelsAreRefused) {
    for (const auto& names : std::vector<std::vector<std::string>>{{"X", "Y", "Z", "W"},
                                                                   {"X", "Y", "Z"},
                                                                   {"0", "1", "2", "3", "4"},
                                                                   {"R", "G", "Z"},
                                                                   {}}) {
        try {
            planChannels(names, {});
            ADD_FAILURE() << "accepted " << names.size() << " channels";
        } catch (const ToolError& e) {
            EXPECT_EQ(std::string(e.what()).rfind("unsupported image: ", 0), 0u) << e.what();
        }
    }
}
