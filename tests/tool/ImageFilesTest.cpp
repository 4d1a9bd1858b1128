// Image files through the tool's reader and encoder. Files of layouts the tool never writes
// (grey, five channels, named channels, tiles) are made with the image library directly.
#include <gtest/gtest.h>

#include <OpenImageIO/imageio.h>

#include <sys/resource.h>

#include <chrono>
#include <ctime>
#include <random>
#include <thread>

#include "HandMadeFiles.h"
#include "HostUnits.h"
#include "ImageFileHelpers.h"
#include "PngBytes.h"
#include "RawFiles.h"
#include "TempFolder.h"

using namespace OmbrelRender;
using OmbrelRenderTest::readImage;
using OmbrelRenderTest::samplesLE;
using OmbrelRenderTest::TempFolder;
using OmbrelRenderTest::tiffFile;
using OmbrelRenderTest::writeImage;
using OmbrelRenderTest::writeText;
namespace fs = std::filesystem;

namespace {

// Values across the whole range of the depth, with alpha that is often partial or zero while
// the colour is not: a premultiplying reader or writer cannot pass this unchanged.
Image pattern(Depth depth, int w = 29, int h = 11) {
    Image image(w, h, depth);
    std::mt19937 random(static_cast<unsigned>(depth));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            if (depth == Depth::Bits8) {
                image.row<PF_Pixel>(y)[x] = {A_u_char(random()), A_u_char(random()),
                                             A_u_char(random()), A_u_char(random())};
            } else if (depth == Depth::Bits16) {
                image.row<PF_Pixel16>(y)[x] = {
                    A_u_short(random() % 32769), A_u_short(random() % 32769),
                    A_u_short(random() % 32769), A_u_short(random() % 32769)};
            } else {
                std::uniform_real_distribution<float> d(-1.0f, 3.0f);
                image.row<PF_PixelFloat>(y)[x] = {d(random), d(random), d(random), d(random)};
            }
        }
    switch (depth) {
    case Depth::Bits8:
        image.row<PF_Pixel>(0)[0] = {0, 200, 100, 50}; // transparent, colour kept
        image.row<PF_Pixel>(0)[1] = {1, 255, 255, 255};
        break;
    case Depth::Bits16:
        image.row<PF_Pixel16>(0)[0] = {0, 32768, 100, 50};
        break;
    case Depth::Bits32:
        image.row<PF_PixelFloat>(0)[0] = {0.0f, 0.75f, 2.0f, -0.5f};
        break;
    }
    return image;
}

// Written by the library as given: 8-bit files, or float where the format has no 8 bits (EXR).
void writeWithLibrary(const fs::path& path, int channels, const std::vector<std::string>& names,
                      const std::vector<float>& data, int w, int h, int tile = 0) {
    auto out = OIIO::ImageOutput::create(path.string());
    ASSERT_TRUE(out);
    const bool floats = path.extension() == ".exr";
    OIIO::ImageSpec header(w, h, channels, floats ? OIIO::TypeDesc::FLOAT : OIIO::TypeDesc::UINT8);
    if (!names.empty())
        header.channelnames = names;
    if (tile > 0) {
        header.tile_width = tile;
        header.tile_height = tile;
    }
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

// Red, green, blue and alpha of a pixel in host units.
std::array<double, 4> rgbaAt(const Image& image, int x, int y) {
    switch (image.depth) {
    case Depth::Bits8: {
        const PF_Pixel& p = image.row<PF_Pixel>(y)[x];
        return {double(p.red), double(p.green), double(p.blue), double(p.alpha)};
    }
    case Depth::Bits16: {
        const PF_Pixel16& p = image.row<PF_Pixel16>(y)[x];
        return {double(p.red), double(p.green), double(p.blue), double(p.alpha)};
    }
    case Depth::Bits32:
        break;
    }
    const PF_PixelFloat& p = image.row<PF_PixelFloat>(y)[x];
    return {p.red, p.green, p.blue, p.alpha};
}

} // namespace

