// The command line of ombrel-render.
#pragma once

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "Host/Image.h"
#include "Host/OmbrelHost.h"

namespace OmbrelRender {

// A mistake in the command line: reported with the usage hint, exit code 2.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The host's limits on a frame (Host/Image.h): at most 65536 pixels a side and 2^28 pixels
// (16384 x 16384) in all. The pixel count is also the default limit on an input image's size.
inline constexpr long long kMaxSide = OmbrelHost::kMaxFrameSide;
inline constexpr long long kMaxPixels = OmbrelHost::kMaxFramePixels;

struct Options {
    int from = 1; // popup value 1..6
    std::optional<OmbrelHost::Depth> depth;
    OmbrelHost::WorldOrder worldOrder = OmbrelHost::WorldOrder::Argb;
    int threads = 0; // 0: the machine's
    int jobs = 1;
    std::optional<std::string> output;
    std::optional<std::filesystem::path> module;
    bool about = false;
    bool info = false;
    int repeat = 0; // 0: render once without timing
    std::optional<std::filesystem::path> contactSheet;
    int tileSize = 512;
    std::optional<std::pair<int, int>> size;
    long long maxPixels = kMaxPixels; // an image input with more is refused before decoding
    std::optional<int> subimage;      // of an input holding several (0-based)
    bool half = false;                // EXR outputs hold half floats instead of floats
    bool quiet = false;
    bool failFast = false;
    bool help = false;
    std::vector<std::string> inputs;
};

// Parses the arguments after the program name; throws UsageError naming the option and what
// is wrong with it.
Options parseCommandLine(const std::vector<std::string>& args);

std::string usageText();

// "1920x1080" -> (1920, 1080); nothing unless both are positive numbers. Throws UsageError
// naming the host's limit for a frame larger than the host renders.
std::optional<std::pair<int, int>> parseSize(const std::string& text);

} // namespace OmbrelRender
