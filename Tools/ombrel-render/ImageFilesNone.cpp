// Image files in a build without the image library: only raw files can be used there.
#include "ImageFiles.h"

namespace OmbrelRender {

namespace {

[[noreturn]] void unavailable() {
    throw ToolError("unsupported format: this build reads and writes raw files only");
}

} // namespace

bool imageFilesAvailable() {
    return false;
}

ImageRead readImageFile(const std::filesystem::path&, std::optional<Depth>, long long,
                        const Warn&) {
    unavailable();
}

void checkImageFormat(const std::filesystem::path&) {
    unavailable();
}

std::vector<std::uint8_t> encodeImageFile(const std::filesystem::path&, const Image&, SampleType,
                                          const Warn&) {
    unavailable();
}

} // namespace OmbrelRender
