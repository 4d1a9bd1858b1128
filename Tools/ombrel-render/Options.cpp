#include "Options.h"

#include <charconv>
#include <limits>

#include "Modes.h"

namespace OmbrelRender {

namespace {

std::optional<long long> parseInteger(const std::string& text) {
    long long value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end)
        return std::nullopt;
    return value;
}

int parseCount(const std::string& option, const std::string& text, int max) {
    const auto value = parseInteger(text);
    if (!value || *value < 1 || *value > max)
        throw UsageError(option + ": expected a whole number from 1 to " + std::to_string(max) +
                         ", got '" + text + "'");
    return static_cast<int>(*value);
}

} // namespace

std::optional<std::pair<int, int>> parseSize(const std::string& text) {
    const auto x = text.find_first_of("xX");
    if (x == std::string::npos)
        return std::nullopt;
    const auto w = parseInteger(text.substr(0, x));
    const auto h = parseInteger(text.substr(x + 1));
    if (!w || !h || *w < 1 || *h < 1)
        return std::nullopt;
    if (*w > kMaxSide || *h > kMaxSide)
        throw UsageError("--size: " + text + " is over the host's limit of " +
                         std::to_string(kMaxSide) + " pixels a side");
    if (*w * *h > kMaxPixels)
        throw UsageError("--size: " + text + " is " + std::to_string(*w * *h) +
                         " pixels, over the host's limit of " + std::to_string(kMaxPixels));
    return std::pair<int, int>{static_cast<int>(*w), static_cast<int>(*h)};
}

Options parseCommandLine(const std::vector<std::string>& args) {
    Options options;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
            options.inputs.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }

        // "--name=value" and "--name value"; "-o value" and "-ovalue".
        std::string name = arg;
        std::optional<std::string> attached;
        if (arg.rfind("--", 0) == 0) {
            if (const auto eq = arg.find('='); eq != std::string::npos) {
                name = arg.substr(0, eq);
                attached = arg.substr(eq + 1);
            }
        } else if (arg.size() > 2 && arg[1] == 'o') {
            name = "-o";
            attached = arg.substr(2);
        }
        auto value = [&]() -> std::string {
            if (attached)
                return *attached;
            if (i + 1 >= args.size())
                throw UsageError(name + ": missing value");
            return args[++i];
        };
        auto flag = [&](bool& target) {
            if (attached)
                throw UsageError(name + ": takes no value");
            target = true;
        };

        if (name == "--from") {
            const std::string text = value();
            const auto mode = parseMode(text);
            if (!mode)
                throw UsageError("--from: unknown conversion '" + text + "'; expected one of " +
                                 modeList());
            options.from = *mode;
        } else if (name == "--depth") {
            const std::string text = value();
            if (text == "8")
                options.depth = OmbrelHost::Depth::Bits8;
            else if (text == "16")
                options.depth = OmbrelHost::Depth::Bits16;
            else if (text == "32")
                options.depth = OmbrelHost::Depth::Bits32;
            else
                throw UsageError("--depth: expected 8, 16 or 32, got '" + text + "'");
        } else if (name == "--world-order") {
            const std::string text = value();
            if (text == "argb")
                options.worldOrder = OmbrelHost::WorldOrder::Argb;
            else if (text == "bgra")
                options.worldOrder = OmbrelHost::WorldOrder::Bgra;
            else
                throw UsageError("--world-order: expected argb or bgra, got '" + text + "'");
        } else if (name == "--threads") {
            options.threads = parseCount(name, value(), 1024);
        } else if (name == "--jobs") {
            options.jobs = parseCount(name, value(), 256);
        } else if (name == "-o" || name == "--output") {
            options.output = value();
            if (options.output->empty())
                throw UsageError(name + ": empty path");
        } else if (name == "--module") {
            options.module = value();
        } else if (name == "--about") {
            flag(options.about);
        } else if (name == "--info") {
            flag(options.info);
        } else if (name == "--repeat") {
            options.repeat = parseCount(name, value(), 100000);
        } else if (name == "--contact-sheet") {
            options.contactSheet = value();
        } else if (name == "--tile-size") {
            options.tileSize = parseCount(name, value(), 4096);
        } else if (name == "--size") {
            const std::string text = value();
            options.size = parseSize(text);
            if (!options.size)
                throw UsageError("--size: expected WIDTHxHEIGHT with positive numbers, got '" +
                                 text + "'");
        } else if (name == "--max-pixels") {
            const std::string text = value();
            const auto limit = parseInteger(text);
            if (!limit || *limit < 1 || *limit > kMaxPixels)
                throw UsageError("--max-pixels: expected a whole number from 1 to " +
                                 std::to_string(kMaxPixels) + ", got '" + text + "'");
            options.maxPixels = *limit;
        } else if (name == "--subimage") {
            const std::string text = value();
            const auto index = parseInteger(text);
            if (!index || *index < 0 || *index > 1000000)
                throw UsageError("--subimage: expected a whole number from 0, got '" + text + "'");
            options.subimage = static_cast<int>(*index);
        } else if (name == "--half") {
            flag(options.half);
        } else if (name == "-q" || name == "--quiet") {
            flag(options.quiet);
        } else if (name == "--fail-fast") {
            flag(options.failFast);
        } else if (name == "-h" || name == "--help") {
            flag(options.help);
        } else {
            throw UsageError("unknown option '" + arg + "'");
        }
    }

    if (options.contactSheet) {
        if (options.half)
            throw UsageError("--half: the contact sheet is an 8-bit picture");
        if (options.output)
            throw UsageError("--contact-sheet writes its own file; leave out -o");
        if (options.inputs.size() > 1)
            throw UsageError("--contact-sheet takes one input (or none for the test chart)");
    }
    return options;
}

