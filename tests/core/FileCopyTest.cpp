#include "core/platform/FileCopy.h"

#include "core/platform/FileDescriptor.h"
#include "support/SampleBackup.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <iterator>
#include <random>
#include <set>
#include <string>

namespace marrowick {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::WriteFile;

FileDescriptor OpenForReading(const fs::path& path) {
    return FileDescriptor(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
}

Result<void> Copy(const fs::path& source, const fs::path& target, std::int64_t mtime = 0) {
    const FileDescriptor in = OpenForReading(source);
    return CopyWholeFile(in.Get(), AT_FDCWD, target.string(), mtime);
}

// Names in folder besides the expected ones: a temporary copy left behind would show here.
std::set<std::string> Names(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

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
        const FileDescriptor in = OpenForReading(source);

        const Result<void> result =
            CopyWholeFileWith(GetParam(), in.Get(), AT_FDCWD, (dir.Path() / "target").string(), 1600000000);

        EXPECT_TRUE(result.Ok()) << size;
        EXPECT_EQ(ReadFile(dir.Path() / "target"), bytes) << size;
        EXPECT_EQ(Names(dir.Path()), (std::set<std::string>{"source", "target"}));
    }
}

// A target that is a hard link to the source (a de-duplicating tool left it), or to a file elsewhere, is replaced
// by a new file: neither file it shared its content with is written.
TEST_P(FileCopyMethod, HardLinkAtTheTargetIsReplacedNotWrittenThrough) {
    const fs::path source = dir.Path() / "source";
    const fs::path elsewhere = dir.Path() / "elsewhere";
    WriteFile(source, "the stored bytes");
    WriteFile(elsewhere, "someone else's bytes");
    fs::create_hard_link(source, dir.Path() / "linked-to-source");
    fs::create_hard_link(elsewhere, dir.Path() / "linked-elsewhere");
    const FileDescriptor in = OpenForReading(source);

    for (const char* target : {"linked-to-source", "linked-elsewhere"}) {
        EXPECT_TRUE(CopyWholeFileWith(GetParam(), in.Get(), AT_FDCWD, (dir.Path() / target).string(), 0)) << target;
        EXPECT_EQ(ReadFile(dir.Path() / target), "the stored bytes");
        EXPECT_EQ(fs::hard_link_count(dir.Path() / target), 1U);
    }
    EXPECT_EQ(ReadFile(source), "the stored bytes");
    EXPECT_EQ(ReadFile(elsewhere), "someone else's bytes");
}

INSTANTIATE_TEST_SUITE_P(EachMethod, FileCopyMethod,
                         ::testing::Values(CopyMethod::CopyFileRange, CopyMethod::SendFile, CopyMethod::ReadWrite));

TEST(FileCopy, SetsTheGivenTimeOrKeepsTheSourceTime) {
    testing::TempDir dir;
    const fs::path source = dir.Path() / "source";
    WriteFile(source, "timed");
    const timespec sourceTimes[2] = {{0, UTIME_OMIT}, {1111111111, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, source.c_str(), sourceTimes, 0), 0);

    ASSERT_TRUE(Copy(source, dir.Path() / "given", 1234567890));
    ASSERT_TRUE(Copy(source, dir.Path() / "kept"));

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

    const auto failure = [](const Result<void>& result) {
        EXPECT_FALSE(result.Ok());
        return result.Ok() ? Failure{} : result.Error();
    };
    const Failure folderSource = failure(Copy(dir.Path() / "folder", dir.Path() / "t2"));
    const Failure fifoSource = failure(Copy(dir.Path() / "fifo", dir.Path() / "t3"));
    const Failure folderTarget = failure(Copy(source, dir.Path() / "folder"));
    const Failure fifoTarget = failure(Copy(source, dir.Path() / "fifo"));
    const Failure linkTarget = failure(Copy(source, dir.Path() / "link"));
    const Failure longName = failure(Copy(source, dir.Path() / std::string(300, 'n')));

    EXPECT_EQ(folderSource.Step, FailureStep::Open);
    EXPECT_EQ(folderSource.Cause, FailureCause::Folder);
    EXPECT_EQ(fifoSource.Step, FailureStep::Open);
    EXPECT_EQ(folderTarget.Step, FailureStep::Check);
    EXPECT_EQ(folderTarget.Cause, FailureCause::Folder);
    EXPECT_EQ(fifoTarget.Cause, FailureCause::NotRegularFile); // refused at once, not blocked waiting for a reader
    EXPECT_EQ(linkTarget.Step, FailureStep::Check);
    EXPECT_EQ(linkTarget.Cause, FailureCause::Link);
    EXPECT_EQ(longName.Error, ENAMETOOLONG);
    EXPECT_EQ(ReadFile(source), "data");
    EXPECT_TRUE(fs::is_symlink(dir.Path() / "link"));
    EXPECT_EQ(Names(dir.Path()), (std::set<std::string>{"source", "folder", "fifo", "link"}));
}

// A copy that fails half-way leaves the file at the target as it was and no partial copy beside it.
TEST(FileCopy, FailedReadLeavesTheTargetAsItWas) {
    testing::TempDir dir;
    WriteFile(dir.Path() / "source", "data");
    WriteFile(dir.Path() / "target", "former export");
    // Open for writing only: every read of it fails.
    const FileDescriptor unreadable(::open((dir.Path() / "source").c_str(), O_WRONLY | O_CLOEXEC));

    const Result<void> result = CopyWholeFile(unreadable.Get(), AT_FDCWD, (dir.Path() / "target").string(), 0);

    ASSERT_FALSE(result);
    EXPECT_EQ(result.Error().Step, FailureStep::Write);
    EXPECT_EQ(result.Error().Error, EBADF);
    EXPECT_EQ(ReadFile(dir.Path() / "target"), "former export");
    EXPECT_EQ(Names(dir.Path()), (std::set<std::string>{"source", "target"}));
}

// A device standing at the target name is neither written nor truncated.
TEST(FileCopy, DeviceAtTheTargetIsRefused) {
    testing::TempDir dir;
    const fs::path source = dir.Path() / "source";
    WriteFile(source, "data");

    const Result<void> result = Copy(source, "/dev/null");

    ASSERT_FALSE(result);
    EXPECT_EQ(result.Error().Step, FailureStep::Check);
    EXPECT_EQ(result.Error().Cause, FailureCause::NotRegularFile);
}

// A side file of a few GB that is mostly hole is copied as a hole, not written out in full.
TEST(FileCopy, SparseCopyKeepsHolesAndEveryByte) {
    testing::TempDir dir;
    const fs::path source = dir.Path() / "sparse";
    WriteFile(source, "head");
    ASSERT_EQ(::truncate(source.c_str(), std::int64_t{3} << 30), 0);
    {
        const FileDescriptor out(::open(source.c_str(), O_WRONLY | O_CLOEXEC));
        ASSERT_EQ(::pwrite(out.Get(), "tail", 4, (std::int64_t{3} << 30) - 4), 4);
    }
    const FileDescriptor in = OpenForReading(source);
    const FileDescriptor copy(::open((dir.Path() / "copy").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));

    ASSERT_TRUE(CopySparseContent(in.Get(), copy.Get()));

    struct stat status {};
    ASSERT_EQ(::fstat(copy.Get(), &status), 0);
    EXPECT_EQ(status.st_size, std::int64_t{3} << 30);
    EXPECT_LT(status.st_blocks * 512, std::int64_t{1} << 20);
    char bytes[4];
    ASSERT_EQ(::pread(copy.Get(), bytes, 4, 0), 4);
    EXPECT_EQ(std::string(bytes, 4), "head");
    ASSERT_EQ(::pread(copy.Get(), bytes, 4, (std::int64_t{3} << 30) - 4), 4);
    EXPECT_EQ(std::string(bytes, 4), "tail");
}

} // namespace
} // namespace marrowick
