#include "CliRunner.h"

#include "core/backup/BackupTreeCache.h"
#include "support/SampleBackup.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <sstream>
#include <string_view>

namespace marrowick::cli {
namespace {

using testing::ReadFile;

namespace fs = std::filesystem;
using testing::SampleBackup;
using testing::SampleFile;
using testing::TempHome;

class ExportCommand : public ::testing::Test {
protected:
    TempHome home{"UTC"};
    fs::path backupFolder = home.ProfileBackupFolder() / "b";
    fs::path target = home.Home() / "out";

    void Write(std::vector<SampleFile> files) {
        ClearBackupTreeCache();
        SampleBackup backup;
        backup.Files = std::move(files);
        testing::WriteSampleBackup(backupFolder, backup);
    }
    void TearDown() override { ClearBackupTreeCache(); }
};

SampleFile File(const std::string& path, const std::string& content, bool missing = false) {
    SampleFile file;
    file.RelativePath = path;
    file.Content = content;
    file.StoredFileMissing = missing;
    return file;
}

TEST_F(ExportCommand, CopiesAFolderUnderItsDeviceNameIntoANewTarget) {
    Write({File("Library/SMS/sms.db", "messages"), File("Library/SMS/Attachments/a b.jpg", "jpeg")});
    const CliRun run = RunTool({"export", "1", "/var/mobile/Library/SMS", target.string()});
    EXPECT_EQ(run.Status, ExitOk) << run.Err;
    EXPECT_EQ(ReadFile(target / "SMS" / "sms.db"), "messages");
    EXPECT_EQ(ReadFile(target / "SMS" / "Attachments" / "a b.jpg"), "jpeg");
    EXPECT_EQ(run.Out, "Exported 2 files to " + target.string() + ".\n");
    EXPECT_EQ(run.Err, "Exporting /var/mobile/Library/SMS/Attachments/a b.jpg\n"
                       "Exporting /var/mobile/Library/SMS/sms.db\n");

    const CliRun quiet = RunTool({"export", "-q", "1", "/var/mobile/Library/SMS/sms.db", target.string()});
    EXPECT_EQ(quiet.Status, ExitOk);
    EXPECT_EQ(quiet.Err, "");
    EXPECT_EQ(ReadFile(target / "sms.db"), "messages");
}

TEST_F(ExportCommand, MissingStoredFilesAreNamedAndExitOne) {
    Write({File("Library/Notes/notes.sqlite", "n", true), File("Library/Notes/ok.txt", "fine")});
    const CliRun run = RunTool({"export", "-q", "1", "/var/mobile/Library/Notes", target.string()});
    EXPECT_EQ(run.Status, ExitFailed);
    EXPECT_NE(run.Err.find("/var/mobile/Library/Notes/notes.sqlite"), std::string::npos) << run.Err;
    EXPECT_EQ(ReadFile(target / "Notes" / "ok.txt"), "fine");
    EXPECT_FALSE(fs::exists(target / "Notes" / "notes.sqlite"));
    EXPECT_EQ(run.Out, "Exported 1 file to " + target.string() + ".\n");
}

// A target the export must not write into is refused before anything is made, and the backup is unchanged.
struct RefusedTarget {
    const char* Label;
    fs::path (*Make)(const fs::path& home, const fs::path& backup);
    const char* Says;
};

class ExportCommandTarget : public ExportCommand, public ::testing::WithParamInterface<RefusedTarget> {};

TEST_P(ExportCommandTarget, IsRefusedAsAUsageError) {
    Write({File("Library/SMS/sms.db", "messages")});
    const fs::path refused = GetParam().Make(home.Home(), backupFolder);
    const auto before = testing::SnapshotFolder(backupFolder);
    const bool existed = fs::exists(refused);

    const CliRun run = RunTool({"export", "1", "/var/mobile", refused.string()});

    EXPECT_EQ(run.Status, ExitUsage);
    EXPECT_NE(run.Err.find(GetParam().Says), std::string::npos) << run.Err;
    EXPECT_EQ(testing::SnapshotFolder(backupFolder), before);
    EXPECT_EQ(fs::exists(refused), existed);
    EXPECT_FALSE(fs::exists(home.Home() / "nonexistent"));
    EXPECT_EQ(run.Out, "");
}

INSTANTIATE_TEST_SUITE_P(
    Targets, ExportCommandTarget,
    ::testing::Values(RefusedTarget{"AFile",
                                    [](const fs::path& h, const fs::path&) {
                                        testing::WriteFile(h / "a-file", "a file");
                                        return h / "a-file";
                                    },
                                    "is a file, not a folder"},
                      RefusedTarget{"MissingParents",
                                    [](const fs::path& h, const fs::path&) { return h / "nonexistent" / "x" / "y"; },
                                    "does not exist"},
                      RefusedTarget{"TheBackup", [](const fs::path&, const fs::path& b) { return b; },
                                    "lies inside it"},
                      RefusedTarget{"NewFolderInTheBackup",
                                    [](const fs::path&, const fs::path& b) { return b / "SMS"; }, "lies inside it"},
                      RefusedTarget{"LinkIntoTheBackup",
                                    [](const fs::path& h, const fs::path& b) {
                                        fs::create_directory_symlink(b, h / "link");
                                        return h / "link" / "out";
                                    },
                                    "lies inside it"}),
    [](const auto& row) { return std::string(row.param.Label); });

// Standard error that gets SIGINT, as from Ctrl+C, while the first file's progress line is written.
class InterruptOnFirstProgress final : public std::stringbuf {
protected:
    std::streamsize xsputn(const char* text, std::streamsize count) override {
        const std::streamsize written = std::stringbuf::xsputn(text, count);
        if (!raised_ && std::string_view(text, static_cast<std::size_t>(count)).starts_with("Exporting")) {
            raised_ = true;
            std::raise(SIGINT);
        }
        return written;
    }

private:
    bool raised_ = false;
};

std::atomic<int> OutsideInterrupts{0};

TEST_F(ExportCommand, CtrlCStopsAfterTheFileBeingCopiedAndSaysSo) {
    Write({File("Media/a.jpg", "a"), File("Media/b.jpg", "b"), File("Media/c.jpg", "c")});
    const auto previous = std::signal(SIGINT, [](int) { OutsideInterrupts.fetch_add(1); });
    InterruptOnFirstProgress errBuffer;
    std::ostream err(&errBuffer);
    std::ostringstream out;
    const int status = RunCli({"export", "1", "/var/mobile/Media", target.string()}, out, err);

    EXPECT_EQ(status, ExitFailed);
    EXPECT_EQ(ReadFile(target / "Media" / "a.jpg"), "a");
    EXPECT_FALSE(fs::exists(target / "Media" / "b.jpg"));
    EXPECT_FALSE(fs::exists(target / "Media" / "c.jpg"));
    EXPECT_NE(errBuffer.str().find("Export cancelled after 1 file; the rest were not exported.\n"), std::string::npos)
        << errBuffer.str();
    EXPECT_EQ(out.str(), "Exported 1 file to " + target.string() + ".\n");
    EXPECT_EQ(OutsideInterrupts.load(), 0) << "the export's own handler took the interrupt";

    std::raise(SIGINT);
    EXPECT_EQ(OutsideInterrupts.load(), 1) << "the former handler is back once the export is over";
    std::signal(SIGINT, previous);

    const CliRun again = RunTool({"export", "-q", "1", "/var/mobile/Media", target.string()});
    EXPECT_EQ(again.Status, ExitOk) << "a new export does not inherit the interrupt";
    EXPECT_EQ(ReadFile(target / "Media" / "c.jpg"), "c");
}

TEST_F(ExportCommand, WrongArgumentsAreUsageErrors) {
    Write({});
    EXPECT_EQ(RunTool({"export", "1", "/var"}).Status, ExitUsage);
    EXPECT_EQ(RunTool({"export", "1", "/var/nothing", target.string()}).Status, ExitNotFound);
    EXPECT_FALSE(fs::exists(target)) << "nothing is created for a path that is not there";
}

} // namespace
} // namespace marrowick::cli
