// The PiPL section of the fake modules: the effect's own bytes, or a damaged copy of them.
//   FAKE_PIPL_VARIANT 1: the entry point property names a function the module does not export.
//   FAKE_PIPL_VARIANT 2: the header counts one property more than there are.
#include "OmbrelPiPL.h"

namespace {

constexpr OmbrelPiPL::Bytes variant() {
    OmbrelPiPL::Bytes b = OmbrelPiPL::kBytes;
#if FAKE_PIPL_VARIANT == 1
    constexpr char from[] = "EntryPointFunc";
    constexpr char to[] = "NoSuchFunction";
    static_assert(sizeof from == sizeof to);
    for (std::size_t i = 0; i + sizeof from - 1 <= b.size(); ++i) {
        bool match = true;
        for (std::size_t k = 0; k + 1 < sizeof from; ++k)
            match = match && b[i + k] == static_cast<std::uint8_t>(from[k]);
        if (match) {
            for (std::size_t k = 0; k + 1 < sizeof to; ++k)
                b[i + k] = static_cast<std::uint8_t>(to[k]);
        }
    }
#elif FAKE_PIPL_VARIANT == 2
    b[6] = static_cast<std::uint8_t>(b[6] + 1);
#endif
    return b;
}

__attribute__((used, section(".pipl"), aligned(4))) const OmbrelPiPL::Bytes kPiPLSection =
    variant();

} // namespace
