// Host utility callbacks for unit tests that call plug-in code with hand-made records.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "HostInterface/EffectInterface.h"

namespace OmbrelTest {

inline int boundedSprintf(A_char* buffer, const A_char* format, ...) {
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(buffer, PF_MAX_EFFECT_MSG_LEN + 1, format, args);
    va_end(args);
    return n;
}

inline A_char* plainStrcpy(A_char* dest, const A_char* src) {
    return std::strcpy(dest, src);
}

// in_data/out_data zeroed, with string callbacks and the given basic suite.
struct Records {
    explicit Records(SPBasicSuite* basic = nullptr) {
        std::memset(&in, 0, sizeof(in));
        std::memset(&out, 0, sizeof(out));
        utils.copy = nullptr;
        utils.ansi.sprintf = &boundedSprintf;
        utils.ansi.strcpy = &plainStrcpy;
        in.utils = &utils;
        in.pica_basicP = basic;
    }
    PF_UtilCallbacks utils{};
    PF_InData in;
    PF_OutData out;
};

} // namespace OmbrelTest
