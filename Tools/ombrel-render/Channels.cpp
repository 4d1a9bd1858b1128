#include "Channels.h"

#include <algorithm>

#include "Host/Text.h"

namespace OmbrelRender {

namespace {

enum class Role { Red, Green, Blue, Alpha, Unnamed, Other };

struct Channel {
    std::string layer; // the part before the last '.', empty for none
    Role role = Role::Other;
};

bool allDigits(std::string_view text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

Channel classify(const std::string& name) {
    const auto dot = name.rfind('.');
    Channel channel;
    channel.layer = dot == std::string::npos ? std::string() : name.substr(0, dot);
    const std::string bare =
        OmbrelHost::asciiLower(dot == std::string::npos ? name : name.substr(dot + 1));
    if (bare == "r" || bare == "red")
        channel.role = Role::Red;
    else if (bare == "g" || bare == "green")
        channel.role = Role::Green;
    else if (bare == "b" || bare == "blue")
        channel.role = Role::Blue;
    else if (bare == "a" || bare == "alpha")
        channel.role = Role::Alpha;
    else if (bare.empty() || allDigits(bare) ||
             (bare.starts_with("channel") && allDigits(std::string_view(bare).substr(7))))
        channel.role = Role::Unnamed; // what readers call channels a file leaves unnamed
    return channel;
}

std::string quoted(const std::string& name) {
    return "'" + name + "'";
}

std::string listed(const std::vector<std::string>& names, bool quote = false) {
    std::string text;
    for (const std::string& name : names)
        text += (text.empty() ? "" : ", ") + (quote ? quoted(name) : name);
    return text;
}

// The first channel of `role` in `layer`, or -1.
int find(const std::vector<Channel>& channels, const std::string& layer, Role role) {
    for (std::size_t i = 0; i < channels.size(); ++i)
        if (channels[i].layer == layer && channels[i].role == role)
            return static_cast<int>(i);
    return -1;
}

// Alpha for R, G and B found by name in `layer`.
int alphaBeside(const std::vector<Channel>& channels, const std::vector<std::string>& names,
                const std::string& layer, const Warn& warn) {
    if (const int a = find(channels, layer, Role::Alpha); a >= 0)
        return a;
    std::vector<int> others;
    for (std::size_t i = 0; i < channels.size(); ++i)
        if (channels[i].layer == layer && channels[i].role != Role::Red &&
            channels[i].role != Role::Green && channels[i].role != Role::Blue)
            others.push_back(static_cast<int>(i));
    if (others.empty())
        return -1;
    const std::string& name = names[static_cast<std::size_t>(others.front())];
    if (others.size() == 1 &&
        channels[static_cast<std::size_t>(others.front())].role == Role::Unnamed) {
        if (warn)
            warn("channel " + quoted(name) + " has no name; read as alpha");
        return others.front();
    }
    if (warn)
        warn("no alpha channel (" + quoted(name) + " is not alpha); read as opaque");
    return -1;
}

} // namespace

bool hasColour(const std::vector<std::string>& names) {
    std::vector<Channel> channels;
    for (const std::string& name : names)
        channels.push_back(classify(name));
    for (const Channel& c : channels)
        if (find(channels, c.layer, Role::Red) >= 0 && find(channels, c.layer, Role::Green) >= 0 &&
            find(channels, c.layer, Role::Blue) >= 0)
            return true;
    if (channels.empty())
        return false;
    const std::string first = OmbrelHost::asciiLower(names.front());
    return channels.front().role == Role::Unnamed || first == "y" || first == "grey" ||
           first == "gray" || first == "luminance";
}

ChannelPlan planChannels(const std::vector<std::string>& names, const Warn& warn) {
    if (names.empty())
        throw ToolError("unsupported image: no channels");
    std::vector<Channel> channels;
    for (const std::string& name : names)
        channels.push_back(classify(name));

    // The layers in the order they appear, the unprefixed one first.
    std::vector<std::string> layers{""};
    for (const Channel& c : channels)
        if (std::find(layers.begin(), layers.end(), c.layer) == layers.end())
            layers.push_back(c.layer);
    for (const std::string& layer : layers) {
        ChannelPlan plan;
        plan.red = find(channels, layer, Role::Red);
        plan.green = find(channels, layer, Role::Green);
        plan.blue = find(channels, layer, Role::Blue);
        if (plan.red < 0 || plan.green < 0 || plan.blue < 0)
            continue;
        plan.alpha = alphaBeside(channels, names, layer, warn);
        return plan;
    }

    const std::size_t n = names.size();
    if (n <= 2) {
        ChannelPlan grey; // red = green = blue = 0
        if (n == 2) {
            if (channels[1].role == Role::Alpha) {
                grey.alpha = 1;
            } else if (channels[1].role == Role::Unnamed) {
                grey.alpha = 1;
                if (warn)
                    warn("channel " + quoted(names[1]) + " has no name; read as alpha");
            } else if (warn) {
                warn("no alpha channel (" + quoted(names[1]) + " is not alpha); read as opaque");
            }
        }
        return grey;
    }
    const bool unnamed = std::all_of(channels.begin(), channels.end(),
                                     [](const Channel& c) { return c.role == Role::Unnamed; });
    if (unnamed && (n == 3 || n == 4)) {
        if (warn)
            warn("channels " + listed(names, true) + " have no names; read in order as " +
                 (n == 4 ? "R, G, B, A" : "R, G, B"));
        return ChannelPlan{0, 1, 2, n == 4 ? 3 : -1};
    }
    throw ToolError("unsupported image: no R, G and B channels among " + std::to_string(n) + " (" +
                    listed(names) + ")");
}

} // namespace OmbrelRender
