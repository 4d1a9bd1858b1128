#include <gtest/gtest.h>

#include "HeaderChecks.h"
#include "PngBytes.h"
#include "SystemFiles.h"
#include "TempFolder.h"
#include "ToolError.h"

using namespace OmbrelRender;
using namespace OmbrelRenderTest;

namespace {

std::string causeOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const ToolError& e) {
        return e.what();
    }
    return "(accepted)";
}

} // namespace

TEST(PngLayout, ReadsTheHeaderAndAddsUpTheImageData) {
    TempFolder folder;
    writeText(folder / "a.png", pngFile(pngHeader(3, 2, 8, 6), {Bytes(20, 'x'), Bytes(7, 'y')}));
    const InputFile file(folder / "a.png");
    ASSERT_TRUE(startsLikePng(file));
    const PngLayout layout = readPngLayout(file);
    EXPECT_EQ(layout.width, 3u);
    EXPECT_EQ(layout.height, 2u);
    EXPECT_EQ(layout.bitsPerPixel, 32);
    EXPECT_EQ(layout.dataBytes, 27u);

    writeText(folder / "p.png", pngFile(pngHeader(9, 9, 2, 3), {"z"}));
    EXPECT_EQ(readPngLayout(InputFile(folder / "p.png")).bitsPerPixel, 2); // palette index

    writeText(folder / "not.png", "GIF89a....");
    EXPECT_FALSE(startsLikePng(InputFile(folder / "not.png")));
}

TEST(PngLayout, DamageIsFoundBeforeTheDecoderSeesIt) {
    const Bytes good = pngFile(pngHeader(4, 4, 8, 2), {Bytes(30, 'd')});
    Bytes badSum = good;
    badSum[kPngSignature.size() + 25 + 8 + 3] ^= 1; // a byte of the IDAT data
    Bytes badType = good;
    badType[kPngSignature.size() + 25 + 5] = '@';
    struct Case {
        const char* name;
        Bytes bytes;
        const char* cause;
    };
    const Case cases[] = {
        {"truncated", good.substr(0, good.size() - 5), "ends"},
        {"no IEND", good.substr(0, good.size() - 12), "before its IEND"},
        {"cut in the IEND checksum", good.substr(0, good.size() - 2), "ends inside its IEND"},
        {"checksum", badSum, "checksum"},
        {"chunk type", badType, "invalid chunk type"},
        {"IDAT first", kPngSignature + pngChunk("IDAT", "x") + pngHeader(4, 4, 8, 2), "not IHDR"},
        {"bit depth", pngFile(pngHeader(4, 4, 4, 2), {"x"}), "invalid IHDR"},
        {"zero width", pngFile(pngHeader(0, 4, 8, 2), {"x"}), "size"},
        {"no data", pngFile(pngHeader(4, 4, 8, 2), {}), "no image data"},
        {"huge chunk", kPngSignature + pngHeader(4, 4, 8, 2) + Bytes("\xff\xff\xff\xf0IDAT", 8),
         "chunk length"},
    };
    TempFolder folder;
    for (const Case& c : cases) {
        writeText(folder / "d.png", c.bytes);
        const std::string cause = causeOf([&] { readPngLayout(InputFile(folder / "d.png")); });
        EXPECT_EQ(cause.rfind("cannot read: damaged PNG: ", 0), 0u) << c.name << ": " << cause;
        EXPECT_NE(cause.find(c.cause), std::string::npos) << c.name << ": " << cause;
    }
}

TEST(PngLayout, AHeaderItsDataCannotFillIsRefused) {
    // A 69-byte file claiming 16000x16000 at 16-bit RGBA: 2 GB from 12 bytes.
    const std::string forged = causeOf([] { checkPngPlausible(PngLayout{16000, 16000, 64, 12}); });
    EXPECT_EQ(forged.rfind("refused: ", 0), 0u) << forged;
    EXPECT_NE(forged.find("16000x16000"), std::string::npos) << forged;

    // One row of 8-bit grey: 1 + width bytes from 1 byte of data, expanded at most 1032 times
    // plus the 4096 bytes of slack.
    EXPECT_NO_THROW(checkPngPlausible(PngLayout{5127, 1, 8, 1}));
    EXPECT_THROW(checkPngPlausible(PngLayout{5128, 1, 8, 1}), ToolError);
    // Real files: a 1x10000 RGB strip and 4000x4000 RGBA compressed 30 times.
    EXPECT_NO_THROW(checkPngPlausible(PngLayout{1, 10000, 24, 200}));
    EXPECT_NO_THROW(checkPngPlausible(PngLayout{4000, 4000, 32, 2200000}));
}

TEST(HeaderChecks, PixelLimit) {
    const long long limit = 1LL << 28;
    EXPECT_NO_THROW(checkPixelCount(16384, 16384, limit));
    EXPECT_NO_THROW(checkPixelCount(1, 65536, limit));
    EXPECT_NE(causeOf([&] { checkPixelCount(65537, 1, limit); }).find("65536 pixels a side"),
              std::string::npos);
    EXPECT_THROW(checkPixelCount(16385, 16384, limit), ToolError);
    EXPECT_THROW(checkPixelCount(0x7FFFFFFF, 0x7FFFFFFF, limit), ToolError); // no overflow
    EXPECT_THROW(checkPixelCount(0, 5, limit), ToolError);
    EXPECT_THROW(checkPixelCount(101, 1, 100), ToolError);
    const std::string cause = causeOf([] { checkPixelCount(20000, 20000, 1LL << 28); });
    EXPECT_NE(cause.find("20000x20000"), std::string::npos) << cause;
    EXPECT_NE(cause.find("--max-pixels"), std::string::npos) << cause;
}

TEST(HeaderChecks, CompressionBoundsTheImageAFileCanHold) {
    EXPECT_EQ(maxExpansion("none"), 1u);
    EXPECT_EQ(maxExpansion("zip"), 1032u);
    EXPECT_FALSE(maxExpansion("piz")); // no bound worth checking
    EXPECT_FALSE(maxExpansion(""));
    // Uncompressed: at least a bit a pixel must be in the file (plus slack).
    EXPECT_NO_THROW(checkPlausibleSize(1000, 1000, 1000000 / 8 - 4096, 1));
    EXPECT_THROW(checkPlausibleSize(1000, 1000, 1000000 / 8 - 4097, 1), ToolError);
    EXPECT_THROW(checkPlausibleSize(16000, 16000, 300, 1032), ToolError);
}
