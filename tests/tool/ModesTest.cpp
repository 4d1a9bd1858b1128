// The tool's table of conversions: how users name them, and that the table pairs each
// conversion with the one that undoes it. PopupTest.cpp holds the names against the module.
#include <gtest/gtest.h>

#include <set>
#include <stdexcept>

#include "Modes.h"

using namespace OmbrelRender;

TEST(Modes, AcceptNumbersAndEntriesInAnyCase) {
    const std::pair<const char*, int> good[] = {{"1", 1},          {"6", 6},
                                                {"RGB to YUV", 1}, {"yuv to rgb", 2},
                                                {"RGB TO HLS", 3}, {" HLS to RGB ", 4},
                                                {"rgb-to-hsb", 5}, {"hsb to rgb", 6}};
    for (const auto& [text, mode] : good)
        EXPECT_EQ(parseMode(text), mode) << text;
    for (const char* bad : {"0", "7", "", "RGB", "RGB to XYZ", "RGB  to YUV", "1.0", "12", "01"})
        EXPECT_EQ(parseMode(bad), std::nullopt) << bad;
}

TEST(Modes, NamesAndSlugs) {
    EXPECT_EQ(modeName(5), "RGB to HSB");
    EXPECT_EQ(modeSlug(4), "hls-to-rgb");
    EXPECT_EQ(roundTripName(findMode(3)), "RGB to HLS to RGB");
    for (const Mode& c : kModes)
        EXPECT_EQ(parseMode(modeSlug(c.value)), c.value) << c.name;
    for (int outside : {0, kModeCount + 1, -1})
        EXPECT_THROW(findMode(outside), std::out_of_range) << outside;
}

// Each conversion names its system on the right side of "to", and its inverse is the opposite
// direction through the same system, undone by the first: the contact sheet's columns and round
// trips rely on it.
TEST(Modes, EveryConversionIsPairedWithItsInverse) {
    std::set<int> values, forwards, backwards;
    for (std::size_t i = 0; i < kModes.size(); ++i) {
        const Mode& c = kModes[i];
        EXPECT_EQ(c.value, static_cast<int>(i) + 1) << "popup order: " << c.name;
        EXPECT_TRUE(values.insert(c.value).second) << c.name;
        const std::string system(c.system);
        EXPECT_EQ(c.name, c.forward ? "RGB to " + system : system + " to RGB");

        const Mode& inverse = findMode(c.inverse);
        EXPECT_NE(inverse.forward, c.forward) << c.name;
        EXPECT_EQ(inverse.system, c.system) << c.name;
        EXPECT_EQ(inverse.inverse, c.value) << c.name;
        (c.forward ? forwards : backwards).insert(c.value);
    }
    EXPECT_EQ(forwards.size(), backwards.size());
}
