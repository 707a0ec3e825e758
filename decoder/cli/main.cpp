#include <csignal>
#include <iostream>
#include <string>
#include <vector>

#include "decoder/cli/run_driver.hpp"

int main(int argc, char** argv) {
#ifdef SIGPIPE
    // A reader that closes the pipe early must surface as a failed write, not kill the process.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    const std::vector<std::string> arguments(argv, argv + argc);
    return qarel::cli::run_decoder(arguments, std::cerr);
}
