// The effect's six conversions as the popup "From" numbers them, and how users name them.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace OmbrelRender {

inline constexpr int kModeCount = 6;

// Popup entries in popup order: value v is kModeNames[v - 1].
inline constexpr std::array<std::string_view, kModeCount> kModeNames = {
    "RGB to YUV", "YUV to RGB", "RGB to HLS", "HLS to RGB", "RGB to HSB", "HSB to RGB"};

// "RGB to HLS" for 3.
std::string_view modeName(int mode);
// "rgb-to-hls" for 3: the part of a default output name that says what was done.
std::string modeSlug(int mode);
// 1..6 from "3", "RGB to HLS", "rgb to hls" or "rgb-to-hls" (case-insensitive, surrounding
// blanks ignored); nothing for anything else.
std::optional<int> parseMode(std::string_view text);
// The backward conversion of a forward one (1 -> 2, 3 -> 4, 5 -> 6).
int inverseMode(int forwardMode);
bool isForward(int mode);
// "RGB to YUV, YUV to RGB, ..." for messages.
std::string modeList();

} // namespace OmbrelRender
