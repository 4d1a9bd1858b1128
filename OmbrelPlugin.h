// The effect's one exported function. The host calls it for every command it sends.
#pragma once

#include "HostInterface/EffectInterface.h"

#if defined(_WIN32)
#define OMBREL_EXPORT __declspec(dllexport)
#else
#define OMBREL_EXPORT __attribute__((visibility("default")))
#endif

extern "C" OMBREL_EXPORT PF_Err EntryPointFunc(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data,
                                               PF_ParamDef* params[], PF_LayerDef* output,
                                               void* extra);
