#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <limits>
#include <random>

#include "RawFiles.h"
#include "TempFolder.h"
#include "ToolError.h"

using namespace OmbrelRender;
using OmbrelHost::Depth;
using OmbrelHost::Image;
using OmbrelRenderTest::TempFolder;

namespace {

Image randomImage(int w, int h, Depth depth, unsigned seed) {
    Image image(w, h, depth);
    std::mt19937 random(seed);
    for (auto& byte : image.pixels)
        byte = static_cast<std::uint8_t>(random());
    return image;
}

} // namespace

TEST(RawFiles, ChannelsAreStoredInHostOrderLittleEndian) {
    Image sixteen(1, 1, Depth::Bits16);
    sixteen.row<PF_Pixel16>(0)[0] = {0x0102, 0x0304, 0x8000, 0xFFFF};
    EXPECT_EQ(encodeRaw(sixteen),
              (std::vector<std::uint8_t>{0x02, 0x01, 0x04, 0x03, 0x00, 0x80, 0xFF, 0xFF}));

    Image floats(1, 1, Depth::Bits32);
    floats.row<PF_PixelFloat>(0)[0] = {1.0f, -2.0f, 0.0f, 0.5f};
    EXPECT_EQ(encodeRaw(floats),
              (std::vector<std::uint8_t>{0x00, 0x00, 0x80, 0x3F, 0x00, 0x00, 0x00, 0xC0, 0, 0, 0, 0,
                                         0x00, 0x00, 0x00, 0x3F}));

    Image eight(2, 1, Depth::Bits8);
    eight.row<PF_Pixel>(0)[1] = {1, 2, 3, 4};
    EXPECT_EQ(encodeRaw(eight), (std::vector<std::uint8_t>{0, 0, 0, 0, 1, 2, 3, 4}));
}

TEST(RawFiles, EveryBitPatternSurvivesAWriteAndARead) {
    TempFolder folder;
    for (Depth depth : {Depth::Bits8, Depth::Bits16, Depth::Bits32}) {
        // Random bytes include NaNs with payloads, infinities and denormals at 32 bits.
        const Image image = randomImage(13, 7, depth, static_cast<unsigned>(depth));
        const auto path = folder / ("frame" + std::to_string(static_cast<int>(depth)) + ".raw");
        writeRawFile(path, image);
        EXPECT_EQ(std::filesystem::file_size(path), rawByteCount(13, 7, depth));
        const Image back = readRawFile(path, 13, 7, depth);
        EXPECT_EQ(back.pixels, image.pixels) << static_cast<int>(depth) << " bits";
        EXPECT_EQ(back.depth, depth);
    }
}

TEST(RawFiles, AFileOfTheWrongSizeIsRefusedWithBothCounts) {
    TempFolder folder;
    const auto path = folder / "short.raw";
    OmbrelRenderTest::writeText(path, std::string(100, '\0'));
    try {
        readRawFile(path, 4, 4, Depth::Bits16);
        FAIL() << "accepted a raw file of the wrong size";
    } catch (const ToolError& e) {
        const std::string message = e.what();
        EXPECT_NE(message.find("wrong raw size"), std::string::npos) << message;
        EXPECT_NE(message.find("128"), std::string::npos) << message;
        EXPECT_NE(message.find("100"), std::string::npos) << message;
    }
    EXPECT_THROW(decodeRaw(std::vector<std::uint8_t>(15), 2, 2, Depth::Bits8), ToolError);
}

TEST(RawFiles, MissingFilesAndFoldersAreNamedAsSuch) {
    TempFolder folder;
    try {
        readRawFile(folder / "nothing.raw", 1, 1, Depth::Bits8);
        FAIL();
    } catch (const ToolError& e) {
        EXPECT_NE(std::string(e.what()).find("no such file"), std::string::npos) << e.what();
    }
    std::filesystem::create_directory(folder / "dir.raw");
    EXPECT_THROW(readRawFile(folder / "dir.raw", 1, 1, Depth::Bits8), ToolError);
}

TEST(RawFiles, RecognisesTheExtensionInAnyCase) {
    EXPECT_TRUE(isRawPath("a/b.raw"));
    EXPECT_TRUE(isRawPath("B.RAW"));
    EXPECT_FALSE(isRawPath("b.raw.png"));
    EXPECT_FALSE(isRawPath("raw"));
}
