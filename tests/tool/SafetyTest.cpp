// ombrel-render run as a hostile tester would: full disks, forged files, outputs onto inputs,
// FIFOs and devices, signals, odd channels and names. Every case checks the exit code, the
// message and the files left afterwards: a failed write leaves the old target byte for byte and
// no temporary.
#include <gtest/gtest.h>

#include <OpenImageIO/imageio.h>

#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <random>

#include "HostUnits.h"
#include "ImageFileHelpers.h"
#include "PngBytes.h"
#include "RawFiles.h"
#include "RunTool.h"

using namespace OmbrelRender;
using namespace OmbrelRenderTest;
namespace fs = std::filesystem;
using std::chrono::seconds;

namespace {

// Noise, so that no encoder makes it small; opaque, so that no format warns about alpha.
Image noise(int w, int h, Depth depth = Depth::Bits8) {
    Image image(w, h, depth);
    std::mt19937 random(5);
    for (std::uint8_t& b : image.pixels)
        b = static_cast<std::uint8_t>(random());
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            if (depth == Depth::Bits8)
                image.row<PF_Pixel>(y)[x].alpha = 255;
            else
                image.row<PF_Pixel16>(y)[x] = {32768, A_u_short(random() % 32769),
                                               A_u_short(random() % 32769),
                                               A_u_short(random() % 32769)};
        }
    return image;
}

// Every temporary this tool makes starts so; none may be left anywhere after a run.
std::vector<std::string> temporariesIn(const fs::path& folder) {
    std::vector<std::string> found;
    for (const auto& e : fs::recursive_directory_iterator(folder))
        if (e.path().filename().string().starts_with(".ombrel-render-"))
            found.push_back(e.path().string());
    return found;
}

// The error lines of a run (warnings are not errors).
std::vector<std::string> errorLines(const std::string& err) {
    std::vector<std::string> lines;
    std::size_t at = 0;
    for (std::size_t end; (end = err.find('\n', at)) != std::string::npos; at = end + 1) {
        const std::string line = err.substr(at, end - at);
        if (!line.starts_with("ombrel-render: warning: "))
            lines.push_back(line);
    }
    return lines;
}

// ---- A full file system ------------------------------------------------------------------------

// A small tmpfs filled to the last byte but `freeBytes`, mounted in a private mount namespace
// of this test process: the programs it starts see it, nobody else does, and it disappears with
// the process whatever happens to it. Unmounted when done.
class FullFilesystem {
public:
    // Why the system cannot give one, or nothing.
    static std::optional<std::string> unavailable() {
        if (geteuid() != 0)
            return "mounting a small tmpfs needs root (CI runs as root)";
        if (unshare(CLONE_NEWNS) != 0)
            return std::string("cannot make a private mount namespace: ") + std::strerror(errno);
        if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            return std::string("cannot make the mounts private: ") + std::strerror(errno);
        return std::nullopt;
    }

    explicit FullFilesystem(const fs::path& where) : where_(where) {
        fs::create_directory(where_);
        mounted_ = mount("tmpfs", where_.c_str(), "tmpfs", 0, "size=2m") == 0;
    }
    ~FullFilesystem() {
        if (mounted_)
            umount2(where_.c_str(), MNT_DETACH);
    }
    FullFilesystem(const FullFilesystem&) = delete;
    FullFilesystem& operator=(const FullFilesystem&) = delete;

    bool mounted() const { return mounted_; }
    const fs::path& path() const { return where_; }

    // Fills what is left with one file, then frees `freeBytes` of it.
    void fill(std::size_t freeBytes) {
        const fs::path filler = where_ / "filler";
        FILE* f = std::fopen(filler.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::setvbuf(f, nullptr, _IONBF, 0);
        const std::vector<char> block(4096, 'f');
        while (std::fwrite(block.data(), 1, block.size(), f) == block.size()) {
        }
        std::fclose(f);
        const auto size = fs::file_size(filler);
        fs::resize_file(filler, size > freeBytes ? size - freeBytes : 0);
    }

private:
    fs::path where_;
    bool mounted_ = false;
};

struct FullCase {
    const char* name;
    const char* target; // in the full file system
    std::vector<std::string> args;
    std::size_t freeBytes;
};

// One tool run each; in one test, since starting the test program costs as much as a run.
const FullCase kFullCases[] = {
    {"PNG", "t.png", {"in.png", "-o", "TARGET"}, 16384},
    {"PNG with not a byte free", "t.png", {"in.png", "-o", "TARGET"}, 0},
    {"16-bit PNG", "t.png", {"--depth", "16", "in.png", "-o", "TARGET"}, 16384},
    {"JPEG", "t.jpg", {"in.png", "-o", "TARGET"}, 16384},
    {"TIFF", "t.tif", {"in.png", "-o", "TARGET"}, 16384},
    {"EXR", "t.exr", {"--depth", "32", "in.png", "-o", "TARGET"}, 16384},
    {"raw", "t.raw", {"--size", "256x256", "--depth", "16", "in.raw", "-o", "TARGET"}, 16384},
    {"contact sheet", "sheet.png", {"in.png", "--contact-sheet", "TARGET"}, 16384},
};

} // namespace

