// Image files in a build without the image library: only raw files can be used there.
#include "ImageFiles.h"

#include <string>

namespace OmbrelRender {

namespace {

[[noreturn]] void unsupported(const char* action, const std::filesystem::path& file) {
    const std::string extension = file.extension().string();
    throw ToolError(std::string(action) + ": " +
                    (extension.empty() ? std::string("files without an extension")
                                       : "\"" + extension + "\" files") +
                    " are not supported in this build, which reads and writes .raw files only");
}

} // namespace

ImageRead readImageFile(const std::filesystem::path& path, std::optional<Depth>, long long,
                        const Warn&, std::optional<int>) {
    unsupported("cannot read", path);
}

void checkImageFormat(const std::filesystem::path& target) {
    unsupported("cannot write", target);
}

std::vector<std::uint8_t> encodeImageFile(const std::filesystem::path& target, const Image&,
                                          SampleType, const Warn&) {
    unsupported("cannot write", target);
}

} // namespace OmbrelRender
