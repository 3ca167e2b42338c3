#pragma once

#include "core/platform/Result.h"

#include <string>

// Texts for a person about a failure, for the windows and the command line to show.
namespace marrowick {

// The system's text for an errno value, safe to call from the export's thread (std::strerror is not).
[[nodiscard]] std::string ErrorText(int error);

// Why it failed, as a clause: the system's text, or the cause in words ("it is a symbolic link, which is not
// followed"), followed by the library's own words when there are some.
[[nodiscard]] std::string CauseText(const Failure& failure);

// "PATH: " + CauseText, or CauseText alone when the failure concerns no path.
[[nodiscard]] std::string FailureText(const Failure& failure);

} // namespace marrowick
