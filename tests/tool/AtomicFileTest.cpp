#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <csignal>
#include <string>
#include <system_error>
#include <vector>

#include "AtomicFile.h"
#include "Stop.h"
#include "SystemFiles.h"
#include "TempFolder.h"
#include "ToolError.h"

using namespace OmbrelRender;
using OmbrelRenderTest::readText;
using OmbrelRenderTest::TempFolder;
using OmbrelRenderTest::writeText;
namespace fs = std::filesystem;

namespace {

std::span<const std::uint8_t> bytesOf(const std::string& text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

} // namespace

TEST(AtomicFile, ACompleteWriteReplacesTheTargetAndLeavesNoTemporary) {
    TempFolder folder;
    const auto target = folder / "out.png";
    writeText(target, "old");
    AtomicFile file(target);
    EXPECT_EQ(file.tempPath().parent_path(), target.parent_path());
    EXPECT_FALSE(fs::exists(file.tempPath())); // nothing is made before the write
    file.write(bytesOf("new"));
    EXPECT_EQ(readText(target), "new");
    EXPECT_EQ(folder.entries(), std::vector<std::string>{"out.png"});
}

TEST(AtomicFile, AStopRequestAbandonsTheWriteAndKeepsTheTarget) {
    TempFolder folder;
    const auto target = folder / "kept.tif";
    writeText(target, "old content");
    AtomicFile file(target);
    requestStop(SIGINT);
    EXPECT_THROW(file.write(bytesOf("new content")), Stopped);
    clearStopRequest();
    EXPECT_EQ(readText(target), "old content");
    EXPECT_EQ(folder.entries(), std::vector<std::string>{"kept.tif"});
}

TEST(AtomicFile, RefusesTargetsThatCannotBeFiles) {
    TempFolder folder;
    try {
        AtomicFile file(folder / "missing" / "out.png");
        FAIL() << "accepted a target in a missing folder";
    } catch (const ToolError& e) {
        EXPECT_NE(std::string(e.what()).find("does not exist"), std::string::npos) << e.what();
    }
    fs::create_directory(folder / "sub");
    EXPECT_THROW(AtomicFile(folder / "sub"), ToolError);
    EXPECT_THROW(AtomicFile(folder / "sub" / ".."), ToolError);
#ifndef _WIN32
    // Renaming over a FIFO (or a device) would put a plain file in its place.
    ASSERT_EQ(mkfifo((folder / "fifo").c_str(), 0600), 0);
    EXPECT_THROW(AtomicFile(folder / "fifo"), ToolError);
    EXPECT_TRUE(fs::is_fifo(folder / "fifo"));
    EXPECT_EQ(folder.entries(), (std::vector<std::string>{"fifo", "sub"}));
#endif
}

TEST(AtomicFile, AFailedRenameSaysWhyAndRemovesTheTemporary) {
    TempFolder folder;
    const auto target = folder / "out.raw";
    AtomicFile file(target);
    // The target turns into a folder holding a file after the checks: no rename can replace it.
    fs::create_directory(target);
    writeText(target / "inside", "kept");
    try {
        file.write(bytesOf("new"));
        FAIL() << "renamed over a folder";
    } catch (const ToolError& e) {
        const std::string success = "cannot write: " + std::error_code().message();
        EXPECT_NE(std::string(e.what()), success);
        EXPECT_EQ(std::string(e.what()).rfind("cannot write: ", 0), 0u) << e.what();
    }
    EXPECT_EQ(folder.entries(), std::vector<std::string>{"out.raw"});
    EXPECT_EQ(readText(target / "inside"), "kept");
}

TEST(AtomicFile, ConcurrentWritersGetTheirOwnTemporaries) {
    TempFolder folder;
    AtomicFile a(folder / "same.raw");
    AtomicFile b(folder / "same.raw");
    EXPECT_NE(a.tempPath(), b.tempPath());
}

TEST(AtomicFile, ANameTakenByADanglingLinkIsSkippedLikeAnyOther) {
    TempFolder folder;
    if (!symbolicLinksWork(folder))
        GTEST_SKIP() << "no symbolic links on this system";
    // The next writer's first name: this one's serial number plus one.
    const std::string probe = AtomicFile(folder / "t.raw").tempPath().filename().string();
    const std::string tag = ".ombrel-render-" + std::to_string(processId()) + "-";
    ASSERT_EQ(probe.rfind(tag, 0), 0u) << probe;
    const unsigned long serial = std::stoul(probe.substr(tag.size()));
    fs::create_symlink("nowhere", folder.path() / temporaryName("t.raw", processId(), serial + 1));
    EXPECT_NO_THROW(writeBytesAtomically(folder / "t.raw", std::vector<std::uint8_t>{1, 2}));
    EXPECT_EQ(readText(folder / "t.raw"), "\1\2");
}

TEST(AtomicFile, WritesBytesExactly) {
    TempFolder folder;
    const std::vector<std::uint8_t> bytes{0, 1, 2, 255, 10, 13};
    writeBytesAtomically(folder / "b.raw", bytes);
    EXPECT_EQ(readText(folder / "b.raw"), std::string("\0\1\2\377\n\r", 6));
}

TEST(AtomicFile, TemporariesAreRecognisableAndWithinTheNameLimit) {
    const fs::path name = temporaryName("shot.0001.png", 4321, 7);
    EXPECT_EQ(name, fs::path(".ombrel-render-4321-7-shot.0001.png.tmp"));

    // The longest name a file system takes, in ASCII and in two-byte characters.
    std::string accents;
    for (int i = 0; i < 127; ++i)
        accents += "\xC3\xA9"; // é
    for (const std::string& target : {std::string(251, 'a') + ".png", "x" + accents}) {
#ifdef _WIN32
        // Windows counts a name's length in UTF-16 code units.
        EXPECT_LE(temporaryName(target, 4294967295ul, 4294967295ul).native().size(), 255u);
        continue;
#endif
        const std::string temp = temporaryName(target, 4294967295ul, 4294967295ul).string();
        EXPECT_LE(temp.size(), 255u);
        EXPECT_EQ(temp.rfind(".ombrel-render-4294967295-4294967295-", 0), 0u);
        EXPECT_TRUE(temp.ends_with(".tmp"));
        // No character cut in two: the byte before ".tmp" ends a character.
        const auto last = static_cast<unsigned char>(temp[temp.size() - 5]);
        EXPECT_TRUE(last < 0x80 || (last & 0xC0) == 0x80) << "cut inside a character";
        if ((last & 0xC0) == 0x80) {
            EXPECT_GE(static_cast<unsigned char>(temp[temp.size() - 6]), 0xC0);
        }
    }
}

TEST(AtomicFile, ALongTargetNameIsWritten) {
    TempFolder folder;
    const auto target = folder / (std::string(246, 'n') + ".png");
    writeBytesAtomically(target, bytesOf("content"));
    EXPECT_EQ(readText(target), "content");
    EXPECT_EQ(folder.entries().size(), 1u);
}

TEST(AtomicFile, WritingOntoASymbolicLinkReplacesItsTargetAndKeepsTheLink) {
    TempFolder folder;
    if (!OmbrelRenderTest::symbolicLinksWork(folder))
        GTEST_SKIP() << "no symbolic links on this system";
    fs::create_directory(folder / "store");
    writeText(folder / "store" / "real.png", "old");
    fs::create_symlink("store/real.png", folder / "link.png");
    fs::create_symlink("link.png", folder / "chain.png");
    writeBytesAtomically(folder / "chain.png", bytesOf("new"));
    EXPECT_TRUE(fs::is_symlink(folder / "link.png"));
    EXPECT_TRUE(fs::is_symlink(folder / "chain.png"));
    EXPECT_EQ(readText(folder / "store" / "real.png"), "new");
    EXPECT_EQ(TempFolder::entriesOf(folder / "store"), std::vector<std::string>{"real.png"});

    // A link to a file not there yet makes that file.
    fs::create_symlink("store/later.png", folder / "dangling.png");
    writeBytesAtomically(folder / "dangling.png", bytesOf("made"));
    EXPECT_TRUE(fs::is_symlink(folder / "dangling.png"));
    EXPECT_EQ(readText(folder / "store" / "later.png"), "made");

    fs::create_symlink("loop2.png", folder / "loop1.png");
    fs::create_symlink("loop1.png", folder / "loop2.png");
    EXPECT_THROW(AtomicFile(folder / "loop1.png"), ToolError);
}

TEST(AtomicFile, AReplacedFileKeepsItsPermissions) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows keeps no POSIX permission bits";
#endif
    TempFolder folder;
    const auto target = folder / "private.raw";
    writeText(target, "old");
    fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write);
    writeBytesAtomically(target, bytesOf("new"));
    EXPECT_EQ(fs::status(target).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
}
