// The effect's colour conversions, one row each. Everything that lists them follows this table:
// the popup's entries and their count, ColorSpaceConversion::Parameter::Type, the filter's choice
// of per-pixel function and of the channel encodings it reads and writes.
//
// Adding a conversion: an enumerator, a row (appended: the popup value is the row's position,
// and a project saved with the effect keeps its values), the colour-system function the row
// names, and, for a new system, its ColourSystem. A backward row reads exactly what its forward
// row writes.
#pragma once

#include <cstddef>
#include <iterator>

#include "HostInterface/EffectInterface.h"
#include "Ombrel/OmbrelColorsys.h"
#include "Ombrel/OmbrelGeneral.h"

namespace Ombrel {

// How one component of a colour system is kept in a channel of an ordinary image, whose
// normalised range is 0..1.
enum class Encoding {
    Unit,    // a component in 0..1, stored as it is
    Centred, // a component in -0.5..0.5, stored offset by +0.5
    Hue,     // an angle in degrees, [0, 360), stored as a fraction of a full turn
};

// The three components of a colour system, carried in red, green and blue in this order.
struct ColourSystem {
    const char* name;
    const char* components[3];
    Encoding encodings[3];
};

inline constexpr ColourSystem kRgb{
    "RGB", {"R", "G", "B"}, {Encoding::Unit, Encoding::Unit, Encoding::Unit}};
inline constexpr ColourSystem kYuv{
    "YUV", {"Y", "U", "V"}, {Encoding::Unit, Encoding::Centred, Encoding::Centred}};
inline constexpr ColourSystem kHls{
    "HLS", {"H", "L", "S"}, {Encoding::Hue, Encoding::Unit, Encoding::Unit}};
inline constexpr ColourSystem kHsb{
    "HSB", {"H", "S", "B"}, {Encoding::Hue, Encoding::Unit, Encoding::Unit}};

// The popup's values: 1-based positions of its entries. Any other value converts nothing.
enum ConversionType : A_long {
    RGB_TO_YUV = 1,
    YUV_TO_RGB = 2,
    RGB_TO_HLS = 3,
    HLS_TO_RGB = 4,
    RGB_TO_HSB = 5,
    HSB_TO_RGB = 6,
};

enum class Direction {
    Forward,  // RGB into the row's system
    Backward, // the row's system back into RGB
};

struct Conversion {
    ConversionType type;
    const char* name; // the popup entry
    Direction direction;
    const ColourSystem* system; // the side that is not RGB
    // The colour-system function, on components in the system's own units (hue in degrees, U
    // and V centred on 0): the source is decoded before it and the result encoded after it.
    ColorFloat<float> (*apply)(const ColorFloat<float>&);

    constexpr bool isForward() const { return direction == Direction::Forward; }
    constexpr const ColourSystem& from() const { return isForward() ? kRgb : *system; }
    constexpr const ColourSystem& to() const { return isForward() ? *system : kRgb; }
};

inline constexpr Conversion kConversions[] = {
    {RGB_TO_YUV, "RGB to YUV", Direction::Forward, &kYuv, &Colorsys::RgbToYuv},
    {YUV_TO_RGB, "YUV to RGB", Direction::Backward, &kYuv, &Colorsys::YuvToRgb},
    {RGB_TO_HLS, "RGB to HLS", Direction::Forward, &kHls, &Colorsys::RgbToHls},
    {HLS_TO_RGB, "HLS to RGB", Direction::Backward, &kHls, &Colorsys::HlsToRgb},
    {RGB_TO_HSB, "RGB to HSB", Direction::Forward, &kHsb, &Colorsys::RgbToHsb},
    {HSB_TO_RGB, "HSB to RGB", Direction::Backward, &kHsb, &Colorsys::HsbToRgb},
};

inline constexpr std::size_t kConversionCount = std::size(kConversions);

// The row of a popup value, kConversionCount for a value that names no conversion. Rows are
// in popup order, so this is value - 1.
constexpr std::size_t conversionIndex(A_long type) {
    return type >= 1 && static_cast<std::size_t>(type) <= kConversionCount
               ? static_cast<std::size_t>(type) - 1
               : kConversionCount;
}

constexpr bool rowsFollowPopupOrder() {
    for (std::size_t i = 0; i < kConversionCount; ++i)
        if (conversionIndex(kConversions[i].type) != i)
            return false;
    return true;
}
static_assert(rowsFollowPopupOrder(), "row i must hold popup value i + 1");

} // namespace Ombrel
