// The simulated host: loads an effect module, plays the host's side of every call the effect
// makes, and drives whole frames through it. Used by ombrel-render and by the tests. Each topic
// has its header; this one brings them all.
#pragma once

#include "Host/Effect.h"
#include "Host/Faults.h"
#include "Host/Host.h"
#include "Host/HostError.h"
#include "Host/Module.h"
#include "Host/ModuleFile.h"
#include "Host/PiPL.h"
