/*
 * The host's effect plug-in interface as this project uses it: the records the host hands to
 * an effect's entry point, the callbacks reachable through them, and the command, error and
 * flag codes. It is our own stand-in, shared by the plug-in and the simulated host, and holds
 * only what the effect needs. Layouts are ours; names follow the host's public vocabulary so
 * that plug-in code reads as it would against the real interface.
 *
 * Plain C: both sides of the module boundary may be built by different compilers.
 */
#ifndef OMBREL_HOSTINTERFACE_EFFECTINTERFACE_H
#define OMBREL_HOSTINTERFACE_EFFECTINTERFACE_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Scalars ------------------------------------------------------------------------------ */

typedef int32_t A_long;
typedef uint32_t A_u_long;
typedef int16_t A_short;
typedef uint16_t A_u_short;
typedef char A_char;
typedef uint8_t A_u_char;
typedef uint8_t PF_Boolean;
typedef float PF_FpShort;

/* Status of every host call and of the entry point; 0 is success. */
typedef A_long PF_Err;
typedef A_long A_Err;

enum {
    PF_Err_NONE = 0,
    PF_Err_OUT_OF_MEMORY = 4,
    PF_Err_INTERNAL_STRUCT_DAMAGED = 512,
    PF_Err_BAD_CALLBACK_PARAM = 516
};

/* Command codes sent to the entry point. Codes not named here exist and must be answered
 * with success and no side effect. */
typedef A_long PF_Cmd;
enum {
    PF_Cmd_ABOUT = 0,
    PF_Cmd_GLOBAL_SETUP = 1,
    PF_Cmd_GLOBAL_SETDOWN = 3,
    PF_Cmd_PARAMS_SETUP = 4,
    PF_Cmd_RENDER = 11,
    PF_Cmd_SMART_PRE_RENDER = 23,
    PF_Cmd_SMART_RENDER = 24
};

/* Packs an effect version: build bits 0-8, stage 9-10, fix level 11-14, minor 15-18,
 * major 19-21. */
#define PF_VERSION(MAJOR, MINOR, FIX, STAGE, BUILD)                                                \
    ((((A_u_long)(MAJOR)&0x7u) << 19) | (((A_u_long)(MINOR)&0xFu) << 15) |                         \
     (((A_u_long)(FIX)&0xFu) << 11) | (((A_u_long)(STAGE)&0x3u) << 9) |                            \
     ((A_u_long)(BUILD)&0x1FFu))

enum { PF_Stage_DEVELOP = 0, PF_Stage_ALPHA = 1, PF_Stage_BETA = 2, PF_Stage_RELEASE = 3 };

/* ---- Flags -------------------------------------------------------------------------------- */

typedef A_long PF_OutFlags;
typedef A_long PF_OutFlags2;
enum {
    PF_OutFlag_NONE = 0,
    PF_OutFlag_DISPLAY_ERROR_MESSAGE = 0x100, /* show out_data->return_msg to the user */
    PF_OutFlag_DEEP_COLOR_AWARE = 0x02000000  /* renders 16 bits per channel */
};
enum {
    PF_OutFlag2_NONE = 0,
    PF_OutFlag2_SUPPORTS_SMART_RENDER = 0x400,
    PF_OutFlag2_FLOAT_COLOR_AWARE = 0x1000 /* renders 32-bit float channels */
};

typedef A_short PF_RenderOutputFlags;
enum { PF_RenderOutputFlag_RETURNS_EXTRA_PIXELS = 0x1 };

typedef A_long PF_NewWorldFlags;
enum {
    PF_NewWorldFlag_NONE = 0,
    PF_NewWorldFlag_CLEAR_PIXELS = 0x1,
    PF_NewWorldFlag_DEEP_PIXELS = 0x2 /* 16 bits per channel */
};

/* ---- Geometry and time -------------------------------------------------------------------- */

/* Integer rectangle; right and bottom lie one past the last column and row. */
typedef struct PF_LRect {
    A_long left, top, right, bottom;
} PF_LRect;

typedef struct PF_RationalScale {
    A_long num;
    A_u_long den;
} PF_RationalScale;

/* A time is value / scale seconds. */
typedef struct A_Time {
    A_long value;
    A_u_long scale;
} A_Time;

/* ---- Pixels and worlds -------------------------------------------------------------------- */

/* 8 bits per channel, 0..255. */
typedef struct PF_Pixel {
    A_u_char alpha, red, green, blue;
} PF_Pixel;
typedef PF_Pixel PF_Pixel8;

