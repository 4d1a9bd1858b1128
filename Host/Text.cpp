#include "Host/Text.h"

#include <cstdio>
#include <system_error>

namespace OmbrelHost {

std::string hex32(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(value));
    return text;
}

std::string fourCCText(std::uint32_t code) {
    std::string text;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const char c = static_cast<char>((code >> shift) & 0xFFu);
        if (c < 0x20 || c > 0x7E)
            return hex32(code);
        text += c;
    }
    return text;
}

std::string asciiLower(std::string_view text) {
    std::string lowered(text);
    for (char& c : lowered)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return lowered;
}

std::string notARegularFile(std::filesystem::file_type type) {
    using std::filesystem::file_type;
    switch (type) {
    case file_type::not_found:
        return "no such file";
    case file_type::directory:
        return "is a folder";
    case file_type::fifo:
        return "is a FIFO";
    case file_type::character:
    case file_type::block:
        return "is a device";
    case file_type::socket:
        return "is a socket";
    default:
        break;
    }
    return "is not a regular file";
}

std::string withArticle(std::string_view noun) {
    const bool vowel =
        !noun.empty() && std::string_view("AEIOUaeiou").find(noun[0]) != std::string_view::npos;
    return (vowel ? "an " : "a ") + std::string(noun);
}

std::string systemCause(int error) {
    std::string text = std::generic_category().message(error);
    if (!text.empty() && text[0] >= 'A' && text[0] <= 'Z')
        text[0] = static_cast<char>(text[0] - 'A' + 'a');
    return text;
}

} // namespace OmbrelHost
