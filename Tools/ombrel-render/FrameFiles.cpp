#include "FrameFiles.h"

#include "Chart.h"
#include "ContactSheet.h"
#include "FileImage.h"
#include "Frames.h"
#include "HostUnits.h"
#include "ImageFiles.h"
#include "Options.h"
#include "RawFiles.h"

namespace OmbrelRender {

using OmbrelHost::Depth;
using OmbrelHost::Image;

Image loadFrame(const Frame& frame, const Options& options) {
    if (frame.input.empty()) {
        const auto [w, h] = options.size.value_or(std::pair{kChartWidth, kChartHeight});
        return makeChart(w, h, options.depth.value_or(Depth::Bits8));
    }
    if (isRawPath(frame.input))
        return readRawFile(frame.input, options.size->first, options.size->second, *options.depth);
    const FileImage file = readImageFile(frame.input);
    return toHost(file, options.depth.value_or(naturalDepth(file.type)));
}

OutputFile::OutputFile(std::filesystem::path target, Accepts accepts) : file_(std::move(target)) {
    if (accepts == Accepts::FrameFiles && isRawPath(file_.target()))
        return;
    checkImageFormat(file_.target());
}

void OutputFile::write(const Image& frame) {
    if (isRawPath(file_.target())) {
        writeBytes(file_.tempPath(), encodeRaw(frame));
    } else {
        const SampleType type = storedType(file_.target().extension().string(), frame.depth);
        writeImageFile(file_.tempPath(), file_.target(), fromHost(frame, type));
    }
    file_.commit();
}

void OutputFile::write(const Canvas& picture) {
    writeImageFile(file_.tempPath(), file_.target(), canvasToFile(picture));
    file_.commit();
}

} // namespace OmbrelRender
