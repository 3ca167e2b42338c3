#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace marrowick::cli {

// Each command takes its own arguments (after its name) and returns the exit status.
[[nodiscard]] int RunList(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
[[nodiscard]] int RunLs(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
[[nodiscard]] int RunInfo(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
[[nodiscard]] int RunFind(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
[[nodiscard]] int RunExport(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
[[nodiscard]] int RunLocations(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
[[nodiscard]] int RunRelocate(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

} // namespace marrowick::cli
