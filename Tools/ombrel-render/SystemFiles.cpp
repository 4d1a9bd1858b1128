// What the POSIX and Windows file operations share.
#include "SystemFiles.h"

namespace OmbrelRender {

namespace fs = std::filesystem;

std::string notARegularFile(fs::file_type type) {
    switch (type) {
    case fs::file_type::directory:
        return "is a folder";
    case fs::file_type::fifo:
        return "is a FIFO";
    case fs::file_type::character:
    case fs::file_type::block:
        return "is a device";
    case fs::file_type::socket:
        return "is a socket";
    default:
        break;
    }
    return "is not a regular file";
}

} // namespace OmbrelRender
