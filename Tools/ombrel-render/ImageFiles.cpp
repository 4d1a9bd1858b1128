#include "ImageFiles.h"

#include <OpenImageIO/filesystem.h>
#include <OpenImageIO/imageio.h>

#include <algorithm>
#include <string>

#include "Channels.h"
#include "HeaderChecks.h"
#include "Host/Text.h"
#include "SystemFiles.h"

namespace OmbrelRender {

namespace fs = std::filesystem;

namespace {

// Pixels are moved a band of rows at a time, about this many bytes of file samples each.
constexpr std::size_t kBandBytes = std::size_t{4} << 20;

constexpr int kJpegMaxSide = 65500;

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

// The first message the library has: the reader's or writer's own, else the global one (left
// by a failed open or create), else `fallback`. Reading them also clears them.
template <class Codec>
std::string libraryError(Codec* codec, const std::string& fallback) {
    std::string message = codec != nullptr ? oneLine(codec->geterror()) : std::string();
    const std::string global = oneLine(OIIO::geterror());
    if (message.empty())
        message = global;
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

// The type samples of `type` are held in while the tool works on them (HostUnits.h): half as
// float, which holds every half value exactly.
OIIO::TypeDesc memoryType(SampleType type) {
    return type == SampleType::Half ? OIIO::TypeDesc::FLOAT : typeDesc(type);
}

std::string typeText(OIIO::TypeDesc type) {
    if (type == OIIO::TypeDesc::UINT8)
        return "8-bit integers";
    if (type == OIIO::TypeDesc::UINT16)
        return "16-bit integers";
    if (type == OIIO::TypeDesc::HALF)
        return "half floats";
    if (type == OIIO::TypeDesc::FLOAT)
        return "floats";
    if (type == OIIO::TypeDesc::DOUBLE)
        return "double floats";
    if (type.basetype == OIIO::TypeDesc::INT8 || type.basetype == OIIO::TypeDesc::INT16 ||
        type.basetype == OIIO::TypeDesc::INT32 || type.basetype == OIIO::TypeDesc::INT64)
        return std::to_string(type.size() * 8) + "-bit signed integers";
    if (type.basetype == OIIO::TypeDesc::UINT32 || type.basetype == OIIO::TypeDesc::UINT64)
        return std::to_string(type.size() * 8) + "-bit integers";
    return type.c_str();
}

// What the channels the plan uses hold: 8-bit and 16-bit unsigned integers, half and float as
// they are; channels of different types as the widest of them (8 and 16 bits as 16; half and
// float as float; an integer beside a float as float). Anything else is refused: signed and
// 32-bit integers have no exact meaning in host units, and this library's TIFF reader hands
// over double samples as zeros.
SampleType storedSamples(const OIIO::ImageSpec& header, const ChannelPlan& plan) {
    bool anyInt8 = false, anyInt16 = false, anyHalf = false, anyFloat = false;
    for (const int channel : {plan.red, plan.green, plan.blue, plan.alpha}) {
        if (channel < 0)
            continue;
        const OIIO::TypeDesc type = header.channelformat(channel);
        switch (type.basetype) {
        case OIIO::TypeDesc::UINT8:
            anyInt8 = true;
            break;
        case OIIO::TypeDesc::UINT16:
            anyInt16 = true;
            break;
        case OIIO::TypeDesc::HALF:
            anyHalf = true;
            break;
        case OIIO::TypeDesc::FLOAT:
            anyFloat = true;
            break;
        default: {
            const std::string name = static_cast<std::size_t>(channel) < header.channelnames.size()
                                         ? header.channelnames[static_cast<std::size_t>(channel)]
                                         : std::to_string(channel);
            throw ToolError("unsupported image: channel " + name + " holds " + typeText(type) +
                            "; 8-bit and 16-bit unsigned integers, half and float are read");
        }
        }
    }
    if (anyFloat || ((anyInt8 || anyInt16) && anyHalf))
        return SampleType::Float;
    if (anyHalf)
        return SampleType::Half;
    return anyInt16 ? SampleType::UInt16 : SampleType::UInt8;
}

// Everything the library reads comes through here, from the file this tool opened and checked.
class FileReader final : public OIIO::Filesystem::IOProxy {
public:
    FileReader(const InputFile& file, const std::string& name)
        : IOProxy(name, IOProxy::Read), file_(file) {}
    const char* proxytype() const override { return "ombrel-render input"; }
    size_t read(void* buffer, size_t size) override {
        const size_t n = pread(buffer, size, m_pos);
        m_pos += static_cast<int64_t>(n);
        return n;
    }
    size_t pread(void* buffer, size_t size, int64_t offset) override {
        if (offset < 0)
            return 0;
        try {
            return file_.readAt(static_cast<std::uint64_t>(offset), buffer, size);
        } catch (const ToolError& e) {
            error(e.what());
            return 0;
        }
    }
    size_t size() const override { return static_cast<size_t>(file_.size()); }

private:
    const InputFile& file_;
};

// One row of RGBA samples from a row of the file's channels chBegin..: `plan` relative to
// chBegin, alpha -1 for full.
template <class C>
void gatherRow(const C* in, int channels, const ChannelPlan& plan, C full, int width, C* out) {
    for (int x = 0; x < width; ++x, in += channels, out += 4) {
        out[0] = in[plan.red];
        out[1] = in[plan.green];
        out[2] = in[plan.blue];
        out[3] = plan.alpha >= 0 ? in[plan.alpha] : full;
    }
}

void gatherRow(SampleType type, const unsigned char* in, int channels, const ChannelPlan& plan,
               int width, unsigned char* out) {
    switch (type) {
    case SampleType::UInt8:
        gatherRow<std::uint8_t>(in, channels, plan, 255, width, out);
        break;
    case SampleType::UInt16:
        gatherRow(reinterpret_cast<const std::uint16_t*>(in), channels, plan, std::uint16_t{65535},
                  width, reinterpret_cast<std::uint16_t*>(out));
        break;
    case SampleType::Half:
    case SampleType::Float:
        gatherRow(reinterpret_cast<const float*>(in), channels, plan, 1.0f, width,
                  reinterpret_cast<float*>(out));
        break;
    }
}

template <class C>
bool alphaIsFull(const C* row, int width, C full) {
    for (int x = 0; x < width; ++x)
        if (row[4 * x + 3] != full)
            return false;
    return true;
}

bool alphaIsFull(SampleType type, const unsigned char* row, int width) {
    switch (type) {
    case SampleType::UInt8:
        return alphaIsFull<std::uint8_t>(row, width, 255);
    case SampleType::UInt16:
        return alphaIsFull(reinterpret_cast<const std::uint16_t*>(row), width,
                           std::uint16_t{65535});
    case SampleType::Half:
    case SampleType::Float:
        break;
    }
    return alphaIsFull(reinterpret_cast<const float*>(row), width, 1.0f);
}

// Whether samples of type `kept` hold every value of type `given`.
bool holdsEvery(OIIO::TypeDesc kept, OIIO::TypeDesc given) {
    if (kept == given || kept == OIIO::TypeDesc::FLOAT)
        return true;
    if (given == OIIO::TypeDesc::UINT8)
        return kept == OIIO::TypeDesc::UINT16 || kept == OIIO::TypeDesc::HALF;
    return false;
}

// How a format's own coding changes what it is given, whatever the type; nothing for the
// formats that keep their samples.
const char* compressionLoss(const std::string& format) {
    if (format == "jpeg")
        return "its compression changes colours";
    if (format == "webp")
        return "its lossy compression changes colours";
    if (format == "gif")
        return "it holds at most 256 colours and alpha only as on or off";
    if (format == "hdr")
        return "it holds colours as 8-bit mantissas sharing one exponent (RGBE)";
    return nullptr;
}

// What the file's header allows to be checked against its size, before decoding.
void checkHeader(const OIIO::ImageSpec& header, const InputFile& file, long long maxPixels) {
    if (header.deep)
        throw ToolError("unsupported image: deep data");
    if (header.width <= 0 || header.height <= 0 || header.depth > 1)
        throw ToolError("unsupported image: not a 2D image");
    checkPixelCount(header.width, header.height, maxPixels);
    const std::string compression =
        OmbrelHost::asciiLower(header.get_string_attribute("compression"));
    if (const auto expansion = maxExpansion(compression))
        checkPlausibleSize(header.width, header.height, file.size(), *expansion);
}

// Subimages beyond these are not looked at: a file of more pages is read as if it had these.
constexpr int kMaxSubimages = 4096;

// Seeks `in` to the subimage to read and returns its index: `wanted`, or the first with colour
// channels (else the first). Says which in one warning when the file holds several.
int chooseSubimage(OIIO::ImageInput& in, std::optional<int> wanted, const Warn& warn) {
    int count = 1;
    std::optional<int> coloured =
        hasColour(in.spec().channelnames) ? std::optional(0) : std::nullopt;
    while (count < kMaxSubimages && in.seek_subimage(count, 0)) {
        if (!coloured && hasColour(in.spec().channelnames))
            coloured = count;
        ++count;
    }
    in.geterror(); // the failed seek past the last one
    if (wanted && *wanted >= count)
        throw ToolError("no subimage " + std::to_string(*wanted) + ": the file holds " +
                        (count == 1
                             ? std::string("one (0)")
                             : std::to_string(count) + " (0.." + std::to_string(count - 1) + ")"));
    const int chosen = wanted.value_or(coloured.value_or(0));
    if (!in.seek_subimage(chosen, 0))
        throw ToolError("cannot read: " + libraryError(&in, "subimage " + std::to_string(chosen) +
                                                                " cannot be read"));
    if (count > 1 && warn) {
        std::string channels;
        for (const std::string& name : in.spec().channelnames)
            channels += (channels.empty() ? "" : ", ") + name;
        warn("holds " + std::to_string(count) + " subimages; subimage " + std::to_string(chosen) +
             " (" + channels + ") is rendered" +
             (wanted ? std::string()
              : coloured
                  ? std::string(", the first with colour channels; --subimage N picks another")
                  : std::string("; --subimage N picks another")));
    }
    return chosen;
}

} // namespace

ImageRead readImageFile(const fs::path& path, std::optional<Depth> depth, long long maxPixels,
                        const Warn& warn, std::optional<int> subimage) {
    const InputFile file(path);
    if (startsLikePng(file)) {
        const PngLayout png = readPngLayout(file);
        checkPixelCount(png.width, png.height, maxPixels);
        checkPngPlausible(png);
    }

    FileReader reader(file, path.string());
    // Without this hint the library multiplies PNG and TIFF colour by alpha on the way in.
    OIIO::ImageSpec config;
    config.attribute("oiio:UnassociatedAlpha", 1);
    auto in = OIIO::ImageInput::open(path.string(), &config, &reader);
    if (!in)
        throw ToolError("cannot read: " + libraryError<OIIO::ImageInput>(
                                              nullptr, "unsupported format or unreadable file"));
    const int part = chooseSubimage(*in, subimage, warn);
    const OIIO::ImageSpec header = in->spec();
    checkHeader(header, file, maxPixels);
    const ChannelPlan chosen = planChannels(header.channelnames, warn);

    ImageRead result;
    result.stored = storedSamples(header, chosen);
    const SampleType type = result.stored;
    result.image = Image(header.width, header.height, depth.value_or(naturalDepth(type)));

    // Only the span of channels the plan uses is read.
    const int chBegin = std::min(
        {chosen.red, chosen.green, chosen.blue, chosen.alpha >= 0 ? chosen.alpha : chosen.red});
    const int chEnd = std::max({chosen.red, chosen.green, chosen.blue, chosen.alpha}) + 1;
    const int channels = chEnd - chBegin;
    ChannelPlan plan = chosen;
    plan.red -= chBegin;
    plan.green -= chBegin;
    plan.blue -= chBegin;
    if (plan.alpha >= 0)
        plan.alpha -= chBegin;

    const std::size_t width = static_cast<std::size_t>(header.width);
    const std::size_t rowBytes = width * static_cast<std::size_t>(channels) * sampleBytes(type);
    int bandRows = static_cast<int>(
        std::clamp<std::size_t>(kBandBytes / rowBytes, 1, static_cast<std::size_t>(header.height)));
    // Windowed formats (EXR) may have a data window away from the origin; the pixels read are
    // the data window's, which is what the frame is. Tiled files are read in whole rows of tiles.
    const bool tiled = header.tile_width > 0;
    if (tiled)
        bandRows = std::max(1, bandRows / header.tile_height) * header.tile_height;
    std::vector<unsigned char> band(static_cast<std::size_t>(bandRows) * rowBytes);
    std::vector<unsigned char> row(width * 4 * sampleBytes(type));
    for (int y0 = 0; y0 < header.height; y0 += bandRows) {
        const int y1 = std::min(header.height, y0 + bandRows);
        const bool ok = tiled ? in->read_tiles(part, 0, header.x, header.x + header.width,
                                               header.y + y0, header.y + y1, header.z, header.z + 1,
                                               chBegin, chEnd, memoryType(type), band.data())
                              : in->read_scanlines(part, 0, header.y + y0, header.y + y1, header.z,
                                                   chBegin, chEnd, memoryType(type), band.data());
        if (!ok)
            throw ToolError("cannot read: " + libraryError(in.get(), "the pixels cannot be read"));
        for (int y = y0; y < y1; ++y) {
            gatherRow(type, band.data() + static_cast<std::size_t>(y - y0) * rowBytes, channels,
                      plan, header.width, row.data());
            rowToHost(type, row.data(), result.image, y);
        }
    }
    in->close();
    return result;
}

void checkImageFormat(const fs::path& target) {
    const std::string format = formatOf(target);
    auto out = format.empty() ? nullptr : OIIO::ImageOutput::create(format);
    if (!out) {
        OIIO::geterror(); // the library's "could not find a format writer": said below
        throw ToolError("unsupported format: no image writer for \"" + target.extension().string() +
                        "\"");
    }
    if (!out->supports("ioproxy"))
        throw ToolError("unsupported format: the " + std::string(out->format_name()) +
                        " writer cannot write to memory, so its writes could not be checked");
}

std::vector<std::uint8_t> encodeImageFile(const fs::path& target, const Image& frame,
                                          SampleType type, const Warn& warn) {
    checkImageFormat(target);
    // The memory outlives the writer, which may still write while it is destroyed.
    std::vector<std::uint8_t> bytes;
    OIIO::Filesystem::IOVecOutput memory(bytes);
    auto out = OIIO::ImageOutput::create(formatOf(target));
    const std::string format = out->format_name();
    // The JPEG library ends the process on a larger image instead of reporting an error.
    if (format == "jpeg" && (frame.width > kJpegMaxSide || frame.height > kJpegMaxSide))
        throw ToolError("cannot write: JPEG holds at most " + std::to_string(kJpegMaxSide) +
                        " pixels a side, and the frame is " + std::to_string(frame.width) + "x" +
                        std::to_string(frame.height));

    // A format without alpha gets colour only; that loses something only where alpha is not full.
    const bool alpha = out->supports("alpha");
    OIIO::ImageSpec header(frame.width, frame.height, alpha ? 4 : 3, typeDesc(type));
    if (alpha)
        header.alpha_channel = 3;
    // The colour is straight; without this the library divides PNG colour by alpha.
    header.attribute("oiio:UnassociatedAlpha", 1);
    // There is no Exif to keep, and this library's TIFF writer fails on an empty Exif block.
    header.attribute("tiff:write_exif", 0);
    // No time of writing (TIFF's DateTime, EXR's capDate), which the library fills in when this
    // is absent: the same render gives the same bytes.
    header.attribute("DateTime", "");

    if (!out->set_ioproxy(&memory) || !out->open(target.string(), header))
        throw ToolError("cannot write: " +
                        libraryError(out.get(), "the encoder refused the image"));

    // What the file will not hold as it was given, said in one line once the file is made.
    std::vector<std::string> losses;
    const OIIO::TypeDesc asked = typeDesc(type);
    const OIIO::TypeDesc kept = out->spec().format;
    if (!holdsEvery(kept, asked))
        losses.push_back("it holds " + typeText(kept) + ", not " + typeText(asked));
    if (const char* loss = compressionLoss(format))
        losses.emplace_back(loss);

    const std::size_t width = static_cast<std::size_t>(frame.width);
    const std::size_t pixelBytes = 4 * sampleBytes(type); // RGBA even when only RGB is written
    const int bandRows = static_cast<int>(
        std::clamp<std::size_t>(kBandBytes / std::max<std::size_t>(width * pixelBytes, 1), 1,
                                static_cast<std::size_t>(std::max(frame.height, 1))));
    std::vector<unsigned char> band(static_cast<std::size_t>(bandRows) * width * pixelBytes);
    bool dropped = false;
    for (int y0 = 0; y0 < frame.height; y0 += bandRows) {
        const int y1 = std::min(frame.height, y0 + bandRows);
        for (int y = y0; y < y1; ++y) {
            unsigned char* row =
                band.data() + static_cast<std::size_t>(y - y0) * width * pixelBytes;
            rowFromHost(frame, y, type, row);
            if (!alpha && !dropped)
                dropped = !alphaIsFull(type, row, frame.width);
        }
        if (!out->write_scanlines(y0, y1, 0, memoryType(type), band.data(),
                                  static_cast<OIIO::stride_t>(pixelBytes),
                                  static_cast<OIIO::stride_t>(width * pixelBytes)))
            throw ToolError("cannot write: " + libraryError(out.get(), "the encoder failed"));
    }
    if (!out->close())
        throw ToolError("cannot write: " + libraryError(out.get(), "the encoder failed"));
    if (dropped)
        losses.emplace_back("it holds no alpha, and the frame's alpha is not written");
    if (!losses.empty() && warn) {
        std::string text = format + " loses data: ";
        for (std::size_t i = 0; i < losses.size(); ++i)
            text += (i > 0 ? "; " : "") + losses[i];
        warn(text);
    }
    return bytes;
}

} // namespace OmbrelRender
