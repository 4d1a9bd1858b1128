#include "ImageFiles.h"

#include <OpenImageIO/imageio.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <system_error>
#include <vector>

#include "Console.h"
#include "Host/Text.h"

namespace OmbrelRender {

namespace fs = std::filesystem;

namespace {

// The format name the library knows the extension by ("png" for "x.PNG"); empty when none.
std::string formatOf(const fs::path& path) {
    std::string ext = path.extension().string();
    if (ext.size() < 2)
        return {};
    return OmbrelHost::asciiLower(std::string_view(ext).substr(1));
}

std::string oneLine(std::string message) {
    std::replace(message.begin(), message.end(), '\n', ' ');
    while (!message.empty() && message.back() == ' ')
        message.pop_back();
    return message;
}

// The library names the file it was given; a temporary's name means nothing to the user.
std::string naming(std::string message, const fs::path& file, const fs::path& shownAs) {
    const std::string from = file.string();
    if (from.empty() || from == shownAs.string())
        return message;
    for (std::size_t at = message.find(from); at != std::string::npos;
         at = message.find(from, at + shownAs.string().size()))
        message.replace(at, from.size(), shownAs.string());
    return message;
}

std::string libraryError(const std::string& fallback) {
    std::string message = oneLine(OIIO::geterror());
    return message.empty() ? fallback : message;
}

OIIO::TypeDesc typeDesc(SampleType type) {
    switch (type) {
    case SampleType::UInt8:
        return OIIO::TypeDesc::UINT8;
    case SampleType::UInt16:
        return OIIO::TypeDesc::UINT16;
    case SampleType::Half:
        return OIIO::TypeDesc::HALF;
    case SampleType::Float:
        break;
    }
    return OIIO::TypeDesc::FLOAT;
}

// Reads all channels of subimage 0 as `T`; integer types keep their stored values.
template <class T>
std::vector<T> readChannels(OIIO::ImageInput& in, const OIIO::ImageSpec& header,
                            OIIO::TypeDesc type) {
    std::vector<T> data(static_cast<std::size_t>(header.width) *
                        static_cast<std::size_t>(header.height) *
                        static_cast<std::size_t>(header.nchannels));
    if (!in.read_image(0, 0, 0, header.nchannels, type, data.data()))
        throw ToolError("cannot read: " + oneLine(in.geterror()));
    return data;
}

template <class T>
void expandToRgba(const std::vector<T>& data, int channels, float fullAlpha, FileImage& image) {
    const std::size_t pixels =
        static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height);
    const std::size_t step = static_cast<std::size_t>(channels);
    for (std::size_t i = 0; i < pixels; ++i) {
        const T* in = data.data() + i * step;
        float* out = image.rgba.data() + i * 4;
        if (channels <= 2) {
            out[0] = out[1] = out[2] = static_cast<float>(in[0]);
            out[3] = channels == 2 ? static_cast<float>(in[1]) : fullAlpha;
        } else {
            out[0] = static_cast<float>(in[0]);
            out[1] = static_cast<float>(in[1]);
            out[2] = static_cast<float>(in[2]);
            out[3] = channels >= 4 ? static_cast<float>(in[3]) : fullAlpha;
        }
    }
}

void checkChannels(const OIIO::ImageSpec& header) {
    if (header.nchannels < 1)
        throw ToolError("unsupported image: no channels");
    if (header.nchannels <= 4)
        return;
    static const char* const rgba[] = {"r", "g", "b", "a"};
    bool ok = header.channelnames.size() >= 4;
    for (int c = 0; ok && c < 4; ++c)
        ok = OmbrelHost::asciiLower(header.channelnames[static_cast<std::size_t>(c)]) == rgba[c];
    if (!ok) {
        std::string names;
        for (const std::string& name : header.channelnames)
            names += (names.empty() ? "" : ",") + name;
        throw ToolError("unsupported image: " + std::to_string(header.nchannels) + " channels (" +
                        names + ") whose first four are not R, G, B, A");
    }
}

} // namespace

