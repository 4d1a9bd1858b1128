// Driving an applied effect: its commands, parameters and frames.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Host/Host.h"
#include "Host/Image.h"
#include "Host/Module.h"
#include "HostInterface/EffectInterface.h"

namespace OmbrelHost {

struct CommandResult {
    PF_Err err = PF_Err_NONE;
    PF_OutData out{};         // the output record after the command
    std::string message;      // out.return_msg
    bool showMessage = false; // PF_OutFlag_DISPLAY_ERROR_MESSAGE was set
};

// The channel order of the worlds a frame is rendered through. The host's BGRA formats ("bgra"
// at 8 bits, "BGra" at 32; there is none at 16) hold ARGB's channels in reverse order: blue,
// green, red, alpha.
enum class WorldOrder { Argb, Bgra };

struct FrameRequest {
    const Image* input = nullptr; // the input layer, at the render depth
    // Images stay ARGB whatever the worlds' order: the host moves the channels on the way into
    // the input world and out of the output world. BGRA at 16 bits throws HostError.
    WorldOrder worldOrder = WorldOrder::Argb;
    // An output world of this pixel format instead of the input's (a host that hands the effect
    // a world it cannot write); the outputs then hold that world as an image of its own depth.
    // A format the host makes no worlds of throws HostError.
    std::optional<PF_PixelFormat> outputFormat{};
    A_Time time{0, 1};
    A_long timeStep = 1;                  // frame duration in time.scale units
    std::optional<PF_LRect> outputRect{}; // what the host requests; default the whole layer
    // Extra bytes at the end of every row of the worlds; a multiple of the pixel size (the
    // effect finds pixels by rowbytes / pixel size).
    int inputRowPadding = 0;
    int outputRowPadding = 0;
    PF_RationalScale downsampleX{1, 1};
    PF_RationalScale downsampleY{1, 1};
    // What checkout_layer reports as the input's largest possible result (a layer whose
    // content can grow beyond its current frame); default the layer. Its result rectangle is
    // the request clipped to the layer.
    std::optional<PF_LRect> inputMaxResultRect{};
    // Smart renders sent after one successful pre-render, each into a new output world: 0
    // drops the pre-render unrendered (a host that only wanted the result rectangle, or a
    // cancelled frame), 2 renders the frame again from the same pre-render data. At most 8.
    int smartRenders = 1;
    // Smart render is sent a null pre_render_data, as by a host that lost it.
    bool withoutPreRenderData = false;
};

struct FrameResult {
    PF_Err preRenderErr = PF_Err_NONE;
    PF_Err renderErr = PF_Err_NONE;  // the first failed smart render's; 0 when none failed or
                                     // none was sent
    bool rendered = false;           // smart render was sent
    Image output;                    // the output world as the last smart render left it
    std::vector<PF_Err> renderErrs;  // every smart render's result, in order
    std::vector<Image> outputs;      // every smart render's output world, in order
    PF_OutData preRenderOut{};       // out_data after pre-render
    PF_OutData renderOut{};          // out_data after the last smart render
    PF_LRect outputRect{};           // where the output world lies on the layer
    std::string message;             // return_msg, when the effect asked to show it
    PF_PreRenderOutput preRender{};  // what pre-render reported
    PF_RenderRequest inputRequest{}; // what the effect asked of its input in checkout_layer
    bool inputCheckedOut = false;    // checkout_layer was called
    double renderSeconds = 0;        // pre-render plus smart render

    PF_Err err() const { return preRenderErr != PF_Err_NONE ? preRenderErr : renderErr; }
};

// One applied instance of an effect in a host: its global data, parameters and frames.
class Effect {
public:
    Effect(Host& host, Module module);
    ~Effect();

    CommandResult about();
    // Runs global setup and checks that the version and flags agree with the PiPL (a
    // disagreement throws HostError, as the real host refuses such a module). The check is made
    // on success only; a failing command is reported through CommandResult::err.
    CommandResult globalSetup();
    CommandResult paramsSetup();
    CommandResult globalSetdown();
    // Any command with no extra record, for the commands the effect ignores.
    CommandResult send(PF_Cmd cmd);

    // Popup "From" value from the given time on (the host keeps one value per start time,
    // compared exactly as rationals). Values are passed on unchecked so that tests can show
    // what the effect does with one out of range. A time scale of 0 throws HostError.
    void setPopup(int value, A_Time from = {0, 1});
    // The value checkout_param reports at that time: the last value set from a time at or
    // before it, else the popup's default from params setup (1 before it).
    int popupAt(A_Time time) const;

    // Parameters added during params setup (index 1 is the popup).
    std::vector<ParamRecord> params() const;
    // The global data handle as stored from global setup's out_data (null before or after).
    PF_Handle globalData() const;

    // Smart pre-render, then smart render, of one frame. Safe to call from several threads
    // at once (each frame has its own records, worlds and context). Throws HostError for a
    // request the host cannot serve (no input, bad padding) or when an exception escapes the
    // entry point.
    FrameResult render(const FrameRequest& request);

    const Module& module() const;

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

} // namespace OmbrelHost
