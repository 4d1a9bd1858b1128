// A filter that throws in one band, run by the driver on the simulated host's worker threads:
// the frame fails with PF_Err_INTERNAL_STRUCT_DAMAGED and no exception reaches the host's
// iterate_generic (which records one that does as misuse).
#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>

#include "Host/CommandRecords.h"
#include "Host/OmbrelHost.h"
#include "Ombrel/Filter/OmbrelFilterMulti.h"

namespace {

using namespace Ombrel;
using OmbrelHost::CommandRecords;
using OmbrelHost::Depth;
using OmbrelHost::Host;
using OmbrelHost::HostOptions;
using OmbrelHost::Image;

class ThrowingFilter : public IFilterWithRegion {
public:
    struct Parameter {
        int throwAtTop;          // the band starting at this row throws
        std::atomic<int>* bands; // bands run
    };
    explicit ThrowingFilter(const Parameter& p) : p_(p) {}
    void execute(Layer&, Layer&) override {}
    void execute(Layer&, Layer&, const Rect& band) override {
        ++*p_.bands;
        if (band.top == p_.throwAtTop)
            throw std::runtime_error("a band failed");
    }

private:
    Parameter p_;
};

TEST(BandFaults, AThrowingBandFailsTheFrameWithoutReachingTheHost) {
    Host host(HostOptions{4});
    const Image input(3, 8, Depth::Bits8);
    OmbrelHost::RecordsOptions options;
    options.input = &input;
    {
        CommandRecords records(host, options);
        Layer src(records.inData(), records.outData(), records.inputWorld(), BPC_8);
        Layer dst(records.inData(), records.outData(), records.outputWorld(), BPC_8);
        for (int top : {0, 2, 6}) { // bands of 2 rows: the first, a middle and the last
            SCOPED_TRACE(top);
            std::atomic<int> bands{0};
            const PF_Err err = FilterMulti<ThrowingFilter>(records.inData(), src, dst,
                                                           Rect(0, 0, 3, 8), 4, {top, &bands});
            EXPECT_EQ(err, PF_Err_INTERNAL_STRUCT_DAMAGED);
            EXPECT_GE(bands.load(), 1);
        }
        std::atomic<int> bands{0};
        EXPECT_EQ(FilterMulti<ThrowingFilter>(records.inData(), src, dst, Rect(0, 0, 3, 8), 4,
                                              {-1, &bands}),
                  PF_Err_NONE);
        EXPECT_EQ(bands.load(), 4);
    }
    EXPECT_TRUE(host.held().empty()) << host.held().describe();
}

} // namespace
