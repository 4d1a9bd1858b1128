#include "FrameList.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>
#include <system_error>

#include "AtomicFile.h"
#include "Host/Text.h"
#include "Modes.h"
#include "Options.h"
#include "SystemFiles.h"
#include "ToolError.h"

namespace OmbrelRender {

namespace fs = std::filesystem;

std::optional<NumberPattern> parseNumberPattern(const std::string& text) {
    NumberPattern pattern;
    bool found = false;
    std::string* part = &pattern.prefix;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            *part += text[i];
            continue;
        }
        if (i + 1 < text.size() && text[i + 1] == '%') {
            *part += '%';
            ++i;
            continue;
        }
        std::size_t j = i + 1;
        int width = 0;
        if (j < text.size() && text[j] == '0') {
            ++j;
            const std::size_t digits = j;
            while (j < text.size() && text[j] >= '0' && text[j] <= '9') {
                width = std::min(width * 10 + (text[j] - '0'), kMaxNumberWidth + 1);
                ++j;
            }
            if (width == 0)
                return std::nullopt;
            if (width > kMaxNumberWidth)
                throw UsageError(text + ": a frame number of " + text.substr(digits, j - digits) +
                                 " digits; at most " + std::to_string(kMaxNumberWidth));
        }
        if (found || j >= text.size() || text[j] != 'd')
            return std::nullopt; // a second placeholder, or a '%' that is not one
        found = true;
        pattern.width = width;
        part = &pattern.suffix;
        i = j;
    }
    if (!found)
        return std::nullopt;
    return pattern;
}

std::string NumberPattern::format(int number) const {
    char digits[kMaxNumberWidth + 16];
    std::snprintf(digits, sizeof digits, "%0*d", width, number);
    return prefix + digits + suffix;
}

