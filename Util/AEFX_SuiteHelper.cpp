#include "Util/AEFX_SuiteHelper.h"

#include <cstddef>

namespace {

constexpr char kAcquireFailed[] = "Not able to acquire AEFX Suite.";
constexpr char kReleaseFailed[] = "Not able to release AEFX Suite.";

constexpr const char* kDrawbotNames[] = {"DRAWBOT Draw Suite", "DRAWBOT Supplier Suite",
                                         "DRAWBOT Surface Suite", "DRAWBOT Path Suite"};
constexpr A_long kDrawbotVersion = 1;

// Sets the show-message flag and writes the message with the host's formatter, the message as
// the format and no further arguments (our messages hold no '%'). Without a formatter the text
// is copied directly, cut to fit return_msg.
void reportFailure(const PF_InData* in_data, PF_OutData* out_data, const char* message) {
    if (out_data == nullptr)
        return;
    out_data->out_flags |= PF_OutFlag_DISPLAY_ERROR_MESSAGE;
    if (in_data != nullptr && in_data->utils != nullptr &&
        in_data->utils->ansi.sprintf != nullptr) {
        in_data->utils->ansi.sprintf(out_data->return_msg, message);
        return;
    }
    std::size_t i = 0;
    for (; message[i] != '\0' && i < sizeof(out_data->return_msg) - 1; ++i)
        out_data->return_msg[i] = message[i];
    out_data->return_msg[i] = '\0';
}

const char* orDefault(const char* message, const char* fallback) {
    return message != nullptr ? message : fallback;
}

bool hasBasicSuite(const PF_InData* in_data) {
    return in_data != nullptr && in_data->pica_basicP != nullptr;
}

} // namespace

extern "C" {

PF_Err AEFX_AcquireSuite(PF_InData* in_data, PF_OutData* out_data, const char* name, A_long version,
                         const char* error_message, void** suite) {
    if (!hasBasicSuite(in_data)) {
        reportFailure(in_data, out_data, orDefault(error_message, kAcquireFailed));
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    const void* table = nullptr;
    in_data->pica_basicP->AcquireSuite(name, version, &table);
    *suite = const_cast<void*>(table);
    if (*suite != nullptr)
        return PF_Err_NONE;
    reportFailure(in_data, out_data, orDefault(error_message, kAcquireFailed));
    return PF_Err_BAD_CALLBACK_PARAM;
}

PF_Err AEFX_ReleaseSuite(PF_InData* in_data, PF_OutData* out_data, const char* name, A_long version,
                         const char* error_message) {
    if (!hasBasicSuite(in_data)) {
        reportFailure(in_data, out_data, orDefault(error_message, kReleaseFailed));
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    in_data->pica_basicP->ReleaseSuite(name, version);
    return PF_Err_NONE;
}

PF_Err AEFX_AcquireDrawbotSuites(PF_InData* in_data, PF_OutData* out_data, DrawbotSuites* suites) {
    void** fields[] = {&suites->draw, &suites->supplier, &suites->surface, &suites->path};
    for (std::size_t i = 0; i < 4; ++i) {
        const PF_Err err = AEFX_AcquireSuite(in_data, out_data, kDrawbotNames[i], kDrawbotVersion,
                                             nullptr, fields[i]);
        if (err != PF_Err_NONE)
            return err;
    }
    return PF_Err_NONE;
}

PF_Err AEFX_ReleaseDrawbotSuites(PF_InData* in_data, PF_OutData* out_data) {
    for (const char* name : kDrawbotNames)
        AEFX_ReleaseSuite(in_data, out_data, name, kDrawbotVersion, nullptr);
    return PF_Err_NONE;
}

} // extern "C"
