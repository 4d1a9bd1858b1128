// Image files for the tests, written and read through the tool's own encoder and reader.
#pragma once

#include <filesystem>
#include <optional>

#include "AtomicFile.h"
#include "ImageFiles.h"
#include "Options.h"

namespace OmbrelRenderTest {

inline void writeImage(const std::filesystem::path& path, const OmbrelRender::Image& image,
                       OmbrelRender::SampleType type) {
    OmbrelRender::writeBytesAtomically(path, OmbrelRender::encodeImageFile(path, image, type, {}));
}

inline OmbrelRender::ImageRead readImage(const std::filesystem::path& path,
                                         std::optional<OmbrelRender::Depth> depth = {}) {
    return OmbrelRender::readImageFile(path, depth, OmbrelRender::kMaxPixels, {});
}

} // namespace OmbrelRenderTest
