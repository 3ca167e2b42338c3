#include "cli/PasswordSource.h"
#include "support/SampleBackup.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>
#include <unistd.h>

namespace marrowick::cli {
namespace {

using testing::TempDir;

struct FileCase {
    const char* Name;
    std::string Content;
    bool Read;
    std::string PasswordOrProblem; // the password read, or a part of the problem told
};

class PasswordFile : public ::testing::TestWithParam<FileCase> {};

TEST_P(PasswordFile, GivesItsFirstLineOrSaysWhatIsWrong) {
    const TempDir dir;
    const std::string path = (dir.Path() / "password").string();
    std::ofstream(path, std::ios::binary) << GetParam().Content;
    SecretBytes password;
    const PasswordReading reading = ReadBackupPassword(path, "iPhone", password);
    EXPECT_EQ(reading.Read, GetParam().Read);
    if (GetParam().Read) {
        EXPECT_EQ(password.View(), GetParam().PasswordOrProblem);
    } else {
        EXPECT_NE(reading.Problem.find(GetParam().PasswordOrProblem), std::string::npos) << reading.Problem;
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, PasswordFile,
                         ::testing::Values(FileCase{"FirstLineOnly", "hunter 2\nsecond line\n", true, "hunter 2"},
                                           FileCase{"WindowsLineEnd", "hunter2\r\n", true, "hunter2"},
                                           FileCase{"NoLineEnd", "pass:word", true, "pass:word"},
                                           FileCase{"Empty", "", false, "holds no password"},
                                           FileCase{"EmptyFirstLine", "\nhunter2\n", false, "holds no password"},
                                           FileCase{"LongerThanAnyPassword", std::string(5000, 'a'), false,
                                                    "longer than any password"}),
                         [](const auto& param) { return std::string(param.param.Name); });

TEST(PasswordSource, AMissingFileOrAFolderIsToldAndTheFileComesBeforeTheEnvironment) {
    const TempDir dir;
    SecretBytes password;
    EXPECT_NE(ReadBackupPassword((dir.Path() / "none").string(), "iPhone", password).Problem.find("cannot be opened"),
              std::string::npos);
    EXPECT_NE(ReadBackupPassword(dir.Path().string(), "iPhone", password).Problem.find("is a folder"),
              std::string::npos);

    // In a child of its own, so that the environment of the other tests stays as it is; with no controlling
    // terminal, so that no prompt can wait for a person.
    const std::string path = (dir.Path() / "password").string();
    std::ofstream(path) << "from the file\n";
    EXPECT_EXIT(
        {
            setsid();
            setenv(PasswordVariable, "from the environment", 1);
            SecretBytes fromFile;
            SecretBytes fromVariable;
            const bool fileWins =
                ReadBackupPassword(path, "iPhone", fromFile).Read && fromFile.View() == "from the file";
            const bool variableNext = ReadBackupPassword(std::nullopt, "iPhone", fromVariable).Read &&
                                      fromVariable.View() == "from the environment";
            unsetenv(PasswordVariable);
            SecretBytes none;
            std::cerr << ReadBackupPassword(std::nullopt, "Anna's iPhone", none).Problem;
            _exit(fileWins && variableNext ? 0 : 1); // no leak check of the strings still in scope
        },
        ::testing::ExitedWithCode(0),
        "the backup \"Anna's iPhone\" is encrypted; give its password in a file with --password-file FILE or in the "
        "environment variable MARROWICK_BACKUP_PASSWORD");
}

} // namespace
} // namespace marrowick::cli
