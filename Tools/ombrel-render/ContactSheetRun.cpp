#include "ContactSheetRun.h"

#include <cstdio>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "ContactSheet.h"
#include "FrameIO.h"
#include "FrameList.h"
#include "HostUnits.h"
#include "LoadedEffect.h"
#include "Modes.h"
#include "Options.h"
#include "Reporter.h"
#include "Stop.h"

namespace OmbrelRender {

using OmbrelHost::Depth;
using OmbrelHost::Image;

namespace {

// One column of the sheet: a forward conversion of the source, its inverse applied to the
// source, and the inverse applied to the forward result.
struct Column {
    const Mode* forward = nullptr;
    const Mode* backward = nullptr;
    Image there;
    Image back;
    Image roundTrip;
};

Image renderWith(OmbrelHost::Effect& effect, const Image& image, const Mode& c) {
    throwIfStopped();
    effect.setPopup(c.value);
    try {
        return renderFrame(effect, image, 0).output;
    } catch (const ToolError& e) {
        throw ToolError(std::string(c.name) + ": " + e.what());
    }
}

std::string errorText(const std::array<double, 3>& e, Depth depth) {
    char text[160];
    if (depth == Depth::Bits32)
        std::snprintf(text, sizeof text, "%.3g %.3g %.3g", e[0], e[1], e[2]);
    else
        std::snprintf(text, sizeof text, "%.0f %.0f %.0f", e[0], e[1], e[2]);
    return text;
}

} // namespace

bool makeContactSheet(OmbrelHost::Effect& effect, const Frame& frame, const Options& options,
                      Reporter& reporter) {
    const std::filesystem::path& target = *options.contactSheet;
    Image source;
    try {
        source = loadFrame(frame, options, reporter.warningsAbout(frame.label));
    } catch (const std::exception& e) {
        reporter.error(frame.label, e.what());
        return false;
    }
    std::optional<OutputFile> output;
    try {
        output.emplace(target, OutputFile::Accepts::ImageFiles);
    } catch (const std::exception& e) {
        reporter.error(target.string(), e.what());
        return false;
    }

    std::vector<Column> columns;
    try {
        for (const Mode& c : kModes) {
            if (!c.forward)
                continue;
            Column column{&c, &findMode(c.inverse), {}, {}, {}};
            column.there = renderWith(effect, source, *column.forward);
            column.back = renderWith(effect, source, *column.backward);
            column.roundTrip = renderWith(effect, column.there, *column.backward);
            columns.push_back(std::move(column));
        }
    } catch (const Stopped&) {
        effect.setPopup(options.from);
        return false;
    } catch (const std::exception& e) {
        effect.setPopup(options.from);
        reporter.error(frame.label, e.what());
        return false;
    }
    effect.setPopup(options.from);

    const int bits = depthBits(source.depth);
    std::vector<std::string> errorNotes{"Round trip, max error:"};
    for (const Column& column : columns) {
        const std::string text = errorText(roundTripError(source, column.roundTrip), source.depth);
        errorNotes.push_back(std::string(column.forward->system) + ": " + text);
        reporter.info(roundTripName(*column.forward) + " at " + std::to_string(bits) +
                      " bits: max abs error R G B = " + text +
                      (source.depth == Depth::Bits32 ? "" : " (host units)"));
    }

    // Rows: the source and the forward conversions; a note on the frame and the backward
    // conversions of the source; the round trips' errors and the round trips.
    std::vector<SheetCell> cells;
    cells.push_back({"Source", &source, {}});
    for (const Column& column : columns)
        cells.push_back({std::string(column.forward->name), &column.there, {}});
    cells.push_back(
        {"",
         nullptr,
         {"OmbrelColorSpaceConversion",
          std::to_string(source.width) + " x " + std::to_string(source.height) + ", " +
              std::to_string(bits) + " bits",
          frame.input.empty() ? std::string("test chart") : frame.input.filename().string()}});
    for (const Column& column : columns)
        cells.push_back({std::string(column.backward->name), &column.back, {}});
    cells.push_back({"", nullptr, errorNotes});
    for (const Column& column : columns)
        cells.push_back({roundTripName(*column.forward), &column.roundTrip, {}});

    try {
        output->write(composeSheet(cells, static_cast<int>(columns.size()) + 1, options.tileSize),
                      reporter.warningsAbout(target.string()));
    } catch (const Stopped&) {
        return false;
    } catch (const std::exception& e) {
        reporter.error(target.string(), e.what());
        return false;
    }
    reporter.info("contact sheet -> " + target.string());
    return true;
}

} // namespace OmbrelRender
