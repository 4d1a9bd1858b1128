// Per-command cache of host function suites.
//
// A handler acquires each suite the first time its accessor is called, keeps the table for the
// rest of its own life, and releases every suite it acquired, once, when it is destroyed. A suite
// the host cannot supply is thrown as the PF_Err value PF_Err_BAD_CALLBACK_PARAM (516); only the
// entry point catches it. Handlers live on the stack of one command (or inside a source
// description) and are used by the thread that made them.
#pragma once

#include <cstddef>

#include "HostInterface/SuiteInterface.h"

class AEGP_SuiteHandler {
public:
    // Throws 516 when basic is null.
    explicit AEGP_SuiteHandler(const SPBasicSuite* basic);
    ~AEGP_SuiteHandler();

    AEGP_SuiteHandler(const AEGP_SuiteHandler&) = delete;
    AEGP_SuiteHandler& operator=(const AEGP_SuiteHandler&) = delete;

    // Each returns the suite's table (never null) or throws 516.
    const PF_HandleSuite2* HandleSuite2() const;
    const AEGP_UtilitySuite7* UtilitySuite7() const;
    const PF_Iterate8Suite1* Iterate8Suite1() const;
    const PF_WorldSuite1* WorldSuite1() const;
    const AEGP_IterateSuite1* IterateSuite1() const;

    // Hands one reference of (name, version) back to the host; no slot is looked at or changed
    // and the host's result is dropped.
    void ReleaseSuite(const char* name, A_long version);

    // Throws the PF_Err 516; never returns.
    [[noreturn]] void MissingSuiteError() const;

    struct SuiteName {
        const char* name;
        A_long version;
    };
    // Every (name, version) pair the handler knows, kSuiteCount of them, in the order the
    // destructor releases them.
    static constexpr std::size_t kSuiteCount = 101;
    static const SuiteName* KnownSuites();

    // The table of KnownSuites()[slot], acquired on first use; throws 516 when the host refuses
    // it.
    const void* Suite(std::size_t slot) const;

private:
    void ReleaseAllSuites();

    const SPBasicSuite* basic_;
    mutable const void* slots_[kSuiteCount];
};