/* 16 bits per channel, 0..32768 (not 65535). */
typedef struct PF_Pixel16 {
    A_u_short alpha, red, green, blue;
} PF_Pixel16;

/* 32-bit float channels, 1.0 is full intensity; values outside 0..1 are allowed. */
typedef struct PF_PixelFloat {
    PF_FpShort alpha, red, green, blue;
} PF_PixelFloat;

/* Pixel formats as the World suite reports them: the four bytes of the value, in memory
 * order, spell the code ("ae32" is 0x32336561). */
typedef A_long PF_PixelFormat;
enum {
    PF_PixelFormat_ARGB32 = 0x62677261,  /* "argb": PF_Pixel */
    PF_PixelFormat_BGRA32 = 0x61726762,  /* "bgra": 8 bits, other channel order */
    PF_PixelFormat_ARGB64 = 0x36316561,  /* "ae16": PF_Pixel16 */
    PF_PixelFormat_ARGB128 = 0x32336561, /* "ae32": PF_PixelFloat */
    PF_PixelFormat_BGRA128 = 0x61724742, /* "BGra": 32-bit float, other channel order */
    PF_PixelFormat_INVALID = 0x66646162  /* "badf" */
};

/* An image buffer. Rows are rowbytes apart (rowbytes >= width * pixel size; the excess is
 * padding); data points at row 0, column 0. */
typedef struct PF_LayerDef {
    PF_Pixel* data;
    A_long rowbytes;
    A_long width;
    A_long height;
    A_long world_flags;
    void* host_private; /* the host's own bookkeeping; plug-ins leave it alone */
} PF_LayerDef;
typedef PF_LayerDef PF_EffectWorld;

/* ---- Parameters --------------------------------------------------------------------------- */

typedef A_long PF_ParamType;
enum { PF_Param_LAYER = 0, PF_Param_POPUP = 7 };

typedef A_long PF_ParamIndex;
typedef A_long PF_ParamFlags;
typedef A_long PF_ParamUIFlags;

enum { PF_MAX_EFFECT_PARAM_NAME_LEN = 31, PF_MAX_EFFECT_MSG_LEN = 255 };

/* Popup: value and dephault are 1-based entry numbers; namesptr is the entries joined by '|'. */
typedef struct PF_PopupDef {
    A_long value;
    A_short num_choices;
    A_short dephault;
    union {
        A_long id;
        const A_char* namesptr;
    } u;
} PF_PopupDef;

typedef union PF_ParamDefUnion {
    PF_LayerDef ld; /* the layer, for PF_Param_LAYER; data is null when no layer is set */
    PF_PopupDef pd;
} PF_ParamDefUnion;

typedef struct PF_ParamDef {
    union {
        A_long id; /* parameter identifier, stable across versions of the effect */
        A_long change_flags;
    } uu;
    PF_ParamUIFlags ui_flags;
    A_short ui_width;
    A_short ui_height;
    PF_ParamType param_type;
    A_char name[PF_MAX_EFFECT_PARAM_NAME_LEN + 1];
    PF_ParamFlags flags;
    A_long unused;
    PF_ParamDefUnion u;
} PF_ParamDef;

typedef PF_ParamDef* PF_ParamDefPtr;
typedef PF_ParamDefPtr* PF_ParamList;

/* ---- Host callbacks ----------------------------------------------------------------------- */

/* Opaque host reference for the effect instance and command in progress. */
typedef struct PF_ProgressInfo* PF_ProgPtr;

/* Host memory handle; lock it to reach the bytes. */
typedef void** PF_Handle;

typedef struct PF_InteractCallbacks {
    /* Value of parameter `index` at what_time / time_scale; check it back in when done. */
    PF_Err (*checkout_param)(PF_ProgPtr effect_ref, PF_ParamIndex index, A_long what_time,
                             A_long time_step, A_u_long time_scale, PF_ParamDef* param);
    PF_Err (*checkin_param)(PF_ProgPtr effect_ref, PF_ParamDef* param);
    /* Appends a parameter during PF_Cmd_PARAMS_SETUP when index is -1. */
    PF_Err (*add_param)(PF_ProgPtr effect_ref, PF_ParamIndex index, PF_ParamDefPtr def);
} PF_InteractCallbacks;

typedef struct PF_ANSICallbacks {
    int (*sprintf)(A_char* buffer, const A_char* format, ...);
    A_char* (*strcpy)(A_char* dest, const A_char* src);
} PF_ANSICallbacks;

