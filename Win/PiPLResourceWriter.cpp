// ombrel-pipl-resource FILE.rc: writes the effect's PiPL resource script (PiPLResourceWriter.h).
#include <cstdio>

#include "OmbrelPiPL.h"
#include "Win/PiPLResourceWriter.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: ombrel-pipl-resource FILE.rc\n");
        return 2;
    }
    const OmbrelPiPL::Bytes& bytes = OmbrelPiPL::kBytes;
    return OmbrelWin::writePiPLResource(argv[1], bytes.data(), bytes.size()) ? 0 : 1;
}
