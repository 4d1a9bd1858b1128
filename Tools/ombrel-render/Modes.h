// The effect's conversions as the popup "From" numbers and names them, and how users name them
// on the command line.
//
// The tool reaches the effect only through the host, and it must read --from before the module
// is loaded, so it keeps this one small table of its own; a test holds it against the popup the
// host records from the built module. Pairing, system names and inverses all come from here:
// nothing else in the tool does arithmetic on popup values.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace OmbrelRender {

struct Mode {
    int value;               // the popup value that selects it, 1-based
    std::string_view name;   // the popup entry, exactly as the effect shows it
    std::string_view system; // the colour system on the other side of RGB
    bool forward;            // RGB to `system`; otherwise `system` back to RGB
    int inverse;             // popup value of the conversion that undoes this one
};

// In popup order.
inline constexpr std::array<Mode, 6> kModes = {{
    {1, "RGB to YUV", "YUV", true, 2},
    {2, "YUV to RGB", "YUV", false, 1},
    {3, "RGB to HLS", "HLS", true, 4},
    {4, "HLS to RGB", "HLS", false, 3},
    {5, "RGB to HSB", "HSB", true, 6},
    {6, "HSB to RGB", "HSB", false, 5},
}};

inline constexpr int kModeCount = static_cast<int>(kModes.size());

// The conversion of a popup value; throws std::out_of_range for a value the popup lacks.
const Mode& findMode(int mode);
// "RGB to HLS" for 3.
std::string_view modeName(int mode);
// "rgb-to-hls" for 3: the part of a default output name that says what was done.
std::string modeSlug(int mode);
// 1..6 from "3", "RGB to HLS", "rgb to hls" or "rgb-to-hls" (case-insensitive, surrounding
// blanks ignored); nothing for anything else.
std::optional<int> parseMode(std::string_view text);
// "RGB to HLS to RGB" for a forward conversion followed by its inverse.
std::string roundTripName(const Mode& forward);
// 1 "RGB to YUV", 2 "YUV to RGB", ... for messages.
std::string modeList();

} // namespace OmbrelRender
