#include "FrameIO.h"

#include "Chart.h"
#include "ContactSheet.h"
#include "FrameList.h"
#include "HostUnits.h"
#include "ImageFiles.h"
#include "Options.h"
#include "RawFiles.h"

namespace OmbrelRender {

using OmbrelHost::Depth;
using OmbrelHost::Image;

Image loadFrame(const Frame& frame, const Options& options, const Warn& warn) {
    if (frame.input.empty()) {
        const auto [w, h] = options.size.value_or(std::pair{kChartWidth, kChartHeight});
        return makeChart(w, h, options.depth.value_or(Depth::Bits8));
    }
    if (isRawPath(frame.input))
        return readRawFile(frame.input, options.size->first, options.size->second, *options.depth);
    return readImageFile(frame.input, options.depth, options.maxPixels, warn, options.subimage)
        .image;
}

OutputFile::OutputFile(const std::filesystem::path& target, Accepts accepts, bool halfFloats)
    : target_(target), halfFloats_(halfFloats), file_(target) {
    if (accepts == Accepts::FrameFiles && isRawPath(target_))
        return;
    checkImageFormat(target_);
}

void OutputFile::write(const Image& frame, const Warn& warn) {
    if (isRawPath(target_)) {
        file_.write(encodeRaw(frame));
        return;
    }
    SampleType type = storedType(target_.extension().string(), frame.depth);
    if (halfFloats_ && type == SampleType::Float)
        type = SampleType::Half;
    file_.write(encodeImageFile(target_, frame, type, warn));
}

void OutputFile::write(const Canvas& picture, const Warn& warn) {
    file_.write(encodeImageFile(target_, canvasToImage(picture), SampleType::UInt8, warn));
}

} // namespace OmbrelRender
