#pragma once

#include <iosfwd>
#include <span>
#include <string>

namespace qarel::cli {

// The whole decoder run for an argument vector (element 0 is the program name). Errors are
// reported on `err` with the program's prefix; returns the exit status: 0 on success and
// for help, 1 for a reported error, 2 for a usage error.
int run_decoder(std::span<const std::string> arguments, std::ostream& err);

}  // namespace qarel::cli
