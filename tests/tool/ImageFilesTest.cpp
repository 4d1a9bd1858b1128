// Image files through the tool's reader and writer. Files of unusual layout (grey, five
// channels) are made with the image library directly, since the tool only writes RGBA.
#include <gtest/gtest.h>

#include <OpenImageIO/imageio.h>

#include <random>

#include "HostUnits.h"
#include "ImageFiles.h"
#include "TempFolder.h"

using namespace OmbrelRender;
using OmbrelRenderTest::TempFolder;

namespace {

// Values across the whole range of the type, with alpha that is often partial or zero while the
// colour is not: a premultiplying reader or writer cannot pass this unchanged.
FileImage pattern(SampleType type, int w = 29, int h = 11) {
    FileImage image(w, h, type);
    std::mt19937 random(static_cast<unsigned>(type) + 1);
    for (float& v : image.rgba) {
        switch (type) {
        case SampleType::UInt8:
            v = static_cast<float>(random() % 256);
            break;
        case SampleType::UInt16:
            v = static_cast<float>(random() % 65536);
            break;
        case SampleType::Half:
        case SampleType::Float:
            v = std::uniform_real_distribution<float>(-0.5f, 2.0f)(random);
            break;
        }
    }
    image.pixel(0, 0)[3] = 0;                                   // transparent, colour kept
    image.pixel(1, 0)[3] = type == SampleType::UInt8 ? 1 : 2;   // nearly transparent
    image.pixel(2, 0)[0] = type == SampleType::UInt8 ? 255 : 1; // colour above alpha
    return image;
}

// 8-bit files, or float where the format has no 8 bits (EXR); values kept as given.
void writeWithLibrary(const std::filesystem::path& path, int channels,
                      const std::vector<std::string>& names, const std::vector<float>& data, int w,
                      int h) {
    auto out = OIIO::ImageOutput::create(path.string());
    ASSERT_TRUE(out);
    const bool floats = path.extension() == ".exr";
    OIIO::ImageSpec header(w, h, channels, floats ? OIIO::TypeDesc::FLOAT : OIIO::TypeDesc::UINT8);
    if (!names.empty())
        header.channelnames = names;
    header.attribute("oiio:UnassociatedAlpha", 1);
    std::vector<std::uint8_t> bytes(data.begin(), data.end());
    ASSERT_TRUE(out->open(path.string(), header)) << out->geterror();
    ASSERT_TRUE(floats ? out->write_image(OIIO::TypeDesc::FLOAT, data.data())
                       : out->write_image(OIIO::TypeDesc::UINT8, bytes.data()));
    ASSERT_TRUE(out->close());
}

std::string causeOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const ToolError& e) {
        return e.what();
    }
    return "(no error)";
}

} // namespace

struct RoundTripCase {
    const char* name;
    SampleType type;
};

void PrintTo(const RoundTripCase& c, std::ostream* os) {
    *os << c.name;
}

