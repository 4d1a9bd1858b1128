// The PiPL of the fake modules: the effect's own bytes, or a damaged copy of them.
//   variant 0: the effect's bytes.
//   variant 1: the entry point property names a function the module does not export.
//   variant 2: the header counts one property more than there are.
//
// Built into an ELF fake module as its ".pipl" section (FAKE_PIPL_VARIANT), or, for Windows
// fake modules, into a program that writes the variant given on its command line as a
// resource script (FAKE_PIPL_WRITER).
#include "OmbrelPiPL.h"

namespace {

constexpr OmbrelPiPL::Bytes variant(int v) {
    OmbrelPiPL::Bytes b = OmbrelPiPL::kBytes;
    if (v == 1) {
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
    } else if (v == 2) {
        b[6] = static_cast<std::uint8_t>(b[6] + 1);
    }
    return b;
}

} // namespace

#if defined(FAKE_PIPL_WRITER)

#include <cstdlib>

#include "Win/PiPLResourceWriter.h"

// host_fake_pipl_writer VARIANT FILE.rc
int main(int argc, char** argv) {
    if (argc != 3)
        return 2;
    const OmbrelPiPL::Bytes bytes = variant(std::atoi(argv[1]));
    return OmbrelWin::writePiPLResource(argv[2], bytes.data(), bytes.size()) ? 0 : 1;
}

#else

namespace {

__attribute__((used, section(".pipl"), aligned(4))) const OmbrelPiPL::Bytes kPiPLSection =
    variant(FAKE_PIPL_VARIANT);

} // namespace

#endif