FileImage readImageFile(const fs::path& path) {
    std::error_code ec;
    if (!fs::exists(path, ec))
        throw ToolError("cannot read: no such file");
    if (fs::is_directory(path, ec))
        throw ToolError("cannot read: is a folder");

    const QuietStderr quiet;
    // Without this hint the library multiplies PNG and TIFF colour by alpha on the way in.
    OIIO::ImageSpec config;
    config.attribute("oiio:UnassociatedAlpha", 1);
    auto in = OIIO::ImageInput::open(path.string(), &config);
    if (!in)
        throw ToolError("cannot read: " + libraryError("unsupported format or unreadable file"));
    const OIIO::ImageSpec header = in->spec();
    if (header.deep)
        throw ToolError("unsupported image: deep data");
    if (header.width <= 0 || header.height <= 0 || header.depth > 1)
        throw ToolError("unsupported image: not a 2D image");
    checkChannels(header);

    // Windowed formats (EXR) may have a data window away from the origin; the pixels read are
    // the data window's, which is what the frame is.
    FileImage image;
    image.width = header.width;
    image.height = header.height;
    image.rgba.resize(static_cast<std::size_t>(header.width) *
                      static_cast<std::size_t>(header.height) * 4);

    const OIIO::TypeDesc stored = header.format;
    if (stored == OIIO::TypeDesc::UINT8) {
        image.type = SampleType::UInt8;
        expandToRgba(readChannels<std::uint8_t>(*in, header, OIIO::TypeDesc::UINT8),
                     header.nchannels, 255.0f, image);
    } else if (stored == OIIO::TypeDesc::UINT16) {
        image.type = SampleType::UInt16;
        expandToRgba(readChannels<std::uint16_t>(*in, header, OIIO::TypeDesc::UINT16),
                     header.nchannels, 65535.0f, image);
    } else {
        // Half and float as stored; other integer types arrive scaled to 0..1.
        image.type = stored == OIIO::TypeDesc::HALF ? SampleType::Half : SampleType::Float;
        expandToRgba(readChannels<float>(*in, header, OIIO::TypeDesc::FLOAT), header.nchannels,
                     1.0f, image);
    }
    in->close();
    return image;
}

void checkImageFormat(const fs::path& target) {
    const QuietStderr quiet;
    const std::string format = formatOf(target);
    if (format.empty() || !OIIO::ImageOutput::create(format))
        throw ToolError("unsupported format: no image writer for \"" + target.extension().string() +
                        "\"");
}

void writeImageFile(const fs::path& file, const fs::path& formatFrom, const FileImage& image) {
    const QuietStderr quiet;
    const std::string format = formatOf(formatFrom);
    auto out = format.empty() ? nullptr : OIIO::ImageOutput::create(format);
    if (!out)
        throw ToolError("unsupported format: no image writer for \"" +
                        formatFrom.extension().string() + "\"");

    const OIIO::TypeDesc type = typeDesc(image.type);
    OIIO::ImageSpec header(image.width, image.height, 4, type);
    header.alpha_channel = 3;
    // The colour is straight; without this the library divides PNG colour by alpha.
    header.attribute("oiio:UnassociatedAlpha", 1);
    if (!out->open(file.string(), header))
        throw ToolError("cannot write: " + naming(oneLine(out->geterror()), file, formatFrom));

    bool ok = false;
    const std::size_t count = image.rgba.size();
    switch (image.type) {
    case SampleType::UInt8: {
        std::vector<std::uint8_t> data(count);
        for (std::size_t i = 0; i < count; ++i)
            data[i] = static_cast<std::uint8_t>(image.rgba[i]);
        ok = out->write_image(OIIO::TypeDesc::UINT8, data.data());
        break;
    }
    case SampleType::UInt16: {
        std::vector<std::uint16_t> data(count);
        for (std::size_t i = 0; i < count; ++i)
            data[i] = static_cast<std::uint16_t>(image.rgba[i]);
        ok = out->write_image(OIIO::TypeDesc::UINT16, data.data());
        break;
    }
    case SampleType::Half:
    case SampleType::Float:
        ok = out->write_image(OIIO::TypeDesc::FLOAT, image.rgba.data());
        break;
    }
    std::string error = ok ? std::string() : oneLine(out->geterror());
    if (!out->close() && error.empty())
        error = oneLine(out->geterror());
    if (!error.empty() || !ok)
        throw ToolError("cannot write: " + (error.empty() ? std::string("write failed")
                                                          : naming(error, file, formatFrom)));
}

} // namespace OmbrelRender
