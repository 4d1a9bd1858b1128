#include "Modes.h"

#include <cctype>
#include <stdexcept>

namespace OmbrelRender {

namespace {

std::string normalised(std::string_view text) {
    std::size_t b = 0, e = text.size();
    while (b < e && std::isspace(static_cast<unsigned char>(text[b])))
        ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(text[e - 1])))
        --e;
    std::string out;
    for (char c : text.substr(b, e - b))
        out += c == '-' ? ' ' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

} // namespace

std::string_view modeName(int mode) {
    if (mode < 1 || mode > kModeCount)
        throw std::out_of_range("conversion number out of range");
    return kModeNames[static_cast<std::size_t>(mode - 1)];
}

std::string modeSlug(int mode) {
    std::string slug;
    for (char c : modeName(mode))
        slug += c == ' ' ? '-' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return slug;
}

std::optional<int> parseMode(std::string_view text) {
    const std::string wanted = normalised(text);
    if (wanted.size() == 1 && wanted[0] >= '1' && wanted[0] <= '0' + kModeCount)
        return wanted[0] - '0';
    for (int mode = 1; mode <= kModeCount; ++mode)
        if (normalised(modeName(mode)) == wanted)
            return mode;
    return std::nullopt;
}

int inverseMode(int forwardMode) {
    return forwardMode + 1;
}

bool isForward(int mode) {
    return mode % 2 == 1;
}

std::string modeList() {
    std::string list;
    for (int mode = 1; mode <= kModeCount; ++mode) {
        if (!list.empty())
            list += ", ";
        list += std::to_string(mode) + " \"" + std::string(modeName(mode)) + "\"";
    }
    return list;
}

} // namespace OmbrelRender