TEST(ImageFiles, HostValuesSurviveTheFormatChosenForTheirDepth) {
    // What the tool does with a render: host units -> the format's type -> file -> host units.
    TempFolder folder;
    struct Case {
        const char* name;
        Depth depth;
    };
    for (const Case c : {Case{"h8.png", Depth::Bits8}, Case{"h16.png", Depth::Bits16},
                         Case{"h8.tif", Depth::Bits8}, Case{"h16.tif", Depth::Bits16},
                         Case{"h32.tif", Depth::Bits32}, Case{"h32.exr", Depth::Bits32}}) {
        const Image image = pattern(c.depth);
        const auto path = folder / c.name;
        const SampleType type = storedType(path.extension().string(), c.depth);
        writeImage(path, image, type);
        const ImageRead back = readImage(path);
        EXPECT_EQ(back.stored, type) << c.name;
        EXPECT_EQ(back.image, image) << c.name;
    }
}

TEST(ImageFiles, EverySampleTypeIsReadAsItsValuesInEveryFormatThatCarriesIt) {
    // Files holding samples their type holds exactly, read at 32 bits (and at the file's own
    // depth): integers come in over their maximum, floats as they are.
    const std::vector<double> ints8 = {0, 1, 2, 127, 128, 200, 254, 255, 3, 77, 99, 250};
    const std::vector<double> ints16 = {0,     1,     2, 32767, 32768, 40000,
                                        65534, 65535, 3, 257,   4097,  12345};
    const std::vector<double> floats = {
        0, 0.25, 1, -0.5, 2, 0.333251953125, 1000, 0.0001220703125, 0.75, 1.5, 0.125, 65504};
    using T = OIIO::TypeDesc;
    enum class Maker { Library, Tiff }; // the library's writer, or made byte by byte
    struct Case {
        const char* ext;
        T colour;
        T alpha;      // the type of the fourth channel A
        int channels; // 3 or 4
        Maker maker;
        const char* refusal; // part of the cause when the file is refused
    };
    const Case cases[] = {
        {"png", T::UINT8, T::UINT8, 4, Maker::Library, nullptr},
        {"png", T::UINT16, T::UINT16, 4, Maker::Library, nullptr},
        {"tif", T::UINT8, T::UINT8, 4, Maker::Library, nullptr},
        {"tif", T::UINT16, T::UINT16, 4, Maker::Library, nullptr},
        {"tif", T::HALF, T::HALF, 4, Maker::Tiff, nullptr},
        {"tif", T::FLOAT, T::FLOAT, 4, Maker::Library, nullptr},
        {"exr", T::HALF, T::HALF, 4, Maker::Library, nullptr},
        {"exr", T::FLOAT, T::FLOAT, 4, Maker::Library, nullptr},
        {"exr", T::HALF, T::FLOAT, 4, Maker::Library, nullptr},
        {"ppm", T::UINT8, T::UINT8, 3, Maker::Library, nullptr},
        {"tga", T::UINT8, T::UINT8, 4, Maker::Library, nullptr},
        {"dpx", T::UINT16, T::UINT16, 4, Maker::Library, nullptr},
        {"tif", T::DOUBLE, T::DOUBLE, 4, Maker::Tiff, "double floats"},
        {"exr", T::UINT32, T::UINT32, 4, Maker::Library, "32-bit integers"},
        {"tif", T::INT16, T::INT16, 4, Maker::Library, "16-bit signed integers"},
    };
    TempFolder folder;
    for (const Case& c : cases) {
        const std::string name =
            std::string(c.colour.c_str()) + "-" + c.alpha.c_str() + "." + c.ext;
        const bool isFloat = c.colour.is_floating_point();
        const double max = c.colour == T::UINT8 ? 255 : c.colour == T::UINT16 ? 65535 : 1;
        const std::vector<double>& values = isFloat ? floats : max == 255 ? ints8 : ints16;
        const int w = static_cast<int>(values.size()) / c.channels;
        if (c.maker == Maker::Tiff) {
            writeText(folder / name, tiffFile(w, 1, c.channels, int(c.colour.size()) * 8, 3,
                                              samplesLE(values, int(c.colour.size()) * 8, 3)));
        } else {
            auto out = OIIO::ImageOutput::create(c.ext);
            ASSERT_TRUE(out) << name;
            OIIO::ImageSpec header(w, 1, c.channels, c.colour);
            if (c.alpha != c.colour)
                header.channelformats = {c.colour, c.colour, c.colour, c.alpha};
            header.attribute("oiio:UnassociatedAlpha", 1);
            // Handed over as doubles, which hold every value exactly; integers over their maximum.
            std::vector<double> scaled(values);
            for (double& v : scaled)
                v /= max;
            ASSERT_TRUE(out->open((folder / name).string(), header)) << name << out->geterror();
            ASSERT_TRUE(out->write_image(T::DOUBLE, scaled.data())) << name << out->geterror();
            ASSERT_TRUE(out->close()) << name;
        }
        if (c.refusal != nullptr) {
            const std::string cause = causeOf([&] { readImage(folder / name, Depth::Bits32); });
            EXPECT_NE(cause.find(c.refusal), std::string::npos) << name << ": " << cause;
            continue;
        }
        const ImageRead read = readImage(folder / name, Depth::Bits32);
        const SampleType expectedType = c.alpha == T::FLOAT   ? SampleType::Float
                                        : c.colour == T::HALF ? SampleType::Half
                                        : max == 255          ? SampleType::UInt8
                                                              : SampleType::UInt16;
        EXPECT_EQ(read.stored, expectedType) << name;
        ASSERT_EQ(read.image.width, w) << name;
        for (int x = 0; x < w; ++x) {
            std::array<double, 4> want{1, 1, 1, 1};
            for (int k = 0; k < c.channels; ++k) {
                const double v = values[x * c.channels + k];
                want[k] = isFloat ? v : double(float(v) / float(max));
            }
            EXPECT_EQ(rgbaAt(read.image, x, 0), want) << name << " pixel " << x;
        }
        // At its own depth: the depth its type suggests, 16-bit values in host units.
        const Image own = readImage(folder / name).image;
        EXPECT_EQ(own.depth, naturalDepth(expectedType)) << name;
        for (int x = 0; x < w && !isFloat; ++x) {
            const double v = values[x * c.channels];
            EXPECT_EQ(rgbaAt(own, x, 0)[0], max == 255 ? v : fileToHost16(unsigned(v)))
                << name << " pixel " << x;
        }
    }
}

