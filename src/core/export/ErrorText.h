#pragma once

#include <string>

namespace marrowick {

// The system's text for an errno value, safe to call from the export's thread (std::strerror is not).
[[nodiscard]] std::string ErrorText(int error);

} // namespace marrowick
