// Build-time program: writes the macOS bundle's resource file, holding the effect's PiPL as
// resource 'PiPL' 16000, from the shared description in OmbrelPiPL.h.
//
//   ombrel-write-rsrc OUTPUT.rsrc
//
// Writes beside the target and renames, so an interrupted build leaves no partial file.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "Mac/ResourceFileWriter.h"
#include "OmbrelPiPL.h"

// The bundle's Info.plist carries the project version; the PiPL and global setup carry these.
#if defined(OMBREL_PROJECT_VERSION_MAJOR)
static_assert(OmbrelPiPL::kMajorVersion == OMBREL_PROJECT_VERSION_MAJOR &&
                  OmbrelPiPL::kMinorVersion == OMBREL_PROJECT_VERSION_MINOR &&
                  OmbrelPiPL::kFixVersion == OMBREL_PROJECT_VERSION_PATCH,
              "the project version (CMakeLists.txt) and the effect version (OmbrelPiPL.h) differ");
#endif

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.rsrc\n", argc > 0 ? argv[0] : "ombrel-write-rsrc");
        return 2;
    }
    const std::filesystem::path target = argv[1];
    const std::filesystem::path temp = target.string() + ".tmp";

    const OmbrelMac::Resource pipl{
        OmbrelPiPL::kMacResourceType, static_cast<std::int16_t>(OmbrelPiPL::kResourceId),
        std::vector<std::uint8_t>(OmbrelPiPL::kMacBytes.begin(), OmbrelPiPL::kMacBytes.end())};
    const std::vector<std::uint8_t> file = OmbrelMac::writeResourceFile({pipl});

    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(file.data()),
                  static_cast<std::streamsize>(file.size()));
        out.close();
        if (!out) {
            std::fprintf(stderr, "ombrel-write-rsrc: cannot write %s\n", temp.string().c_str());
            return 1;
        }
    }
    std::error_code ec;
    std::filesystem::rename(temp, target, ec);
    if (ec) {
        std::fprintf(stderr, "ombrel-write-rsrc: cannot rename %s to %s: %s\n",
                     temp.string().c_str(), target.string().c_str(), ec.message().c_str());
        std::filesystem::remove(temp, ec);
        return 1;
    }
    return 0;
}