TEST(ImageFiles, GreyIsExpandedToRgbAndMissingAlphaIsFull) {
    TempFolder folder;
    writeWithLibrary(folder / "grey.png", 1, {}, {0, 100, 255, 7}, 2, 2);
    const ImageRead grey = readImage(folder / "grey.png");
    EXPECT_EQ(grey.stored, SampleType::UInt8);
    EXPECT_EQ(rgbaAt(grey.image, 1, 0), (std::array<double, 4>{100, 100, 100, 255}));

    writeWithLibrary(folder / "ga.png", 2, {"Y", "A"}, {10, 20, 30, 40}, 2, 1);
    EXPECT_EQ(rgbaAt(readImage(folder / "ga.png").image, 1, 0),
              (std::array<double, 4>{30, 30, 30, 40}));

    writeWithLibrary(folder / "rgb.tif", 3, {}, {1, 2, 3, 4, 5, 6}, 2, 1);
    EXPECT_EQ(rgbaAt(readImage(folder / "rgb.tif").image, 1, 0),
              (std::array<double, 4>{4, 5, 6, 255}));
}

TEST(ImageFiles, ChannelsAreTakenByName) {
    TempFolder folder;
    struct Case {
        const char* file;
        std::vector<std::string> names;
        std::array<double, 4> pixel; // of pixel 1, whose channels hold 5, 6, 7, 8, ...
        bool warned;
    };
    const Case cases[] = {
        {"rgbaz.exr", {"R", "G", "B", "A", "Z"}, {6, 7, 8, 9}, false},
        {"rgbz.exr", {"R", "G", "B", "Z"}, {5, 6, 7, 1}, true}, // depth is never alpha
        {"layer.exr", {"rgba.R", "rgba.G", "rgba.B", "rgba.A"}, {5, 6, 7, 8}, false},
        {"unnamed.exr", {"0", "1", "2"}, {4, 5, 6, 1}, true},
    };
    for (const Case& c : cases) {
        const int n = static_cast<int>(c.names.size());
        std::vector<float> data(static_cast<std::size_t>(2 * n));
        for (std::size_t i = 0; i < data.size(); ++i)
            data[i] = static_cast<float>(i) + 1;
        writeWithLibrary(folder / c.file, n, c.names, data, 2, 1);
        int warnings = 0;
        const ImageRead read = readImageFile(folder / c.file, Depth::Bits32, kMaxPixels,
                                             [&](const std::string&) { ++warnings; });
        // The library sorts an EXR's channels by name within their kind; compare by value.
        EXPECT_EQ(rgbaAt(read.image, 1, 0), c.pixel) << c.file;
        EXPECT_EQ(warnings, c.warned ? 1 : 0) << c.file;
    }

    writeWithLibrary(folder / "xyzw.exr", 4, {"X", "Y", "Z", "W"}, {1, 2, 3, 4, 5, 6, 7, 8}, 2, 1);
    const std::string cause = causeOf([&] { readImage(folder / "xyzw.exr"); });
    EXPECT_NE(cause.find("no R, G and B channels"), std::string::npos) << cause;
}

