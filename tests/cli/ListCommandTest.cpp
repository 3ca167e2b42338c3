#include "CliRunner.h"

#include "cli/TextTable.h"
#include "support/SampleBackup.h"

#include <gtest/gtest.h>

namespace marrowick::cli {
namespace {

using testing::TempHome;

TEST(ListCommand, PrintsRowsOldestFirstInColumns) {
    TempHome home("UTC");
    testing::WriteSampleBackup(home.AppDataBackupFolder() / "newer",
                               {.DisplayName = "Zoë’s iPad", .ProductName = "iPad Air"});
    testing::WriteSampleBackup(home.ProfileBackupFolder() / "older", {.DisplayName = "Old phone", .Date = 500000000});

    const CliRun run = RunTool({"list"});
    EXPECT_EQ(run.Status, ExitOk);
    EXPECT_EQ(run.Err, "");
    const std::string newerFolder = (home.AppDataBackupFolder() / "newer").string() + "/";
    const std::string olderFolder = (home.ProfileBackupFolder() / "older").string() + "/";
    const std::string expected = "#  Name        Time                 Version  Device Type  Serial Number  Folder\n"
                                 "1  Old phone   2016-11-05 00:53:20  14.2     iPhone 12    C39XK0ABCDEF   " +
                                 olderFolder +
                                 "\n"
                                 "2  Zoë’s iPad  2020-01-06 10:40:00  14.2     iPad Air     C39XK0ABCDEF   " +
                                 newerFolder + "\n";
    EXPECT_EQ(run.Out, expected);
}

TEST(ListCommand, BackupWithoutStatusPlistShowsManifestPlistsDate) {
    TempHome home("UTC");
    const auto folder = home.ProfileBackupFolder() / "cut-off";
    testing::WriteSampleBackup(folder, {.DisplayName = "Cut off", .StatusPlist = false, .ManifestDate = 500000000});
    CliRun run = RunTool({"list"});
    EXPECT_EQ(run.Status, ExitOk);
    EXPECT_NE(run.Out.find("1  Cut off  2016-11-05 00:53:20  14.2"), std::string::npos) << run.Out;

    testing::WriteSampleBackup(folder, {.StatusPlist = false, .ManifestDate = std::nullopt, .InfoDate = std::nullopt});
    run = RunTool({"info", folder.string()});
    EXPECT_EQ(run.Status, ExitNotFound);
    EXPECT_EQ(run.Err, "marrowick-cli info: \"" + folder.string() +
                           "\" is not a backup folder (it needs Info.plist, a manifest, and the backup's date in "
                           "Status.plist, Manifest.plist or Info.plist).\n");
}

TEST(ListCommand, SaysWhereItLookedWhenNothingIsFound) {
    TempHome home;
    const CliRun run = RunTool({"list"});
    EXPECT_EQ(run.Status, ExitOk);
    EXPECT_NE(run.Out.find("No backups found."), std::string::npos);
    EXPECT_NE(run.Out.find(home.ProfileBackupFolder().string()), std::string::npos);
}

TEST(Cli, UsageErrorsAreExplainedAndExitTwo) {
    TempHome home;
    CliRun run = RunTool({});
    EXPECT_EQ(run.Status, ExitUsage);
    EXPECT_NE(run.Err.find("Usage: marrowick-cli"), std::string::npos);

    run = RunTool({"frobnicate"});
    EXPECT_EQ(run.Status, ExitUsage);
    EXPECT_EQ(run.Err,
              "marrowick-cli: unknown command \"frobnicate\". Run \"marrowick-cli --help\" for the commands.\n");

    run = RunTool({"list", "extra"});
    EXPECT_EQ(run.Status, ExitUsage);
    EXPECT_NE(run.Err.find("unexpected argument \"extra\""), std::string::npos);

    run = RunTool({"--help"});
    EXPECT_EQ(run.Status, ExitOk);
    EXPECT_NE(run.Out.find("list"), std::string::npos);
}

class HelpCommand : public ::testing::TestWithParam<std::string> {};

TEST_P(HelpCommand, PrintsThatCommandsOwnHelp) {
    TempHome home;
    const CliRun run = RunTool({"help", GetParam()});
    EXPECT_EQ(run.Status, ExitOk);
    EXPECT_TRUE(run.Out.starts_with("Usage: marrowick-cli " + GetParam() + " ")) << run.Out;
    EXPECT_EQ(run.Out, RunTool({GetParam(), "--help"}).Out);
}

INSTANTIATE_TEST_SUITE_P(Commands, HelpCommand,
                         ::testing::Values("list", "ls", "info", "find", "export", "locations", "relocate"));

TEST(Cli, HelpForAnUnknownCommandIsAUsageErrorAndTheVersionIsTheProjects) {
    TempHome home;
    const CliRun run = RunTool({"help", "frobnicate"});
    EXPECT_EQ(run.Status, ExitUsage);
    EXPECT_EQ(run.Out, "");
    EXPECT_NE(run.Err.find("unknown command \"frobnicate\""), std::string::npos) << run.Err;
    EXPECT_EQ(RunTool({"--version"}).Out, "marrowick-cli " MARROWICK_VERSION "\n");
}

struct WidthRow {
    const char* Label;
    std::string Cell;
    std::size_t Columns; // on a terminal
};

void PrintTo(const WidthRow& row, std::ostream* os) {
    *os << row.Label;
}

class CellWidth : public ::testing::TestWithParam<WidthRow> {};

// An empty header cell is padded to the width of the one cell below it, so its padding shows that width.
TEST_P(CellWidth, PadsTheNextColumnByTerminalColumns) {
    TextTable table({"", "|"});
    table.AddRow({GetParam().Cell, "|"});
    std::ostringstream out;
    table.Print(out);
    EXPECT_EQ(out.str(), std::string(GetParam().Columns + 2, ' ') + "|\n" + Printable(GetParam().Cell) + "  |\n");
}

INSTANTIATE_TEST_SUITE_P(Texts, CellWidth,
                         ::testing::Values(WidthRow{"Ascii", "sms.db", 6}, WidthRow{"Han", "张伟的手机", 10},
                                           WidthRow{"Emoji", "📱 Kim", 6},
                                           WidthRow{"CombiningMarks", "Zoe\u0301\u0308", 3},
                                           WidthRow{"InvalidBytes", "a\xff\xc3", 3},
                                           WidthRow{"ControlCharacter", "two\nlines", 9}));

} // namespace
} // namespace marrowick::cli
