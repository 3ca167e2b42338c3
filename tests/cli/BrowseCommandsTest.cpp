#include "CliRunner.h"

#include "core/backup/BackupTreeCache.h"
#include "core/crypto/UnlockedBackups.h"
#include "support/SampleBackup.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <fstream>

namespace marrowick::cli {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using testing::SampleBackup;
using testing::TempHome;

class BrowseCommands : public ::testing::Test {
protected:
    TempHome home{"UTC"};
    fs::path folder = home.AppDataBackupFolder() / "00008030-0001";

    void SetUp() override {
        ClearBackupTreeCache();
        SampleBackup backup;
        backup.Files = {
            {"HomeDomain", "Library/SMS/sms.db", "hello"},
            {"MediaDomain", "Media/DCIM/100APPLE/IMG_0001.JPG", std::string(2048, 'j')},
            {"AppDomain-com.example.notes", "Documents/My Notes é.txt", "note"},
            {"AppDomain-com.example.notes", "Documents/two\nlines.txt", "x"},
        };
        testing::WriteSampleBackup(folder, backup);
    }
    void TearDown() override { ClearBackupTreeCache(); }
};

TEST_F(BrowseCommands, LsShowsAFolderWithTheFileManagersColumns) {
    CliRun run = RunTool({"ls", "1", "/var/mobile/Library/SMS/"});
    EXPECT_EQ(run.Status, ExitOk) << run.Err;
    EXPECT_EQ(run.Out, "Name    Size     Type  Time\n"
                       "sms.db  5 bytes        2020-09-13 12:26\n");

    run = RunTool({"ls", "C39XK0ABCDEF", "/var/mobile"});
    EXPECT_EQ(run.Out, "Name          Size  Type    Time\n"
                       "Applications        Folder  \n"
                       "Library             Folder  \n"
                       "Media               Folder  \n");

    run = RunTool({"ls", folder.string(), "/var/mobile/Media/DCIM/100APPLE/IMG_0001.JPG"});
    EXPECT_EQ(run.Out, "Name          Size  Type  Time\n"
                       "IMG_0001.JPG  2 KB        2020-09-13 12:26\n");
}

TEST_F(BrowseCommands, LsRecursiveWalksDepthFirstWithFullPaths) {
    const CliRun run = RunTool({"ls", "-R", "1", "/var/mobile/Applications"});
    EXPECT_EQ(run.Status, ExitOk) << run.Err;
    EXPECT_EQ(run.Out, "Size        Type    Time              Path\n"
                       "            Folder                    /var/mobile/Applications/com.example.notes\n"
                       "            Folder                    /var/mobile/Applications/com.example.notes/Documents\n"
                       "4 bytes             2020-09-13 12:26  "
                       "/var/mobile/Applications/com.example.notes/Documents/My Notes é.txt\n"
                       "1 bytes             2020-09-13 12:26  "
                       "/var/mobile/Applications/com.example.notes/Documents/two?lines.txt\n");
}

TEST_F(BrowseCommands, JsonOutputParsesBackWithTheRealNames) {
    json entries = json::parse(RunTool({"ls", "--json", "-R", "1"}).Out);
    ASSERT_TRUE(entries.is_array());
    std::vector<std::string> files;
    for (const json& entry : entries) {
        if (entry["type"] == "file") {
            files.push_back(entry["path"]);
        }
    }
    EXPECT_EQ(files, (std::vector<std::string>{"/var/mobile/Applications/com.example.notes/Documents/My Notes é.txt",
                                               "/var/mobile/Applications/com.example.notes/Documents/two\nlines.txt",
                                               "/var/mobile/Library/SMS/sms.db",
                                               "/var/mobile/Media/DCIM/100APPLE/IMG_0001.JPG"}));

    const json found = json::parse(RunTool({"find", "--json", "1", "*.JPG"}).Out);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0]["size"], 2048);
    EXPECT_EQ(found[0]["mtime"], 1600000000);
    EXPECT_EQ(found[0]["fileID"], testing::Sha1Hex("MediaDomain-Media/DCIM/100APPLE/IMG_0001.JPG"));

    const json info = json::parse(RunTool({"info", "--json", "1"}).Out);
    EXPECT_EQ(info["name"], "iPhone");
    EXPECT_EQ(info["files"], 4);
    EXPECT_EQ(info["folders"], 9);
    EXPECT_EQ(info["totalBytes"], 5 + 2048 + 4 + 1);
    EXPECT_EQ(info["manifest"], "Manifest.db");

    const json list = json::parse(RunTool({"list", "--json"}).Out);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0]["folder"], folder.string() + "/");
}

