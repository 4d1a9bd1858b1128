// Places the PiPL bytes where the platform's host reads them from the module file.
//
// ELF (Linux): a section of its own named ".pipl", read by the host before it loads the
// module, as a Windows host reads the PIPL resource. The Windows module carries the same bytes
// as its "PIPL" resource, which the build writes from OmbrelPiPL.h with a small program
// (Win/PiPLResourceWriter.h), so this unit adds nothing there, nor in any other format.
#include "OmbrelPiPL.h"

#if defined(__ELF__)
namespace {
__attribute__((used, section(".pipl"), aligned(4))) const OmbrelPiPL::Bytes kPiPLSection =
    OmbrelPiPL::kBytes;
} // namespace
#endif
