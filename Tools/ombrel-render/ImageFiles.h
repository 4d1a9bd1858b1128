// Reading and writing image files (PNG, TIFF, EXR and whatever else the image library knows).
// The one place that talks to the image library.
//
// Reading takes the file's header first and refuses, before decoding, an image over the pixel
// limit or one its file could not hold; pixels are then decoded a band of rows at a time
// straight into host units, so the only whole copy is the host image. Writing encodes into
// memory, never through the library's own file handling, so that the caller writes the bytes
// with every step checked (AtomicFile). Stored values are kept as they are: alpha stays
// straight, colour is never multiplied or divided by alpha on the way in or out. Channels are
// chosen as Channels.h says. Errors throw ToolError with the cause (the library's own message
// where it gave one); the caller names the file.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

#include "Host/Image.h"
#include "HostUnits.h"
#include "ToolError.h"

namespace OmbrelRender {

// In a build without the image library (ImageFilesNone.cpp) every function here throws a
// ToolError saying that the format is not supported in this build.

struct ImageRead {
    Image image;
    SampleType stored = SampleType::UInt8; // what the file holds per channel
};

// Reads a regular file (anything else is refused before it is read) into host units at `depth`,
// or at the depth the file's type suggests. Of a file holding several subimages (EXR parts, TIFF
// pages), `subimage` (0-based), or by default the first whose channels have colour
// (Channels.h), with a warning saying which. Warnings (channels read in order, an unnamed
// alpha, the subimage) go to `warn`.
ImageRead readImageFile(const std::filesystem::path& path, std::optional<Depth> depth,
                        long long maxPixels, const Warn& warn,
                        std::optional<int> subimage = std::nullopt);

// Throws ToolError("unsupported format ...") when no writer that can write to memory handles
// the target's extension.
void checkImageFormat(const std::filesystem::path& target);

// The bytes of an image file of the format named by `target`'s extension holding `frame` as
// `type`. What the format cannot hold (alpha, the bits asked for) is narrowed, and every way the
// file loses data (those, and the lossy coding of JPEG, WebP, GIF and Radiance HDR) is said in
// one warning.
std::vector<std::uint8_t> encodeImageFile(const std::filesystem::path& target, const Image& frame,
                                          SampleType type, const Warn& warn);

} // namespace OmbrelRender