TEST(ImageFiles, TheSubimageRenderedIsTheFirstWithColourOrTheOneAskedForAndIsSaid) {
    // Files of two subimages, each of one pixel whose channels hold its index + 1.
    TempFolder folder;
    auto writeParts = [&](const char* name, const std::vector<std::vector<std::string>>& parts) {
        auto out = OIIO::ImageOutput::create(name);
        ASSERT_TRUE(out && out->supports("multiimage")) << name;
        std::vector<OIIO::ImageSpec> specs;
        for (const auto& channels : parts) {
            specs.emplace_back(1, 1, static_cast<int>(channels.size()), OIIO::TypeDesc::FLOAT);
            specs.back().channelnames = channels;
        }
        ASSERT_TRUE(
            out->open((folder / name).string(), static_cast<int>(specs.size()), specs.data()))
            << out->geterror();
        for (std::size_t i = 0; i < specs.size(); ++i) {
            if (i > 0) {
                ASSERT_TRUE(out->open((folder / name).string(), specs[i],
                                      OIIO::ImageOutput::AppendSubimage));
            }
            const std::vector<float> v(specs[i].nchannels, float(i + 1) / 4);
            ASSERT_TRUE(out->write_image(OIIO::TypeDesc::FLOAT, v.data()));
        }
        ASSERT_TRUE(out->close());
    };
    writeParts("depth-first.exr", {{"Z"}, {"R", "G", "B", "A"}});
    writeParts("pages.tif", {{"R", "G", "B"}, {"R", "G", "B"}});
    struct Case {
        const char* file;
        std::optional<int> wanted;
        double red;       // of the pixel read
        const char* said; // part of the one warning, or of the refusal when red < 0
    };
    const Case cases[] = {
        {"depth-first.exr", {}, 0.5, "subimage 1 (R, G, B, A) is rendered, the first with colour"},
        {"depth-first.exr", 0, 0.25, "subimage 0 (Z) is rendered"},
        {"pages.tif", {}, 0.25, "holds 2 subimages; subimage 0"},
        {"pages.tif", 1, 0.5, "subimage 1"},
        {"pages.tif", 2, -1, "no subimage 2: the file holds 2 (0..1)"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> warnings;
        const auto read = [&] {
            return readImageFile(
                folder / c.file, Depth::Bits32, kMaxPixels,
                [&](const std::string& w) { warnings.push_back(w); }, c.wanted);
        };
        if (c.red < 0) {
            const std::string cause = causeOf([&] { read(); });
            EXPECT_NE(cause.find(c.said), std::string::npos) << c.file << ": " << cause;
            continue;
        }
        const ImageRead image = read();
        EXPECT_FLOAT_EQ(rgbaAt(image.image, 0, 0)[0], c.red) << c.file;
        ASSERT_GE(warnings.size(), 1u) << c.file;
        EXPECT_NE(warnings.back().find(c.said), std::string::npos)
            << c.file << ": " << warnings.back();
    }
}

TEST(ImageFiles, TiledFilesReadAsTheirScanlinesDo) {
    TempFolder folder;
    const int w = 70, h = 45; // not a multiple of the tiles
    std::vector<float> data(static_cast<std::size_t>(w * h * 4));
    std::mt19937 random(9);
    for (float& v : data)
        v = static_cast<float>(random() % 256);
    for (const char* name : {"t.exr", "t.tif"}) { // float and 8-bit
        writeWithLibrary(folder / name, 4, {"R", "G", "B", "A"}, data, w, h, 16);
        const Image image = readImage(folder / name).image;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const float* want = data.data() + (y * w + x) * 4;
                ASSERT_EQ(rgbaAt(image, x, y),
                          (std::array<double, 4>{want[0], want[1], want[2], want[3]}))
                    << name << " at " << x << "," << y;
            }
    }
}

