#include "CliRunner.h"

#include "core/backup/BackupTreeCache.h"
#include "support/SampleBackup.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

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
    fs::path target = home.Home() / "out" / "new";

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

TEST_F(ExportCommand, TargetThatCannotBeAFolderIsRefused) {
    Write({File("Library/SMS/sms.db", "messages")});
    fs::create_directories(target.parent_path());
    std::ofstream(target) << "a file";
    const CliRun run = RunTool({"export", "1", "/var/mobile", target.string()});
    EXPECT_EQ(run.Status, ExitFailed);
    EXPECT_NE(run.Err.find("the target folder \"" + target.string() + "\" cannot be created"), std::string::npos)
        << run.Err;
    EXPECT_EQ(ReadFile(target), "a file");
}

TEST_F(ExportCommand, WrongArgumentsAreUsageErrors) {
    Write({});
    EXPECT_EQ(RunTool({"export", "1", "/var"}).Status, ExitUsage);
    EXPECT_EQ(RunTool({"export", "1", "/var/nothing", target.string()}).Status, ExitNotFound);
    EXPECT_FALSE(fs::exists(target)) << "nothing is created for a path that is not there";
}

} // namespace
} // namespace marrowick::cli
