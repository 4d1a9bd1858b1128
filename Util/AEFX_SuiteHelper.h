// Acquiring and releasing single host suites with the failure reported to the user.
//
// Unlike AEGP_SuiteHandler these never throw: they return PF_Err_BAD_CALLBACK_PARAM (516) and
// write a message into out_data->return_msg with PF_OutFlag_DISPLAY_ERROR_MESSAGE set, which asks
// the host to show it when the command returns. Every successful acquisition is one host
// reference the caller gives back with exactly one release of the same name and version.
#pragma once

#include "HostInterface/SuiteInterface.h"

#ifdef __cplusplus
extern "C" {
#endif

// The four drawing suites, each version 1, as untyped host tables.
typedef struct DrawbotSuites {
    void* draw;     // "DRAWBOT Draw Suite"
    void* supplier; // "DRAWBOT Supplier Suite"
    void* surface;  // "DRAWBOT Surface Suite"
    void* path;     // "DRAWBOT Path Suite"
} DrawbotSuites;

// 0 with *suite set to the table; or 516 with the failure reported (error_message, or a default
// text when null) and *suite left alone when there is no basic suite. Success is judged by the
// pointer alone: a host error code that still delivered a table counts as success.
PF_Err AEFX_AcquireSuite(PF_InData* in_data, PF_OutData* out_data, const char* name, A_long version,
                         const char* error_message, void** suite);

// 0 after asking the host to release; 516 with the failure reported when there is no basic
// suite. The host's own result is not examined.
PF_Err AEFX_ReleaseSuite(PF_InData* in_data, PF_OutData* out_data, const char* name, A_long version,
                         const char* error_message);

// Acquires draw, supplier, surface and path in that order; stops at the first failure with 516
// (the suites acquired before it stay acquired and the later fields are not touched).
PF_Err AEFX_AcquireDrawbotSuites(PF_InData* in_data, PF_OutData* out_data, DrawbotSuites* suites);

// Releases the four drawing suites by name, each attempted whatever happened to the one before;
// failures are reported but the result is always 0.
PF_Err AEFX_ReleaseDrawbotSuites(PF_InData* in_data, PF_OutData* out_data);

#ifdef __cplusplus
}
#endif
