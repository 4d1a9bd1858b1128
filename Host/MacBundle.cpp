#include "Host/MacBundle.h"

#include <cctype>

#include "Host/OmbrelHost.h"

namespace OmbrelHost {

namespace {

// Skips blanks and XML comments.
std::size_t skipBlanks(std::string_view text, std::size_t at) {
    for (;;) {
        while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at])))
            ++at;
        if (text.substr(at, 4) != "<!--")
            return at;
        const std::size_t end = text.find("-->", at + 4);
        if (end == std::string_view::npos)
            return text.size();
        at = end + 3;
    }
}

std::string unescaped(std::string_view text) {
    static constexpr std::pair<std::string_view, char> kEntities[] = {
        {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        bool replaced = false;
        for (const auto& [entity, c] : kEntities) {
            if (text.substr(i, entity.size()) == entity) {
                out += c;
                i += entity.size();
                replaced = true;
                break;
            }
        }
        if (!replaced)
            out += text[i++];
    }
    return out;
}

} // namespace

std::string bundleExecutable(std::string_view plist) {
    // A scan for the one key, enough for the XML plists bundles carry: the first such key
    // outside a comment is taken (bundles carry it once, in the top dictionary).
    constexpr std::string_view kKey = "<key>CFBundleExecutable</key>";
    std::size_t at = 0;
    for (;;) {
        at = plist.find(kKey, at);
        if (at == std::string_view::npos)
            throw HostError("no CFBundleExecutable");
        // Not inside a comment: the last "<!--" before it must be closed before it.
        const std::size_t open = plist.rfind("<!--", at);
        if (open == std::string_view::npos || plist.find("-->", open) < at)
            break;
        at += kKey.size();
    }
    at = skipBlanks(plist, at + kKey.size());
    constexpr std::string_view kOpen = "<string>", kClose = "</string>";
    if (plist.substr(at, kOpen.size()) != kOpen)
        throw HostError("CFBundleExecutable is not followed by a <string>");
    const std::size_t start = at + kOpen.size();
    const std::size_t end = plist.find(kClose, start);
    if (end == std::string_view::npos)
        throw HostError("the CFBundleExecutable <string> is not closed");
    const std::string name = unescaped(plist.substr(start, end - start));
    if (name.empty() || name == "." || name == ".." ||
        name.find_first_of(std::string_view("/\\\0", 3)) != std::string::npos)
        throw HostError("CFBundleExecutable \"" + name + "\" is not a file name within the bundle");
    return name;
}

} // namespace OmbrelHost
