#include "Util/AEGP_SuiteHandler.h"

namespace {

constexpr bool sameName(const char* a, const char* b) {
    while (*a != '\0' && *a == *b) {
        ++a;
        ++b;
    }
    return *a == *b;
}

// Slot of (name, version) in table; N when unknown. A constant expression, so an accessor
// naming a pair the table lacks fails to compile.
template <std::size_t N>
constexpr std::size_t slotOf(const AEGP_SuiteHandler::SuiteName (&table)[N], const char* name,
                             A_long version) {
    for (std::size_t i = 0; i < N; ++i) {
        if (table[i].version == version && sameName(table[i].name, name))
            return i;
    }
    return N;
}

// Release order. Pairs sharing a name are separate slots.
constexpr AEGP_SuiteHandler::SuiteName kKnownSuites[] = {
    {"AEGP Marker Suite", 1},
    {"AEGP Marker Suite", 2},
    {"AEGP Layer Suite", 8},
    {"AEGP Layer Suite", 10},
    {"AEGP Stream Suite", 9},
    {"AEGP Stream Suite", 8},
    {"AEGP Stream Suite", 7},
    {"AEGP Stream Suite", 4},
    {"AEGP Dynamic Stream Suite", 2},
    {"AEGP Dynamic Stream Suite", 3},
    {"AEGP Dynamic Stream Suite", 5},
    {"AEGP Keyframe Suite", 4},
    {"AEGP Keyframe Suite", 3},
    {"AEGP Keyframe Suite", 1},
    {"AEGP Comp Suite", 9},
    {"AEGP Comp Suite", 11},
    {"AEGP Comp Suite", 14},
    {"AEGP Canvas Suite", 10},
    {"AEGP Canvas Suite", 11},
    {"AEGP Camera Suite", 2},
    {"AEGP Register Suite", 6},
    {"AEGP Item Suite", 13},
    {"AEGP Item Suite", 11},
    {"AEGP Item Suite", 10},
    {"AEGP Item Suite", 7},
    {"AEGP Item Suite", 3},
    {"AEGP PF Interface Suite", 1},
    {"PF Path Query Suite", 1},
    {"AEGP Memory Suite", 1},
    {"PF Path Data Suite", 1},
    {"PF AE App Suite", 6},
    {"PF AE Adv App Suite", 2},
    {"AEGP Light Suite", 1},
    {"AEGP Light Suite", 2},
    {"AEGP Effect Suite", 1},
    {"AEGP Effect Suite", 2},
    {"AEGP Effect Suite", 3},
    {"AEGP Layer Mask Suite", 5},
    {"AEGP Mask Outline Suite", 3},
    {"AEGP Command Suite", 1},
    {"AEGP Utility Suite", 7},
    {"AEGP Render Suite", 1},
    {"AEGP Render Suite", 2},
    {"PF ANSI Suite", 1},
    {"PF Handle Suite", 2},
    {"PF Fill Matte Suite", 2},
    {"PF World Transform Suite", 1},
    {"AEGP QueryXform Suite", 4},
    {"AEGP Composite Suite", 4},
    {"PF World Suite", 1},
    {"AEGP IO In Suite", 5},
    {"AEGP IO Out Suite", 7},
    {"AEGP Render Queue Suite", 1},
    {"AEGP Render Queue Item Suite", 3},
    {"AEGP Output Module Suite", 4},
    {"AEGP File Import Manager Suite", 3},
    {"PF Sampling8 Suite", 1},
    {"PF Sampling16 Suite", 1},
    {"PF Iterate8 Suite", 1},
    {"PF iterate16 Suite", 1},
    {"PF iterateFloat Suite", 1},
    {"AEGP Collection Suite", 2},
    {"AEGP Text Document Suite", 1},
    {"AEGP Sound Data Suite", 1},
    {"AEGP Text Layer Suite", 1},
    {"AEGP Artisan Util Suite", 1},
    {"AEGP World Suite", 2},
    {"AEGP World Suite", 3},
    {"AEGP Render Options Suite", 1},
    {"AEGP Tracker Suite", 1},
    {"AEGP Tracker Utility Suite", 1},
    {"AE Plugin Helper Suite2", 2},
    {"AEGP Layer Suite", 11},
    {"AEGP Layer Suite", 12},
    {"AEGP Layer Suite", 13},
    {"PF AE Adv Item Suite", 1},
    {"AEGP Layer Suite", 5},
    {"AEGP Layer Mask Suite", 2},
    {"AEGP Comp Suite", 4},
    {"AEGP Collection Suite", 1},
    {"AEGP Mask Outline Suite", 2},
    {"PF AE Adv App Suite", 1},
    {"AEGP Utility Suite", 3},
    {"AEGP Render Options Suite", 2},
    {"AEGP Proj Suite", 8},
    {"AEGP Footage Suite", 11},
    {"AEGP Render Queue Item Suite", 4},
    {"AEGP Utility Suite", 10},
    {"AEGP Persistent Data Suite", 3},
    {"PF Color Settings Suite", 3},
    {"PF Color Settings Suite", 1},
    {"PF ColorParamSuite", 1},
    {"PF SamplingFloat Suite", 1},
    {"AEGP Utility Suite", 11},
    {"PF Effect Custom UI Suite", 1},
    {"PF Effect Custom UI Overlay Theme Suite", 1},
    {"DRAWBOT Draw Suite", 1},
    {"DRAWBOT Supplier Suite", 1},
    {"DRAWBOT Surface Suite", 1},
    {"DRAWBOT Path Suite", 1},
    {"AEGP Iterate Suite", 1},
};
static_assert(sizeof(kKnownSuites) / sizeof(kKnownSuites[0]) == AEGP_SuiteHandler::kSuiteCount);

template <class Table>
const Table* typed(const void* suite) {
    return static_cast<const Table*>(suite);
}

constexpr std::size_t kHandleSuite2 = slotOf(kKnownSuites, kPFHandleSuite, kPFHandleSuiteVersion2);
constexpr std::size_t kUtilitySuite7 =
    slotOf(kKnownSuites, kAEGPUtilitySuite, kAEGPUtilitySuiteVersion7);
constexpr std::size_t kIterate8Suite1 =
    slotOf(kKnownSuites, kPFIterate8Suite, kPFIterate8SuiteVersion1);
constexpr std::size_t kWorldSuite1 = slotOf(kKnownSuites, kPFWorldSuite, kPFWorldSuiteVersion1);
constexpr std::size_t kIterateSuite1 =
    slotOf(kKnownSuites, kAEGPIterateSuite, kAEGPIterateSuiteVersion1);
static_assert(kHandleSuite2 < AEGP_SuiteHandler::kSuiteCount &&
              kUtilitySuite7 < AEGP_SuiteHandler::kSuiteCount &&
              kIterate8Suite1 < AEGP_SuiteHandler::kSuiteCount &&
              kWorldSuite1 < AEGP_SuiteHandler::kSuiteCount &&
              kIterateSuite1 < AEGP_SuiteHandler::kSuiteCount);

} // namespace

