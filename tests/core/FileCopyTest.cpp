#include "core/platform/FileCopy.h"

#include "support/SampleBackup.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <iterator>
#include <random>
#include <string>

namespace marrowick {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::WriteFile;

std::string RandomBytes(std::size_t size) {
    std::mt19937 random(static_cast<unsigned>(size));
    std::string bytes(size, '\0');
    for (char& c : bytes) {
        c = static_cast<char>(random());
    }
    return bytes;
}

class FileCopyMethod : public ::testing::TestWithParam<CopyMethod> {
protected:
    testing::TempDir dir;
};

// Sizes around the read-write buffer's edges, and one larger than it.
TEST_P(FileCopyMethod, CopiesEveryByteAndReplacesALongerFile) {
    for (const std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{1} << 20, (std::size_t{5} << 20) + 7}) {
        const std::string bytes = RandomBytes(size);
        const fs::path source = dir.Path() / "source";
        WriteFile(source, bytes);
        WriteFile(dir.Path() / "target", std::string(size + 4096, 'z'));

        const FileCopyResult result =
            CopyWholeFileWith(GetParam(), source.string(), AT_FDCWD, (dir.Path() / "target").string(), 1600000000);

        EXPECT_TRUE(result.Succeeded()) << size << ": " << result.Error;
        EXPECT_EQ(ReadFile(dir.Path() / "target"), bytes) << size;
    }
}

INSTANTIATE_TEST_SUITE_P(EachMethod, FileCopyMethod,
                         ::testing::Values(CopyMethod::CopyFileRange, CopyMethod::SendFile, CopyMethod::ReadWrite));

TEST(FileCopy, SetsTheGivenTimeOrKeepsTheSourceTime) {
    testing::TempDir dir;
    const fs::path source = dir.Path() / "source";
    WriteFile(source, "timed");
    const timespec sourceTimes[2] = {{0, UTIME_OMIT}, {1111111111, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, source.c_str(), sourceTimes, 0), 0);

    ASSERT_TRUE(CopyWholeFile(source.string(), AT_FDCWD, (dir.Path() / "given").string(), 1234567890).Succeeded());
    ASSERT_TRUE(CopyWholeFile(source.string(), AT_FDCWD, (dir.Path() / "kept").string(), 0).Succeeded());

    struct stat given {};
    struct stat kept {};
    ASSERT_EQ(::stat((dir.Path() / "given").c_str(), &given), 0);
    ASSERT_EQ(::stat((dir.Path() / "kept").c_str(), &kept), 0);
    EXPECT_EQ(given.st_mtim.tv_sec, 1234567890);
    EXPECT_EQ(kept.st_mtim.tv_sec, 1111111111);
}

TEST(FileCopy, TellsWhichSideFailedAndWhy) {
    testing::TempDir dir;
    const fs::path source = dir.Path() / "source";
    WriteFile(source, "data");
    fs::create_directory(dir.Path() / "folder");
    ASSERT_EQ(::mkfifo((dir.Path() / "fifo").c_str(), 0600), 0);
    fs::create_symlink(source, dir.Path() / "link");
    const std::string missing = (dir.Path() / "missing").string();

    const FileCopyResult noSource = CopyWholeFile(missing, AT_FDCWD, (dir.Path() / "t1").string(), 0);
    const FileCopyResult folderSource = CopyWholeFile((dir.Path() / "folder").string(), AT_FDCWD, "t2", 0);
    const FileCopyResult fifoSource = CopyWholeFile((dir.Path() / "fifo").string(), AT_FDCWD, "t3", 0);
    const FileCopyResult folderTarget = CopyWholeFile(source.string(), AT_FDCWD, (dir.Path() / "folder").string(), 0);
    const FileCopyResult fifoTarget = CopyWholeFile(source.string(), AT_FDCWD, (dir.Path() / "fifo").string(), 0);
    const FileCopyResult linkTarget = CopyWholeFile(source.string(), AT_FDCWD, (dir.Path() / "link").string(), 0);
    const FileCopyResult longName =
        CopyWholeFile(source.string(), AT_FDCWD, (dir.Path() / std::string(300, 'n')).string(), 0);

    EXPECT_EQ(noSource.Stage, CopyStage::OpenSource);
    EXPECT_EQ(noSource.Error, ENOENT);
    EXPECT_EQ(folderSource.Stage, CopyStage::OpenSource);
    EXPECT_EQ(folderSource.Error, EISDIR);
    EXPECT_EQ(fifoSource.Stage, CopyStage::OpenSource);
    EXPECT_EQ(folderTarget.Stage, CopyStage::OpenTarget);
    EXPECT_EQ(folderTarget.Error, EISDIR);
    EXPECT_EQ(fifoTarget.Stage, CopyStage::OpenTarget); // refused at once, not blocked waiting for a reader
    EXPECT_EQ(linkTarget.Stage, CopyStage::OpenTarget);
    EXPECT_EQ(linkTarget.Error, ELOOP);
    EXPECT_EQ(longName.Error, ENAMETOOLONG);
    EXPECT_FALSE(fs::exists(dir.Path() / "t1"));
    EXPECT_EQ(ReadFile(source), "data");
    EXPECT_TRUE(fs::is_symlink(dir.Path() / "link"));
}

// A device standing at the target name is neither written nor truncated.
TEST(FileCopy, DeviceAtTheTargetIsRefused) {
    testing::TempDir dir;
    const fs::path source = dir.Path() / "source";
    WriteFile(source, "data");

    const FileCopyResult result = CopyWholeFile(source.string(), AT_FDCWD, "/dev/null", 0);

    EXPECT_EQ(result.Stage, CopyStage::OpenTarget);
    EXPECT_EQ(result.Error, EEXIST);
}

} // namespace
} // namespace marrowick
