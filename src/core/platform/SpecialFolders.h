#pragma once

#include <string>

// The user's folders, after the XDG base-directory rules. Each is returned without a trailing "/" and is empty
// when the environment names none.
namespace marrowick {

[[nodiscard]] std::string UserHomeFolder();   // $HOME, else the password database's home
[[nodiscard]] std::string UserDataFolder();   // $XDG_DATA_HOME, else home + "/.local/share"
[[nodiscard]] std::string UserConfigFolder(); // $XDG_CONFIG_HOME, else home + "/.config"

} // namespace marrowick
