#include <gtest/gtest.h>

#include "Host/Text.h"

using OmbrelHost::asciiLower;
using OmbrelHost::hex32;

TEST(Text, Hex32ShowsEightUpperCaseDigits) {
    EXPECT_EQ(hex32(0), "0x00000000");
    EXPECT_EQ(hex32(0x00080601), "0x00080601");
    EXPECT_EQ(hex32(0xDEADBEEF), "0xDEADBEEF");
}

TEST(Text, AsciiLowerTouchesOnlyAsciiCapitals) {
    EXPECT_EQ(asciiLower("RGB to HSB.PNG"), "rgb to hsb.png");
    EXPECT_EQ(asciiLower("@[`{"), "@[`{"); // neighbours of A-Z and a-z
    // UTF-8 bytes (here "É" and "Ä") are never changed, whatever the locale.
    EXPECT_EQ(asciiLower("\xC3\x89T\xC3\x84"), "\xC3\x89t\xC3\x84");
    EXPECT_EQ(asciiLower(""), "");
}
