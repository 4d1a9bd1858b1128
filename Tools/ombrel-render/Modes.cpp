#include "Modes.h"

#include <cctype>
#include <stdexcept>

#include "Host/Text.h"

namespace OmbrelRender {

namespace {

// Lower case, '-' read as a blank, surrounding blanks dropped.
std::string normalised(std::string_view text) {
    std::size_t b = 0, e = text.size();
    while (b < e && std::isspace(static_cast<unsigned char>(text[b])))
        ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(text[e - 1])))
        --e;
    std::string out = OmbrelHost::asciiLower(text.substr(b, e - b));
    for (char& c : out)
        if (c == '-')
            c = ' ';
    return out;
}

} // namespace

const Mode& findMode(int mode) {
    for (const Mode& c : kModes)
        if (c.value == mode)
            return c;
    throw std::out_of_range("conversion number out of range");
}

std::string_view modeName(int mode) {
    return findMode(mode).name;
}

std::string modeSlug(int mode) {
    std::string slug = OmbrelHost::asciiLower(modeName(mode));
    for (char& c : slug)
        if (c == ' ')
            c = '-';
    return slug;
}

std::optional<int> parseMode(std::string_view text) {
    const std::string wanted = normalised(text);
    for (const Mode& c : kModes)
        if (wanted == std::to_string(c.value) || wanted == normalised(c.name))
            return c.value;
    return std::nullopt;
}

std::string roundTripName(const Mode& forward) {
    return std::string(forward.name) + " to RGB";
}

std::string modeList() {
    std::string list;
    for (const Mode& c : kModes) {
        if (!list.empty())
            list += ", ";
        list += std::to_string(c.value) + " \"" + std::string(c.name) + "\"";
    }
    return list;
}

} // namespace OmbrelRender