namespace {

std::vector<Frame> expandSequence(const std::string& input) {
    const fs::path asPath(input);
    fs::path folder = asPath.parent_path();
    const auto namePattern = parseNumberPattern(asPath.filename().string());
    if (!namePattern)
        throw ToolError("a sequence's frame number must be in its file name");
    std::error_code ec;
    std::vector<std::pair<int, fs::path>> found;
    for (const auto& entry : fs::directory_iterator(folder.empty() ? fs::path(".") : folder, ec)) {
        const std::string name = entry.path().filename().string();
        if (name.size() <= namePattern->prefix.size() + namePattern->suffix.size() ||
            name.compare(0, namePattern->prefix.size(), namePattern->prefix) != 0 ||
            !name.ends_with(namePattern->suffix))
            continue;
        const std::string digits =
            name.substr(namePattern->prefix.size(),
                        name.size() - namePattern->prefix.size() - namePattern->suffix.size());
        if (digits.size() > 9 ||
            !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
            continue;
        const int number = std::stoi(digits);
        if (namePattern->format(number) == name)
            found.emplace_back(number, folder / name);
    }
    if (ec)
        throw ToolError("cannot read the sequence's folder: " +
                        OmbrelHost::asciiLower(ec.message()));
    if (found.empty())
        throw ToolError("no files match the sequence");
    std::sort(found.begin(), found.end());
    std::vector<Frame> frames;
    for (const auto& [number, path] : found)
        frames.push_back({path.string(), path, number, {}});
    return frames;
}

std::string defaultName(const Frame& frame, int mode, std::optional<OmbrelHost::Depth> depth) {
    if (frame.input.empty())
        return "chart." + modeSlug(mode) + (depth == OmbrelHost::Depth::Bits32 ? ".exr" : ".png");
    return frame.input.stem().string() + "." + modeSlug(mode) + frame.input.extension().string();
}

bool looksLikeFolder(const std::string& text) {
    if (text.ends_with('/'))
        return true;
#ifdef _WIN32
    if (text.ends_with('\\'))
        return true;
#endif
    std::error_code ec;
    return fs::is_directory(text, ec);
}

// Where a path leads: the absolute path with links, "." and ".." resolved, and the file's
// identity when it exists.
struct Place {
    fs::path path;
    std::optional<FileId> id;
};

Place placeOf(const fs::path& path) {
    std::error_code ec;
    const fs::path absolute = fs::absolute(path, ec);
    fs::path resolved = fs::weakly_canonical(absolute, ec);
    if (ec)
        resolved = absolute.lexically_normal();
    return {resolved, fileIdOf(path)};
}

// Frames by the places they read or write, so that a long sequence is checked in n log n.
class Places {
public:
    void add(const Place& place, std::size_t frame) {
        byPath_[place.path].push_back(frame);
        if (place.id)
            byId_[*place.id].push_back(frame);
    }
    // A frame other than `self` at `place`, if any.
    std::optional<std::size_t> other(const Place& place, std::size_t self) const {
        for (const auto* frames :
             {find(byPath_, place.path), place.id ? find(byId_, *place.id) : nullptr})
            if (frames != nullptr)
                for (std::size_t f : *frames)
                    if (f != self)
                        return f;
        return std::nullopt;
    }

private:
    template <class Map, class Key>
    static const std::vector<std::size_t>* find(const Map& map, const Key& key) {
        const auto it = map.find(key);
        return it == map.end() ? nullptr : &it->second;
    }
    std::map<fs::path, std::vector<std::size_t>> byPath_;
    std::map<FileId, std::vector<std::size_t>> byId_;
};

} // namespace

std::vector<Frame> listFrames(const std::vector<std::string>& inputs) {
    std::vector<Frame> frames;
    if (inputs.empty()) {
        frames.push_back({"test chart", {}, 1, {}});
        return frames;
    }
    for (const std::string& input : inputs) {
        std::error_code ec;
        if (!fs::exists(input, ec) && parseNumberPattern(input)) {
            try {
                auto sequence = expandSequence(input);
                frames.insert(frames.end(), sequence.begin(), sequence.end());
            } catch (const ToolError& e) {
                throw ToolError(input + ": " + e.what());
            }
        } else {
            frames.push_back({input, fs::path(input), static_cast<int>(frames.size()) + 1, {}});
        }
    }
    return frames;
}

void assignOutputs(std::vector<Frame>& frames, const std::optional<std::string>& output, int mode,
                   std::optional<OmbrelHost::Depth> depth) {
    const auto pattern = output ? parseNumberPattern(*output) : std::nullopt;
    const bool folder = output && !pattern && looksLikeFolder(*output);
    if (output && !pattern && !folder && frames.size() > 1)
        throw UsageError("-o " + *output + ": " + std::to_string(frames.size()) +
                         " frames need a pattern with %d or %04d, or a folder");
    for (Frame& frame : frames) {
        if (!output)
            frame.output = frame.input.parent_path() / defaultName(frame, mode, depth);
        else if (pattern)
            frame.output = pattern->format(frame.number);
        else if (folder)
            frame.output = fs::path(*output) / defaultName(frame, mode, depth);
        else
            frame.output = *output;
    }
    std::set<fs::path> seen;
    for (const Frame& frame : frames)
        if (!seen.insert(frame.output.lexically_normal()).second)
            throw UsageError("several frames would write " + frame.output.string());
}

void checkCollisions(const std::vector<Frame>& frames) {
    Places inputs;
    Places outputs;
    std::vector<Place> written;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        if (!frames[i].input.empty())
            inputs.add(placeOf(frames[i].input), i);
        // The file a write replaces is the one its links lead to.
        written.push_back(placeOf(followLinks(frames[i].output)));
        outputs.add(written.back(), i);
    }
    for (std::size_t i = 0; i < frames.size(); ++i) {
        if (const auto j = inputs.other(written[i], i))
            throw UsageError(frames[i].output.string() + " is the output of " + frames[i].label +
                             " and the input of " + frames[*j].label +
                             ": an output may not overwrite another frame's input");
        if (outputs.other(written[i], i))
            throw UsageError("several frames would write " + frames[i].output.string());
    }
}

} // namespace OmbrelRender
