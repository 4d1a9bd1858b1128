// Places the PiPL bytes where the platform's host reads them from the module file.
//
// ELF (Linux): a section of its own named ".pipl", read by the host before it loads the
// module, as a Windows host reads the PIPL resource. Windows and macOS carry the same bytes as
// a resource built from OmbrelPiPL.h by their own build files, so this unit adds nothing there.
#include "OmbrelPiPL.h"

#if defined(__ELF__)
namespace {
__attribute__((used, section(".pipl"), aligned(4))) const OmbrelPiPL::Bytes kPiPLSection =
    OmbrelPiPL::kBytes;
} // namespace
#endif