namespace {

// The popup's entries for the usage text, three to a line under --from: 1 "RGB to YUV" ...
std::string modeColumns() {
    std::string text;
    for (std::size_t i = 0; i < kModes.size(); ++i) {
        std::string entry =
            std::to_string(kModes[i].value) + " \"" + std::string(kModes[i].name) + "\"";
        if (i % 3 == 0)
            text += "                        ";
        text += " " + entry;
        if (i % 3 == 2 || i + 1 == kModes.size())
            text += "\n";
        else
            text += std::string(entry.size() < 16 ? 16 - entry.size() : 1, ' ');
    }
    return text;
}

} // namespace

std::string usageText() {
    return R"(Usage: ombrel-render [OPTIONS] [INPUT ...]

Renders each INPUT as one frame through the OmbrelColorSpaceConversion effect, loaded into the
simulated host as the real host loads it. With no INPUT, renders the built-in test chart.

Options:
  --from MODE          conversion: a number or the popup entry, case-insensitive (default 1):
)" + modeColumns() +
           R"(  --depth 8|16|32      bits per channel of the render (default: from the input file; 8 for
                       the chart)
  --world-order ORDER  channel order of the host's worlds: argb (default) or bgra (8 and
                       32 bits only); the files written are the same either way
  --threads N          threads the host reports and runs (default: the machine's)
  --jobs N             frames rendered at once (default 1)
  -o, --output PATH    output file; for several inputs a pattern with %d or %04d (the frame
                       number) or a folder (default: NAME.<mode>.<ext> beside the input,
                       chart.<mode>.png or .exr in the current folder for the chart)
  --module PATH        effect module (default: the one beside this program)
  --about              print the effect's About text
  --info               print the module's PiPL, what global setup reports and the
                       conversion kernels it runs (OMBREL_KERNEL=scalar|sse2|sse41|avx2|avx512
                       asks for one)
  --repeat N           render each frame N times and print its render time (min, median)
                       and megapixels per second
  --contact-sheet PNG  render the input (or the chart) through all six conversions and the
                       three round trips, and tile them with labels into one PNG
  --tile-size N        longest side of a contact sheet tile in pixels (default 512)
  --size WxH           size of a raw input, or of the chart (default 1024x512)
  --max-pixels N       refuse an input image of more than N pixels before decoding it
                       (default and most 268435456, 16384x16384)
  --subimage N         of an input holding several (EXR parts, TIFF pages), render subimage
                       N, counted from 0 (default: the first with colour channels)
  --half               write EXR outputs as half floats, as pipelines store them (default:
                       float)
  -q, --quiet          print nothing but errors
  --fail-fast          stop at the first frame that fails
  -h, --help           print this help

Inputs and outputs are PNG, TIFF, EXR or any format the image library reads, or .raw: host
pixels (ARGB records at the render depth: uint8, uint16 little-endian 0..32768, or float32
little-endian), row-major, no header; raw input needs --size and --depth. An INPUT containing
%d or %04d names a numbered sequence. PNG stores 8-bit renders as 8 bits and deeper ones as
16; TIFF stores the render's depth; EXR stores float (half with --half).

An output never overwrites another frame's input or another frame's output (a usage error);
it may replace its own input. SIGINT and SIGTERM stop the run: no new frame starts, frames in
progress are abandoned, temporaries are removed.

Exit codes: 0 success, 1 a render or file failure, 2 a usage error, 130 or 143 stopped by
SIGINT or SIGTERM.
)";
}

} // namespace OmbrelRender
