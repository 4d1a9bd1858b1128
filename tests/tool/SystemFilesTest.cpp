#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

#include "SystemFiles.h"
#include "TempFolder.h"
#include "ToolError.h"

using namespace OmbrelRender;
using OmbrelRenderTest::readText;
using OmbrelRenderTest::TempFolder;
using OmbrelRenderTest::writeText;
namespace fs = std::filesystem;

namespace {

std::string refusal(const fs::path& path) {
    try {
        InputFile file(path);
    } catch (const ToolError& e) {
        return e.what();
    }
    return "(opened)";
}

} // namespace

// Opening a FIFO waits for a writer; the test's timeout turns such a regression into a failure.
TEST(InputFile, RefusesWhatIsNotARegularFileWithoutReadingIt) {
    TempFolder folder;
    ASSERT_EQ(mkfifo((folder / "fifo").c_str(), 0600), 0);
    fs::create_directory(folder / "dir");
    fs::create_symlink("fifo", folder / "link-to-fifo");

    const int s = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(s, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string socketPath = (folder / "socket").string();
    ASSERT_LT(socketPath.size(), sizeof address.sun_path);
    std::strcpy(address.sun_path, socketPath.c_str());
    ASSERT_EQ(bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);

    EXPECT_EQ(refusal(folder / "fifo"), "cannot read: is a FIFO");
    EXPECT_EQ(refusal(folder / "link-to-fifo"), "cannot read: is a FIFO");
    EXPECT_EQ(refusal(folder / "dir"), "cannot read: is a folder");
    EXPECT_EQ(refusal(folder / "socket"), "cannot read: is a socket");
    EXPECT_EQ(refusal("/dev/zero"), "cannot read: is a device");
    EXPECT_EQ(refusal("/dev/urandom"), "cannot read: is a device");
    EXPECT_EQ(refusal(folder / "none"), "cannot read: no such file");
    close(s);
}

TEST(InputFile, ReadsARegularFileAtAnyOffset) {
    TempFolder folder;
    writeText(folder / "f.bin", "0123456789");
    const InputFile file(folder / "f.bin");
    EXPECT_EQ(file.size(), 10u);
    char buffer[8] = {};
    EXPECT_EQ(file.readAt(7, buffer, 8), 3u); // fewer at the end
    EXPECT_EQ(std::string(buffer, 3), "789");
    EXPECT_EQ(file.readAt(2, buffer, 4), 4u);
    EXPECT_EQ(std::string(buffer, 4), "2345");
    EXPECT_EQ(file.readAt(50, buffer, 4), 0u);
}

TEST(FileId, SameFileWhateverThePath) {
    TempFolder folder;
    writeText(folder / "a", "a");
    writeText(folder / "b", "b");
    fs::create_hard_link(folder / "a", folder / "hard");
    fs::create_symlink("a", folder / "soft");
    ASSERT_TRUE(fileIdOf(folder / "a"));
    EXPECT_EQ(fileIdOf(folder / "hard"), fileIdOf(folder / "a"));
    EXPECT_EQ(fileIdOf(folder / "soft"), fileIdOf(folder / "a"));
    EXPECT_NE(fileIdOf(folder / "b"), fileIdOf(folder / "a"));
    EXPECT_FALSE(fileIdOf(folder / "none"));
}

TEST(WriteNewFile, NeverWritesOverAnExistingFile) {
    TempFolder folder;
    writeText(folder / "there", "kept");
    const std::vector<std::uint8_t> bytes{1, 2, 3};
    EXPECT_THROW(writeNewFile(folder / "there", bytes, folder / "none"), ToolError);
    EXPECT_EQ(readText(folder / "there"), "kept");
    writeNewFile(folder / "new", bytes, folder / "none");
    EXPECT_EQ(readText(folder / "new"), std::string("\1\2\3"));
}