typedef struct PF_UtilCallbacks {
    /* Copies src into dst; null rectangles mean the whole world. */
    PF_Err (*copy)(PF_ProgPtr effect_ref, PF_EffectWorld* src, PF_EffectWorld* dst, PF_LRect* src_r,
                   PF_LRect* dst_r);
    PF_ANSICallbacks ansi;
} PF_UtilCallbacks;

struct SPBasicSuite;

typedef struct PF_InData {
    PF_InteractCallbacks inter;
    PF_UtilCallbacks* utils;
    PF_ProgPtr effect_ref;
    A_long num_params;
    A_long current_time; /* in time_scale units */
    A_long time_step;
    A_u_long time_scale;
    A_long width; /* of the input layer, in pixels at the current downsampling */
    A_long height;
    PF_RationalScale downsample_x;
    PF_RationalScale downsample_y;
    PF_Handle global_data;
    struct SPBasicSuite* pica_basicP;
} PF_InData;

typedef struct PF_OutData {
    A_u_long my_version;
    PF_Handle global_data;
    A_long num_params;
    PF_OutFlags out_flags;
    PF_OutFlags2 out_flags2;
    A_char return_msg[PF_MAX_EFFECT_MSG_LEN + 1];
} PF_OutData;

/* ---- Smart rendering ---------------------------------------------------------------------- */

typedef A_long PF_Field;
typedef A_long PF_ChannelMask;

typedef struct PF_RenderRequest {
    PF_LRect rect;
    PF_Field field;
    PF_ChannelMask channel_mask;
    PF_Boolean preserve_rgb_of_zero_alpha;
    A_char unused[3];
    A_long reserved[4];
} PF_RenderRequest;

typedef struct PF_CheckoutResult {
    PF_LRect result_rect;
    PF_LRect max_result_rect;
    PF_RationalScale par;
    A_long solid;
    A_long ref_width;
    A_long ref_height;
} PF_CheckoutResult;

typedef struct PF_PreRenderInput {
    PF_RenderRequest output_request;
    A_short bitdepth;
} PF_PreRenderInput;

typedef void (*PF_DeletePreRenderDataFunc)(void* pre_render_data);

typedef struct PF_PreRenderOutput {
    PF_LRect result_rect;
    PF_LRect max_result_rect;
    PF_Boolean solid;
    PF_Boolean reserved;
    PF_RenderOutputFlags flags;
    void* pre_render_data;
    PF_DeletePreRenderDataFunc delete_pre_render_data_func;
} PF_PreRenderOutput;

typedef struct PF_PreRenderCallbacks {
    /* Asks for layer parameter `index` (0 is the effect's input) under checkout_id, to be
     * fetched with checkout_layer_pixels during smart render. */
    PF_Err (*checkout_layer)(PF_ProgPtr effect_ref, PF_ParamIndex index, A_long checkout_id,
                             const PF_RenderRequest* req, A_long what_time, A_long time_step,
                             A_u_long time_scale, PF_CheckoutResult* checkout_result);
} PF_PreRenderCallbacks;

typedef struct PF_PreRenderExtra {
    PF_PreRenderInput* input;
    PF_PreRenderOutput* output;
    PF_PreRenderCallbacks* cb;
} PF_PreRenderExtra;

typedef struct PF_SmartRenderInput {
    PF_RenderRequest output_request;
    A_short bitdepth;
    void* pre_render_data; /* what pre-render left in its output's pre_render_data */
} PF_SmartRenderInput;

typedef struct PF_SmartRenderCallbacks {
    PF_Err (*checkout_layer_pixels)(PF_ProgPtr effect_ref, A_long checkout_id,
                                    PF_EffectWorld** pixels);
    PF_Err (*checkin_layer_pixels)(PF_ProgPtr effect_ref, A_long checkout_id);
    PF_Err (*checkout_output)(PF_ProgPtr effect_ref, PF_EffectWorld** output);
} PF_SmartRenderCallbacks;

typedef struct PF_SmartRenderExtra {
    PF_SmartRenderInput* input;
    PF_SmartRenderCallbacks* cb;
} PF_SmartRenderExtra;

/* ---- The entry point ---------------------------------------------------------------------- */

/* `extra` is a PF_PreRenderExtra* for PF_Cmd_SMART_PRE_RENDER, a PF_SmartRenderExtra* for
 * PF_Cmd_SMART_RENDER, and unused otherwise. */
typedef PF_Err (*PF_EntryPointFunc)(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data,
                                    PF_ParamDef* params[], PF_LayerDef* output, void* extra);

#ifdef __cplusplus
}
#endif

#endif
