/*
 * The host's function suites as this project uses them: the basic suite through which every
 * other suite is acquired by (name, version), and the tables of the five suites the effect
 * calls. Members the effect never calls are kept as untyped slots so that each table has the
 * position of the functions it names (iterate_generic is the Iterate8 suite's fifth).
 */
#ifndef OMBREL_HOSTINTERFACE_SUITEINTERFACE_H
#define OMBREL_HOSTINTERFACE_SUITEINTERFACE_H

#include "HostInterface/EffectInterface.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef A_long SPErr;
enum { kSPNoError = 0, kSPSuiteNotFoundError = 0x53216e66 /* "S!nf" */ };

/* A table slot for a host function the effect does not call. */
typedef void (*PF_UnusedSuiteFunc)(void);

typedef struct SPBasicSuite {
    /* Fills *suite with the table of (name, version) and counts one reference; returns
     * non-zero (and may leave *suite null) when the host has no such suite. */
    SPErr (*AcquireSuite)(const char* name, A_long version, const void** suite);
    /* Gives back one reference taken by AcquireSuite. */
    SPErr (*ReleaseSuite)(const char* name, A_long version);
} SPBasicSuite;

/* ---- "PF Handle Suite" version 2 --------------------------------------------------------- */

#define kPFHandleSuite "PF Handle Suite"
#define kPFHandleSuiteVersion2 2

typedef A_u_long A_HandleSize;

typedef struct PF_HandleSuite2 {
    PF_Handle (*host_new_handle)(A_HandleSize size); /* null when out of memory */
    void* (*host_lock_handle)(PF_Handle handle);     /* null on failure */
    void (*host_unlock_handle)(PF_Handle handle);
    void (*host_dispose_handle)(PF_Handle handle);
    A_HandleSize (*host_get_handle_size)(PF_Handle handle);
} PF_HandleSuite2;

/* ---- "AEGP Utility Suite" version 7 ------------------------------------------------------ */

#define kAEGPUtilitySuite "AEGP Utility Suite"
#define kAEGPUtilitySuiteVersion7 7

typedef A_long AEGP_PluginID;
typedef void* AEGP_GlobalRefcon;

typedef struct AEGP_UtilitySuite7 {
    /* Registers the caller with the host's AEGP layer and returns its identifier. */
    A_Err (*AEGP_RegisterWithAEGP)(AEGP_GlobalRefcon global_refcon, const A_char* plugin_name,
                                   AEGP_PluginID* plugin_id);
} AEGP_UtilitySuite7;

/* ---- "AEGP Iterate Suite" version 1 ------------------------------------------------------ */

#define kAEGPIterateSuite "AEGP Iterate Suite"
#define kAEGPIterateSuiteVersion1 1

typedef struct AEGP_IterateSuite1 {
    /* How many threads the host will run iterations on (at least 1 from a sound host). */
    A_Err (*AEGP_GetNumThreads)(A_long* num_threads);
} AEGP_IterateSuite1;

/* ---- "PF Iterate8 Suite" version 1 ------------------------------------------------------- */

#define kPFIterate8Suite "PF Iterate8 Suite"
#define kPFIterate8SuiteVersion1 1

/* Called once for each i in 0..iterations-1, possibly several at once on the host's worker
 * threads; thread_index names the worker. */
typedef PF_Err (*PF_IterateGenericFunc)(void* refcon, A_long thread_index, A_long i,
                                        A_long iterations);

typedef struct PF_Iterate8Suite1 {
    PF_UnusedSuiteFunc unused_iterate[4];
    /* Runs fn for every iteration and returns when all have finished. */
    PF_Err (*iterate_generic)(A_long iterations, void* refcon, PF_IterateGenericFunc fn);
} PF_Iterate8Suite1;

/* ---- "PF World Suite" versions 1 and 2 --------------------------------------------------- */

#define kPFWorldSuite "PF World Suite"
#define kPFWorldSuiteVersion1 1
#define kPFWorldSuiteVersion2 2

typedef struct PF_WorldSuite1 {
    /* Allocates a world of 8 bits per channel, or 16 with PF_NewWorldFlag_DEEP_PIXELS. */
    PF_Err (*new_world)(PF_ProgPtr effect_ref, A_long width, A_long height, PF_NewWorldFlags flags,
                        PF_EffectWorld* world);
    PF_Err (*dispose_world)(PF_ProgPtr effect_ref, PF_EffectWorld* world);
} PF_WorldSuite1;

typedef struct PF_WorldSuite2 {
    PF_Err (*PF_NewWorld)(PF_ProgPtr effect_ref, A_long width, A_long height, PF_Boolean clear,
                          PF_PixelFormat pixel_format, PF_EffectWorld* world);
    PF_Err (*PF_DisposeWorld)(PF_ProgPtr effect_ref, PF_EffectWorld* world);
    PF_Err (*PF_GetPixelFormat)(const PF_EffectWorld* world, PF_PixelFormat* pixel_format);
} PF_WorldSuite2;

#ifdef __cplusplus
}
#endif

#endif