TEST(ImageFiles, HeadersAreCheckedBeforeAnyPixelIsDecoded) {
    TempFolder folder;
    // 69 bytes whose header claims 16000x16000 16-bit RGBA: 2 GB of pixels.
    OmbrelRenderTest::writeText(folder / "forged.png", OmbrelRenderTest::forgedPng(16000, 16000));
    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    const auto start = std::chrono::steady_clock::now();
    const std::string cause = causeOf([&] { readImage(folder / "forged.png"); });
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    rusage after{};
    getrusage(RUSAGE_SELF, &after);
    EXPECT_EQ(cause.rfind("refused: ", 0), 0u) << cause;
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 64 * 1024) << "kB more at the peak";
    std::printf("forged PNG refused in %.4f s\n", seconds);

    // The pixel limit, and an uncompressed TIFF cut short.
    writeImage(folder / "small.png", pattern(Depth::Bits8, 40, 30), SampleType::UInt8);
    EXPECT_NE(causeOf([&] {
                  readImageFile(folder / "small.png", {}, 1199, {});
              }).find("over the limit of 1199 pixels"),
              std::string::npos);
    EXPECT_NO_THROW(readImageFile(folder / "small.png", {}, 1200, {}));
    {
        auto out = OIIO::ImageOutput::create("tif");
        OIIO::ImageSpec header(2000, 2000, 3, OIIO::TypeDesc::UINT8);
        header.attribute("compression", "none");
        std::vector<std::uint8_t> pixels(2000 * 2000 * 3, 7);
        ASSERT_TRUE(out->open((folder / "whole.tif").string(), header));
        ASSERT_TRUE(out->write_image(OIIO::TypeDesc::UINT8, pixels.data()));
        ASSERT_TRUE(out->close());
    }
    const std::string whole = OmbrelRenderTest::readText(folder / "whole.tif");
    OmbrelRenderTest::writeText(folder / "cut.tif", whole.substr(0, 5000));
    EXPECT_EQ(causeOf([&] { readImage(folder / "cut.tif"); }).rfind("refused: ", 0), 0u);
}

