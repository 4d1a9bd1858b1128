// Direct records: the host's side of one command, for testing units of the effect without its
// entry point.
//
// A CommandRecords owns a PF_InData and PF_OutData wired to the host's callbacks and basic
// suite, with an effect_ref that the host knows for as long as the object lives, and a ready
// PF_PreRenderExtra and PF_SmartRenderExtra for one frame. Hand inData()/outData() (and an
// extra record) to the unit under test as the entry point would.
//
//   OmbrelHost::Host host({.threads = 4});
//   OmbrelHost::Image input(8, 4, OmbrelHost::Depth::Bits16);
//   OmbrelHost::CommandRecords records(host, {.input = &input, .inputRowPadding = 16});
//   Ombrel::SourceInfo info(records.inData(), records.outData(), records.smartRenderExtra());
//   ... records.output() is the output world's pixels as the unit left them.
//
// The input world is made from the image (row padding as asked); the output world has the
// input's size and depth unless given, and starts filled with kUntouchedByte. With
// checkoutInput, the input stands checked out under id 0 as if pre-render had called
// checkout_layer, so checkout_layer_pixels(effect_ref, 0, ...) works at once. Every callback is
// allowed (add_param, checkout_layer and the smart render ones). checkout_param serves index 0
// as the input layer and index 1 as the popup, whose value is what setPopup gave for the time.
// Worlds the unit creates carry the output row padding. Layer pixels still checked out are
// given back when the records go; everything else stays counted in Host::held().
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Host/OmbrelHost.h"

namespace OmbrelHost {

struct RecordsOptions {
    const Image* input = nullptr; // none: in_data width/height 0, layer param with null data
    int inputRowPadding = 0;      // bytes, a multiple of the pixel size
    std::optional<std::pair<int, int>> outputSize{}; // default the input's size (else 0x0)
    std::optional<Depth> depth{};                    // output depth; default the input's, else 8
    int outputRowPadding = 0;
    A_Time time{0, 1};
    A_long timeStep = 1;
    bool checkoutInput = true;
};

class CommandRecords {
public:
    explicit CommandRecords(Host& host, const RecordsOptions& options = {});
    ~CommandRecords();
    CommandRecords(const CommandRecords&) = delete;
    CommandRecords& operator=(const CommandRecords&) = delete;

    PF_InData* inData();
    PF_OutData* outData();
    PF_PreRenderExtra* preRenderExtra();
    PF_SmartRenderExtra* smartRenderExtra();
    PF_ProgPtr effectRef();

    // The frame's worlds as checkout_layer_pixels/checkout_output give them (null input world
    // when there is no input).
    PF_EffectWorld* inputWorld();
    PF_EffectWorld* outputWorld();
    Depth depth() const;
    // The output world's pixels, without row padding.
    Image output() const;
    // True when the output world's row padding and the guard zones around it are untouched.
    bool outputOutsideIntact() const;

    // What checkout_layer was asked under that checkout id (none when it was not called; the
    // simulated checkout of checkoutInput counts as a call with the whole layer).
    std::optional<PF_RenderRequest> layerRequest(A_long checkoutId) const;

    void setPopup(int value, A_Time from = {0, 1});
    // Parameters added through add_param with these records.
    std::vector<ParamRecord> params() const;
    // out_data zeroed again (keeping the host's preset fault flags).
    void resetOutData();
    // return_msg up to its terminator.
    std::string message() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace OmbrelHost