TEST(OnAFullDisk, AWriteFailsCleanlyAndTheOldTargetStays) {
    if (const auto why = FullFilesystem::unavailable())
        GTEST_SKIP() << "skipped: " << *why;
    for (const FullCase& c : kFullCases) {
        SCOPED_TRACE(c.name);
        TempFolder folder;
        writeImage(folder / "in.png", noise(256, 256), SampleType::UInt8);
        writeRawFile(folder / "in.raw", noise(256, 256, Depth::Bits16));
        FullFilesystem disk(folder / "full");
        ASSERT_TRUE(disk.mounted()) << std::strerror(errno);
        const std::string old = readText(folder / "in.png"); // any bytes: they must stay
        writeText(disk.path() / c.target, old);
        disk.fill(c.freeBytes);
        const auto before = TempFolder::entriesOf(disk.path());

        std::vector<std::string> args = c.args;
        for (std::string& a : args)
            if (a == "TARGET")
                a = "full/" + std::string(c.target);
        const ToolRun run = runTool(folder, args);
        EXPECT_EQ(run.exitCode, 1) << run.err;
        EXPECT_EQ(errorLines(run.err),
                  std::vector<std::string>{"ombrel-render: full/" + std::string(c.target) +
                                           ": cannot write: no space left on device"})
            << run.err;
        EXPECT_TRUE(readText(disk.path() / c.target) == old) << "the old target changed";
        EXPECT_EQ(TempFolder::entriesOf(disk.path()), before) << "a temporary was left";
    }
}

TEST(OnAFullDisk, TheOtherFramesAreStillRenderedAndSetdownRuns) {
    if (const auto why = FullFilesystem::unavailable())
        GTEST_SKIP() << "skipped: " << *why;
    TempFolder folder;
    FullFilesystem disk(folder / "full");
    ASSERT_TRUE(disk.mounted()) << std::strerror(errno);
    // Outputs beside their inputs: the first frame's on the full disk, the second's not.
    writeImage(disk.path() / "a.jpg", noise(200, 200), SampleType::UInt8);
    writeImage(folder / "b.jpg", noise(200, 200), SampleType::UInt8);
    disk.fill(4096);
    const ToolRun run = runTool(folder, {"-q", "full/a.jpg", "b.jpg"});
    EXPECT_EQ(run.exitCode, 1) << run.err;
    EXPECT_EQ(errorLines(run.err),
              std::vector<std::string>{
                  "ombrel-render: full/a.rgb-to-yuv.jpg: cannot write: no space left on device"});
    EXPECT_FALSE(fs::exists(disk.path() / "a.rgb-to-yuv.jpg"));
    EXPECT_EQ(readImage(folder / "b.rgb-to-yuv.jpg").image.width, 200);
    EXPECT_TRUE(temporariesIn(folder.path()).empty());
}

// ---- Forged and hostile inputs -----------------------------------------------------------------

TEST(HostileInputs, AForgedHeaderIsRefusedBeforeDecoding) {
    TempFolder folder;
    writeText(folder / "forged.png", forgedPng(16000, 16000)); // 2 GB of pixels from 69 bytes
    writeText(folder / "huge.png", forgedPng(20000, 20000));
    for (const char* name : {"forged.png", "huge.png"}) {
        const ToolRun run = runTool(folder, {name, "--jobs", "2", "-o", "x.png"});
        EXPECT_EQ(run.exitCode, 1) << run.err;
        EXPECT_EQ(run.err.rfind("ombrel-render: " + std::string(name) + ": refused: ", 0), 0u)
            << run.err;
        EXPECT_EQ(countLines(run.err), 1) << run.err;
        // The program and its libraries take about 130 MB; decoding would take gigabytes.
        EXPECT_LT(run.peakKilobytes, 400 * 1024) << name;
        std::printf("%s refused in %.2f s (the whole run), peak %ld MB\n", name, run.seconds,
                    run.peakKilobytes / 1024);
    }
    EXPECT_FALSE(fs::exists(folder / "x.png"));
}

