#pragma once

#include "cli/Cli.h"

#include <sstream>
#include <string>
#include <vector>

namespace marrowick::cli {

struct CliRun {
    int Status;
    std::string Out;
    std::string Err;
};

// Runs marrowick-cli in process with the given arguments.
inline CliRun RunTool(const std::vector<std::string>& args) {
    std::ostringstream out;
    std::ostringstream err;
    const int status = RunCli(args, out, err);
    return {status, out.str(), err.str()};
}

} // namespace marrowick::cli