TEST_F(BrowseCommands, FindMatchesNamesWithShellPatterns) {
    EXPECT_EQ(RunTool({"find", "1", "*.db"}).Out, "/var/mobile/Library/SMS/sms.db\n");
    EXPECT_EQ(RunTool({"find", "1", "Doc*"}).Out, "/var/mobile/Applications/com.example.notes/Documents\n");
    EXPECT_EQ(RunTool({"find", "1", "*.jpg"}).Out, "");
}

struct PatternRow {
    const char* Label;
    std::string Pattern;
    int Status;
    std::string Out; // for a pattern that is used
};

void PrintTo(const PatternRow& row, std::ostream* os) {
    *os << row.Label;
}

class FindPattern : public BrowseCommands, public ::testing::WithParamInterface<PatternRow> {};

TEST_P(FindPattern, IsUsedOrRefusedAsAUsageError) {
    const CliRun run = RunTool({"find", "1", GetParam().Pattern});
    EXPECT_EQ(run.Status, GetParam().Status) << run.Err;
    EXPECT_EQ(run.Out, GetParam().Out);
    EXPECT_EQ(run.Err.starts_with("marrowick-cli find: bad pattern \""), GetParam().Status == ExitUsage) << run.Err;
}

INSTANTIATE_TEST_SUITE_P(Patterns, FindPattern,
                         ::testing::Values(PatternRow{"LoneBracket", "[", ExitUsage, ""},
                                           PatternRow{"UnclosedBracket", "*.[jJ", ExitUsage, ""},
                                           PatternRow{"NegatedBracketHoldingOnlyItsEnd", "[!]", ExitUsage, ""},
                                           PatternRow{"EscapedBracketEnd", "[\\]", ExitUsage, ""},
                                           PatternRow{"TrailingBackslash", "sms.db\\", ExitUsage, ""},
                                           PatternRow{"UnknownClass", "[[:foo:]]*", ExitUsage, ""},
                                           PatternRow{"UnclosedClass", "[[:lower]ms.db", ExitUsage, ""},
                                           PatternRow{"Slash", "SMS/*.db", ExitUsage, ""},
                                           PatternRow{"Empty", "", ExitUsage, ""},
                                           PatternRow{"BracketEndFirst", "[]]*", ExitOk, ""},
                                           PatternRow{"EscapedBracket", "\\[*", ExitOk, ""},
                                           PatternRow{"ClassesAndNegation", "[[:lower:]]ms.[!]x]b", ExitOk,
                                                      "/var/mobile/Library/SMS/sms.db\n"}));

TEST_F(BrowseCommands, InfoSummarisesTheBackup) {
    const CliRun run = RunTool({"info", "1"});
    EXPECT_EQ(run.Status, ExitOk) << run.Err;
    EXPECT_NE(run.Out.find("Serial Number: C39XK0ABCDEF\n"), std::string::npos) << run.Out;
    EXPECT_NE(run.Out.find("Files:         4\n"), std::string::npos) << run.Out;
    EXPECT_NE(run.Out.find("Total size:    2058 bytes (2.0 KB)\n"), std::string::npos) << run.Out;
}

// The device's own values, as each kind of manifest records them.
class RecordedEntries : public ::testing::TestWithParam<testing::SampleManifest> {
protected:
    TempHome home{"UTC"};

