// Reading and writing image files (PNG, TIFF, EXR and whatever else the image library knows).
// The one place that talks to the image library; everything else sees FileImage.
//
// Stored values are kept as they are: alpha stays straight, colour is never multiplied or
// divided by alpha on the way in or out. An image without alpha gets full alpha, a grey image is
// expanded to RGB, and more than four channels are accepted only when the first four are R, G,
// B, A. Errors throw ToolError with the cause; the caller names the file.
#pragma once

#include <filesystem>

#include "FileImage.h"

namespace OmbrelRender {

// In a build without the image library (ImageFilesNone.cpp) every function here throws a
// ToolError saying that the format is not supported in this build.
FileImage readImageFile(const std::filesystem::path& path);

// Throws ToolError("unsupported format ...") when no writer handles the target's extension.
void checkImageFormat(const std::filesystem::path& target);

// Writes `image` at its own sample type into `file`, choosing the format by the extension of
// `formatFrom` (the final name, when `file` is a temporary). Not atomic by itself.
void writeImageFile(const std::filesystem::path& file, const std::filesystem::path& formatFrom,
                    const FileImage& image);

} // namespace OmbrelRender