class ImageFileRoundTrip : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(ImageFileRoundTrip, KeepsEveryStoredValueIncludingColourUnderPartialAlpha) {
    TempFolder folder;
    const auto path = folder / GetParam().name;
    const FileImage image = pattern(GetParam().type);
    writeImageFile(path, path, image);
    const FileImage back = readImageFile(path);
    EXPECT_EQ(back.width, image.width);
    EXPECT_EQ(back.height, image.height);
    EXPECT_EQ(back.type, image.type);
    ASSERT_EQ(back.rgba.size(), image.rgba.size());
    for (std::size_t i = 0; i < image.rgba.size(); ++i)
        ASSERT_EQ(back.rgba[i], image.rgba[i]) << "value " << i << " of " << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(Formats, ImageFileRoundTrip,
                         ::testing::Values(RoundTripCase{"a.png", SampleType::UInt8},
                                           RoundTripCase{"b.png", SampleType::UInt16},
                                           RoundTripCase{"c.tif", SampleType::UInt8},
                                           RoundTripCase{"d.tiff", SampleType::UInt16},
                                           RoundTripCase{"e.tif", SampleType::Float},
                                           RoundTripCase{"f.exr", SampleType::Float}),
                         [](const auto& info) { return std::string(1, info.param.name[0]); });

TEST(ImageFiles, HostValuesSurviveTheFormatChosenForTheirDepth) {
    // What the tool does with a render: host units -> the format's type -> file -> host units.
    TempFolder folder;
    struct Case {
        const char* name;
        Depth depth;
    };
    for (const Case c : {Case{"h8.png", Depth::Bits8}, Case{"h16.png", Depth::Bits16},
                         Case{"h16.tif", Depth::Bits16}, Case{"h32.tif", Depth::Bits32},
                         Case{"h32.exr", Depth::Bits32}}) {
        Image image(64, 8, c.depth);
        std::mt19937 random(3);
        for (int y = 0; y < image.height; ++y)
            for (int x = 0; x < image.width; ++x) {
                if (c.depth == Depth::Bits8) {
                    auto& p = image.row<PF_Pixel>(y)[x];
                    p = {A_u_char(random()), A_u_char(random()), A_u_char(random()),
                         A_u_char(random())};
                } else if (c.depth == Depth::Bits16) {
                    auto& p = image.row<PF_Pixel16>(y)[x];
                    p = {A_u_short(random() % 32769), A_u_short(random() % 32769),
                         A_u_short(random() % 32769), A_u_short(random() % 32769)};
                } else {
                    std::uniform_real_distribution<float> d(-1.0f, 3.0f);
                    image.row<PF_PixelFloat>(y)[x] = {d(random), d(random), d(random), d(random)};
                }
            }
        const auto path = folder / c.name;
        const std::string ext = path.extension().string();
        writeImageFile(path, path, fromHost(image, storedType(ext, c.depth)));
        EXPECT_EQ(toHost(readImageFile(path), c.depth), image) << c.name;
    }
}

TEST(ImageFiles, GreyIsExpandedToRgbAndMissingAlphaIsFull) {
    TempFolder folder;
    writeWithLibrary(folder / "grey.png", 1, {}, {0, 100, 255, 7}, 2, 2);
    const FileImage grey = readImageFile(folder / "grey.png");
    EXPECT_EQ(grey.type, SampleType::UInt8);
    EXPECT_EQ(std::vector<float>(grey.pixel(1, 0), grey.pixel(1, 0) + 4),
              (std::vector<float>{100, 100, 100, 255}));

    writeWithLibrary(folder / "ga.png", 2, {"Y", "A"}, {10, 20, 30, 40}, 2, 1);
    const FileImage ga = readImageFile(folder / "ga.png");
    EXPECT_EQ(std::vector<float>(ga.pixel(1, 0), ga.pixel(1, 0) + 4),
              (std::vector<float>{30, 30, 30, 40}));

    writeWithLibrary(folder / "rgb.tif", 3, {}, {1, 2, 3, 4, 5, 6}, 2, 1);
    const FileImage rgb = readImageFile(folder / "rgb.tif");
    EXPECT_EQ(std::vector<float>(rgb.pixel(1, 0), rgb.pixel(1, 0) + 4),
              (std::vector<float>{4, 5, 6, 255}));
}

TEST(ImageFiles, MoreThanFourChannelsOnlyWhenTheyStartWithRgba) {
    TempFolder folder;
    writeWithLibrary(folder / "rgbaz.exr", 5, {"R", "G", "B", "A", "Z"},
                     {.1f, .2f, .3f, .4f, .5f, .6f, .7f, .8f, .9f, 1}, 2, 1);
    const FileImage ok = readImageFile(folder / "rgbaz.exr");
    EXPECT_EQ(std::vector<float>(ok.pixel(1, 0), ok.pixel(1, 0) + 4),
              (std::vector<float>{.6f, .7f, .8f, .9f}));

    writeWithLibrary(folder / "other.exr", 5, {"X", "Y", "Z", "W", "V"},
                     {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, 2, 1);
    const std::string cause = causeOf([&] { readImageFile(folder / "other.exr"); });
    EXPECT_NE(cause.find("5 channels"), std::string::npos) << cause;
}

TEST(ImageFiles, FailuresSayWhatIsWrong) {
    TempFolder folder;
    EXPECT_NE(causeOf([&] { readImageFile(folder / "none.png"); }).find("no such file"),
              std::string::npos);
    OmbrelRenderTest::writeText(folder / "text.png", "this is not a picture");
    EXPECT_NE(causeOf([&] { readImageFile(folder / "text.png"); }).find("cannot read"),
              std::string::npos);
    OmbrelRenderTest::writeText(folder / "unknown.qqq", "?");
    EXPECT_NE(causeOf([&] { readImageFile(folder / "unknown.qqq"); }).find("cannot read"),
              std::string::npos);

    EXPECT_NE(causeOf([&] { checkImageFormat(folder / "out.qqq"); }).find("unsupported format"),
              std::string::npos);
    EXPECT_NE(causeOf([&] { checkImageFormat(folder / "noextension"); }).find("unsupported format"),
              std::string::npos);
    EXPECT_NO_THROW(checkImageFormat(folder / "out.TIF"));
    const FileImage image = pattern(SampleType::UInt8, 2, 2);
    EXPECT_NE(causeOf([&] {
                  writeImageFile(folder / "x.qqq", folder / "x.qqq", image);
              }).find("unsupported format"),
              std::string::npos);
}

TEST(ImageFiles, TheFormatComesFromTheFinalNameNotTheTemporary) {
    TempFolder folder;
    const FileImage image = pattern(SampleType::UInt16, 3, 3);
    writeImageFile(folder / ".tmp-1.tmp", folder / "final.png", image);
    std::filesystem::rename(folder / ".tmp-1.tmp", folder / "final.png");
    EXPECT_EQ(readImageFile(folder / "final.png").rgba, image.rgba);
}
