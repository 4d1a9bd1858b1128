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

FileImage readImageFile(const std::filesystem::path&) {
    unavailable();
}

void checkImageFormat(const std::filesystem::path&) {
    unavailable();
}

void writeImageFile(const std::filesystem::path&, const std::filesystem::path&, const FileImage&) {
    unavailable();
}

} // namespace OmbrelRender
