#pragma once

#include "core/crypto/UnlockedBackup.h"

#include <memory>
#include <string>

namespace marrowick {

// The encrypted backups a password has unlocked in this run, by folder, kept until the program ends so that the
// password is asked once. Safe on any thread: trees are read and files exported on workers.
void KeepUnlockedBackup(std::shared_ptr<const UnlockedBackup> backup);

// The unlocked backup in backupFolder ("/" at its end or not), or null when none was unlocked.
[[nodiscard]] std::shared_ptr<const UnlockedBackup> FindUnlockedBackup(const std::string& backupFolder);

// Forgets every unlocked backup; their keys are wiped once the last user lets go of them.
void ForgetUnlockedBackups();

} // namespace marrowick
