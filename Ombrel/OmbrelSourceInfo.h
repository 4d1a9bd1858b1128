// What one smart render needs from the host: the checked-out input pixels and output world,
// the source layout (depth and channel order), the layer size and downsampling, and the host's
// thread count.
//
// Built at the start of smart render and released when it returns. Smart render makes no copy;
// one would share the record (a shared pointer) rather than check anything out again.
// The first host error met is recorded and no further host call is made after it. The worlds
// and world sizes are valid only while getError() is 0.
#pragma once

#include <memory>

#include "HostInterface/EffectInterface.h"
#include "Ombrel/OmbrelLayer.h"

namespace Ombrel {

class SourceInfo {
public:
    // Checks out input layer pixels (checkout id 0) and the output world and finds the depth
    // and channel order from the input's pixel format. A null world handed back with success,
    // an input pixel format of no known layout, or an output world whose pixel format is not the
    // input's (it would be written in the input's layout, past its rows when its pixels are
    // smaller), is recorded as PF_Err_BAD_CALLBACK_PARAM.
    SourceInfo(PF_InData* in_data, PF_OutData* out_data, PF_SmartRenderExtra* extra);

    PF_Err getError() const;
    BPC getBPC() const;                   // BPC_8 until a known pixel format says otherwise
    ChannelOrder getChannelOrder() const; // ARGB until a known pixel format says otherwise

    int getWidth() const;
    int getHeight() const;
    double getDownSampleX() const;
    double getDownSampleY() const;

    // Asks the host each time. After an error (earlier, or of this call, which is recorded) it
    // returns 1 without meaning; callers check getError().
    int getThreadNum();

    PF_EffectWorld* getInputWorld() const;
    PF_EffectWorld* getOutputWorld() const;
    int getInputWidth() const;
    int getInputHeight() const;
    int getOutputWidth() const;
    int getOutputHeight() const;

    struct Impl;

private:
    std::shared_ptr<Impl> impl_;
};

} // namespace Ombrel