TEST(ImageFiles, EveryFormatThatLosesDataSaysSoInOneLine) {
    Image opaque(8, 8, Depth::Bits8);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            opaque.row<PF_Pixel>(y)[x] = {255, 10, 20, 30};
    struct Case {
        const char* target;
        Image frame;
        SampleType type;
        std::vector<const char*> said; // parts of the one warning; none for no warning
    };
    const Case cases[] = {
        {"o.jpg", opaque, SampleType::UInt8, {"jpeg loses data: its compression changes colours"}},
        {"o.jpg", pattern(Depth::Bits8), SampleType::UInt8, {"compression", "no alpha"}},
        {"o.jpg", opaque, SampleType::UInt16, {"8-bit integers, not 16-bit integers"}},
        {"o.webp", opaque, SampleType::UInt8, {"webp loses data: its lossy compression"}},
        {"o.gif", opaque, SampleType::UInt8, {"at most 256 colours"}},
        {"o.hdr", pattern(Depth::Bits32), SampleType::Float, {"RGBE", "no alpha"}},
        {"o.bmp", pattern(Depth::Bits16), SampleType::UInt16, {"bmp loses data: it holds 8-bit"}},
        {"o.tga", pattern(Depth::Bits16), SampleType::UInt16, {"8-bit integers"}},
        {"o.png", pattern(Depth::Bits16), SampleType::UInt16, {}},
        {"o.tif", pattern(Depth::Bits8), SampleType::UInt8, {}},
        {"o.tga", pattern(Depth::Bits8), SampleType::UInt8, {}},
        {"o.exr", pattern(Depth::Bits32), SampleType::Float, {}},
        {"o.exr", pattern(Depth::Bits32), SampleType::Half, {}}, // asked for
        {"o.dpx", pattern(Depth::Bits16), SampleType::UInt16, {}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> warnings;
        EXPECT_FALSE(encodeImageFile(c.target, c.frame, c.type, [&](const std::string& w) {
                         warnings.push_back(w);
                     }).empty());
        ASSERT_EQ(warnings.size(), c.said.empty() ? 0u : 1u)
            << c.target << ": " << (warnings.empty() ? "" : warnings.front());
        for (const char* part : c.said)
            EXPECT_NE(warnings.front().find(part), std::string::npos)
                << c.target << ": " << warnings.front();
    }
}

TEST(ImageFiles, TheSameFrameGivesTheSameBytesInAnotherSecond) {
    // Nothing that varies between runs, such as the time of writing, goes into a file.
    const Image frame = pattern(Depth::Bits32);
    const auto encodeAll = [&] {
        std::vector<std::vector<std::uint8_t>> files;
        for (const auto& [target, type] :
             {std::pair{"o.png", SampleType::UInt16}, std::pair{"o.tif", SampleType::Float},
              std::pair{"o.exr", SampleType::Float}, std::pair{"o.exr", SampleType::Half}})
            files.push_back(encodeImageFile(target, frame, type, {}));
        files.push_back(encodeRaw(frame));
        return files;
    };
    const auto first = encodeAll();
    const std::time_t then = std::time(nullptr);
    while (std::time(nullptr) == then)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const auto second = encodeAll();
    for (std::size_t i = 0; i < first.size(); ++i)
        EXPECT_TRUE(first[i] == second[i]) << "file " << i;
}

TEST(ImageFiles, AnImageTheJpegLibraryWouldDieOnIsRefused) {
    // The library's limit ends the whole process; the encoder refuses first.
    const Image wide(65501, 1, Depth::Bits8);
    const std::string cause =
        causeOf([&] { encodeImageFile("wide.jpg", wide, SampleType::UInt8, {}); });
    EXPECT_NE(cause.find("65500"), std::string::npos) << cause;
}

TEST(ImageFiles, FailuresSayWhatIsWrong) {
    TempFolder folder;
    EXPECT_NE(causeOf([&] { readImage(folder / "none.png"); }).find("no such file"),
              std::string::npos);
    OmbrelRenderTest::writeText(folder / "text.png", "this is not a picture");
    EXPECT_NE(causeOf([&] { readImage(folder / "text.png"); }).find("cannot read"),
              std::string::npos);
    OmbrelRenderTest::writeText(folder / "unknown.qqq", "?");
    EXPECT_NE(causeOf([&] { readImage(folder / "unknown.qqq"); }).find("cannot read"),
              std::string::npos);
    // The library's own words reach the message.
    writeImage(folder / "whole.exr", pattern(Depth::Bits32), SampleType::Float);
    OmbrelRenderTest::writeText(folder / "cut.exr",
                                OmbrelRenderTest::readText(folder / "whole.exr").substr(0, 300));
    const std::string cut = causeOf([&] { readImage(folder / "cut.exr"); });
    EXPECT_NE(cut.find("end of file"), std::string::npos) << cut;

    EXPECT_NE(causeOf([&] { checkImageFormat(folder / "out.qqq"); }).find("unsupported format"),
              std::string::npos);
    EXPECT_NE(causeOf([&] { checkImageFormat(folder / "noextension"); }).find("unsupported format"),
              std::string::npos);
    // A writer that cannot write to memory cannot have its writes checked.
    EXPECT_NE(causeOf([&] { checkImageFormat(folder / "out.sgi"); }).find("memory"),
              std::string::npos);
    EXPECT_NO_THROW(checkImageFormat(folder / "out.TIF"));
    EXPECT_NE(causeOf([&] {
                  encodeImageFile(folder / "x.qqq", pattern(Depth::Bits8), SampleType::UInt8, {});
              }).find("unsupported format"),
              std::string::npos);
}
