#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "decoder/cli/interrupt.hpp"
#include "decoder/cli/run_driver.hpp"
#include "decoder/cli/version.hpp"

int main(int argc, char** argv) {
#ifdef SIGPIPE
    // A reader that closes the pipe early must surface as a failed write, not kill the process.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    const std::vector<std::string> arguments(argv, argv + argc);
    if (arguments.size() == 2 && arguments[1] == "--version") {
        std::cout << qarel::cli::decoder_version_text() << std::flush;
        return std::cout ? 0 : 1;
    }
    qarel::cli::install_interrupt_handlers();
    return qarel::cli::run_decoder(arguments, std::cerr, isatty(STDERR_FILENO) ? stderr : nullptr);
}