    void SetUp() override {
        ClearBackupTreeCache();
        SampleBackup backup;
        backup.Manifest = GetParam();
        backup.Files = {
            {.RelativePath = "Media/movie.mov",
             .Content = "short",
             .MTime = 1550000000,
             .RecordedSize = std::uint64_t{5} << 30,
             .Birth = 1540000000,
             .StoredFileMTime = 1700000000},
            {.RelativePath = "Media/gone", .StoredFileMissing = true, .RecordedSize = 7},
            {.RelativePath = "Media/last", .MTime = 1560000000, .LinkTarget = "/private/var/mobile/Media/movie.mov"},
        };
        testing::WriteSampleBackup(home.AppDataBackupFolder() / "00008030-0002", backup);
    }
    void TearDown() override { ClearBackupTreeCache(); }
};

TEST_P(RecordedEntries, LsAndInfoShowWhatTheRecordsSayAndWhichContentIsMissing) {
    const json entries = json::parse(RunTool({"ls", "--json", "1", "/var/mobile/Media"}).Out);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0]["name"], "gone");
    EXPECT_EQ(entries[0]["present"], false);
    EXPECT_EQ(entries[1]["type"], "link");
    EXPECT_EQ(entries[1]["target"], "/private/var/mobile/Media/movie.mov");
    EXPECT_EQ(entries[1]["mode"], 0120755);
    EXPECT_FALSE(entries[1].contains("present"));
    const json& movie = entries[2];
    EXPECT_EQ(movie["type"], "file");
    EXPECT_EQ(movie["size"], std::uint64_t{5} << 30);
    EXPECT_EQ(movie["mtime"], 1550000000);
    EXPECT_EQ(movie["birth"], 1540000000);
    EXPECT_EQ(movie["mode"], 0100644);
    EXPECT_EQ(movie["present"], true);

    EXPECT_EQ(RunTool({"ls", "1", "/var/mobile/Media"}).Out,
              "Name                                         Size     Type  Time\n"
              "gone                                         7 bytes        2020-09-13 12:26\n"
              "last -> /private/var/mobile/Media/movie.mov           Link  2019-06-08 13:20\n"
              "movie.mov                                    5120 MB        2019-02-12 19:33\n");

    const json info = json::parse(RunTool({"info", "--json", "1"}).Out);
    EXPECT_EQ(info["files"], 2);
    EXPECT_EQ(info["links"], 1);
    EXPECT_EQ(info["totalBytes"], (std::uint64_t{5} << 30) + 7);
    EXPECT_EQ(info["missingContent"], 1);
}

INSTANTIATE_TEST_SUITE_P(Manifests, RecordedEntries,
                         ::testing::Values(testing::SampleManifest::Db, testing::SampleManifest::Mbdb));

TEST_F(BrowseCommands, MissingThingsExitThreeAndSaySo) {
    CliRun run = RunTool({"ls", "7"});
    EXPECT_EQ(run.Status, ExitNotFound);
    EXPECT_EQ(run.Err, "marrowick-cli ls: there is no backup number 7; \"marrowick-cli list\" shows 1 backup.\n");

    run = RunTool({"ls", "1", "/var/Mobile"});
    EXPECT_EQ(run.Status, ExitNotFound);
    EXPECT_NE(run.Err.find("there is no \"/var/Mobile\" in this backup"), std::string::npos);

    run = RunTool({"info", "NOSUCHSERIAL"});
    EXPECT_EQ(run.Status, ExitNotFound);
    EXPECT_NE(run.Err.find("no backup with the serial number \"NOSUCHSERIAL\""), std::string::npos);

    run = RunTool({"find", home.Home().string(), "*"});
    EXPECT_EQ(run.Status, ExitNotFound);
    EXPECT_NE(run.Err.find("is not a backup folder"), std::string::npos);
}

