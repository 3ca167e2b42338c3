#include "cli/Cli.h"

#include <exception>
#include <iostream>
#include <new>

int main(int argc, char** argv) {
    try {
        const std::vector<std::string> args(argv + 1, argv + argc);
        return marrowick::cli::RunCli(args, std::cout, std::cerr);
    } catch (const std::bad_alloc&) {
        std::cerr << "marrowick-cli: stopped: there is not enough memory.\n";
    } catch (const std::exception& error) {
        std::cerr << "marrowick-cli: stopped: " << error.what() << '\n';
    }
    return 1;
}
