#include "core/platform/SpecialFolders.h"

#include "core/platform/Files.h"

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace marrowick {
namespace {

// The XDG rules ignore a relative value.
std::string AbsoluteEnvironmentFolder(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || value[0] != '/') {
        return {};
    }
    return WithoutTrailingSlashes(value);
}

} // namespace

std::string UserHomeFolder() {
    if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != '\0') {
        return WithoutTrailingSlashes(home);
    }
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
        found->pw_dir != nullptr) {
        return WithoutTrailingSlashes(found->pw_dir);
    }
    return {};
}

std::string UserDataFolder() {
    std::string folder = AbsoluteEnvironmentFolder("XDG_DATA_HOME");
    if (folder.empty()) {
        const std::string home = UserHomeFolder();
        return home.empty() ? std::string() : home + "/.local/share";
    }
    return folder;
}

std::string UserConfigFolder() {
    std::string folder = AbsoluteEnvironmentFolder("XDG_CONFIG_HOME");
    if (folder.empty()) {
        const std::string home = UserHomeFolder();
        return home.empty() ? std::string() : home + "/.config";
    }
    return folder;
}

} // namespace marrowick