AEGP_SuiteHandler::AEGP_SuiteHandler(const SPBasicSuite* basic) : basic_(basic), slots_{} {
    if (basic_ == nullptr)
        MissingSuiteError();
}

AEGP_SuiteHandler::~AEGP_SuiteHandler() {
    ReleaseAllSuites();
}

const void* AEGP_SuiteHandler::Suite(std::size_t slot) const {
    if (slots_[slot] != nullptr)
        return slots_[slot];
    const void* suite = nullptr;
    const SPErr err =
        basic_->AcquireSuite(kKnownSuites[slot].name, kKnownSuites[slot].version, &suite);
    if (err != kSPNoError || suite == nullptr)
        MissingSuiteError();
    slots_[slot] = suite;
    return suite;
}

const PF_HandleSuite2* AEGP_SuiteHandler::HandleSuite2() const {
    return typed<PF_HandleSuite2>(Suite(kHandleSuite2));
}

const AEGP_UtilitySuite7* AEGP_SuiteHandler::UtilitySuite7() const {
    return typed<AEGP_UtilitySuite7>(Suite(kUtilitySuite7));
}

const PF_Iterate8Suite1* AEGP_SuiteHandler::Iterate8Suite1() const {
    return typed<PF_Iterate8Suite1>(Suite(kIterate8Suite1));
}

const PF_WorldSuite1* AEGP_SuiteHandler::WorldSuite1() const {
    return typed<PF_WorldSuite1>(Suite(kWorldSuite1));
}

const AEGP_IterateSuite1* AEGP_SuiteHandler::IterateSuite1() const {
    return typed<AEGP_IterateSuite1>(Suite(kIterateSuite1));
}

const AEGP_SuiteHandler::SuiteName* AEGP_SuiteHandler::KnownSuites() {
    return kKnownSuites;
}

void AEGP_SuiteHandler::ReleaseSuite(const char* name, A_long version) {
    basic_->ReleaseSuite(name, version);
}

void AEGP_SuiteHandler::ReleaseAllSuites() {
    for (std::size_t i = 0; i < kSuiteCount; ++i) {
        if (slots_[i] != nullptr) {
            ReleaseSuite(kKnownSuites[i].name, kKnownSuites[i].version);
            slots_[i] = nullptr;
        }
    }
}
