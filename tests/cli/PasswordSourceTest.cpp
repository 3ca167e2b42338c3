#include "cli/PasswordSource.h"
#include "cli/Cli.h"
#include "support/SampleBackup.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>
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

// What the program writes on its terminal, until text appears or ten seconds pass.
std::string ReadTerminalUntil(int terminal, const std::string& text) {
    std::string seen;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (seen.find(text) == std::string::npos && std::chrono::steady_clock::now() < end) {
        pollfd ready{terminal, POLLIN, 0};
        char buffer[256];
        if (::poll(&ready, 1, 100) == 1) {
            const ssize_t n = ::read(terminal, buffer, sizeof buffer);
            if (n <= 0) {
                break;
            }
            seen.append(buffer, static_cast<std::size_t>(n));
        }
    }
    return seen;
}

// The wait status of child, or -1 when it has not ended within ten seconds (it is killed then).
int WaitStatus(pid_t child) {
    int status = 0;
    for (int tries = 0; tries < 1000; ++tries) {
        if (::waitpid(child, &status, WNOHANG) == child) {
            return status;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(child, SIGKILL);
    ::waitpid(child, &status, 0);
    return -1;
}

enum class CtrlC { AtThePrompt, WhileTheKeyIsDerived };

class PasswordPrompt : public ::testing::TestWithParam<CtrlC> {};

// export on a terminal of its own: the prompt reads without echo, and Ctrl+C ends the run with the terminal as it
// was and nothing exported, whether it comes at the prompt or during the derivation (long here: no password unlocks
// this keybag, and its count is a billion).
TEST_P(PasswordPrompt, TypedUnseenAndCtrlCLeavesTheTerminalAsItWasAndNothingExported) {
    const testing::TempHome home;
    testing::SampleBackup sample;
    sample.Encryption = testing::SampleEncryption{};
    sample.Encryption->Keybag.Unlockable = false;
    sample.Encryption->Keybag.DoubleProtectionIterations = 1'000'000'000;
    sample.Files = {testing::SampleFile{.RelativePath = "Library/SMS/sms.db", .Content = "the messages"}};
    const std::string backup = testing::WriteSampleBackup(home.Home() / "backup", sample).string();
    const std::filesystem::path out = home.Home() / "out";
    std::filesystem::create_directory(out);

    int terminal = -1;
    const pid_t child = ::forkpty(&terminal, nullptr, nullptr, nullptr);
    ASSERT_GE(child, 0);
    if (child == 0) {
        unsetenv(PasswordVariable);
        std::ostringstream output;
        _exit(RunCli({"export", backup, "/var/mobile/Library/SMS/sms.db", out.string()}, output, output));
    }
    EXPECT_NE(ReadTerminalUntil(terminal, ": ").find("Password of the backup \"iPhone\": "), std::string::npos);
    if (GetParam() == CtrlC::WhileTheKeyIsDerived) {
        ASSERT_EQ(::write(terminal, "battery staple\n", 15), 15);
        EXPECT_EQ(ReadTerminalUntil(terminal, "\n").find("battery"), std::string::npos);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ASSERT_EQ(::write(terminal, "\x03", 1), 1);
    const int status = WaitStatus(child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << status;
    termios settings{};
    ASSERT_EQ(::tcgetattr(terminal, &settings), 0);
    EXPECT_NE(settings.c_lflag & ECHO, 0U);
    ::close(terminal);
    EXPECT_TRUE(std::filesystem::is_empty(out));
}

INSTANTIATE_TEST_SUITE_P(Cases, PasswordPrompt, ::testing::Values(CtrlC::AtThePrompt, CtrlC::WhileTheKeyIsDerived),
                         [](const auto& param) {
                             return param.param == CtrlC::AtThePrompt ? "AtThePrompt" : "WhileTheKeyIsDerived";
                         });

} // namespace
} // namespace marrowick::cli
