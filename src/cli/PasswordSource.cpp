#include "cli/PasswordSource.h"

#include "cli/TextTable.h"
#include "core/platform/ErrorText.h"
#include "core/platform/FileDescriptor.h"

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace marrowick::cli {
namespace {

// No password is longer; reading stops there, so that a wrong file is not read whole.
constexpr std::size_t MaxPasswordBytes = 4096;

// Reads fd up to the first line's end, EOF or MaxPasswordBytes, straight into password's wiped buffer.
bool ReadFirstLine(int fd, SecretBytes& password) {
    password = SecretBytes(MaxPasswordBytes);
    std::size_t length = 0;
    for (;;) {
        char byte = 0;
        const ssize_t read = ::read(fd, &byte, 1);
        if (read < 0 && errno == EINTR) {
            continue;
        }
        if (read <= 0 || byte == '\n') {
            break;
        }
        if (length == MaxPasswordBytes) {
            password = SecretBytes();
            return false;
        }
        password.Data()[length++] = static_cast<unsigned char>(byte);
    }
    if (length > 0 && password.Data()[length - 1] == '\r') {
        --length;
    }
    password.Shrink(length);
    return true;
}

PasswordReading FromFile(const std::string& path, SecretBytes& password) {
    const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
    if (!file.IsOpen()) {
        return {false, "the password file " + Quoted(path) + " cannot be opened: " + ErrorText(errno)};
    }
    struct stat status {};
    if (::fstat(file.Get(), &status) == 0 && S_ISDIR(status.st_mode)) {
        return {false, "the password file " + Quoted(path) + " is a folder"};
    }
    if (!ReadFirstLine(file.Get(), password)) {
        return {false, "the first line of the password file " + Quoted(path) + " is longer than any password"};
    }
    if (password.Empty()) {
        return {false, "the password file " + Quoted(path) + " holds no password on its first line"};
    }
    return {true, {}};
}

// The terminal's settings while echo is off, so that a signal handler can put them back.
int terminalFd = -1;
termios terminalSettings{};

void RestoreTerminalAndDie(int signal) {
    ::tcsetattr(terminalFd, TCSAFLUSH, &terminalSettings);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

// Turns echo off on a terminal for its lifetime; Ctrl+C, a hang-up or a kill meanwhile turn it back on first.
class EchoOff final {
public:
    explicit EchoOff(int fd) {
        if (::tcgetattr(fd, &terminalSettings) != 0) {
            return;
        }
        terminalFd = fd;
        termios quiet = terminalSettings;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        struct sigaction restore {};
        restore.sa_handler = RestoreTerminalAndDie;
        for (std::size_t i = 0; i < Signals.size(); ++i) {
            ::sigaction(Signals[i], &restore, &previous_[i]);
        }
        active_ = ::tcsetattr(fd, TCSAFLUSH, &quiet) == 0;
    }
    ~EchoOff() {
        if (terminalFd < 0) {
            return;
        }
        if (active_) {
            ::tcsetattr(terminalFd, TCSAFLUSH, &terminalSettings);
        }
        for (std::size_t i = 0; i < Signals.size(); ++i) {
            ::sigaction(Signals[i], &previous_[i], nullptr);
        }
        terminalFd = -1;
    }
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;

private:
    static constexpr std::array<int, 4> Signals{SIGINT, SIGTERM, SIGHUP, SIGQUIT};
    std::array<struct sigaction, 4> previous_{};
    bool active_ = false;
};

PasswordReading FromTerminal(const std::string& backupName, SecretBytes& password) {
    const FileDescriptor terminal(::open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY));
    if (!terminal.IsOpen() || ::isatty(terminal.Get()) == 0) {
        return {false, "the backup \"" + Printable(backupName) + "\" is encrypted; give its password in a file with " +
                           "--password-file FILE or in the environment variable " + PasswordVariable};
    }
    const std::string prompt = "Password of the backup \"" + Printable(backupName) + "\": ";
    bool read = false;
    {
        // Echo goes off before the prompt shows: what is typed once it shows is never echoed, nor thrown away.
        const EchoOff echoOff(terminal.Get());
        (void)!::write(terminal.Get(), prompt.data(), prompt.size());
        read = ReadFirstLine(terminal.Get(), password);
    }
    (void)!::write(terminal.Get(), "\n", 1);
    if (!read || password.Empty()) {
        return {false, read ? "no password was given" : "the password typed is longer than any password"};
    }
    return {true, {}};
}

} // namespace

PasswordReading ReadBackupPassword(const std::optional<std::string>& passwordFile, const std::string& backupName,
                                   SecretBytes& password) {
    if (passwordFile) {
        return FromFile(*passwordFile, password);
    }
    if (const char* variable = std::getenv(PasswordVariable); variable != nullptr && *variable != '\0') {
        password = SecretBytes::CopyOf(variable);
        return {true, {}};
    }
    return FromTerminal(backupName, password);
}

} // namespace marrowick::cli
