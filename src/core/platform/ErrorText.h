#pragma once

#include <string>

namespace marrowick {

// The system's text for an errno value, safe to call from the export's thread (std::strerror is not).
[[nodiscard]] std::string ErrorText(int error);

// Why a file in a backup folder was not opened (OpenRegularFileAt's errno), for a person.
[[nodiscard]] std::string FileOpenProblem(int error);

} // namespace marrowick
