// Raw host pixels: the ARGB records of a frame in host units at its depth (uint8; uint16
// little-endian, 0..32768; float32 little-endian), row-major, no header, no padding. This is
// how builds without an image library exchange pixels, so it stays free of one.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <vector>

#include "Host/Image.h"

namespace OmbrelRender {

std::size_t rawByteCount(int width, int height, OmbrelHost::Depth depth);

std::vector<std::uint8_t> encodeRaw(const OmbrelHost::Image& image);
// Throws ToolError when the byte count does not fit the size and depth.
OmbrelHost::Image decodeRaw(std::span<const std::uint8_t> bytes, int width, int height,
                            OmbrelHost::Depth depth);

// Throws ToolError: missing, not a regular file, unreadable, wrong size.
OmbrelHost::Image readRawFile(const std::filesystem::path& path, int width, int height,
                              OmbrelHost::Depth depth);
// Atomic (AtomicFile.h).
void writeRawFile(const std::filesystem::path& path, const OmbrelHost::Image& image);

bool isRawPath(const std::filesystem::path& path);

} // namespace OmbrelRender
