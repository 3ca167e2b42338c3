#pragma once

#include "core/crypto/SecretBytes.h"

#include <optional>
#include <string>

namespace marrowick::cli {

// The environment variable that may hold an encrypted backup's password.
inline constexpr const char* PasswordVariable = "MARROWICK_BACKUP_PASSWORD";

struct PasswordReading {
    bool Read = false;
    // When not Read: what went wrong, or how to give a password when there was no way to ask for one.
    std::string Problem;
};

// An encrypted backup's password, from the first of: passwordFile (its first line), the environment variable
// PasswordVariable, a prompt naming backupName on the terminal, without echo. Never from the command line, where
// every user's `ps` would show it.
[[nodiscard]] PasswordReading ReadBackupPassword(const std::optional<std::string>& passwordFile,
                                                 const std::string& backupName, SecretBytes& password);

} // namespace marrowick::cli