TEST_F(BrowseCommands, UnreadableBackupsExitFourAndSayWhy) {
    SampleBackup encrypted;
    encrypted.Encrypted = true; // IsEncrypted without a keybag
    const fs::path locked = home.Home() / "locked";
    testing::WriteSampleBackup(locked, encrypted);
    const fs::path passwordFile = home.Home() / "password";
    std::ofstream(passwordFile) << "battery staple\n";
    CliRun run = RunTool({"ls", "--password-file", passwordFile.string(), locked.string()});
    EXPECT_EQ(run.Status, ExitUnreadable);
    EXPECT_EQ(run.Err,
              "marrowick-cli ls: the backup \"iPhone\" cannot be opened: BackupKeyBag: the backup's keybag is missing "
              "or damaged.\n");

    const fs::path damaged = home.Home() / "damaged";
    testing::WriteSampleBackup(damaged, SampleBackup());
    ASSERT_EQ(testing::RunSql(damaged / "Manifest.db", "DROP TABLE Files"), "");
    run = RunTool({"info", damaged.string()});
    EXPECT_EQ(run.Status, ExitUnreadable);
    EXPECT_NE(run.Err.find("marrowick-cli info: the file list of the backup \"iPhone\" cannot be read: "),
              std::string::npos)
        << run.Err;
}

TEST_F(BrowseCommands, EncryptedBackupsOpenWithThePasswordFromAFileOrTheEnvironment) {
    SampleBackup sample;
    sample.Encryption = testing::SampleEncryption{};
    sample.Files = {testing::SampleFile{.RelativePath = "Library/SMS/sms.db", .Content = "the messages"}};
    const fs::path encrypted = testing::WriteSampleBackup(home.Home() / "encrypted", sample);
    const fs::path passwordFile = home.Home() / "password";
    std::ofstream(passwordFile) << "battery staple\n";
    CliRun run =
        RunTool({"ls", "--password-file=" + passwordFile.string(), encrypted.string(), "/var/mobile/Library/SMS"});
    EXPECT_EQ(run.Status, ExitUnreadable);
    EXPECT_EQ(run.Err, "marrowick-cli ls: the backup \"iPhone\" cannot be opened: wrong password.\n");
    EXPECT_EQ(RunTool({"ls", "--password-file"}).Status, ExitUsage);

    std::ofstream(passwordFile) << "correct horse\n";
    run = RunTool({"ls", "--password-file", passwordFile.string(), encrypted.string(), "/var/mobile/Library/SMS"});
    EXPECT_EQ(run.Status, ExitOk) << run.Err;
    EXPECT_NE(run.Out.find("sms.db"), std::string::npos);

    // Once unlocked, a backup stays so for the run; a new run takes the password from the environment.
    ClearBackupTreeCache();
    ForgetUnlockedBackups();
    setenv("MARROWICK_BACKUP_PASSWORD", "correct horse", 1);
    fs::create_directory(home.Home() / "out");
    run = RunTool({"export", encrypted.string(), "/var/mobile/Library/SMS/sms.db", (home.Home() / "out").string()});
    unsetenv("MARROWICK_BACKUP_PASSWORD");
    EXPECT_EQ(run.Status, ExitOk) << run.Err;
    EXPECT_EQ(testing::ReadFile(home.Home() / "out" / "sms.db"), "the messages");
    ForgetUnlockedBackups();
}

TEST(BrowseUsage, WrongArgumentsExitTwo) {
    TempHome home;
    EXPECT_EQ(RunTool({"ls"}).Status, ExitUsage);
    EXPECT_EQ(RunTool({"ls", "1", "/var", "extra"}).Status, ExitUsage);
    EXPECT_EQ(RunTool({"find", "1"}).Status, ExitUsage);
    const CliRun run = RunTool({"info", "--bogus", "1"});
    EXPECT_EQ(run.Status, ExitUsage);
    EXPECT_EQ(run.Err,
              "marrowick-cli info: unknown option \"--bogus\".\nRun \"marrowick-cli info --help\" for its usage.\n");
    EXPECT_EQ(RunTool({"ls", "--help"}).Status, ExitOk);
}

} // namespace
} // namespace marrowick::cli
