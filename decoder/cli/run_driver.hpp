#pragma once

#include <cstdio>
#include <iosfwd>
#include <span>
#include <string>

namespace qarel::cli {

// The whole decoder run for an argument vector (element 0 is the program name). Errors are
// reported on `err` with the program's prefix; returns the exit status: 0 on success and
// for help, 1 for a reported error, 2 for a usage error, 128 + the signal number for a run
// whose input an interrupt ended. `terminal`, when not null, is where --progress draws.
int run_decoder(std::span<const std::string> arguments, std::ostream& err, std::FILE* terminal = nullptr);

}  // namespace qarel::cli
