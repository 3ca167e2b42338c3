#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace marrowick::cli {

// Exit statuses of marrowick-cli.
inline constexpr int ExitOk = 0;
inline constexpr int ExitFailed = 1;
inline constexpr int ExitUsage = 2;
inline constexpr int ExitNotFound = 3;
inline constexpr int ExitUnreadable = 4;

// Runs one command line (without the program name); what a person reads goes to out, errors to err.
[[nodiscard]] int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

} // namespace marrowick::cli