TEST(HostileInputs, OnlyRegularFilesAreRead) {
    TempFolder folder;
    ASSERT_EQ(mkfifo((folder / "fifo.png").c_str(), 0600), 0);
    fs::create_directory(folder / "dir.png");
    struct Case {
        std::string input;
        const char* cause;
    };
    for (const Case& c : {Case{"fifo.png", "is a FIFO"}, Case{"/dev/zero", "is a device"},
                          Case{"/dev/urandom", "is a device"}, Case{"dir.png", "is a folder"}}) {
        const auto before = folder.entries();
        // A regression would wait on the FIFO or read the devices for ever: bounded here.
        const ToolRun run = runTool(folder, {c.input, "-o", "x.png"}, seconds(20));
        EXPECT_FALSE(run.timedOut) << c.input;
        EXPECT_EQ(run.exitCode, 1) << c.input;
        EXPECT_EQ(run.err, "ombrel-render: " + c.input + ": cannot read: " + c.cause + "\n");
        EXPECT_EQ(folder.entries(), before) << c.input;
    }
    // Nor is a device written over.
    const ToolRun run = runTool(folder, {"--size", "32x32", "-o", "fifo.png"}, seconds(20));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("cannot write: is a FIFO"), std::string::npos) << run.err;
    EXPECT_TRUE(fs::is_fifo(folder / "fifo.png"));
}

