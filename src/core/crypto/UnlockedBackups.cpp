#include "core/crypto/UnlockedBackups.h"

#include "core/platform/Files.h"

#include <map>
#include <mutex>
#include <utility>

namespace marrowick {
namespace {

struct Keyring {
    std::mutex Mutex;
    std::map<std::string, std::shared_ptr<const UnlockedBackup>> Backups;
};

Keyring& TheKeyring() {
    static Keyring keyring;
    return keyring;
}

} // namespace

void KeepUnlockedBackup(std::shared_ptr<const UnlockedBackup> backup) {
    Keyring& keyring = TheKeyring();
    const std::lock_guard lock(keyring.Mutex);
    std::string folder = WithTrailingSlash(backup->Folder());
    keyring.Backups[std::move(folder)] = std::move(backup);
}

std::shared_ptr<const UnlockedBackup> FindUnlockedBackup(const std::string& backupFolder) {
    Keyring& keyring = TheKeyring();
    const std::lock_guard lock(keyring.Mutex);
    const auto found = keyring.Backups.find(WithTrailingSlash(backupFolder));
    return found != keyring.Backups.end() ? found->second : nullptr;
}

void ForgetUnlockedBackups() {
    Keyring& keyring = TheKeyring();
    const std::lock_guard lock(keyring.Mutex);
    keyring.Backups.clear();
}

} // namespace marrowick
