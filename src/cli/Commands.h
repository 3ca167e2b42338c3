#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace marrowick::cli {

// Each command takes its own arguments (after its name) and returns the exit status.
[[nodiscard]] int RunListCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
[[nodiscard]] int RunLsCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
[[nodiscard]] int RunInfoCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
[[nodiscard]] int RunFindCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
[[nodiscard]] int RunExportCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
[[nodiscard]] int RunLocationsCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
[[nodiscard]] int RunRelocateCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

} // namespace marrowick::cli
