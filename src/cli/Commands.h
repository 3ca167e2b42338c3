#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace marrowick::cli {

// Each command takes its own arguments (after its name) and returns the exit status.
[[nodiscard]] int RunList(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

} // namespace marrowick::cli
