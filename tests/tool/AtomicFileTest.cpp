#include <gtest/gtest.h>

#include <string>
#include <system_error>
#include <vector>

#include "AtomicFile.h"
#include "FileImage.h"
#include "TempFolder.h"

using namespace OmbrelRender;
using OmbrelRenderTest::readText;
using OmbrelRenderTest::TempFolder;
using OmbrelRenderTest::writeText;

TEST(AtomicFile, ACompleteWriteReplacesTheTargetAndLeavesNoTemporary) {
    TempFolder folder;
    const auto target = folder / "out.png";
    writeText(target, "old");
    writeAtomically(target, [&](const std::filesystem::path& temp) {
        EXPECT_EQ(temp.parent_path(), target.parent_path());
        EXPECT_EQ(temp.extension(), ".png");
        EXPECT_NE(temp, target);
        EXPECT_EQ(readText(target), "old"); // untouched while writing
        writeText(temp, "new");
    });
    EXPECT_EQ(readText(target), "new");
    EXPECT_EQ(folder.entries(), std::vector<std::string>{"out.png"});
}

TEST(AtomicFile, AFailedWriteLeavesTheTargetAsItWas) {
    TempFolder folder;
    const auto existing = folder / "kept.tif";
    writeText(existing, "old content");
    EXPECT_THROW(writeAtomically(existing,
                                 [](const std::filesystem::path& temp) {
                                     writeText(temp, "half");
                                     throw ToolError("cannot write: disk full");
                                 }),
                 ToolError);
    EXPECT_EQ(readText(existing), "old content");

    const auto absent = folder / "new.tif";
    EXPECT_THROW(writeAtomically(absent,
                                 [](const std::filesystem::path& temp) {
                                     writeText(temp, "half");
                                     throw std::runtime_error("writer crashed");
                                 }),
                 std::runtime_error);
    EXPECT_FALSE(std::filesystem::exists(absent));
    EXPECT_EQ(folder.entries(), std::vector<std::string>{"kept.tif"});
}

TEST(AtomicFile, AWriterThatProducesNothingIsAFailure) {
    TempFolder folder;
    EXPECT_THROW(writeAtomically(folder / "x.png", [](const std::filesystem::path&) {}), ToolError);
    EXPECT_TRUE(folder.entries().empty());
}

TEST(AtomicFile, RefusesTargetsThatCannotBeFiles) {
    TempFolder folder;
    try {
        AtomicFile file(folder / "missing" / "out.png");
        FAIL() << "accepted a target in a missing folder";
    } catch (const ToolError& e) {
        EXPECT_NE(std::string(e.what()).find("does not exist"), std::string::npos) << e.what();
    }
    std::filesystem::create_directory(folder / "sub");
    EXPECT_THROW(AtomicFile(folder / "sub"), ToolError);
    EXPECT_EQ(folder.entries(), std::vector<std::string>{"sub"});
}

TEST(AtomicFile, AFailedRenameSaysWhyAndRemovesTheTemporary) {
    TempFolder folder;
    const auto target = folder / "out.raw";
    AtomicFile file(target);
    writeText(file.tempPath(), "new");
    // The target turns into a folder holding a file: no rename can replace it.
    std::filesystem::create_directory(target);
    writeText(target / "inside", "kept");
    try {
        file.commit();
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

TEST(AtomicFile, WritesBytesExactly) {
    TempFolder folder;
    const std::vector<std::uint8_t> bytes{0, 1, 2, 255, 10, 13};
    writeBytesAtomically(folder / "b.raw", bytes);
    EXPECT_EQ(readText(folder / "b.raw"), std::string("\0\1\2\377\n\r", 6));
}
