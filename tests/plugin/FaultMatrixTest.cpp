// Every way a host call the effect makes can fail, in every command that makes it, generated
// from one table: each row names a callback or suite, the command that uses it, how it fails
// and what the command must then answer. Each case runs the effect's whole life (global setup,
// parameter setup, one frame, global setdown) with the fault in its one command, and checks
// the command's result, what it wrote into out_data, the output world, and that nothing is
// held afterwards.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "Host/OmbrelHost.h"

using namespace OmbrelHost;

namespace {

// How a host call fails.
enum class Mode {
    Code,          // returns each code of kHostCodes (for AcquireSuite: refuses the suite so)
    NullTable,     // AcquireSuite succeeds with a null table
    NullHandle,    // host_new_handle returns null
    NullLock,      // host_lock_handle returns null
    NullWorld,     // the checkout succeeds with a null world
    UnknownFormat, // PF_GetPixelFormat succeeds with a format of no known depth
    OutputCode,    // PF_GetPixelFormat of the output world alone returns each code of kHostCodes
    OutputFormat,  // PF_GetPixelFormat of the output world alone says a format not the input's
};

// The codes a host call may fail with: the interface's own, one of the host's that the effect
// does not know, and a negative one.
constexpr PF_Err kHostCodes[] = {PF_Err_OUT_OF_MEMORY, PF_Err_INTERNAL_STRUCT_DAMAGED,
                                 PF_Err_BAD_CALLBACK_PARAM, 0x5A5A, -1};
// A refused suite may also come with the basic suite's own code.
constexpr PF_Err kSuiteCodes[] = {kSPSuiteNotFoundError,
                                  PF_Err_OUT_OF_MEMORY,
                                  PF_Err_INTERNAL_STRUCT_DAMAGED,
                                  PF_Err_BAD_CALLBACK_PARAM,
                                  0x5A5A,
                                  -1};

// What the command must answer.
enum class Outcome {
    PassedThrough,  // the host's code, unchanged
    MissingSuite,   // PF_Err_BAD_CALLBACK_PARAM from the suite handler, no message
    SuiteMessage,   // PF_Err_BAD_CALLBACK_PARAM with "Couldn't load suite." shown
    NoGlobalHandle, // PF_Err_INTERNAL_STRUCT_DAMAGED, no global data
    NotKept,        // success, without global data
    NoWorld,        // PF_Err_BAD_CALLBACK_PARAM: a null world is not rendered into
    Ignored,        // success, as without the fault
};

struct Use {
    const char* function; // the callback's name, or the suite's for AcquireSuite rows
    int version;          // the suite's version on AcquireSuite rows, else 0
    PF_Cmd command;
    std::vector<Mode> modes; // none: the call has no way to fail
    Outcome outcome;
};

constexpr PF_Cmd kAbout = PF_Cmd_ABOUT, kSetup = PF_Cmd_GLOBAL_SETUP,
                 kSetdown = PF_Cmd_GLOBAL_SETDOWN, kParams = PF_Cmd_PARAMS_SETUP,
                 kPreRender = PF_Cmd_SMART_PRE_RENDER, kRender = PF_Cmd_SMART_RENDER;
constexpr PF_Cmd kCommands[] = {kAbout, kSetup, kParams, kPreRender, kRender, kSetdown};
const char* const kAcquire = "AcquireSuite";
const char* const kRelease = "ReleaseSuite";

// Every host call of the effect, by command. A suite acquisition is listed by suite.
const std::vector<Use>& uses() {
    static const std::vector<Use> table = {
        {"sprintf", 0, PF_Cmd_ABOUT, {}, Outcome::Ignored},

        {kPFHandleSuite, 2, kSetup, {Mode::Code, Mode::NullTable}, Outcome::MissingSuite},
        {"host_new_handle", 0, kSetup, {Mode::NullHandle}, Outcome::NoGlobalHandle},
        {"host_lock_handle", 0, kSetup, {Mode::NullLock}, Outcome::NotKept},
        {"host_unlock_handle", 0, kSetup, {}, Outcome::Ignored},
        {kAEGPUtilitySuite, 7, kSetup, {Mode::Code, Mode::NullTable}, Outcome::MissingSuite},
        {"AEGP_RegisterWithAEGP", 0, kSetup, {Mode::Code}, Outcome::PassedThrough},
        {kRelease, 0, kSetup, {Mode::Code}, Outcome::Ignored},

        {"strcpy", 0, kParams, {}, Outcome::Ignored},
        {"add_param", 0, kParams, {Mode::Code}, Outcome::PassedThrough},

        {"checkout_param", 0, kPreRender, {Mode::Code}, Outcome::PassedThrough},
        {"checkout_layer", 0, kPreRender, {Mode::Code}, Outcome::PassedThrough},
        {"checkin_param", 0, kPreRender, {Mode::Code}, Outcome::Ignored},

        {"checkout_layer_pixels", 0, kRender, {Mode::Code}, Outcome::PassedThrough},
        {"checkout_layer_pixels", 0, kRender, {Mode::NullWorld}, Outcome::NoWorld},
        {"checkout_output", 0, kRender, {Mode::Code}, Outcome::PassedThrough},
        {"checkout_output", 0, kRender, {Mode::NullWorld}, Outcome::NoWorld},
        {kPFWorldSuite, 2, kRender, {Mode::Code, Mode::NullTable}, Outcome::SuiteMessage},
        {"PF_GetPixelFormat", 0, kRender, {Mode::Code}, Outcome::PassedThrough},
        {"PF_GetPixelFormat", 0, kRender, {Mode::UnknownFormat}, Outcome::NoWorld},
        {"PF_GetPixelFormat", 0, kRender, {Mode::OutputCode}, Outcome::PassedThrough},
        {"PF_GetPixelFormat", 0, kRender, {Mode::OutputFormat}, Outcome::NoWorld},
        {kAEGPIterateSuite, 1, kRender, {Mode::Code, Mode::NullTable}, Outcome::MissingSuite},
        {"AEGP_GetNumThreads", 0, kRender, {Mode::Code}, Outcome::PassedThrough},
        {kPFIterate8Suite, 1, kRender, {Mode::Code, Mode::NullTable}, Outcome::MissingSuite},
        {"iterate_generic", 0, kRender, {Mode::Code}, Outcome::PassedThrough},
        {kRelease, 0, kRender, {Mode::Code}, Outcome::Ignored},

        {kPFHandleSuite, 2, kSetdown, {Mode::Code, Mode::NullTable}, Outcome::MissingSuite},
        {"host_dispose_handle", 0, kSetdown, {}, Outcome::Ignored},
        {kRelease, 0, kSetdown, {Mode::Code}, Outcome::Ignored},
    };
    return table;
}

bool isSuite(const Use& u) {
    return u.version != 0;
}

// ---- Cases ----------------------------------------------------------------------------------

struct Case {
    const Use* use;
    Mode mode;
    PF_Err code; // for Mode::Code
    int index;   // picks the frame's depth, so that every depth meets faults
};

std::string modeName(const Case& c) {
    switch (c.mode) {
    case Mode::Code:
        return c.code < 0 ? "CodeMinus" + std::to_string(-c.code) : "Code" + std::to_string(c.code);
    case Mode::NullTable:
        return "NullTable";
    case Mode::NullHandle:
        return "NullHandle";
    case Mode::NullLock:
        return "NullLock";
    case Mode::NullWorld:
        return "NullWorld";
    case Mode::UnknownFormat:
        return "UnknownFormat";
    case Mode::OutputCode:
        return "Output" + modeName(Case{c.use, Mode::Code, c.code, c.index});
    case Mode::OutputFormat:
        return "OutputFormat";
    }
    return "Mode";
}

std::string caseName(const ::testing::TestParamInfo<Case>& info) {
    const Case& c = info.param;
    std::string function;
    for (const char* p = c.use->function; *p != '\0'; ++p)
        function += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
    if (isSuite(*c.use))
        function = "Acquire_" + function + std::to_string(c.use->version);
    return commandName(c.use->command) + "_" + function + "_" + modeName(c);
}

// How a case shows in test output: the fault, not the bytes of the struct.
void PrintTo(const Case& c, std::ostream* os) {
    *os << commandName(c.use->command) << ": " << c.use->function << ", " << modeName(c);
}

std::vector<Case> generateCases() {
    std::vector<Case> cases;
    for (const Use& use : uses())
        for (Mode mode : use.modes) {
            if (mode == Mode::OutputCode) {
                for (PF_Err code : kHostCodes)
                    cases.push_back({&use, mode, code, static_cast<int>(cases.size())});
                continue;
            }
            if (mode != Mode::Code) {
                cases.push_back({&use, mode, 0, static_cast<int>(cases.size())});
                continue;
            }
            if (isSuite(use)) {
                for (PF_Err code : kSuiteCodes)
                    cases.push_back({&use, mode, code, static_cast<int>(cases.size())});
            } else {
                for (PF_Err code : kHostCodes)
                    cases.push_back({&use, mode, code, static_cast<int>(cases.size())});
            }
        }
    return cases;
}

void inject(Faults& f, const Case& c) {
    f.onlyDuring = c.use->command;
    switch (c.mode) {
    case Mode::Code:
        if (isSuite(*c.use)) {
            f.refusedSuites = {{c.use->function, c.use->version}};
            f.refusedSuiteError = c.code;
        } else {
            f.failingCallbacks[c.use->function] = c.code;
        }
        break;
    case Mode::NullTable:
        f.refusedSuites = {{c.use->function, c.use->version}};
        f.refusedSuiteError = kSPNoError;
        break;
    case Mode::NullHandle:
        f.nullNewHandle = true;
        break;
    case Mode::NullLock:
        f.nullLockHandle = true;
        break;
    case Mode::NullWorld:
        (std::string(c.use->function) == "checkout_output" ? f.nullOutputWorld : f.nullInputWorld) =
            true;
        break;
    case Mode::UnknownFormat:
        f.reportedPixelFormat = PF_PixelFormat_INVALID;
        break;
    case Mode::OutputCode:
        f.outputPixelFormatError = c.code;
        break;
    case Mode::OutputFormat:
        // The frames' inputs are ARGB: at 8 bits only the channel order differs.
        f.reportedOutputPixelFormat = PF_PixelFormat_BGRA32;
        break;
    }
}

PF_Err expectedResult(const Case& c) {
    switch (c.use->outcome) {
    case Outcome::PassedThrough:
        return c.code;
    case Outcome::MissingSuite:
    case Outcome::SuiteMessage:
    case Outcome::NoWorld:
        return PF_Err_BAD_CALLBACK_PARAM;
    case Outcome::NoGlobalHandle:
        return PF_Err_INTERNAL_STRUCT_DAMAGED;
    case Outcome::NotKept:
    case Outcome::Ignored:
        return PF_Err_NONE;
    }
    return -12345;
}

// ---- The effect's life, as a host lives it --------------------------------------------------

constexpr Depth kDepths[] = {Depth::Bits8, Depth::Bits16, Depth::Bits32};

// Colours of every kind, in range for the depth.
Image frameInput(Depth depth) {
    Image img(7, 5, depth);
    for (int y = 0; y < img.height; ++y)
        for (int x = 0; x < img.width; ++x) {
            const int k = x * 5 + y * 3;
            switch (depth) {
            case Depth::Bits8:
                img.row<PF_Pixel>(y)[x] = {A_u_char(k * 7), A_u_char(k * 37), A_u_char(k * 11),
                                           A_u_char(255 - k)};
                break;
            case Depth::Bits16:
                img.row<PF_Pixel16>(y)[x] = {A_u_short(k * 900), A_u_short(k * 1013 % 32769),
                                             A_u_short(32768 - k * 700), A_u_short(k * 311)};
                break;
            case Depth::Bits32:
                img.row<PF_PixelFloat>(y)[x] = {k / 40.0f, k / 30.0f - 0.1f, 1.0f - k / 45.0f,
                                                (k % 7) / 6.0f};
                break;
            }
        }
    return img;
}

// The frame a real host asks for: part of the layer, rows padded differently on each side, an
// input whose largest result reaches past the layer.
FrameRequest frameRequest(const Image& input) {
    FrameRequest r;
    r.input = &input;
    r.time = {3, 24};
    r.outputRect = PF_LRect{1, 1, 5, 3};
    const int px = static_cast<int>(pixelBytes(input.depth));
    r.inputRowPadding = 2 * px;
    r.outputRowPadding = 3 * px;
    r.inputMaxResultRect = PF_LRect{-4, -2, input.width + 6, input.height + 1};
    return r;
}

struct Life {
    CommandResult about, setup, params, setdown;
    FrameResult frame;
    PF_Handle globalData = nullptr; // as stored after global setup
    HeldResources heldAfterFrame, heldAtEnd;
};

const Module& effectModule() {
    static const Module module = Module::load(OMBREL_MODULE_PATH);
    return module;
}

Life live(Host& host, const Image& input) {
    Life life;
    Effect effect(host, effectModule());
    life.about = effect.about();
    life.setup = effect.globalSetup();
    life.globalData = effect.globalData();
    life.params = effect.paramsSetup();
    effect.setPopup(3);
    life.frame = effect.render(frameRequest(input));
    life.heldAfterFrame = host.held();
    life.setdown = effect.globalSetdown();
    life.heldAtEnd = host.held();
    return life;
}

PF_Err resultOf(const Life& life, PF_Cmd cmd) {
    switch (cmd) {
    case PF_Cmd_ABOUT:
        return life.about.err;
    case kSetup:
        return life.setup.err;
    case kSetdown:
        return life.setdown.err;
    case kParams:
        return life.params.err;
    case kPreRender:
        return life.frame.preRenderErr;
    case kRender:
        return life.frame.renderErr;
    default:
        return -12345;
    }
}

bool untouched(const Image& img) {
    for (std::uint8_t b : img.pixels)
        if (b != kUntouchedByte)
            return false;
    return true;
}

bool sameOut(const PF_OutData& a, const PF_OutData& b) {
    return a.my_version == b.my_version && a.global_data == b.global_data &&
           a.num_params == b.num_params && a.out_flags == b.out_flags &&
           a.out_flags2 == b.out_flags2 &&
           std::memcmp(a.return_msg, b.return_msg, sizeof a.return_msg) == 0;
}

// ---- The matrix -----------------------------------------------------------------------------

class FaultMatrix : public ::testing::TestWithParam<Case> {};

TEST_P(FaultMatrix, AnswersAsTheFailureTablesSay) {
    const Case& c = GetParam();
    const PF_Cmd cmd = c.use->command;
    const Image input = frameInput(kDepths[c.index % 3]);

    Life clean;
    {
        Host host(HostOptions{3});
        clean = live(host, input);
        ASSERT_TRUE(clean.heldAtEnd.empty()) << clean.heldAtEnd.describe();
    }
    Host host(HostOptions{3});
    inject(host.faults(), c);
    const Life faulty = live(host, input);
    const PF_Err expected = expectedResult(c);

    // The result, and every other command as without the fault.
    EXPECT_EQ(resultOf(faulty, cmd), expected) << errorName(resultOf(faulty, cmd));
    for (PF_Cmd other : kCommands) {
        if (other != cmd) {
            EXPECT_EQ(resultOf(faulty, other), PF_Err_NONE) << commandName(other);
        }
    }

    // out_data changed only as the tables say.
    const PF_OutData blank{};
    switch (cmd) {
    case kSetup: {
        PF_OutData want = clean.setup.out;
        if (expected != PF_Err_NONE || c.use->outcome == Outcome::NotKept)
            want.global_data = nullptr; // version and flags are set all the same
        else
            want.global_data = faulty.setup.out.global_data;
        EXPECT_TRUE(sameOut(faulty.setup.out, want));
        EXPECT_EQ(faulty.globalData != nullptr, want.global_data != nullptr);
        break;
    }
    case kParams:
        if (expected != PF_Err_NONE) {
            EXPECT_TRUE(sameOut(faulty.params.out, blank)) << "num_params stays as the host gave";
        } else {
            EXPECT_TRUE(sameOut(faulty.params.out, clean.params.out));
        }
        break;
    case kSetdown:
        EXPECT_TRUE(sameOut(faulty.setdown.out, blank));
        break;
    case kPreRender:
        EXPECT_TRUE(sameOut(faulty.frame.preRenderOut, blank));
        if (expected != PF_Err_NONE) {
            EXPECT_EQ(faulty.frame.preRender.pre_render_data, nullptr);
            EXPECT_EQ(faulty.frame.preRender.delete_pre_render_data_func, nullptr);
        }
        break;
    case kRender: {
        PF_OutData want = blank;
        if (c.use->outcome == Outcome::SuiteMessage) {
            want.out_flags = PF_OutFlag_DISPLAY_ERROR_MESSAGE;
            std::strcpy(want.return_msg, "Couldn't load suite.");
        }
        EXPECT_TRUE(sameOut(faulty.frame.renderOut, want))
            << "flags " << faulty.frame.renderOut.out_flags << ", message \""
            << faulty.frame.renderOut.return_msg << "\"";
        break;
    }
    default:
        break;
    }

    // The output: untouched after a failed smart render, else the clean frame.
    if (cmd == kPreRender && expected != PF_Err_NONE) {
        EXPECT_FALSE(faulty.frame.rendered);
    } else if (cmd == kRender && expected != PF_Err_NONE) {
        ASSERT_TRUE(faulty.frame.rendered);
        EXPECT_TRUE(untouched(faulty.frame.output));
    } else {
        EXPECT_TRUE(faulty.frame.output == clean.frame.output);
        EXPECT_FALSE(untouched(faulty.frame.output));
    }

    // Nothing held: between frames only the global data, after setdown nothing at all, except
    // the global data that setdown had no suite to dispose of.
    HeldResources between = faulty.heldAfterFrame;
    EXPECT_EQ(between.handles, faulty.globalData != nullptr ? 1 : 0) << between.describe();
    between.handles = 0;
    EXPECT_TRUE(between.empty()) << between.describe();
    HeldResources end = faulty.heldAtEnd;
    if (cmd == kSetdown && expected != PF_Err_NONE) {
        EXPECT_EQ(end.handles, 1);
        end.handles = 0;
    }
    EXPECT_TRUE(end.empty()) << end.describe();
}

INSTANTIATE_TEST_SUITE_P(Generated, FaultMatrix, ::testing::ValuesIn(generateCases()), caseName);

// ---- The table is the effect's whole use of the host ----------------------------------------

TEST(FaultMatrixTable, ListsEveryCallAndSuiteOfEveryCommandAndNothingElse) {
    Host host(HostOptions{3});
    const Image input = frameInput(Depth::Bits16);
    const Life life = live(host, input);
    ASSERT_TRUE(life.heldAtEnd.empty()) << life.heldAtEnd.describe();
    for (PF_Cmd cmd : kCommands) {
        SCOPED_TRACE(commandName(cmd));
        std::set<std::string> called, listed;
        std::set<std::pair<std::string, int>> acquired, listedSuites;
        for (const auto& [name, n] : host.callCountsDuring(cmd))
            if (name != kAcquire)
                called.insert(name);
        for (const auto& [suite, n] : host.suitesAcquiredDuring(cmd))
            acquired.insert(suite);
        for (const Use& u : uses()) {
            if (u.command != cmd)
                continue;
            if (isSuite(u))
                listedSuites.insert({u.function, u.version});
            else
                listed.insert(u.function);
        }
        EXPECT_EQ(called, listed);
        EXPECT_EQ(acquired, listedSuites);
    }
}

} // namespace