TEST(HostileInputs, ALibrarysMessageReachesTheOneErrorLine) {
    TempFolder folder;
    writeImage(folder / "whole.exr", noise(64, 64), SampleType::Float);
    writeText(folder / "cut.exr", readText(folder / "whole.exr").substr(0, 300));
    const ToolRun run = runTool(folder, {"cut.exr", "-o", "x.png"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(countLines(run.err), 1) << run.err;
    EXPECT_NE(run.err.find("cut.exr: cannot read: "), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("end of file"), std::string::npos) << "the library's words: " << run.err;
}

TEST(HostileInputs, AFrameTooWideForJpegIsAnErrorNotAnExit) {
    TempFolder folder;
    writeRawFile(folder / "wide.raw", noise(65501, 1));
    writeText(folder / "w.jpg", "old");
    const ToolRun run =
        runTool(folder, {"--size", "65501x1", "--depth", "8", "wide.raw", "-o", "w.jpg"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("w.jpg: cannot write: JPEG holds at most 65500 pixels"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(readText(folder / "w.jpg"), "old");
    EXPECT_TRUE(temporariesIn(folder.path()).empty());
}

// ---- Outputs and inputs ------------------------------------------------------------------------

TEST(OutputsAndInputs, AnOutputThatIsAnotherFramesInputIsAUsageError) {
    TempFolder folder;
    writeImage(folder / "1.png", noise(16, 16), SampleType::UInt8);
    writeImage(folder / "2.png", noise(24, 24), SampleType::UInt8);
    fs::create_hard_link(folder / "1.png", folder / "one.png");
    const std::string one = readText(folder / "1.png");
    const std::string two = readText(folder / "2.png");
    const auto before = folder.entries();
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"2.png", "1.png", "-o", "%d.png"},
             {"--jobs", "2", "2.png", "1.png", "-o", "./sub/../%d.png"},
             {"2.png", "one.png", "-o", "%d.png"}}) {
        const ToolRun run = runTool(folder, args);
        EXPECT_EQ(run.exitCode, 2) << run.err;
        EXPECT_NE(run.err.find("an output may not overwrite another frame's input"),
                  std::string::npos)
            << run.err;
        EXPECT_EQ(readText(folder / "1.png"), one);
        EXPECT_EQ(readText(folder / "2.png"), two);
        EXPECT_EQ(folder.entries(), before);
    }
    // Its own input a frame may replace: it is read whole first.
    const ToolRun run = runTool(folder, {"-q", "1.png", "2.png", "-o", "%d.png", "--jobs", "2"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(readText(folder / "2.png"), two);
    EXPECT_EQ(readImage(folder / "2.png").image.width, 24);
}

TEST(OutputsAndInputs, WritingOntoALinkWritesItsTargetAndKeepsTheLink) {
    TempFolder folder;
    fs::create_directory(folder / "store");
    writeText(folder / "store" / "real.png", "old");
    fs::create_symlink("store/real.png", folder / "out.png");
    const ToolRun run = runTool(folder, {"-q", "--size", "40x30", "-o", "out.png"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(fs::is_symlink(folder / "out.png"));
    EXPECT_EQ(readImage(folder / "store" / "real.png").image.width, 40);
    EXPECT_TRUE(temporariesIn(folder.path()).empty());
}

TEST(OutputsAndInputs, NamesAtTheLimitAndNumbersTooWide) {
    TempFolder folder;
    const std::string name = std::string(246, 'n') + ".png"; // 250 bytes
    ToolRun run = runTool(folder, {"-q", "--size", "32x32", "-o", name});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(folder.entries(), std::vector<std::string>{name});

    run = runTool(folder, {"--size", "32x32", "-o", "f%0999d.png"});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_NE(run.err.find("999 digits; at most 32"), std::string::npos) << run.err;
    EXPECT_EQ(folder.entries(), std::vector<std::string>{name});
}

TEST(OutputsAndInputs, ARelativeModuleIsTheFileOfThatName) {
    TempFolder folder;
    // A bare name the system's loader would look for in its own paths, not here.
    fs::copy_file(OMBREL_MODULE_PATH, folder / "real.so");
    const ToolRun run = runTool(folder, {"--module", "real.so", "--info"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("12 properties"), std::string::npos) << run.out;
}

// ---- Channels ----------------------------------------------------------------------------------

TEST(Channels, AFourthChannelThatIsNotAlphaIsNeverAlpha) {
    TempFolder folder;
    auto write = [&](const char* file, std::vector<std::string> names) {
        auto out = OIIO::ImageOutput::create(file);
        OIIO::ImageSpec header(4, 2, 4, OIIO::TypeDesc::FLOAT);
        header.channelnames = std::move(names);
        const std::vector<float> values(4 * 2 * 4, 0.25f);
        ASSERT_TRUE(out->open((folder / file).string(), header));
        ASSERT_TRUE(out->write_image(OIIO::TypeDesc::FLOAT, values.data()));
        ASSERT_TRUE(out->close());
    };
    write("rgbz.exr", {"R", "G", "B", "Z"});
    write("xyzw.exr", {"X", "Y", "Z", "W"});

    ToolRun run = runTool(folder, {"-q", "rgbz.exr", "-o", "out.raw"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err, "ombrel-render: warning: rgbz.exr: no alpha channel ('Z' is not alpha); "
                       "read as opaque\n");
    const Image out = readRawFile(folder / "out.raw", 4, 2, Depth::Bits32);
    EXPECT_EQ(out.row<PF_PixelFloat>(1)[3].alpha, 1.0f);

    run = runTool(folder, {"-q", "xyzw.exr", "-o", "x.raw"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, "ombrel-render: xyzw.exr: unsupported image: no R, G and B channels "
                       "among 4 (X, Y, Z, W)\n");
    EXPECT_FALSE(fs::exists(folder / "x.raw"));
}

// ---- Stopping ----------------------------------------------------------------------------------

class Stopping : public ::testing::TestWithParam<int> {};

TEST_P(Stopping, NoNewFrameNoTemporarySetdownAndTheSignalsExitCode) {
    const int signal = GetParam();
    TempFolder folder;
    fs::create_directory(folder / "in");
    fs::create_directory(folder / "out");
    const int frames = 60;
    writeImage(folder / "in" / "s.0001.png", noise(512, 512), SampleType::UInt8);
    for (int i = 2; i <= frames; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "s.%04d.png", i);
        fs::copy_file(folder / "in" / "s.0001.png", folder / "in" / name);
    }
    // Many renders a frame keep the sequence long enough to be stopped in the middle.
    ToolProcess tool(folder, {"-q", "--repeat", "20", "--jobs", signal == SIGINT ? "1" : "2",
                              "in/s.%04d.png", "-o", "out/o.%04d.png"});
    const auto finished = [&] {
        const auto names = TempFolder::entriesOf(folder / "out");
        return std::count_if(names.begin(), names.end(),
                             [](const std::string& n) { return n.starts_with("o."); });
    };
    const auto deadline = std::chrono::steady_clock::now() + seconds(40);
    while (finished() < 2 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    tool.sendSignal(signal);
    const ToolRun run = tool.wait(seconds(50));

    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, 128 + signal) << run.err;
    const std::string name = signal == SIGINT ? "SIGINT" : "SIGTERM";
    const auto lines = errorLines(run.err);
    ASSERT_EQ(lines.size(), 1u) << run.err;
    EXPECT_EQ(lines[0].rfind("ombrel-render: stopped by " + name + ": ", 0), 0u) << lines[0];
    EXPECT_EQ(run.err.find("still held"), std::string::npos) << "setdown did not run";
    EXPECT_TRUE(temporariesIn(folder.path()).empty());
    // What was written is whole; the rest was never started.
    const auto written = TempFolder::entriesOf(folder / "out");
    EXPECT_GE(written.size(), 2u);
    EXPECT_LT(written.size(), static_cast<std::size_t>(frames));
    EXPECT_NE(lines[0].find(std::to_string(written.size()) + " of 60 frames written"),
              std::string::npos)
        << lines[0];
    for (const std::string& file : written)
        EXPECT_EQ(readImage(folder / "out" / file).image.width, 512) << file;
}

INSTANTIATE_TEST_SUITE_P(Signals, Stopping, ::testing::Values(SIGINT, SIGTERM),
                         [](const auto& info) {
                             return std::string(info.param == SIGINT ? "Sigint" : "Sigterm");
                         });
